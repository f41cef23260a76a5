// The stage view: floor, truss, a body per fixture and its beam as a light cone, in WebGL2.
// Each head turns towards the pan and tilt the player decoded from the values it sent, at the
// head's own speed (and acceleration), so a slow head lags and cuts corners as a real one does.
// Fixtures on other outputs (OSC) are points moving in a box of their own.
import { lookAt, multiply, perspective } from "./glmath.js";

const MAX_DPR = 1.5; // a phone draws at most this many pixels per CSS pixel
const BEAM_RADIUS = 0.08; // metres at the lens
const SEGMENTS = 32;
const WARM = [1.0, 0.93, 0.8];
const RAD = Math.PI / 180;
// The light (beams and spots) is drawn at this fraction of the canvas's width and height and
// laid over it: soft light loses nothing by it, and it is most of what a frame costs.
const LIGHT_SCALE = 0.5;

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

const SOLID_VS = `#version 300 es
layout(location=0) in vec3 a_pos; layout(location=1) in vec3 a_normal;
layout(location=2) in vec3 i_centre; layout(location=3) in vec3 i_size; layout(location=4) in vec3 i_color;
uniform mat4 u_mvp; out vec3 v_color; out vec3 v_world; out float v_light; flat out float v_grid;
void main() {
  v_world = i_centre + a_pos * i_size;
  v_color = abs(i_color);
  v_grid = i_color.r < 0.0 ? 1.0 : 0.0; // the floor: a negative red
  v_light = 0.55 + 0.45 * max(0.0, dot(a_normal, normalize(vec3(0.3, 1.0, 0.6))));
  gl_Position = u_mvp * vec4(v_world, 1.0);
}`;
const SOLID_FS = `#version 300 es
precision mediump float;
in vec3 v_color; in vec3 v_world; in float v_light; flat in float v_grid; out vec4 o;
void main() {
  vec3 c = v_color * v_light;
  if (v_grid > 0.0) {
    vec2 g = abs(fract(v_world.xz + 0.5) - 0.5) / fwidth(v_world.xz);
    c += vec3(0.05) * (1.0 - min(min(g.x, g.y), 1.0));
  }
  o = vec4(c, 1.0);
}`;
const BEAM_VS = `#version 300 es
layout(location=0) in vec2 a_cone;
layout(location=1) in vec3 i_origin; layout(location=2) in vec3 i_dir; layout(location=3) in vec3 i_shape;
uniform mat4 u_mvp; uniform vec3 u_eye; uniform float u_r0;
out float v_u; out float v_face; out float v_alpha;
void main() {
  vec3 d = normalize(i_dir);
  vec3 helper = abs(d.y) < 0.99 ? vec3(0.0, 1.0, 0.0) : vec3(1.0, 0.0, 0.0);
  vec3 b1 = normalize(cross(d, helper)); vec3 b2 = cross(d, b1);
  float len = i_shape.x, tanHalf = i_shape.y;
  vec3 radial = b1 * cos(a_cone.y) + b2 * sin(a_cone.y);
  vec3 p = i_origin + d * len * a_cone.x + radial * (u_r0 + len * a_cone.x * tanHalf);
  vec3 n = normalize(radial - d * tanHalf);
  v_face = abs(dot(n, normalize(u_eye - p)));
  v_u = a_cone.x; v_alpha = i_shape.z;
  gl_Position = u_mvp * vec4(p, 1.0);
}`;
const BEAM_FS = `#version 300 es
precision mediump float;
in float v_u; in float v_face; in float v_alpha; uniform vec3 u_color; out vec4 o;
void main() {
  float a = v_alpha * pow(v_face, 1.5) * pow(1.0 - v_u, 0.6);
  o = vec4(u_color, a);
}`;
const SPOT_VS = `#version 300 es
layout(location=0) in vec2 a_quad;
layout(location=1) in vec3 i_origin; layout(location=2) in vec3 i_dir; layout(location=3) in vec3 i_shape;
uniform mat4 u_mvp; uniform float u_r0;
out vec3 v_world; flat out vec3 v_origin; flat out vec3 v_dir; flat out vec2 v_cone;
void main() {
  vec3 d = normalize(i_dir);
  float t = i_shape.x;
  vec3 hit = i_origin + d * t;
  float r = (u_r0 + t * i_shape.y) / max(0.15, -d.y) * 1.15 + 0.05;
  v_world = hit + vec3(a_quad.x * r, 0.0, a_quad.y * r);
  v_world.y = 0.002;
  v_origin = i_origin; v_dir = d; v_cone = vec2(i_shape.y, i_shape.z);
  gl_Position = d.y < -0.01 ? u_mvp * vec4(v_world, 1.0) : vec4(2.0, 2.0, 2.0, 1.0);
}`;
const SPOT_FS = `#version 300 es
precision highp float;
in vec3 v_world; flat in vec3 v_origin; flat in vec3 v_dir; flat in vec2 v_cone;
uniform vec2 u_half; uniform vec3 u_color; uniform float u_r0; out vec4 o;
void main() {
  if (abs(v_world.x) > u_half.x || abs(v_world.z) > u_half.y) discard;
  vec3 r = v_world - v_origin;
  float along = dot(r, v_dir);
  if (along <= 0.0) discard;
  float radius = u_r0 + along * v_cone.x;
  float off = length(r - v_dir * along) / radius;
  float a = v_cone.y * (1.0 - smoothstep(0.75, 1.0, off));
  if (a <= 0.0) discard;
  o = vec4(u_color, a);
}`;
const POINT_VS = `#version 300 es
layout(location=0) in vec3 a_pos; layout(location=1) in vec3 a_color;
uniform mat4 u_mvp; uniform float u_size; out vec3 v_color;
void main() { v_color = a_color; gl_Position = u_mvp * vec4(a_pos, 1.0); gl_PointSize = u_size; }`;
const POINT_FS = `#version 300 es
precision mediump float;
in vec3 v_color; out vec4 o;
void main() { vec2 c = gl_PointCoord - 0.5; if (dot(c, c) > 0.25) discard; o = vec4(v_color, 1.0); }`;

