// The stage view: floor, truss, a body per fixture and its beam as a light cone, in WebGL2.
// Each head turns towards the pan and tilt the player decoded from the values it sent, at the
// head's own speed (and acceleration), so a slow head lags and cuts corners as a real one does.
// Fixtures on other outputs (OSC) are points moving in a box of their own.
import { lookAt, multiply, perspective } from "./glmath.js";

const MAX_DPR = 1.5; // a phone draws at most this many pixels per CSS pixel
const SEGMENTS = 32;
const RAD = Math.PI / 180;
// The light (beams and spots) is drawn at a quarter of the canvas's width and height, a
// sixteenth of its pixels, and stretched over it with linear filtering: soft light loses
// nothing by it, and it is most of what a frame costs a software renderer.
const LIGHT_SCALE = 0.25;
const BEAM_RADIUS = 0.08; // metres at the lens
// In the shaders' own words: that radius and the colours.
const R0 = BEAM_RADIUS.toFixed(3);
const WARM = "vec3(1.0, 0.93, 0.8)";
const BACKGROUND = [0.02, 0.025, 0.03];
const GRID = "vec3(0.14, 0.15, 0.16)";

const S = {
  gl: null, canvas: null, room: null, heads: [], points: [], haze: 0.4,
  camera: { yaw: 0.35, pitch: 0.32, dist: 14, target: [0, 2, 0] },
  frames: 0, updateMs: [], raf: 0, last: 0, error: null,
};
window.stageView = S;

// ---- the head model ------------------------------------------------------------------------

// Moves one axis ({p, v} in degrees, degrees per second) towards `target` over dt seconds at
// most `speed` deg/s, speeding up and braking at `accel` deg/s² when given; no speed: at once.
export function follow(a, target, dt, speed, accel) {
  if (!speed) { a.p = target; a.v = 0; return a; }
  const e = target - a.p;
  if (!accel) {
    const step = speed * dt;
    a.p = Math.abs(e) <= step ? target : a.p + Math.sign(e) * step;
    a.v = 0;
    return a;
  }
  const want = Math.sign(e) * Math.min(speed, Math.sqrt(2 * accel * Math.abs(e)));
  const dv = accel * dt;
  a.v += Math.max(-dv, Math.min(dv, want - a.v));
  const next = a.p + a.v * dt;
  if ((target - next) * e <= 0) { a.p = target; a.v = 0; } else a.p = next;
  return a;
}
S.follow = follow;

// The beam's direction for pan and tilt (degrees from home): home points straight down when
// hanging, straight up when standing; tilt leans it towards the way the fixture faces.
export function direction(h, pan, tilt) {
  const p = pan * RAD, t = tilt * RAD, f = h.facing * RAD;
  const up = h.mount === "standing" ? 1 : -1;
  const x = Math.sin(t) * Math.sin(p), y = up * Math.cos(t), z = Math.sin(t) * Math.cos(p);
  return [x * Math.cos(f) + z * Math.sin(f), y, -x * Math.sin(f) + z * Math.cos(f)];
}
S.direction = direction;

// ---- shaders -------------------------------------------------------------------------------
// Kept to a few operations a fragment: a software renderer (SwiftShader, a phone's slow GPU)
// spends a frame's time on fragments.

const SOLID_VS = `#version 300 es
layout(location=0) in vec3 a_pos; layout(location=1) in vec3 a_normal;
layout(location=2) in vec3 i_centre; layout(location=3) in vec3 i_size; layout(location=4) in vec3 i_color;
uniform mat4 u_mvp; out vec3 v_color;
void main() {
  v_color = i_color * (0.55 + 0.45 * max(0.0, dot(a_normal, normalize(vec3(0.3, 1.0, 0.6)))));
  gl_Position = u_mvp * vec4(i_centre + a_pos * i_size, 1.0);
}`;
// The floor's grid: lines just above it.
const GRID_VS = `#version 300 es
layout(location=0) in vec3 a_pos; uniform mat4 u_mvp; out vec3 v_color;
void main() { v_color = ${GRID}; gl_Position = u_mvp * vec4(a_pos, 1.0); }`;
const FLAT_FS = `#version 300 es
precision mediump float;
in vec3 v_color; out vec4 o;
void main() { o = vec4(v_color, 1.0); }`;
// The light laid over the scene, stretched with linear filtering, where there is any.
const LAY_VS = `#version 300 es
out vec2 v_uv;
void main() { vec2 p = vec2(gl_VertexID == 1 ? 3.0 : -1.0, gl_VertexID == 2 ? 3.0 : -1.0);
  v_uv = p * 0.5 + 0.5; gl_Position = vec4(p, 0.0, 1.0); }`;
