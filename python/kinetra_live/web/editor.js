// The show editor: patch from the bundled fixture library, looks and cues, undo, save.
// Every change is an edit message (PROTOCOL.md); the player checks it against the show and
// sends the show as edited to every page, this one included, which redraws from it.
import { listen, sendMessage } from "./socket.js";

const $ = (id) => document.getElementById(id);
const E = {
  show: null, version: 0, nextId: 1, note: () => {}, catalogue: null, previews: new Map(),
  wanted: new Set(), found: [], bpm: 120, blind: false, cue: "", family: "", search: "", raf: 0,
};
window.editorView = E;
const SPEEDS = ["1/8", "1/4", "1/3", "1/2", "2/3", "3/4", "1", "3/2", "2", "3", "4", "8"];
const ORDERS = ["forward", "reverse", "centre-out", "outside-in"];
const QUANTIZE = ["now", "beat", "bar", "2", "4", "8", "16", "32"];
const MAX_SHOWN = 24;

function el(tag, attrs, parent, text) {
  const e = document.createElement(tag);
  for (const k in attrs || {}) {
    if (k.startsWith("on")) e.addEventListener(k.slice(2), attrs[k]);
    else if (attrs[k] !== false && attrs[k] !== undefined && attrs[k] !== null) e.setAttribute(k, attrs[k] === true ? "" : attrs[k]);
  }
  if (text !== undefined) e.textContent = text;
  if (parent) parent.appendChild(e);
  return e;
}

function options(select, values, chosen) {
  select.textContent = "";
  for (const v of values) {
    const [value, label] = Array.isArray(v) ? v : [v, v];
    el("option", { value: value, selected: String(value) === String(chosen) }, select, label);
  }
  return select;
}

// ---- messages --------------------------------------------------------------------------------

export function edit(name, args, withVersion = true) {
  const m = { edit: name, id: E.nextId++ };
  if (args !== undefined) m.args = args;
  if (withVersion) m.version = E.version;
  return sendMessage(m);
}

function onMessage(m) {
  if (m.type === "show") {
    if (m.config) {
      // the stage is drawn again only when the edit changed it
      const room = JSON.stringify(m.config.stage);
      if (room !== E.room && m.config.stage && window.stageView && window.stageView.setRoom) {
        window.stageView.setRoom(m.config.stage);
      }
      E.room = room;
      Object.assign(window.REMOTE || {}, m.config);
    }
    take(m.show);
  } else if (m.type === "edited") {
    status(m.message || "done");
  } else if (m.type === "error" && m.edit !== undefined) {
    status(m.message, true);
    if (m.show) take(m.show);
    $("ed-disk").hidden = !m.changed_on_disk;
  } else if (m.type === "catalogue") {
    E.catalogue = m;
    const fams = [...new Set(m.families)].sort();
    options($("ed-family"), [["", "every family"], ...fams], E.family);
    picker();
  } else if (m.type === "previews") {
    for (const k in m.previews) E.previews.set(k, decode(m.previews[k]));
  } else if (m.type === "fixtures") {
    E.found = m.fixtures || [];
    library();
  }
}

function status(text, bad) {
  const s = $("ed-status");
  s.textContent = text;
  s.classList.toggle("bad", !!bad);
  if (bad) E.note(text);
}

// ---- the show as it is -------------------------------------------------------------------------

function doc() { return (E.show && E.show.doc) || {}; }
function fixtures() { return Array.isArray(doc().fixtures) ? doc().fixtures : []; }
function cues() { return Array.isArray(doc().cues) ? doc().cues : []; }
function groups() { return Object.keys((E.show && E.show.groups) || {}); }
function targets() { return [...groups(), ...fixtures().map((f) => f.name)]; }

function take(show) {
  E.show = show;
  E.version = show.version;
  $("ed-undo").disabled = !show.undo;
  $("ed-redo").disabled = !show.redo;
  $("ed-save").classList.toggle("dirty", !!show.dirty);
  $("ed-file").textContent = show.file + (show.dirty ? " (not saved)" : "") + " v" + show.version;
  document.body.dataset.showVersion = String(show.version);
  patchList();
  lookTargets();
  programmer();
  cueList();
}

// ---- patch -------------------------------------------------------------------------------------