const LAY_VS = `#version 300 es
out vec2 v_uv;
void main() { vec2 p = vec2(gl_VertexID == 1 ? 3.0 : -1.0, gl_VertexID == 2 ? 3.0 : -1.0);
  v_uv = p * 0.5 + 0.5; gl_Position = vec4(p, 0.0, 1.0); }`;
const LAY_FS = `#version 300 es
precision mediump float;
in vec2 v_uv; uniform sampler2D u_light; out vec4 o;
void main() { o = vec4(texture(u_light, v_uv).rgb, 1.0); }`;

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

// A vertex array of one shared mesh (attributes from 0) and one instance buffer (the next ones).
function meshVao(gl, mesh, sizes, instanceSizes) {
  const vao = gl.createVertexArray();
  gl.bindVertexArray(vao);
  const vb = gl.createBuffer();
  gl.bindBuffer(gl.ARRAY_BUFFER, vb);
  gl.bufferData(gl.ARRAY_BUFFER, mesh, gl.STATIC_DRAW);
  let stride = sizes.reduce((a, b) => a + b, 0) * 4, off = 0, loc = 0;
  for (const n of sizes) { gl.enableVertexAttribArray(loc); gl.vertexAttribPointer(loc++, n, gl.FLOAT, false, stride, off); off += n * 4; }
  const ib = gl.createBuffer();
  gl.bindBuffer(gl.ARRAY_BUFFER, ib);
  stride = instanceSizes.reduce((a, b) => a + b, 0) * 4;
  off = 0;
  for (const n of instanceSizes) {
    gl.enableVertexAttribArray(loc);
    gl.vertexAttribPointer(loc, n, gl.FLOAT, false, stride, off);
    gl.vertexAttribDivisor(loc++, 1);
    off += n * 4;
  }
  gl.bindVertexArray(null);
  return { vao, ib, count: mesh.length / sizes.reduce((a, b) => a + b, 0), floats: stride / 4, data: new Float32Array(0) };
}