const LAY_FS = `#version 300 es
precision mediump float;
in vec2 v_uv; uniform sampler2D u_light; out vec4 o;
void main() { o = vec4(textureLod(u_light, v_uv, 0.0).rgb, 1.0); }`;
// A beam: one side of a cone from the lens (radius R0) along the axis, brightest where the eye
// looks across it, fading along its length.
const BEAM_VS = `#version 300 es
layout(location=0) in vec2 a_cone;
layout(location=1) in vec3 i_origin; layout(location=2) in vec3 i_dir; layout(location=3) in vec3 i_shape;
uniform mat4 u_mvp; uniform vec3 u_eye; uniform float u_cap; out float v_u; out float v_a;
void main() {
  vec3 d = normalize(i_dir);
  vec3 helper = abs(d.y) < 0.99 ? vec3(0.0, 1.0, 0.0) : vec3(1.0, 0.0, 0.0);
  vec3 b1 = normalize(cross(d, helper)); vec3 b2 = cross(d, b1);
  float len = i_shape.x, tanHalf = i_shape.y;
  vec3 radial = b1 * cos(a_cone.y) + b2 * sin(a_cone.y);
  vec3 p = i_origin + d * len * a_cone.x + radial * (${R0} + len * a_cone.x * tanHalf);
  float face = abs(dot(normalize(radial - d * tanHalf), normalize(u_eye - p)));
  v_a = u_cap * i_shape.z * face * sqrt(face);
  v_u = a_cone.x;
  gl_Position = u_mvp * vec4(p, 1.0);
}`;
const BEAM_FS = `#version 300 es
precision mediump float;
in float v_u; in float v_a; out vec4 o;
void main() { o = vec4(${WARM} * (v_a * sqrt(1.0 - v_u)), 1.0); }`;
// The spot where a beam lands: a square about the hit point, cut to the floor, lit where the
// cone's section is.
const SPOT_VS = `#version 300 es
layout(location=0) in vec2 a_quad;
layout(location=1) in vec3 i_origin; layout(location=2) in vec3 i_dir; layout(location=3) in vec3 i_shape;
uniform mat4 u_mvp; uniform vec2 u_half; uniform float u_cap;
out vec3 v_r; flat out vec3 v_dir; flat out vec2 v_cone;
void main() {
  vec3 d = normalize(i_dir);
  float t = i_shape.x;
  vec3 hit = i_origin + d * t;
  float r = (${R0} + t * i_shape.y) / max(0.15, -d.y) * 1.15 + 0.05;
  vec3 w = vec3(clamp(hit.xz + a_quad * r, -u_half, u_half), 0.002).xzy;
  v_r = w - i_origin; v_dir = d; v_cone = vec2(i_shape.y, u_cap * i_shape.z);
  gl_Position = d.y < -0.01 ? u_mvp * vec4(w, 1.0) : vec4(2.0, 2.0, 2.0, 1.0);
}`;
const SPOT_FS = `#version 300 es
precision highp float;
in vec3 v_r; flat in vec3 v_dir; flat in vec2 v_cone; out vec4 o;
void main() {
  float along = max(dot(v_r, v_dir), 0.0);
  vec3 off = v_r - v_dir * along;
  float radius = ${R0} + along * v_cone.x;
  // full out to three quarters of the radius, nothing at its edge
  float a = v_cone.y * clamp((1.0 - dot(off, off) / (radius * radius)) * 2.3, 0.0, 1.0);
  o = vec4(${WARM} * a, 1.0);
}`;
const POINT_VS = `#version 300 es
layout(location=0) in vec3 a_pos; layout(location=1) in vec3 a_color;
uniform mat4 u_mvp; uniform float u_size; out vec3 v_color;
void main() { v_color = a_color; gl_Position = u_mvp * vec4(a_pos, 1.0); gl_PointSize = u_size; }`;
const POINT_FS = `#version 300 es
precision mediump float;
in vec3 v_color; out vec4 o;
void main() { vec2 c = gl_PointCoord - 0.5; if (dot(c, c) > 0.25) discard; o = vec4(v_color, 1.0); }`;

