(function () {
  "use strict";
  const R = window.REMOTE || {};
  const PROJ = R.projection;
  const STEPS = R.steps || { nudge_s: 0.01, tempo_bpm: 0.1 };
  const TRAIL = R.trail || 16;
  const PPB = 64;
  const $ = (id) => document.getElementById(id);
  const V = { ws: null, state: null, cueKey: "", cueButtons: new Map(), trails: new Map(), retry: 500,
    raf: 0, nextId: 1, sent: new Map(), drawn: 0, sizeTimer: 0, sizeDragging: false };
  window.remoteView = V;

  // Same oblique projection as the preview: a nearer point (z > 0) shifts down-left.
  function project(x, y, z) { return [x + z * PROJ.dx, y + z * PROJ.dy]; }
  function strength(z) { z = z < -1 ? -1 : z > 1 ? 1 : z; return 0.625 + 0.375 * z; }

  function el(tag, attrs, parent, text) {
    const e = document.createElement(tag);
    for (const k in attrs || {}) e.setAttribute(k, attrs[k]);
    if (text !== undefined) e.textContent = text;
    if (parent) parent.appendChild(e);
    return e;
  }

  function note(text) {
    const m = $("message");
    m.textContent = text;
    m.classList.add("show");
    clearTimeout(note.timer);
    note.timer = setTimeout(() => m.classList.remove("show"), 2500);
  }

  // ---- the socket ----------------------------------------------------------------------------
  function connect() {
    const proto = location.protocol === "https:" ? "wss:" : "ws:";
    const ws = new WebSocket(proto + "//" + location.host + "/ws" + location.search);
    V.ws = ws;
    ws.onopen = () => { V.retry = 500; $("link").className = "ok"; };
    ws.onclose = () => {
      $("link").className = "off";
      V.ws = null;
      setTimeout(connect, V.retry);
      V.retry = Math.min(V.retry * 2, 5000);
    };
    ws.onmessage = (ev) => {
      let m;
      try { m = JSON.parse(ev.data); } catch (e) { return; }
      if (m.type === "state" && m.state) show(m.state);
      else if (m.type === "error") note(m.message || "refused");
    };
  }

  function send(cmd, arg) {
    if (!V.ws || V.ws.readyState !== WebSocket.OPEN) { note("not connected"); return false; }
    const id = V.nextId++;
    V.sent.set(id, performance.now());
    if (V.sent.size > 64) V.sent.delete(V.sent.keys().next().value);
    V.ws.send(JSON.stringify({ cmd: cmd, arg: arg === undefined ? null : arg, id: id }));
    return true;
  }

  // ---- cues ------------------------------------------------------------------------------------
  function cueList(s) {
    const out = [];
    for (const c of s.cues || []) {
      if (typeof c === "string") out.push({ name: c, group: (R.cue_groups && R.cue_groups[c]) || "" });
      else if (c && typeof c.name === "string") out.push({ name: c.name, group: typeof c.group === "string" ? c.group : "" });
    }
    return out;
  }

  function buildCues(s, cues) {
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

  // ---- one state from the show -----------------------------------------------------------------
  function show(s) {
    V.state = s;
    const cues = cueList(s);
    const key = JSON.stringify(cues);
    if (key !== V.cueKey) { V.cueKey = key; buildCues(s, cues); }
    const pip = typeof s.pip === "number" ? s.pip : 0;
    const blinkOff = ((pip % PPB) + PPB) % PPB >= PPB / 2;
    const states = cueStates(s);
    for (const [name, b] of V.cueButtons) {
      const st = states.get(name) || { state: "idle", left: null };
      if (b.dataset.state !== st.state) { b.dataset.state = st.state; b.classList.toggle("active", st.state === "active"); b.classList.toggle("queued", st.state === "queued"); }
      b.classList.toggle("blink", st.state === "queued" && blinkOff);
      const small = b.lastChild;
      const text = st.state === "queued" && typeof st.left === "number" ? "in " + Math.ceil(st.left) : "";
      if (small.textContent !== text) small.textContent = text;
    }
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
    for (const name in s.fixtures || {}) {
      const p = s.fixtures[name];
      if (!Array.isArray(p) || p.length < 3) continue;
      let t = V.trails.get(name);
      if (!t) { t = []; V.trails.set(name, t); }
      t.push(p);
      if (t.length > TRAIL) t.shift();
    }
    for (const name of V.trails.keys()) if (!(s.fixtures && name in s.fixtures)) V.trails.delete(name);
    if (!V.raf) V.raf = requestAnimationFrame(draw);
    document.body.dataset.ready = "1";
  }

  // ---- the rig view ----------------------------------------------------------------------------
  function draw() {
    V.raf = 0;
    const c = $("rig");
    const dpr = window.devicePixelRatio || 1;
    const w = Math.max(100, Math.round(c.clientWidth * dpr));
    if (c.width !== w || c.height !== w) { c.width = w; c.height = w; }
    const g = c.getContext("2d");
    const half = w / 2, scale = (w / 2 - 12 * dpr) / PROJ.limit;
    const sx = (p) => half + p[0] * scale, sy = (p) => half + p[1] * scale;
    g.clearRect(0, 0, w, w);
    g.lineWidth = dpr;
    g.strokeStyle = "rgba(140,150,160,0.35)";
    for (const z of [-1, 1]) {
      g.beginPath();
      [[-1, -1], [1, -1], [1, 1], [-1, 1], [-1, -1]].forEach(([x, y], i) => {
        const q = project(x, y, z);
        if (i) g.lineTo(sx(q), sy(q)); else g.moveTo(sx(q), sy(q));
      });
      g.stroke();
    }
    g.beginPath();
    for (const [x, y] of [[-1, -1], [1, -1], [1, 1], [-1, 1]]) {
      const a = project(x, y, -1), b = project(x, y, 1);
      g.moveTo(sx(a), sy(a)); g.lineTo(sx(b), sy(b));
    }
    g.stroke();
    let i = 0, marks = 0;
    const names = [...V.trails.keys()].sort();
    for (const name of names) {
      const t = V.trails.get(name);
      const hue = Math.round((i++ * 137.5) % 360);
      g.strokeStyle = "hsla(" + hue + ",80%,60%,0.5)";
      g.lineWidth = 2 * dpr;
      g.beginPath();
      t.forEach((p, k) => { const q = project(p[0], p[1], p[2]); if (k) g.lineTo(sx(q), sy(q)); else g.moveTo(sx(q), sy(q)); });
      g.stroke();
      const p = t[t.length - 1];
      const q = project(p[0], p[1], p[2]);
      g.fillStyle = "hsla(" + hue + ",85%,62%," + strength(p[2]).toFixed(3) + ")";
      g.beginPath();
      g.arc(sx(q), sy(q), (5 + 3 * strength(p[2])) * dpr, 0, 2 * Math.PI);
      g.fill();
      marks++;
    }
    V.drawn = marks;
    V.marks = names.map((n) => { const p = V.trails.get(n).slice(-1)[0]; const q = project(p[0], p[1], p[2]); return [n, sx(q) / dpr, sy(q) / dpr]; });
  }

  // ---- controls --------------------------------------------------------------------------------
  function wire() {
    for (const b of document.querySelectorAll("#tempokeys button")) {
      b.addEventListener("click", () => {
        const cmd = b.dataset.cmd, sign = Number(b.dataset.sign || 0);
        if (cmd === "nudge") send(cmd, sign * STEPS.nudge_s);
        else if (cmd === "tempo") send(cmd, sign * STEPS.tempo_bpm);
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
    window.addEventListener("resize", () => { if (!V.raf) V.raf = requestAnimationFrame(draw); });
  }

  wire();
  connect();
})();