function cubeMesh() {
  const out = [];
  const faces = [[0, 1], [0, -1], [1, 1], [1, -1], [2, 1], [2, -1]];
  for (const [axis, sign] of faces) {
    const u = (axis + 1) % 3, v = (axis + 2) % 3;
    const corner = (a, b) => { const p = [0, 0, 0]; p[axis] = sign * 0.5; p[u] = a * 0.5; p[v] = b * 0.5; const n = [0, 0, 0]; n[axis] = sign; return [...p, ...n]; };
    for (const [a, b] of [[-1, -1], [1, -1], [1, 1], [-1, -1], [1, 1], [-1, 1]]) out.push(...corner(a, b));
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

function upload(gl, m, data) {
  gl.bindBuffer(gl.ARRAY_BUFFER, m.ib);
  if (m.data.length !== data.length) gl.bufferData(gl.ARRAY_BUFFER, data, gl.DYNAMIC_DRAW);
  else gl.bufferSubData(gl.ARRAY_BUFFER, 0, data);
  m.data = data;
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
  if (S.gl) kick();
}
S.setRoom = setRoom;

export function mount(config) {
  setRoom((config && config.stage) || { width: 10, depth: 8, trim: 6, fixtures: [] });
  S.canvas = document.getElementById("stage");
  camera("front");
  const gl = S.canvas.getContext("webgl2", { antialias: false, alpha: false, premultipliedAlpha: false });
  if (!gl) {
    S.error = "WebGL2 is not available: the stage view is off";
    S.canvas.replaceWith(Object.assign(document.createElement("p"), { id: "stage", textContent: S.error }));
    return;
  }
  S.gl = gl;
  S.solid = program(gl, SOLID_VS, SOLID_FS);
  S.beam = program(gl, BEAM_VS, BEAM_FS);
  S.spot = program(gl, SPOT_VS, SPOT_FS);
  S.point = program(gl, POINT_VS, POINT_FS);
  S.lay = program(gl, LAY_VS, LAY_FS);
  S.layVao = gl.createVertexArray();
  S.cubes = meshVao(gl, cubeMesh(), [3, 3], [3, 3, 3]);
  S.cones = meshVao(gl, coneMesh(), [2], [3, 3, 3]);
  S.spots = meshVao(gl, new Float32Array([-1, -1, 1, -1, 1, 1, -1, -1, 1, 1, -1, 1]), [2], [3, 3, 3]);
  S.pointBuf = gl.createBuffer();
  S.pointVao = gl.createVertexArray();
  gl.bindVertexArray(S.pointVao);
  gl.bindBuffer(gl.ARRAY_BUFFER, S.pointBuf);
  gl.enableVertexAttribArray(0);
  gl.vertexAttribPointer(0, 3, gl.FLOAT, false, 24, 0);
  gl.enableVertexAttribArray(1);
  gl.vertexAttribPointer(1, 3, gl.FLOAT, false, 24, 12);
  gl.bindVertexArray(null);
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
  for (const h of S.heads) {
    const v = heads[h.name];
    if (Array.isArray(v) && v.length >= 3) {
      if (h.target[0] !== v[0] || h.target[1] !== v[1]) h.since = t0;
      h.target[0] = v[0]; h.target[1] = v[1]; h.dim = v[2];
    }
    else if (black) h.dim = 0;
  }
  const offsets = s.fixtures || {};
  for (const p of S.points) {
    const o = offsets[p.name];
    if (Array.isArray(o) && o.length >= 3) p.offset = o;
  }
  S.updateMs.push(performance.now() - t0);
  if (S.updateMs.length > 512) S.updateMs.splice(0, 256);
  kick();
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

export function draw() {
  const gl = S.gl, cv = S.canvas, r = S.room;
  const dpr = Math.min(window.devicePixelRatio || 1, MAX_DPR);
  const w = Math.max(1, Math.round(cv.clientWidth * dpr)), hgt = Math.max(1, Math.round(cv.clientHeight * dpr));
  if (cv.width !== w || cv.height !== hgt) { cv.width = w; cv.height = hgt; }
  gl.viewport(0, 0, w, hgt);
  gl.clearColor(0.02, 0.025, 0.03, 1);
  gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
  const c = S.camera, e = eye();
  const up = c.pitch > 1.5 ? [-Math.sin(c.yaw), 0, -Math.cos(c.yaw)] : [0, 1, 0];
  // a tall screen (a phone upright) keeps the stage's width in view
  const aspect = w / hgt, fovy = aspect >= 1.2 ? 0.8 : Math.min(1.9, 2 * Math.atan(Math.tan(0.4) * 1.2 / aspect));
  const mvp = multiply(perspective(fovy, aspect, 0.1, 500), lookAt(e, c.target, up));
  const far = 1.5 * Math.max(r.width, r.depth, r.trim);

  // the solid things: floor, truss, bodies
  const cubes = [0, -0.05, 0, r.width, 0.1, r.depth, -0.1, 0.11, 0.12];
  cubes.push(0, r.trim + 0.25, 0, r.width, 0.3, 0.3, 0.35, 0.36, 0.38);
  const beams = [];
  for (const h of S.heads) {
    const d = direction(h, h.pan.p, h.tilt.p), o = h.position;
    cubes.push(o[0], o[1] + (h.mount === "standing" ? -0.1 : 0.1), o[2], 0.4, 0.2, 0.3, 0.22, 0.23, 0.25);
    cubes.push(o[0] + d[0] * 0.12, o[1] + d[1] * 0.12, o[2] + d[2] * 0.12, 0.24, 0.24, 0.24, 0.3, 0.31, 0.33);
    let len = far;
    if (d[1] < -1e-3 && o[1] > 0) len = Math.min(far * 2, o[1] / -d[1]);
    if (h.dim > 0) beams.push(o[0] + d[0] * 0.25, o[1] + d[1] * 0.25, o[2] + d[2] * 0.25, d[0], d[1], d[2], len, Math.tan((h.beam_deg / 2) * RAD), h.dim);
  }
  // the box of the points, upstage right
  const bx = r.width / 2 - 1.2, by = 1.2, bz = -r.depth / 2 + 1.2;
  if (S.points.length) cubes.push(bx, 0.1, bz, 2, 0.2, 2, 0.16, 0.17, 0.18);
  gl.enable(gl.DEPTH_TEST);
  gl.depthMask(true);
  gl.disable(gl.BLEND);
  gl.useProgram(S.solid.p);
  gl.uniformMatrix4fv(S.solid.u.u_mvp, false, mvp);
  const cubeData = new Float32Array(cubes);
  upload(gl, S.cubes, cubeData);
  gl.bindVertexArray(S.cubes.vao);
  gl.drawArraysInstanced(gl.TRIANGLES, 0, S.cubes.count, cubeData.length / 9);
  gl.bindBuffer(gl.ARRAY_BUFFER, S.cubes.ib);
  gl.bindVertexArray(null);

  if (S.points.length) {
    const pts = [];
    S.points.forEach((p, i) => {
      const hue = ((i * 137.5) % 360) * RAD;
      const o = p.offset;
      pts.push(bx + o[0] * 0.9, by - o[1] * 0.9, bz + o[2] * 0.9, 0.6 + 0.4 * Math.cos(hue), 0.6 + 0.4 * Math.cos(hue - 2.1), 0.6 + 0.4 * Math.cos(hue + 2.1));
    });
    gl.useProgram(S.point.p);
    gl.uniformMatrix4fv(S.point.u.u_mvp, false, mvp);
    gl.uniform1f(S.point.u.u_size, 10 * dpr);
    gl.bindBuffer(gl.ARRAY_BUFFER, S.pointBuf);
    gl.bufferData(gl.ARRAY_BUFFER, new Float32Array(pts), gl.DYNAMIC_DRAW);
    gl.bindVertexArray(S.pointVao);
    gl.drawArrays(gl.POINTS, 0, S.points.length);
    gl.bindVertexArray(null);
  }

  // light: additive, soft, capped so that overlapping beams do not wash out to white
  const n = beams.length / 9;
  if (n) {
    const beamCap = Math.min(0.35, 2.5 / Math.sqrt(n)) * S.haze;
    const spotCap = Math.min(0.85, 4 / Math.sqrt(n));
    const beamData = new Float32Array(beams), spotData = new Float32Array(beams);
    for (let i = 0; i < n; i++) { beamData[i * 9 + 8] *= beamCap; spotData[i * 9 + 8] *= spotCap; }
    const light = lightTarget(gl, w, hgt);
    gl.bindFramebuffer(gl.FRAMEBUFFER, light.fb);
    gl.viewport(0, 0, light.w, light.h);
    gl.clearColor(0, 0, 0, 0);
    gl.clear(gl.COLOR_BUFFER_BIT);
    gl.disable(gl.DEPTH_TEST);
    gl.enable(gl.BLEND);
    gl.blendFunc(gl.SRC_ALPHA, gl.ONE);
    gl.depthMask(false);
    gl.useProgram(S.spot.p);
    gl.uniformMatrix4fv(S.spot.u.u_mvp, false, mvp);
    gl.uniform2f(S.spot.u.u_half, r.width / 2, r.depth / 2);
    gl.uniform3fv(S.spot.u.u_color, WARM);
    gl.uniform1f(S.spot.u.u_r0, BEAM_RADIUS);
    upload(gl, S.spots, spotData);
    gl.bindVertexArray(S.spots.vao);
    gl.drawArraysInstanced(gl.TRIANGLES, 0, S.spots.count, n);
    gl.useProgram(S.beam.p);
    gl.uniformMatrix4fv(S.beam.u.u_mvp, false, mvp);
    gl.uniform3fv(S.beam.u.u_eye, e);
    gl.uniform3fv(S.beam.u.u_color, WARM);
    gl.uniform1f(S.beam.u.u_r0, BEAM_RADIUS);
    upload(gl, S.cones, beamData);
    gl.bindVertexArray(S.cones.vao);
    // one side of each cone covers all of it: half the fragments, and no angle loses the beam
    gl.enable(gl.CULL_FACE);
    gl.drawArraysInstanced(gl.TRIANGLES, 0, S.cones.count, n);
    gl.disable(gl.CULL_FACE);
    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
    gl.viewport(0, 0, w, hgt);
    gl.blendFunc(gl.ONE, gl.ONE);
    gl.useProgram(S.lay.p);
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, light.tex);
    gl.uniform1i(S.lay.u.u_light, 0);
    gl.bindVertexArray(S.layVao);
    gl.drawArrays(gl.TRIANGLES, 0, 3);
    gl.bindVertexArray(null);
    gl.depthMask(true);
  }
  S.frames++;
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