function lightTarget(gl, w, h) {
  const lw = Math.max(1, Math.round(w * LIGHT_SCALE)), lh = Math.max(1, Math.round(h * LIGHT_SCALE));
  if (S.light && S.light.w === lw && S.light.h === lh) return S.light;
  if (!S.light) S.light = { tex: gl.createTexture(), fb: gl.createFramebuffer() };
  gl.bindTexture(gl.TEXTURE_2D, S.light.tex);
  gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, lw, lh, 0, gl.RGBA, gl.UNSIGNED_BYTE, null);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.LINEAR);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.LINEAR);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
  gl.bindFramebuffer(gl.FRAMEBUFFER, S.light.fb);
  gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, S.light.tex, 0);
  gl.bindFramebuffer(gl.FRAMEBUFFER, null);
  S.light.w = lw;
  S.light.h = lh;
  return S.light;
}

function program(gl, vs, fs) {
  const p = gl.createProgram();
  for (const [type, src] of [[gl.VERTEX_SHADER, vs], [gl.FRAGMENT_SHADER, fs]]) {
    const s = gl.createShader(type);
    gl.shaderSource(s, src);
    gl.compileShader(s);
    if (!gl.getShaderParameter(s, gl.COMPILE_STATUS)) throw new Error("shader: " + gl.getShaderInfoLog(s));
    gl.attachShader(p, s);
  }
  gl.linkProgram(p);
  if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error("program: " + gl.getProgramInfoLog(p));
  const u = {};
  const n = gl.getProgramParameter(p, gl.ACTIVE_UNIFORMS);
  for (let i = 0; i < n; i++) {
    const name = gl.getActiveUniform(p, i).name;
    u[name] = gl.getUniformLocation(p, name);
  }
  return { p, u };
}

// Per-instance data: a buffer of room for `count` instances of `sizes` floats each, made once;
// each frame writes the instances it has into it (no new buffer, no new array).
function instances(gl, sizes, count) {
  const floats = sizes.reduce((a, b) => a + b, 0);
  const buf = gl.createBuffer();
  gl.bindBuffer(gl.ARRAY_BUFFER, buf);
  gl.bufferData(gl.ARRAY_BUFFER, Math.max(1, count) * floats * 4, gl.DYNAMIC_DRAW);
  return { buf, sizes, floats, data: new Float32Array(Math.max(1, count) * floats), n: 0 };
}

function upload(gl, inst) {
  gl.bindBuffer(gl.ARRAY_BUFFER, inst.buf);
  gl.bufferSubData(gl.ARRAY_BUFFER, 0, inst.data, 0, inst.n * inst.floats);
}

// A vertex array of one shared mesh (attributes from 0) and an instance buffer (the next ones).
function meshVao(gl, mesh, sizes, inst) {
  const vao = gl.createVertexArray();
  gl.bindVertexArray(vao);
  gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
  gl.bufferData(gl.ARRAY_BUFFER, mesh, gl.STATIC_DRAW);
  const per = sizes.reduce((a, b) => a + b, 0);
  let off = 0, loc = 0;
  for (const n of sizes) { gl.enableVertexAttribArray(loc); gl.vertexAttribPointer(loc++, n, gl.FLOAT, false, per * 4, off); off += n * 4; }
  if (inst) {
    gl.bindBuffer(gl.ARRAY_BUFFER, inst.buf);
    off = 0;
    for (const n of inst.sizes) {
      gl.enableVertexAttribArray(loc);
      gl.vertexAttribPointer(loc, n, gl.FLOAT, false, inst.floats * 4, off);
      gl.vertexAttribDivisor(loc++, 1);
      off += n * 4;
    }
  }
  gl.bindVertexArray(null);
  return { vao, count: mesh.length / per };
}

function cubeMesh() {
  const out = [];
  const faces = [[0, 1], [0, -1], [1, 1], [1, -1], [2, 1], [2, -1]];
  for (const [axis, sign] of faces) {
    const u = (axis + 1) % 3, v = (axis + 2) % 3;
    const corner = (a, b) => { const p = [0, 0, 0]; p[axis] = sign * 0.5; p[u] = a * 0.5; p[v] = b * 0.5; const n = [0, 0, 0]; n[axis] = sign; return [...p, ...n]; };
    // counter-clockwise seen from outside: the far side of a body is culled
    const quad = sign > 0 ? [[-1, -1], [1, -1], [1, 1], [-1, -1], [1, 1], [-1, 1]] : [[-1, -1], [1, 1], [1, -1], [-1, -1], [-1, 1], [1, 1]];
    for (const [a, b] of quad) out.push(...corner(a, b));
  }
  return new Float32Array(out);
}