function library() {
  const list = $("ed-found");
  list.textContent = "";
  for (const f of E.found) {
    const usable = f.modes.filter((m) => !m.refused);
    const row = el("div", { class: "found" }, list);
    el("b", {}, row, f.maker + " " + f.name);
    el("small", {}, row, " " + f.ref + (f.beam ? ", beam " + f.beam + " deg" : ""));
    const mode = options(el("select", { class: "ed-mode", "aria-label": "mode" }, row),
      usable.map((m) => [m.name, m.name + " (" + m.channels + " ch)"]));
    const b = el("button", { class: "ed-pick", disabled: usable.length === 0 }, row, "choose");
    b.addEventListener("click", () => {
      $("ed-profile").value = f.ref;
      $("ed-pmode").value = mode.value;
      const m = usable.find((x) => x.name === mode.value);
      $("ed-footprint").textContent = m ? m.channels + " channels" : "";
      proposeAddress(m ? m.channels : 1);
    });
  }
}

// The next free address of the universe for a footprint, as the player would propose it.
function proposeAddress(footprint) {
  const u = Number($("ed-universe").value || 1);
  const used = Object.values((E.show && E.show.patch) || {})
    .filter((p) => p.universe === u && p.footprint)
    .map((p) => [p.address, p.address + p.footprint])
    .sort((a, b) => a[0] - b[0]);
  let at = 1;
  for (const [s, e] of used) { if (at + footprint <= s) break; at = Math.max(at, e); }
  $("ed-address").placeholder = at + footprint - 1 <= 512 ? String(at) : "full";
}

function patchFixture() {
  const args = { profile: $("ed-profile").value.trim() };
  const put = (key, id, kind) => {
    const v = $(id).value.trim();
    if (v !== "") args[key] = kind === "int" ? Number(v) : v;
  };
  put("mode", "ed-pmode");
  put("name", "ed-pname");
  put("universe", "ed-universe", "int");
  put("address", "ed-address", "int");
  put("group", "ed-pgroup");
  edit("patch", args);
}

function patchList() {
  const box = $("ed-fixtures");
  box.textContent = "";
  const patch = (E.show && E.show.patch) || {};
  for (const f of fixtures()) {
    const p = patch[f.name] || {};
    const row = el("div", { class: "fx", "data-fixture": f.name }, box);
    el("b", {}, row, f.name);
    el("small", {}, row, p.universe ? " " + p.universe + "." + p.address + " (" + p.footprint + " ch) " : " " + (p.address || "") + " ");
    const g = el("input", { class: "ed-fgroup", value: f.group || "", placeholder: "group", size: 8, "aria-label": "group" }, row);
    g.addEventListener("change", () => edit("fixture", { name: f.name, set: { group: g.value.trim() || null } }));
    const pos = Array.isArray(f.position) ? f.position : ["", "", ""];
    const xyz = ["x", "y", "z"].map((a, i) =>
      el("input", { class: "ed-pos", type: "number", step: "0.1", value: pos[i], placeholder: a, "aria-label": a }, row));
    for (const input of xyz) {
      input.addEventListener("change", () => {
        if (xyz.every((i) => i.value !== "")) edit("fixture", { name: f.name, set: { position: xyz.map((i) => Number(i.value)) } });
      });
    }
    el("button", { class: "ed-unpatch", onclick: () => edit("unpatch", { name: f.name }) }, row, "unpatch");
  }
}

// ---- looks -------------------------------------------------------------------------------------

function lookTargets() {
  const t = targets();
  const sel = $("ed-target");
  const keep = t.includes(sel.value) ? sel.value : t[0] || "";
  options(sel, t, keep);
  options($("ed-cue"), [["", "the look playing now (live)"], ...cues().map((c) => [c.name, "cue " + c.name + " (blind)"])], E.cue);
  const next = $("ed-snext");
  options(next, [["", "no next cue"], ...cues().map((c) => c.name)], next.value);
}

function lookArgs() {
  const set = {};
  const num = (id) => ($(id).value === "" ? null : Number($(id).value));
  if ($("ed-pattern").value) set.pattern = $("ed-pattern").value;
  set.speed = $("ed-speed").value;
  const sx = num("ed-sx"), sy = num("ed-sy"), sz = num("ed-sz");
  set.scale = [sx ?? 1, sy ?? 1, sz ?? 1];
  set.rotate = num("ed-rotate") ?? 0;
  set.reverse = $("ed-reverse").checked;
  set.mirror = ["x", "y", "z"].filter((a) => $("ed-m" + a).checked);
  if (groups().includes($("ed-target").value)) {
    const spread = num("ed-spread");
    if (spread !== null) set.spread_beats = spread;
    set.order = $("ed-order").value;
  }
  return set;
}

