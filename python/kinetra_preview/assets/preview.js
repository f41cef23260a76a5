"use strict";
(function () {
  const D = JSON.parse(document.getElementById("kp-data").textContent);
  const PPB = D.pipsPerBeat;
  const PROJ = D.projection;
  const SVGNS = "http://www.w3.org/2000/svg";
  const $ = (id) => document.getElementById(id);
  const count = D.names.length;
  const index = new Map(D.names.map((n, i) => [n, i]));
  const userRows = new Set(D.user);

  // ---- geometry -------------------------------------------------------
  // Oblique projection: a nearer point (z > 0) shifts down-left.
  function project(x, y, z) { return [x + z * PROJ.dx, y + z * PROJ.dy]; }
  function strength(z) { z = z < -1 ? -1 : z > 1 ? 1 : z; return 0.625 + 0.375 * z; }
  function wrap(p, n) { const r = p % n; return r < 0 ? r + n : r; }
  const f4 = (v) => (v < 0 ? "\u2212" : "+") + Math.abs(v).toFixed(4);
  const esc = (s) => s.replace(/[&<>"']/g, (c) => "&#" + c.charCodeAt(0) + ";");

  function beatsText(period) {
    const b = period / PPB;
    return (Number.isInteger(b) ? b : b.toFixed(2).replace(/0$/, "")) + (b === 1 ? " beat" : " beats");
  }

  // ---- data decoding --------------------------------------------------
  function b64bytes(text) {
    const bin = atob(text);
    const out = new Uint8Array(bin.length);
    for (let i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
    return out;
  }

  // Full tables: raw DEFLATE of an axis mask byte and, per present axis,
  // zig-zag varint second differences of values quantised to 1/quant.
  const tables = new Map();
  async function table(i) {
    if (tables.has(i)) return tables.get(i);
    const stream = new Blob([b64bytes(D.tables[i])]).stream().pipeThrough(new DecompressionStream("deflate-raw"));
    const bytes = new Uint8Array(await new Response(stream).arrayBuffer());
    const n = D.periods[i];
    const t = new Float64Array(n * 3);
    const mask = bytes[0];
    let pos = 1;
    for (let a = 0; a < 3; a++) {
      if (!(mask & (1 << a))) continue;
      let acc = 0, step = 0;
      for (let p = 0; p < n; p++) {
        let z = 0, mul = 1, b;
        do { b = bytes[pos++]; z += (b & 0x7f) * mul; mul *= 128; } while (b & 0x80);
        step += (z % 2 === 0) ? z / 2 : -(z + 1) / 2;
        acc += step;
        t[p * 3 + a] = acc / D.quant;
      }
    }
    if (pos !== bytes.length) throw new Error("table of " + D.names[i] + " does not match its period");
    tables.set(i, t);
    return t;
  }

  // ---- gallery --------------------------------------------------------
  function thumbPath(text) {
    const b = b64bytes(text);
    if (b.length < 2) return "";
    let d = "M" + b[0] + " " + b[1];
    for (let i = 2; i + 1 < b.length; i += 2) d += "L" + b[i] + " " + b[i + 1];
    return d + (b.length > 4 ? "Z" : "");
  }

  const searchText = [];
  function buildGallery() {
    const grid = $("grid");
    const sel = $("family");
    const famCount = new Array(D.families.length).fill(0);
    D.family.forEach((f) => famCount[f]++);
    D.families.forEach((f, i) => {
      const o = document.createElement("option");
      o.value = String(i);
      o.textContent = f + " (" + famCount[i] + ")";
      sel.appendChild(o);
    });
    const g = D.thumbGrid;
    const html = [];
    for (let i = 0; i < count; i++) {
      const fam = D.families[D.family[i]];
      const b = b64bytes(D.thumbs[i]);
      const start = b.length >= 2 ? '<circle cx="' + b[0] + '" cy="' + b[1] + '" r="6"/>' : "";
      // A path that is a straight line gets the moving component's curve as well.
      const tr = D.traces[i];
      const trace = tr ? '<path class="trace" d="' + thumbPath(tr[1]).replace(/Z$/, "") + '"/><text x="' + (g / 2) +
        '" y="' + (g - 4) + '">' + tr[0] + " over one period</text>" : "";
      html.push('<article class="card" tabindex="0" data-i="' + i + '" data-name="' + esc(D.names[i]) + '">' +
        '<svg viewBox="0 0 ' + g + " " + g + '" aria-hidden="true">' + trace + '<path d="' + thumbPath(D.thumbs[i]) + '"/>' + start + "</svg>" +
        "<h3>" + esc(D.names[i]) + "</h3>" +
        '<div class="meta"><span class="tag' + (userRows.has(i) ? " user" : "") + '">' + esc(fam) + "</span> " +
        beatsText(D.periods[i]) + " \u00b7 " + D.dimensions[i] + "-D</div>" +
        '<p class="desc">' + esc(D.descriptions[i]) + "</p></article>");
      searchText.push((D.names[i] + " " + D.descriptions[i] + " " + fam).toLowerCase());
    }
    grid.innerHTML = html.join("");
    grid.addEventListener("click", (ev) => {
      const card = ev.target.closest(".card");
      if (card) openView(Number(card.dataset.i));
    });
    grid.addEventListener("keydown", (ev) => {
      const card = ev.target.closest(".card");
      if (card && (ev.key === "Enter" || ev.key === " ")) { ev.preventDefault(); openView(Number(card.dataset.i)); }
    });
    $("search").addEventListener("input", applyFilter);
    sel.addEventListener("change", applyFilter);
    applyFilter();
  }

  function applyFilter() {
    const words = $("search").value.toLowerCase().split(/\s+/).filter(Boolean);
    const fam = $("family").value;
    const cards = $("grid").children;
    let shown = 0;
    for (let i = 0; i < cards.length; i++) {
      const ok = (fam === "" || D.family[i] === Number(fam)) && words.every((w) => searchText[i].includes(w));
      cards[i].hidden = !ok;
      if (ok) shown++;
    }
    $("count").textContent = shown === count ? count + " patterns" : shown + " of " + count + " patterns";
  }

  // ---- large view -----------------------------------------------------
  const V = {
    i: -1, t: null, n: 0, bpm: D.bpm, playing: true,
    time: 0,          // seconds since pip 0 at the anchor
    anchor: 0,        // clock reading at the anchor
    pip: -1, fanN: 1, fanK: 16, audio: null, clickOn: false, nextBeat: 0, timer: 0, raf: 0,
  };

  function clock() {
    return V.clickOn && V.audio ? V.audio.currentTime : performance.now() / 1000;
  }
  function currentTime() { return V.playing ? V.time + (clock() - V.anchor) : V.time; }
  function reanchor() { V.time = currentTime(); V.anchor = clock(); V.nextBeat = Math.ceil(V.time * V.bpm / 60 - 1e-9); }
  function pipAt(seconds) { return wrap(Math.floor(seconds * V.bpm / 60 * PPB), V.n); }

  function el(tag, attrs, parent) {
    const e = document.createElementNS(SVGNS, tag);
    for (const k in attrs) e.setAttribute(k, attrs[k]);
    if (parent) parent.appendChild(e);
    return e;
  }
  const r4 = (v) => Math.round(v * 10000) / 10000;

  function drawStatic() {
    const t = V.t, n = V.n, i = V.i;
    const L = PROJ.limit + 0.1;
    const plot = $("v-plot");
    plot.setAttribute("viewBox", [-L, -L, 2 * L, 2 * L].join(" "));
    const frame = $("v-frame"), path = $("v-path"), seam = $("v-seam"), beats = $("v-beats");
    for (const g of [frame, path, seam, beats]) g.textContent = "";
    const sq = (z, cls) => {
      const pts = [[-1, -1], [1, -1], [1, 1], [-1, 1]].map(([x, y]) => project(x, y, z).map(r4).join(" "));
      el("path", { d: "M" + pts.join("L") + "Z", class: cls }, frame);
    };
    if (D.dimensions[i] === 3) {
      sq(-1, "box"); sq(1, "box");
      for (const [x, y] of [[-1, -1], [1, -1], [1, 1], [-1, 1]]) {
        const a = project(x, y, -1), b = project(x, y, 1);
        el("line", { x1: a[0], y1: a[1], x2: b[0], y2: b[1], class: "box" }, frame);
      }
    }
    sq(0, "frame");
    el("line", { x1: -1, y1: 0, x2: 1, y2: 0, class: "axis" }, frame);
    el("line", { x1: 0, y1: -1, x2: 0, y2: 1, class: "axis" }, frame);
    el("text", { x: -L + 0.04, y: -L + 0.1 }, frame).textContent = "negative y is up";

    // The path, its segments grouped by depth so nearer parts draw stronger.
    const BINS = 6;
    const bins = Array.from({ length: BINS }, () => []);
    const P = new Array(n);
    for (let p = 0; p < n; p++) P[p] = project(t[3 * p], t[3 * p + 1], t[3 * p + 2]).map(r4);
    // Consecutive segments of one depth band form one run, so joins inside a
    // run do not double the opacity.
    let run = "", runBin = -1;
    for (let p = 0; p + 1 < n; p++) {
      const s = strength((t[3 * p + 2] + t[3 * p + 5]) / 2);
      const b = Math.min(BINS - 1, Math.floor((s - 0.25) / 0.75 * BINS));
      if (b !== runBin) {
        if (run) bins[runBin].push(run);
        run = "M" + P[p][0] + " " + P[p][1];
        runBin = b;
      }
      run += "L" + P[p + 1][0] + " " + P[p + 1][1];
    }
    if (run) bins[runBin].push(run);
    bins.forEach((segs, b) => {
      if (!segs.length) return;
      const s = 0.25 + 0.75 * (b + 0.5) / BINS;
      el("path", { d: segs.join(""), class: "seg", "stroke-opacity": s.toFixed(2), "stroke-width": (0.006 + 0.016 * s).toFixed(4) }, path);
    });

    // The seam: last pip back to pip 0, compared with the largest step between pips.
    let inner = 0;
    const step = (a, b) => Math.max(Math.abs(t[3 * a] - t[3 * b]), Math.abs(t[3 * a + 1] - t[3 * b + 1]), Math.abs(t[3 * a + 2] - t[3 * b + 2]));
    for (let p = 0; p + 1 < n; p++) inner = Math.max(inner, step(p, p + 1));
    const seamStep = n > 1 ? step(n - 1, 0) : 0;
    const jump = seamStep > inner + 2 / D.quant;
    if (n > 1) {
      el("line", { x1: P[n - 1][0], y1: P[n - 1][1], x2: P[0][0], y2: P[0][1], class: "seam" + (jump ? " jump" : "") }, seam);
      el("text", { x: P[0][0] + 0.05, y: P[0][1] + 0.1, class: "seamlabel" }, seam).textContent = jump ? "seam: jump" : "seam";
    }
    $("v-seaminfo").textContent = "seam (pip " + (n - 1) + " \u2192 0): step " + seamStep.toFixed(4) +
      "\nlargest step between pips: " + inner.toFixed(4) + (jump ? "\na jump at the loop boundary" : "\nthe loop closes smoothly");
    $("v-seaminfo").dataset.jump = jump ? "1" : "0";

    for (let p = 0, b = 1; p < n; p += PPB, b++) {
      el("circle", { cx: P[p][0], cy: P[p][1], r: p === 0 ? 0.03 : 0.022, class: "beat" + (p === 0 ? " first" : "") }, beats);
      el("text", { x: P[p][0] + 0.035, y: P[p][1] - 0.03 }, beats).textContent = String(b);
    }

    // Component curves over one period.
    const cg = $("c-grid"), cl = $("c-lines");
    cg.textContent = ""; cl.textContent = "";
    const cx = (p) => (p / n * 1000);
    const cy = (v) => (100 - v * 92);
    for (let p = 0; p < n; p += PPB) el("line", { x1: cx(p), x2: cx(p), y1: 0, y2: 200, class: "grid" }, cg);
    el("line", { x1: 0, x2: 1000, y1: 100, y2: 100, class: "zero" }, cg);
    ["var(--cx)", "var(--cy)", "var(--cz)"].forEach((colour, a) => {
      let d = "";
      for (let p = 0; p < n; p++) d += (p ? "L" : "M") + r4(cx(p)) + " " + r4(cy(t[3 * p + a]));
      el("path", { d: d, style: "stroke:" + colour }, cl);
    });
    $("v-scrub").max = String(n - 1);
  }

  function drawPip(p) {
    const t = V.t, n = V.n;
    V.pip = p;
    const x = t[3 * p], y = t[3 * p + 1], z = t[3 * p + 2];
    const [sx, sy] = project(x, y, z);
    const pt = $("v-point");
    pt.setAttribute("cx", sx);
    pt.setAttribute("cy", sy);
    pt.setAttribute("r", (0.035 + 0.035 * strength(z)).toFixed(4));
    pt.dataset.pip = String(p);
    pt.dataset.x = String(x); pt.dataset.y = String(y); pt.dataset.z = String(z);
    const drop = $("v-drop");
    const base = project(x, y, 0);
    drop.setAttribute("x1", base[0]); drop.setAttribute("y1", base[1]);
    drop.setAttribute("x2", sx); drop.setAttribute("y2", sy);
    drop.style.display = D.dimensions[V.i] === 3 ? "" : "none";

    // Fan: copy k shows the pattern fanK * k pips later, as staggered fixtures do.
    const fan = $("v-fan");
    fan.textContent = "";
    for (let k = V.fanN - 1; k >= 1; k--) {
      const q = wrap(p - k * V.fanK, n);
      const c = project(t[3 * q], t[3 * q + 1], t[3 * q + 2]);
      el("circle", { cx: c[0], cy: c[1], r: 0.045, class: "fan", "fill-opacity": (0.85 - 0.6 * k / V.fanN).toFixed(2), "data-pip": q }, fan);
    }

    $("v-pip").textContent = p + " / " + n;
    $("v-scrub").value = String(p);
    const beat = Math.floor(p / PPB) + 1, six = Math.floor((p % PPB) / 16) + 1;
    $("v-readout").textContent = "beat " + beat + "." + six + "   pip " + p +
      "\nx " + f4(x) + "   y " + f4(y) + "   z " + f4(z);
    const now = $("c-now");
    now.setAttribute("x1", p / n * 1000); now.setAttribute("x2", p / n * 1000);
  }

  function frame() {
    V.raf = 0;
    if (V.i < 0) return;
    const p = pipAt(currentTime());
    if (p !== V.pip) drawPip(p);
    if (V.playing) V.raf = requestAnimationFrame(frame);
  }
  function kick() { if (!V.raf && V.i >= 0) V.raf = requestAnimationFrame(frame); }

  // ---- metronome ------------------------------------------------------
  function scheduleClicks() {
    if (!V.clickOn || !V.audio || !V.playing) return;
    const ctx = V.audio;
    const horizon = ctx.currentTime + 0.12;
    for (;;) {
      const at = V.anchor + (V.nextBeat * 60 / V.bpm - V.time);
      if (at > horizon) break;
      if (at >= ctx.currentTime - 0.01) {
        const osc = ctx.createOscillator(), gain = ctx.createGain();
        osc.frequency.value = V.nextBeat % 4 === 0 ? 1760 : 1100;
        gain.gain.setValueAtTime(0.0001, at);
        gain.gain.exponentialRampToValueAtTime(0.35, at + 0.002);
        gain.gain.exponentialRampToValueAtTime(0.0001, at + 0.05);
        osc.connect(gain).connect(ctx.destination);
        osc.start(at); osc.stop(at + 0.06);
      }
      V.nextBeat++;
    }
  }
  function setClick(on) {
    reanchor();
    if (on && !V.audio) {
      const AC = window.AudioContext || window.webkitAudioContext;
      if (!AC) { $("v-click").checked = false; return; }
      V.audio = new AC();
    }
    if (on && V.audio.state === "suspended") V.audio.resume();
    V.clickOn = on;
    V.anchor = clock();
    V.nextBeat = Math.ceil(V.time * V.bpm / 60 - 1e-9);
    clearInterval(V.timer);
    if (on) V.timer = setInterval(scheduleClicks, 25);
  }

  // ---- controls -------------------------------------------------------
  function setPlaying(on) {
    reanchor();
    V.playing = on;
    $("v-play").textContent = on ? "Pause" : "Play";
    if (!on && V.i >= 0) drawPip(pipAt(V.time));  // stop exactly where the clock is
    kick();
  }
  function setBpm(bpm) {
    if (!(bpm > 0 && bpm < 10000)) { $("v-bpm").value = String(V.bpm); return; }
    // Keep the position in beats while the tempo changes.
    reanchor();
    const beats = V.time * V.bpm / 60;
    V.bpm = bpm;
    V.time = beats * 60 / bpm;
    V.nextBeat = Math.ceil(beats - 1e-9);
    if (Number($("v-bpm").value) !== bpm) $("v-bpm").value = String(bpm);
    V.pip = -1;
    kick();
  }
  function setTime(seconds) {
    V.time = seconds;
    V.anchor = clock();
    V.nextBeat = Math.ceil(seconds * V.bpm / 60 - 1e-9);
    if (V.i >= 0) drawPip(pipAt(V.playing ? currentTime() : seconds));
    kick();
  }
  function setFan(n, k) {
    V.fanN = Math.max(1, Math.min(32, Math.floor(n) || 1));
    V.fanK = Math.max(0, Math.floor(k) || 0);
    if (Number($("v-fan-n").value) !== V.fanN) $("v-fan-n").value = String(V.fanN);
    if (Number($("v-fan-k").value) !== V.fanK) $("v-fan-k").value = String(V.fanK);
    if (V.i >= 0) drawPip(V.pip < 0 ? 0 : V.pip);
  }

  async function openView(i, keepHash) {
    if (!(i >= 0 && i < count)) throw new Error("no pattern at row " + i);
    const t = await table(i);
    V.i = i; V.t = t; V.n = D.periods[i]; V.pip = -1;
    $("v-name").textContent = D.names[i];
    $("v-meta").innerHTML = '<span class="tag' + (userRows.has(i) ? " user" : "") + '">' + esc(D.families[D.family[i]]) + "</span> " +
      beatsText(V.n) + " (" + V.n + " pips) \u00b7 " + D.dimensions[i] + "-D";
    $("v-desc").textContent = D.descriptions[i];
    drawStatic();
    $("viewer").hidden = false;
    document.body.style.overflow = D.mode === "gallery" ? "hidden" : "";
    if (!keepHash && D.mode === "gallery") history.replaceState(null, "", "#" + encodeURIComponent(D.names[i]));
    setTime(0);
    if (D.mode === "gallery") $("v-close").focus();
  }
  function closeView() {
    if (D.mode !== "gallery") return;
    $("viewer").hidden = true;
    document.body.style.overflow = "";
    V.i = -1;
    if (V.clickOn) { $("v-click").checked = false; setClick(false); }
    history.replaceState(null, "", location.pathname + location.search);
  }

  function wireControls() {
    $("v-close").addEventListener("click", closeView);
    document.addEventListener("keydown", (ev) => {
      if (ev.key === "Escape" && !$("viewer").hidden) closeView();
    });
    $("viewer").addEventListener("click", (ev) => { if (ev.target === $("viewer")) closeView(); });
    $("v-play").addEventListener("click", () => setPlaying(!V.playing));
    $("v-bpm").addEventListener("change", () => setBpm(Number($("v-bpm").value)));
    $("v-click").addEventListener("change", () => setClick($("v-click").checked));
    $("v-scrub").addEventListener("input", () => {
      if (V.playing) setPlaying(false);
      const p = Number($("v-scrub").value);
      setTime((p + 0.5) / PPB * 60 / V.bpm);
    });
    const fan = () => setFan(Number($("v-fan-n").value), Number($("v-fan-k").value));
    $("v-fan-n").addEventListener("input", fan);
    $("v-fan-k").addEventListener("input", fan);
  }

  // ---- start ----------------------------------------------------------
  wireControls();
  $("v-bpm").value = String(D.bpm);
  let ready;
  if (D.mode === "gallery") {
    buildGallery();
    const wanted = decodeURIComponent(location.hash.slice(1));
    ready = index.has(wanted) ? openView(index.get(wanted), true) : Promise.resolve();
  } else {
    ready = openView(index.has(D.selected) ? index.get(D.selected) : 0, true);
  }
  ready = ready.then(() => { document.body.dataset.ready = "1"; });

  // A small programmatic surface, used by the browser tests and handy in the console.
  window.kinetraPreview = {
    ready: ready,
    count: count,
    open: (name) => { if (!index.has(name)) return Promise.reject(new Error("unknown pattern " + name)); return openView(index.get(name)); },
    close: closeView,
    play: () => setPlaying(true),
    pause: () => setPlaying(false),
    setBpm: setBpm,
    setTime: setTime,
    setFan: setFan,
    pipAt: pipAt,
    positionAt: (pip) => { const p = wrap(pip, V.n); return [V.t[3 * p], V.t[3 * p + 1], V.t[3 * p + 2]]; },
    table: async (name) => Array.from(await table(index.get(name))),
    project: project,
    state: () => {
      // Bring the drawing up to this instant so that time, pip and point agree.
      const time = currentTime();
      if (V.i >= 0 && pipAt(time) !== V.pip) drawPip(pipAt(time));
      const pt = $("v-point");
      return {
        name: V.i >= 0 ? D.names[V.i] : null, pip: V.pip, time: time, bpm: V.bpm, playing: V.playing,
        x: Number(pt.dataset.x), y: Number(pt.dataset.y), z: Number(pt.dataset.z),
        cx: Number(pt.getAttribute("cx")), cy: Number(pt.getAttribute("cy")),
        fan: Array.from($("v-fan").children).map((c) => Number(c.dataset.pip)).reverse(),
      };
    },
  };
})();