function coneMesh() {
  const out = [];
  for (let i = 0; i < SEGMENTS; i++) {
    const a = (i / SEGMENTS) * 2 * Math.PI, b = ((i + 1) / SEGMENTS) * 2 * Math.PI;
    out.push(0, a, 1, a, 1, b, 0, a, 1, b, 0, b);
  }
  return new Float32Array(out);
}

// Lines a metre apart across the floor.
function gridMesh(r) {
  const out = [], hx = r.width / 2, hz = r.depth / 2, y = 0.005;
  for (let x = Math.ceil(-hx); x <= hx; x++) out.push(x, y, -hz, x, y, hz);
  for (let z = Math.ceil(-hz); z <= hz; z++) out.push(-hx, y, z, hx, y, z);
  return new Float32Array(out);
}

// ---- set-up --------------------------------------------------------------------------------

// The stage and its fixtures (again after the show was edited: heads kept by name keep their motion).
export function setRoom(room) {
  const old = S.byName || new Map();
  S.room = room;
  S.haze = typeof room.haze === "number" ? room.haze : S.haze;
  S.heads = [];
  S.points = [];
  for (const f of room.fixtures || []) {
    const was = old.get(f.name);
    if (f.kind === "head") S.heads.push({ ...f, pan: was ? was.pan : { p: 0, v: 0 }, tilt: was ? was.tilt : { p: 0, v: 0 }, target: was ? was.target : [0, 0], dim: 1, since: 0 });
    else S.points.push({ name: f.name, offset: [0, 0, 0] });
  }
  S.byName = new Map(S.heads.map((h) => [h.name, h]));
  if (S.gl) {
    scene(S.gl);
    kick();
  }
}
S.setRoom = setRoom;

// What the room sizes: the floor, its grid, and instance buffers for as many heads and
// points as it has (made again when an edit changes the room).
function scene(gl) {
  const room = S.room;
  const cubes = instances(gl, [3, 3, 3], 2 * S.heads.length + 3);
  S.cubes = { ...meshVao(gl, cubeMesh(), [3, 3], cubes), inst: cubes };
  const floor = instances(gl, [3, 3, 3], 1);
  put(floor, 0, -0.05, 0, room.width, 0.1, room.depth, 0.1, 0.11, 0.12);
  upload(gl, floor);
  S.floor = meshVao(gl, cubeMesh(), [3, 3], floor);
  // the beams and their spots: one instance each, the same data, one upload a frame
  S.beams = instances(gl, [3, 3, 3], S.heads.length);
  S.cones = meshVao(gl, coneMesh(), [2], S.beams);
  S.spots = meshVao(gl, new Float32Array([-1, -1, 1, -1, 1, 1, -1, -1, 1, 1, -1, 1]), [2], S.beams);
  S.gridVao = meshVao(gl, gridMesh(room), [3], null);
  S.pointData = instances(gl, [3, 3], S.points.length);
  S.pointVao = gl.createVertexArray();
  gl.bindVertexArray(S.pointVao);
  gl.bindBuffer(gl.ARRAY_BUFFER, S.pointData.buf);
  gl.enableVertexAttribArray(0);
  gl.vertexAttribPointer(0, 3, gl.FLOAT, false, 24, 0);
  gl.enableVertexAttribArray(1);
  gl.vertexAttribPointer(1, 3, gl.FLOAT, false, 24, 12);
  gl.bindVertexArray(null);
}