function applyLook() {
  const args = { target: $("ed-target").value, set: lookArgs() };
  E.cue = $("ed-cue").value;
  if (E.cue) { args.cue = E.cue; args.blind = $("ed-blind").checked; }
  else if ($("ed-blind").checked) args.blind = true;
  edit("look", args);
}

function programmer() {
  const box = $("ed-programmer");
  box.textContent = "";
  const prog = (E.show && E.show.programmer) || {};
  for (const t in prog) {
    const row = el("div", { class: "prog" }, box);
    el("b", {}, row, t + ": ");
    el("span", {}, row, Object.entries(prog[t]).map(([k, v]) => k + " " + JSON.stringify(v)).join(", "));
    el("button", { class: "ed-clear", onclick: () => edit("clear", { target: t }) }, row, "clear");
  }
  $("ed-store").disabled = Object.keys(prog).length === 0;
}

function storeCue() {
  const args = { name: $("ed-sname").value.trim() };
  if ($("ed-skey").value.trim()) args.key = $("ed-skey").value.trim();
  const q = $("ed-squant").value;
  args.quantize = /^[0-9]+$/.test(q) ? Number(q) : q;
  const tr = $("ed-strans").value.trim();
  if (tr !== "") args.transition = tr === "cut" ? "cut" : Number(tr);
  if ($("ed-snext").value) { args.next = $("ed-snext").value; args.after = Number($("ed-safter").value || 4); }
  edit("store_cue", args);
}

// ---- the pattern picker ------------------------------------------------------------------------

function decode(text) {
  const raw = atob(text);
  const pts = [];
  for (let i = 0; i + 1 < raw.length; i += 2) pts.push([raw.charCodeAt(i), raw.charCodeAt(i + 1)]);
  return pts;
}

function picker() {
  const c = E.catalogue;
  const box = $("ed-patterns");
  box.textContent = "";
  if (!c) return;
  const words = E.search.toLowerCase().split(/\s+/).filter(Boolean);
  const shown = [];
  for (let i = 0; i < c.names.length && shown.length < MAX_SHOWN; i++) {
    if (E.family && c.families[i] !== E.family) continue;
    const hay = (c.names[i] + " " + c.descriptions[i]).toLowerCase();
    if (words.every((w) => hay.includes(w))) shown.push(i);
  }
  const ask = [];
  for (const i of shown) {
    const name = c.names[i];
    const card = el("button", { class: "pat", "data-pattern": name, title: c.descriptions[i] }, box);
    card.classList.toggle("on", $("ed-pattern").value === name);
    el("canvas", { width: 56, height: 56 }, card);
    el("span", {}, card, name);
    card.addEventListener("click", () => {
      $("ed-pattern").value = name;
      for (const b of box.children) b.classList.toggle("on", b === card);
    });
    if (!E.previews.has(name) && !E.wanted.has(name)) { E.wanted.add(name); ask.push(name); }
  }
  if (ask.length) edit("previews", { names: ask }, false);
  $("ed-count").textContent = shown.length + (shown.length === MAX_SHOWN ? "+ shown" : " shown");
  if (!E.raf) E.raf = requestAnimationFrame(animate);
}

// Each card draws the gallery's decimated path and a dot that goes round it at the show's tempo.
function animate(now) {
  E.raf = 0;
  const c = E.catalogue;
  const box = $("ed-patterns");
  if (!c || !box.childElementCount || box.offsetParent === null) { E.raf = requestAnimationFrame(animate); return; }
  const grid = c.grid || 240;
  for (const card of box.children) {
    const name = card.dataset.pattern;
    const pts = E.previews.get(name);
    const cv = card.firstChild;
    const g = cv.getContext("2d");
    g.clearRect(0, 0, cv.width, cv.height);
    if (!pts || !pts.length) continue;
    const k = cv.width / grid;
    g.strokeStyle = "#7fb0ff";
    g.lineWidth = 1.2;
    g.beginPath();
    pts.forEach(([x, y], j) => (j ? g.lineTo(x * k, y * k) : g.moveTo(x * k, y * k)));
    g.closePath();
    g.stroke();
    const beats = c.periods[c.names.indexOf(name)] / 64;
    const u = ((now / 1000) * (E.bpm / 60) / beats) % 1;
    const [x, y] = pts[Math.floor(u * pts.length) % pts.length];
    g.fillStyle = "#ffd36b";
    g.beginPath();
    g.arc(x * k, y * k, 3, 0, 2 * Math.PI);
    g.fill();
  }
  E.raf = requestAnimationFrame(animate);
}

