// The page: picks the views of this address, hands each state from the socket to all of them.
// A view is a module with mount(config, send) and update(state); the show editor is one more.
import { connect, send } from "./socket.js";
import * as remote from "./remote.js";
import * as stage from "./stage.js";
import * as editor from "./editor.js";

const VIEWS = { remote: [remote, stage], stage: [stage] };

const R = window.REMOTE || {};
// the show editor under the remote, when the player serves the edit mode
const views = [...(VIEWS[R.view] || VIEWS.remote), ...(R.edit && R.view !== "stage" ? [editor] : [])];
const message = document.getElementById("message");

function note(text) {
  message.textContent = text;
  message.classList.add("show");
  clearTimeout(note.timer);
  note.timer = setTimeout(() => message.classList.remove("show"), 2500);
}

function warnings(s) {
  const box = document.getElementById("warnings");
  const text = Array.isArray(s.warnings) ? s.warnings.join("\n") : "";
  if (box.textContent !== text) box.textContent = text;
}

for (const v of views) v.mount(R, send, note);
const link = document.getElementById("stagelink");
if (link) link.href = "/stage" + location.search;
// the page's own work per state, in ms (the last 512), for the benchmarks
const work = (window.pageWork = []);
connect((s) => {
  const t0 = performance.now();
  for (const v of views) v.update(s);
  if (!views.includes(remote)) remote.header(s, R);
  warnings(s);
  document.body.dataset.ready = "1";
  work.push(performance.now() - t0);
  if (work.length > 1024) work.splice(0, 512);
}, note);