export function mount(config) {
  setRoom((config && config.stage) || { width: 10, depth: 8, trim: 6, fixtures: [] });
  S.canvas = document.getElementById("stage");
  camera("front");
  // no depth buffer: the canvas a software renderer presents each frame is the cheaper for it, and
  // the scene is drawn back to front (floor, grid, then the bodies farthest first)
  const gl = S.canvas.getContext("webgl2", { antialias: false, alpha: false, premultipliedAlpha: false, depth: false, stencil: false });
  if (!gl) {
    S.error = "WebGL2 is not available: the stage view is off";
    S.canvas.replaceWith(Object.assign(document.createElement("p"), { id: "stage", textContent: S.error }));
    return;
  }
  S.gl = gl;
  S.solid = program(gl, SOLID_VS, FLAT_FS);
  S.grid = program(gl, GRID_VS, FLAT_FS);
  S.lay = program(gl, LAY_VS, LAY_FS);
  S.beam = program(gl, BEAM_VS, BEAM_FS);
  S.spot = program(gl, SPOT_VS, SPOT_FS);
  S.point = program(gl, POINT_VS, POINT_FS);
  S.layVao = gl.createVertexArray();
  scene(gl);
  controls();
  for (const b of document.querySelectorAll("#stagekeys button[data-camera]")) b.addEventListener("click", () => { camera(b.dataset.camera); kick(); });
  window.addEventListener("resize", kick);
  kick();
}

// ---- the camera ----------------------------------------------------------------------------

export function camera(name) {
  const r = S.room, c = S.camera;
  c.target = [0, Math.min(r.trim, 4) * 0.35, 0];
  c.dist = Math.max(r.width, r.depth, r.trim) * 1.35;
  if (name === "top") { c.yaw = 0; c.pitch = 1.5707; c.dist = Math.max(r.width, r.depth) * 1.2; c.target = [0, 0, 0]; }
  else if (name === "side") { c.yaw = Math.PI / 2; c.pitch = 0.15; }
  else { c.yaw = 0; c.pitch = 0.15; }
}
S.camera.set = camera;

function controls() {
  const el = S.canvas, c = S.camera, down = new Map();
  let pinch = 0;
  el.style.touchAction = "none";
  el.addEventListener("contextmenu", (e) => e.preventDefault());
  el.addEventListener("pointerdown", (e) => { el.setPointerCapture(e.pointerId); down.set(e.pointerId, [e.clientX, e.clientY, e.button, e.shiftKey]); pinch = 0; });
  const lift = (e) => { down.delete(e.pointerId); pinch = 0; };
  el.addEventListener("pointerup", lift);
  el.addEventListener("pointercancel", lift);
  el.addEventListener("pointermove", (e) => {
    const was = down.get(e.pointerId);
    if (!was) return;
    const dx = e.clientX - was[0], dy = e.clientY - was[1];
    down.set(e.pointerId, [e.clientX, e.clientY, was[2], was[3]]);
    if (down.size === 2) {
      const [a, b] = [...down.values()];
      const d = Math.hypot(a[0] - b[0], a[1] - b[1]);
      if (pinch) c.dist = Math.min(200, Math.max(1, c.dist * (pinch / d)));
      pinch = d;
      move(dx / 2, dy / 2);
    } else if (was[2] === 2 || was[3]) move(dx, dy);
    else {
      c.yaw -= dx * 0.008;
      c.pitch = Math.min(1.5707, Math.max(-0.2, c.pitch + dy * 0.008));
    }
    kick();
  });
  el.addEventListener("wheel", (e) => { e.preventDefault(); c.dist = Math.min(200, Math.max(1, c.dist * Math.exp(e.deltaY * 0.001))); kick(); }, { passive: false });
}

// Pans the camera's target across the screen by dx, dy CSS pixels.
function move(dx, dy) {
  const c = S.camera, k = c.dist * 0.002;
  const right = [Math.cos(c.yaw), 0, -Math.sin(c.yaw)];
  c.target[0] -= right[0] * dx * k;
  c.target[2] -= right[2] * dx * k;
  c.target[1] = Math.max(0, c.target[1] + dy * k);
}

function eye() {
  const c = S.camera;
  return [
    c.target[0] + c.dist * Math.cos(c.pitch) * Math.sin(c.yaw),
    c.target[1] + c.dist * Math.sin(c.pitch),
    c.target[2] + c.dist * Math.cos(c.pitch) * Math.cos(c.yaw),
  ];
}

// ---- states from the player ----------------------------------------------------------------