// ---- cues --------------------------------------------------------------------------------------

function cueList() {
  const box = $("ed-cues");
  box.textContent = "";
  cues().forEach((c, i) => {
    const row = el("div", { class: "cuerow", "data-cue": c.name }, box);
    el("b", {}, row, c.name);
    const key = el("input", { class: "ed-ckey", value: c.key || "", size: 1, maxlength: 1, placeholder: "key", "aria-label": "key" }, row);
    key.addEventListener("change", () => edit("cue", { name: c.name, set: { key: key.value || null } }));
    const q = options(el("select", { class: "ed-cquant", "aria-label": "quantize" }, row), QUANTIZE, c.quantize ?? "");
    if (c.quantize === undefined) q.insertBefore(el("option", { value: "", selected: true }, null, "show's"), q.firstChild);
    q.addEventListener("change", () => edit("cue", { name: c.name, set: { quantize: q.value === "" ? null : /^[0-9]+$/.test(q.value) ? Number(q.value) : q.value } }));
    const tr = el("input", { class: "ed-ctrans", value: c.transition ?? "cut", size: 3, "aria-label": "transition" }, row);
    tr.addEventListener("change", () => edit("cue", { name: c.name, set: { transition: tr.value === "cut" || tr.value === "" ? null : Number(tr.value) } }));
    const nx = options(el("select", { class: "ed-cnext", "aria-label": "next" }, row), [["", "then nothing"], ...cues().filter((o) => o.name !== c.name).map((o) => [o.name, "then " + o.name])], c.next || "");
    const after = el("input", { class: "ed-cafter", type: "number", min: 0, value: c.after ?? "", size: 2, placeholder: "bars", "aria-label": "after" }, row);
    const chain = () => edit("cue", { name: c.name, set: nx.value ? { next: nx.value, after: Number(after.value || 0) } : { next: null, after: null } });
    nx.addEventListener("change", chain);
    after.addEventListener("change", chain);
    el("button", { class: "ed-up", disabled: i === 0, onclick: () => edit("move_cue", { name: c.name, to: i - 1 }) }, row, "\u25b2");
    el("button", { class: "ed-down", disabled: i === cues().length - 1, onclick: () => edit("move_cue", { name: c.name, to: i + 1 }) }, row, "\u25bc");
    el("button", { class: "ed-blindedit", onclick: () => { E.cue = c.name; $("ed-cue").value = c.name; $("ed-blind").checked = true; } }, row, "looks");
    el("button", { class: "ed-delete", onclick: () => edit("delete_cue", { name: c.name }) }, row, "delete");
  });
}

// ---- set-up ------------------------------------------------------------------------------------

