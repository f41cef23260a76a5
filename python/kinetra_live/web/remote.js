// The remote: cue grid, tempo keys, masters. Everything it does goes out as a command.
const PPB = 64;
const $ = (id) => document.getElementById(id);
const V = { state: null, cueKey: "", cueButtons: new Map(), sizeTimer: 0, sizeDragging: false };
window.remoteView = V;
let R = {};
let send = () => false;

function el(tag, attrs, parent, text) {
  const e = document.createElement(tag);
  for (const k in attrs || {}) e.setAttribute(k, attrs[k]);
  if (text !== undefined) e.textContent = text;
  if (parent) parent.appendChild(e);
  return e;
}

function cueList(s) {
  const out = [];
  for (const c of s.cues || []) {
    if (typeof c === "string") out.push({ name: c, group: (R.cue_groups && R.cue_groups[c]) || "" });
    else if (c && typeof c.name === "string") out.push({ name: c.name, group: typeof c.group === "string" ? c.group : "" });
  }
  return out;
}

function buildCues(cues) {
  const box = $("cues");
  box.textContent = "";
  V.cueButtons.clear();
  const groups = new Map();
  for (const c of cues) {
    if (!groups.has(c.group)) groups.set(c.group, []);
    groups.get(c.group).push(c);
  }
  for (const [g, list] of groups) {
    const sec = el("div", { class: "group" }, box);
    const h = el("h2", {}, sec, g || "cues");
    if (g) {
      const rel = el("button", { class: "release", "data-group": g }, h, "release");
      rel.addEventListener("click", () => send("release", g));
    }
    const grid = el("div", { class: "grid" }, sec);
    for (const c of list) {
      const b = el("button", { class: "cue", "data-cue": c.name, "data-state": "idle" }, grid, c.name);
      el("small", {}, b, "");
      b.addEventListener("click", () => send("cue", c.name));
      V.cueButtons.set(c.name, b);
    }
  }
}

function cueStates(s) {
  const states = new Map();
  const groups = s.groups || {};
  for (const g in groups) {
    const st = groups[g] || {};
    if (st.active != null) states.set(st.active, { state: "active", left: null });
    if (st.queued != null) states.set(st.queued, { state: "queued", left: st.beats_left });
  }
  return states;
}

// The tempo line at the top, for every view.
export function header(s, R) {
  const pip = typeof s.pip === "number" ? s.pip : 0;
  const blinkOff = ((pip % PPB) + PPB) % PPB >= PPB / 2;
  if (typeof s.bpm === "number") $("bpm").textContent = s.bpm.toFixed(1);
  const per = s.beats_per_bar || R.beats_per_bar || 4;
  const lights = $("lights");
  if (lights.childElementCount !== per) {
    lights.textContent = "";
    for (let i = 0; i < per; i++) el("i", { class: i === 0 ? "first" : "" }, lights);
  }
  const beatInBar = typeof s.beat === "number" ? ((s.beat % per) + per) % per : Math.floor(pip / PPB) % per;
  for (let i = 0; i < per; i++) lights.children[i].classList.toggle("lit", i === beatInBar && !blinkOff);
  if (typeof s.bar === "number") $("bar").textContent = String(s.bar + (R.bar_base || 0));
  // a resumed state and output faults ride along the tempo's own status
  $("tempostatus").textContent = [s.tempo_status, s.resumed, s.faults].filter(Boolean).join("  ");
}

export function update(s) {
  V.state = s;
  const cues = cueList(s);
  const key = JSON.stringify(cues);
  if (key !== V.cueKey) { V.cueKey = key; buildCues(cues); }
  const pip = typeof s.pip === "number" ? s.pip : 0;
  const blinkOff = ((pip % PPB) + PPB) % PPB >= PPB / 2;
  const states = cueStates(s);
  for (const [name, b] of V.cueButtons) {
    const st = states.get(name) || { state: "idle", left: null };
    if (b.dataset.state !== st.state) {
      b.dataset.state = st.state;
      b.classList.toggle("active", st.state === "active");
      b.classList.toggle("queued", st.state === "queued");
    }
    b.classList.toggle("blink", st.state === "queued" && blinkOff);
    const small = b.lastChild;
    const text = st.state === "queued" && typeof st.left === "number" ? "in " + Math.ceil(st.left) : "";
    if (small.textContent !== text) small.textContent = text;
  }
  header(s, R);
  const m = s.masters || {};
  $("hold").classList.toggle("on", !!m.hold);
  $("home").classList.toggle("on", !!m.home);
  const bo = $("blackout");
  bo.hidden = R.blackout === false || m.blackout === undefined || m.blackout === null;
  bo.classList.toggle("on", !!m.blackout);
  if (typeof m.size === "number" && !V.sizeDragging) {
    $("size").value = String(m.size);
    $("sizeval").textContent = Math.round(m.size * 100) + "%";
  }
}

export function mount(config, sender) {
  R = config;
  send = sender;
  const steps = R.steps || { nudge_s: 0.01, tempo_bpm: 0.1 };
  for (const b of document.querySelectorAll("#tempokeys button")) {
    b.addEventListener("click", () => {
      const cmd = b.dataset.cmd, sign = Number(b.dataset.sign || 0);
      if (cmd === "nudge") send(cmd, sign * steps.nudge_s);
      else if (cmd === "tempo") send(cmd, sign * steps.tempo_bpm);
      else send(cmd);
      if (cmd === "tap") { b.classList.add("flash"); setTimeout(() => b.classList.remove("flash"), 90); }
    });
  }
  for (const b of document.querySelectorAll("#masters button")) b.addEventListener("click", () => send(b.dataset.master, null));
  const size = $("size");
  size.addEventListener("input", () => {
    V.sizeDragging = true;
    $("sizeval").textContent = Math.round(Number(size.value) * 100) + "%";
    if (!V.sizeTimer) V.sizeTimer = setTimeout(() => { V.sizeTimer = 0; send("size", Number(size.value)); }, 60);
  });
  size.addEventListener("change", () => { V.sizeDragging = false; send("size", Number(size.value)); });
}