export function update(s) {
  const t0 = performance.now();
  const heads = s.heads || {};
  const black = s.masters && s.masters.blackout;
  let changed = false;
  for (const h of S.heads) {
    const v = heads[h.name];
    let dim = h.dim;
    if (Array.isArray(v) && v.length >= 3) {
      if (h.target[0] !== v[0] || h.target[1] !== v[1]) { h.since = t0; changed = true; }
      h.target[0] = v[0]; h.target[1] = v[1]; dim = v[2];
    }
    else if (black) dim = 0;
    if (dim !== h.dim) { h.dim = dim; changed = true; }
  }
  const offsets = s.fixtures || {};
  for (const p of S.points) {
    const o = offsets[p.name];
    if (Array.isArray(o) && o.length >= 3 && (o[0] !== p.offset[0] || o[1] !== p.offset[1] || o[2] !== p.offset[2])) {
      p.offset = o;
      changed = true;
    }
  }
  S.updateMs.push(performance.now() - t0);
  if (S.updateMs.length > 512) S.updateMs.splice(0, 256);
  if (changed) kick(); // nothing new: nothing to draw
}

function kick() {
  if (!S.gl || S.raf) return;
  if (!S.last) S.last = performance.now(); // the heads move from the moment they are told
  S.raf = requestAnimationFrame(frame);
}

function frame(now) {
  S.raf = 0;
  const gl = S.gl;
  if (S.fence) {
    // the last frame is still being drawn (a software renderer): wait for it without blocking
    // the page, so that its buttons answer at once
    if (gl.clientWaitSync(S.fence, 0, 0) === gl.TIMEOUT_EXPIRED) { S.raf = requestAnimationFrame(frame); return; }
    gl.deleteSync(S.fence);
    S.fence = null;
  }
  const dt = S.last ? Math.min(0.1, (now - S.last) / 1000) : 0;
  S.last = now;
  let moving = false;
  for (const h of S.heads) {
    follow(h.pan, h.target[0], dt, h.pan_speed, h.acceleration);
    follow(h.tilt, h.target[1], dt, h.tilt_speed, h.acceleration);
    if (h.pan.p !== h.target[0] || h.tilt.p !== h.target[1]) moving = true;
  }
  draw();
  S.fence = gl.fenceSync(gl.SYNC_GPU_COMMANDS_COMPLETE, 0);
  gl.flush();
  if (moving) kick();
  else S.last = 0;
}

// ---- drawing -------------------------------------------------------------------------------

function put(inst, ...v) {
  inst.data.set(v, inst.n * inst.floats);
  inst.n++;
}

