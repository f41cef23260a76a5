// The one WebSocket to the player (see PROTOCOL.md): states in, commands out. Reconnects by itself.
const link = { ws: null, retry: 500, nextId: 1, sent: new Map(), onState: () => {}, onError: () => {}, others: [] };

// Every message that is not a state (the show editor's answers), to `fn`.
export function listen(fn) {
  link.others.push(fn);
}

export function connect(onState, onError) {
  link.onState = onState;
  link.onError = onError;
  open();
}

function open() {
  const proto = location.protocol === "https:" ? "wss:" : "ws:";
  const ws = new WebSocket(proto + "//" + location.host + "/ws" + location.search);
  const dot = document.getElementById("link");
  link.ws = ws;
  ws.onopen = () => { link.retry = 500; dot.className = "ok"; };
  ws.onclose = () => {
    dot.className = "off";
    link.ws = null;
    setTimeout(open, link.retry);
    link.retry = Math.min(link.retry * 2, 5000);
  };
  ws.onmessage = (ev) => {
    let m;
    try { m = JSON.parse(ev.data); } catch (e) { return; }
    if (m.type === "state" && m.state) link.onState(m.state);
    else if (m.type === "error" && m.edit === undefined) link.onError(m.message || "refused");
    if (m.type !== "state") for (const fn of link.others) fn(m);
  };
}

// Sends {"cmd", "arg", "id"}; false (and a note) when not connected.
export function send(cmd, arg) {
  const ws = link.ws;
  if (!ws || ws.readyState !== WebSocket.OPEN) { link.onError("not connected"); return false; }
  const id = link.nextId++;
  link.sent.set(id, performance.now());
  if (link.sent.size > 64) link.sent.delete(link.sent.keys().next().value);
  ws.send(JSON.stringify({ cmd: cmd, arg: arg === undefined ? null : arg, id: id }));
  return true;
}

// Sends one edit message as it is (see PROTOCOL.md); false (and a note) when not connected.
export function sendMessage(message) {
  const ws = link.ws;
  if (!ws || ws.readyState !== WebSocket.OPEN) { link.onError("not connected"); return false; }
  ws.send(JSON.stringify(message));
  return true;
}