function build(root) {
  root.innerHTML = `
<div class="edbar">
  <button id="ed-undo" title="ctrl-z">Undo</button><button id="ed-redo" title="ctrl-y">Redo</button>
  <button id="ed-save">Save</button>
  <span id="ed-disk" hidden><button id="ed-reload">Reload from disk</button><button id="ed-saveas">Save as a copy</button></span>
  <span id="ed-file"></span> <span id="ed-status" role="status"></span>
</div>
<details open><summary>Patch</summary>
  <input id="ed-lib" type="search" placeholder="search the fixture library (maker, model)" aria-label="fixture search">
  <div id="ed-found"></div>
  <div class="edrow">
    <input id="ed-profile" placeholder="ofl:maker/model" aria-label="profile">
    <input id="ed-pmode" placeholder="mode" aria-label="mode">
    <input id="ed-pname" placeholder="name (made up)" aria-label="name" size="10">
    <input id="ed-universe" type="number" min="0" value="1" aria-label="universe" title="universe">
    <input id="ed-address" type="number" min="1" max="512" placeholder="1" aria-label="address" title="address: empty for the next free one">
    <input id="ed-pgroup" placeholder="group" aria-label="group" size="8">
    <span id="ed-footprint"></span>
    <button id="ed-patch">Patch</button>
  </div>
  <div id="ed-fixtures"></div>
</details>
<details open><summary>Looks</summary>
  <div class="edrow">
    <select id="ed-target" aria-label="group or fixture"></select>
    <select id="ed-cue" aria-label="where the look goes"></select>
    <label><input id="ed-blind" type="checkbox"> blind</label>
  </div>
  <div class="edrow">
    <input id="ed-psearch" type="search" placeholder="search patterns" aria-label="pattern search">
    <select id="ed-family" aria-label="family"></select> <small id="ed-count"></small>
    <input id="ed-pattern" placeholder="pattern" aria-label="pattern">
  </div>
  <div id="ed-patterns"></div>
  <div class="edrow">
    <label>speed <select id="ed-speed"></select></label>
    <label>spread <input id="ed-spread" type="number" step="0.125" min="0" size="3" placeholder="beats"></label>
    <label>order <select id="ed-order"></select></label>
    <label>scale <input id="ed-sx" type="number" step="0.1" placeholder="1"><input id="ed-sy" type="number" step="0.1" placeholder="1"><input id="ed-sz" type="number" step="0.1" placeholder="1"></label>
    <label>rotate <input id="ed-rotate" type="number" step="5" min="-360" max="360" placeholder="0"></label>
    <label>mirror <input id="ed-mx" type="checkbox">x <input id="ed-my" type="checkbox">y <input id="ed-mz" type="checkbox">z</label>
    <label><input id="ed-reverse" type="checkbox"> reverse</label>
    <button id="ed-apply">Set look</button>
  </div>
  <div id="ed-programmer"></div>
</details>
<details open><summary>Cues</summary>
  <div class="edrow">
    <input id="ed-sname" placeholder="cue name" aria-label="cue name">
    <input id="ed-skey" placeholder="key" size="1" maxlength="1" aria-label="cue key">
    <select id="ed-squant" aria-label="quantize"></select>
    <input id="ed-strans" placeholder="cut or beats" size="5" aria-label="transition">
    <select id="ed-snext" aria-label="next cue"></select>
    <input id="ed-safter" type="number" min="0" placeholder="after bars" size="3" aria-label="after bars">
    <button id="ed-store">Store cue</button>
  </div>
  <div id="ed-cues"></div>
</details>`;
  options($("ed-speed"), SPEEDS, "1");
  options($("ed-order"), ORDERS, "forward");
  options($("ed-squant"), QUANTIZE, "bar");
  $("ed-undo").addEventListener("click", () => edit("undo"));
  $("ed-redo").addEventListener("click", () => edit("redo"));
  $("ed-save").addEventListener("click", () => edit("save", undefined, false));
  $("ed-reload").addEventListener("click", () => { $("ed-disk").hidden = true; edit("reload"); });
  $("ed-saveas").addEventListener("click", () => { $("ed-disk").hidden = true; edit("save_as", undefined, false); });
  $("ed-patch").addEventListener("click", patchFixture);
  $("ed-apply").addEventListener("click", applyLook);
  $("ed-store").addEventListener("click", storeCue);
  $("ed-universe").addEventListener("change", () => proposeAddress(1));
  let timer = 0;
  $("ed-lib").addEventListener("input", () => {
    clearTimeout(timer);
    timer = setTimeout(() => edit("fixtures", { search: $("ed-lib").value }, false), 150);
  });
  const wantCatalogue = () => { if (!E.catalogue && !E.askedCatalogue) { E.askedCatalogue = true; edit("catalogue", undefined, false); } };
  $("ed-psearch").addEventListener("focus", wantCatalogue);
  $("ed-psearch").addEventListener("input", () => { E.search = $("ed-psearch").value; wantCatalogue(); picker(); });
  $("ed-family").addEventListener("focus", wantCatalogue);
  $("ed-family").addEventListener("change", () => { E.family = $("ed-family").value; picker(); });
  $("ed-cue").addEventListener("change", () => { E.cue = $("ed-cue").value; $("ed-blind").checked = !!E.cue; });
}

export function mount(config, send, note) {
  if (!config.edit) return;
  E.note = note || E.note;
  E.room = JSON.stringify(config.stage);
  const root = $("editor");
  root.hidden = false;
  build(root);
  // on a phone the remote comes first: the editor's panels start folded
  if (window.innerWidth < 700) for (const d of root.querySelectorAll("details")) d.open = false;
  listen(onMessage);
  document.addEventListener("keydown", (e) => {
    if (!(e.ctrlKey || e.metaKey) || e.altKey) return;
    const t = e.target;
    if (t && (t.tagName === "INPUT" || t.tagName === "TEXTAREA") && t.type !== "checkbox") return;
    const k = e.key.toLowerCase();
    if (k === "z" && !e.shiftKey) { e.preventDefault(); edit("undo"); }
    else if (k === "y" || (k === "z" && e.shiftKey)) { e.preventDefault(); edit("redo"); }
  });
}

export function update(s) {
  if (typeof s.bpm === "number") E.bpm = s.bpm;
}