export function draw() {
  const gl = S.gl, cv = S.canvas, r = S.room;
  const dpr = Math.min(window.devicePixelRatio || 1, MAX_DPR);
  const w = Math.max(1, Math.round(cv.clientWidth * dpr)), hgt = Math.max(1, Math.round(cv.clientHeight * dpr));
  if (cv.width !== w || cv.height !== hgt) { cv.width = w; cv.height = hgt; }
  const c = S.camera, e = eye();
  const up = c.pitch > 1.5 ? [-Math.sin(c.yaw), 0, -Math.cos(c.yaw)] : [0, 1, 0];
  // a tall screen (a phone upright) keeps the stage's width in view
  const aspect = w / hgt, fovy = aspect >= 1.2 ? 0.8 : Math.min(1.9, 2 * Math.atan(Math.tan(0.4) * 1.2 / aspect));
  const mvp = multiply(perspective(fovy, aspect, 0.1, 500), lookAt(e, c.target, up));
  const far = 1.5 * Math.max(r.width, r.depth, r.trim);

  // the bodies and what they hang from, farthest from the eye first
  const cubes = S.cubes.inst, beams = S.beams, solids = [];
  cubes.n = 0;
  beams.n = 0;
  const far2 = (x, y, z) => (x - e[0]) ** 2 + (y - e[1]) ** 2 + (z - e[2]) ** 2;
  const solid = (...v) => solids.push([far2(v[0], v[1], v[2]), v]);
  for (const h of S.heads) {
    const d = direction(h, h.pan.p, h.tilt.p), o = h.position;
    solid(o[0], o[1] + (h.mount === "standing" ? -0.1 : 0.1), o[2], 0.4, 0.2, 0.3, 0.22, 0.23, 0.25);
    solid(o[0] + d[0] * 0.12, o[1] + d[1] * 0.12, o[2] + d[2] * 0.12, 0.24, 0.24, 0.24, 0.3, 0.31, 0.33);
    let len = far;
    if (d[1] < -1e-3 && o[1] > 0) len = Math.min(far * 2, o[1] / -d[1]);
    if (h.dim > 0) put(beams, o[0] + d[0] * 0.25, o[1] + d[1] * 0.25, o[2] + d[2] * 0.25, d[0], d[1], d[2], len, Math.tan((h.beam_deg / 2) * RAD), h.dim);
  }
  solids.sort((a, b) => b[0] - a[0]);
  // the truss behind the bodies hung from it, unless the eye is above it; the points' box first
  const truss = [0, r.trim + 0.25, 0, r.width, 0.3, 0.3, 0.35, 0.36, 0.38];
  const above = e[1] > r.trim + 0.4;
  const bx = r.width / 2 - 1.2, by = 1.2, bz = -r.depth / 2 + 1.2;
  if (S.points.length) put(cubes, bx, 0.1, bz, 2, 0.2, 2, 0.16, 0.17, 0.18);
  if (!above) put(cubes, ...truss);
  for (const [, v] of solids) put(cubes, ...v);
  if (above) put(cubes, ...truss);

  // the scene: only solid colours, back to front
  gl.bindFramebuffer(gl.FRAMEBUFFER, null);
  gl.viewport(0, 0, w, hgt);
  gl.clearColor(...BACKGROUND, 1);
  gl.clear(gl.COLOR_BUFFER_BIT);
  gl.disable(gl.DEPTH_TEST);
  gl.disable(gl.BLEND);
  gl.enable(gl.CULL_FACE);
  gl.useProgram(S.solid.p);
  gl.uniformMatrix4fv(S.solid.u.u_mvp, false, mvp);
  gl.bindVertexArray(S.floor.vao);
  gl.drawArraysInstanced(gl.TRIANGLES, 0, S.floor.count, 1);
  if (e[1] > 0) {
    gl.useProgram(S.grid.p);
    gl.uniformMatrix4fv(S.grid.u.u_mvp, false, mvp);
    gl.bindVertexArray(S.gridVao.vao);
    gl.drawArrays(gl.LINES, 0, S.gridVao.count);
  }
  if (S.points.length) {
    const pts = S.pointData;
    pts.n = 0;
    S.points.forEach((p, i) => {
      const hue = ((i * 137.5) % 360) * RAD;
      const o = p.offset;
      put(pts, bx + o[0] * 0.9, by - o[1] * 0.9, bz + o[2] * 0.9, 0.6 + 0.4 * Math.cos(hue), 0.6 + 0.4 * Math.cos(hue - 2.1), 0.6 + 0.4 * Math.cos(hue + 2.1));
    });
  }
  gl.useProgram(S.solid.p);
  upload(gl, cubes);
  gl.bindVertexArray(S.cubes.vao);
  gl.drawArraysInstanced(gl.TRIANGLES, 0, S.cubes.count, cubes.n);
  gl.disable(gl.CULL_FACE);
  if (S.points.length) {
    const pts = S.pointData;
    gl.useProgram(S.point.p);
    gl.uniformMatrix4fv(S.point.u.u_mvp, false, mvp);
    gl.uniform1f(S.point.u.u_size, 10 * dpr);
    upload(gl, pts);
    gl.bindVertexArray(S.pointVao);
    gl.drawArrays(gl.POINTS, 0, pts.n);
  }

  // the light, small: additive, soft, capped so that overlapping beams do not wash out to white
  const n = beams.n;
  if (n) {
    const light = lightTarget(gl, w, hgt);
    gl.bindFramebuffer(gl.FRAMEBUFFER, light.fb);
    gl.viewport(0, 0, light.w, light.h);
    gl.clearColor(0, 0, 0, 1);
    gl.clear(gl.COLOR_BUFFER_BIT);
    upload(gl, beams);
    gl.enable(gl.BLEND);
    gl.blendFunc(gl.ONE, gl.ONE);
    gl.useProgram(S.spot.p);
    gl.uniformMatrix4fv(S.spot.u.u_mvp, false, mvp);
    gl.uniform2f(S.spot.u.u_half, r.width / 2, r.depth / 2);
    gl.uniform1f(S.spot.u.u_cap, Math.min(0.85, 4 / Math.sqrt(n)));
    gl.bindVertexArray(S.spots.vao);
    gl.drawArraysInstanced(gl.TRIANGLES, 0, S.spots.count, n);
    gl.useProgram(S.beam.p);
    gl.uniformMatrix4fv(S.beam.u.u_mvp, false, mvp);
    gl.uniform3fv(S.beam.u.u_eye, e);
    gl.uniform1f(S.beam.u.u_cap, Math.min(0.35, 2.5 / Math.sqrt(n)) * S.haze);
    gl.bindVertexArray(S.cones.vao);
    // one side of each cone covers all of it: half the fragments, and no angle loses the beam
    gl.enable(gl.CULL_FACE);
    gl.drawArraysInstanced(gl.TRIANGLES, 0, S.cones.count, n);
    gl.disable(gl.CULL_FACE);
    // laid over the scene only across the part of the screen the light can reach: the
    // stretching costs a software renderer the most per pixel
    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
    gl.viewport(0, 0, w, hgt);
    const box = reach(mvp, beams, w, hgt);
    gl.enable(gl.SCISSOR_TEST);
    gl.scissor(box[0], box[1], box[2] - box[0], box[3] - box[1]);
    gl.useProgram(S.lay.p);
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, light.tex);
    gl.uniform1i(S.lay.u.u_light, 0);
    gl.bindVertexArray(S.layVao);
    gl.drawArrays(gl.TRIANGLES, 0, 3);
    gl.disable(gl.SCISSOR_TEST);
    gl.disable(gl.BLEND);
  }
  gl.bindVertexArray(null);
  gl.depthMask(true);
  S.frames++;
}

// The canvas's pixel box [x0, y0, x1, y1] that holds every beam and spot: each beam's lens and
// a box about where it ends as large as its spot (or its end's radius), projected; all of the
// canvas when one reaches behind the eye.
function reach(mvp, beams, w, h) {
  const box = [Infinity, Infinity, -Infinity, -Infinity], d = beams.data, m = mvp;
  const grow = (x, y, z) => {
    const cw = m[3] * x + m[7] * y + m[11] * z + m[15];
    if (cw < 0.1) return false;
    const sx = ((m[0] * x + m[4] * y + m[8] * z + m[12]) / cw + 1) * 0.5 * w;
    const sy = ((m[1] * x + m[5] * y + m[9] * z + m[13]) / cw + 1) * 0.5 * h;
    box[0] = Math.min(box[0], sx); box[1] = Math.min(box[1], sy);
    box[2] = Math.max(box[2], sx); box[3] = Math.max(box[3], sy);
    return true;
  };
  for (let i = 0; i < beams.n * 9; i += 9) {
    const len = d[i + 6], r0 = BEAM_RADIUS, rEnd = BEAM_RADIUS + len * d[i + 7];
    // the spot's square (see SPOT_VS) when the beam comes down, else a cube about its end
    const down = d[i + 4] < -0.01, r = down ? rEnd / Math.max(0.15, -d[i + 4]) * 1.15 + 0.05 : rEnd;
    const ex = d[i] + d[i + 3] * len, ey = d[i + 1] + d[i + 4] * len, ez = d[i + 2] + d[i + 5] * len;
    for (let k = 0; k < 8; k++) {
      const sx = k & 1 ? 1 : -1, sy = k & 2 ? 1 : -1, sz = k & 4 ? 1 : -1;
      if (!grow(d[i] + sx * r0, d[i + 1] + sy * r0, d[i + 2] + sz * r0)) return [0, 0, w, h];
      if (!grow(ex + sx * r, ey + sy * r, ez + sz * r)) return [0, 0, w, h];
    }
  }
  // a texel of the light and a little more, for the stretching's blur
  const pad = 2 / LIGHT_SCALE;
  const clamp = (v, hi) => Math.max(0, Math.min(hi, v));
  const x0 = clamp(Math.floor(box[0] - pad), w), y0 = clamp(Math.floor(box[1] - pad), h);
  return [x0, y0, Math.max(x0, clamp(Math.ceil(box[2] + pad), w)), Math.max(y0, clamp(Math.ceil(box[3] + pad), h))];
}

S.draw = draw;

// For tests and benchmarks: draws now and counts the pixels brighter than `level` (0..255 on
// every channel) in the left and the right half of the canvas.
S.lit = function (level) {
  if (!S.gl) return null;
  draw();
  const gl = S.gl, w = S.canvas.width, h = S.canvas.height;
  const px = new Uint8Array(w * h * 4);
  gl.readPixels(0, 0, w, h, gl.RGBA, gl.UNSIGNED_BYTE, px);
  const out = [0, 0];
  for (let y = 0; y < h; y++)
    for (let x = 0; x < w; x++) {
      const i = (y * w + x) * 4;
      if (px[i] > level && px[i + 1] > level && px[i + 2] > level) out[x < w / 2 ? 0 : 1]++;
    }
  return out;
};
