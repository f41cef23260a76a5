"""Tempo and beat from DJ software over OS2L, and cue launches from its buttons.

Written from the OS2L protocol (https://os2l.org): the lighting program listens on a TCP port
of its choice and advertises it by DNS-SD as the service "_os2l._tcp" (with the `zeroconf`
package, the `os2l` extra; without it the port still takes connections, and the DJ software is
given the address by hand). The DJ software connects and sends JSON objects one after another:

- `{"evt": "beat", "change": false, "pos": 42, "bpm": 126.0, "strength": 80}` on every beat:
  `pos` counts the track's beats (a bar line where it is a multiple of the show's bar), `change`
  marks a new grid (another track, a jump);
- `{"evt": "btn", "name": "strobe", "page": "", "state": "on"}` for a button pressed ("off"
  when released);
- `{"evt": "cmd", "id": 3, "param": 100}` for a command with a percentage.

The beats make a grid fitted over the last few (`clock.BeatGrid`; the jitter of a busy machine
averaged out) that the clock follows (`clock.GridFollower`). Buttons and commands the show binds
(`os2l_buttons`, `os2l_commands`) launch cues through the command queue, with the same check as
every input: a button when pressed, a command when its parameter is above 0. Anything else is
counted and ignored; connections may drop and come back at any time.
"""

from __future__ import annotations

import codecs
import collections
import json
import math
import selectors
import socket
import threading

from kinetra_common.units import MAX_BPM

from ..clock import MIN_BPM, BeatGrid, GridFollower
from .base import TempoSource

SERVICE = "_os2l._tcp.local."
WINDOW = 16  # beats the grid is fitted over
MAX_MESSAGE = 4096  # a message longer than this drops the connection
MAX_CONNECTIONS = 8
HOLD_BEATS = 4.0  # no beat for this many: the status says holding
POLL_S = 0.2
EXTRA_HINT = "pip install 'kinetra[os2l]'"


class Stream:
    """Splits what a connection sends into JSON objects, however the bytes are cut; returns
    the objects and the number of pieces that were not JSON objects."""

    def __init__(self):
        self.decoder = codecs.getincrementaldecoder("utf-8")(errors="replace")
        self.text = ""
        self.too_long = False

    def feed(self, data: bytes) -> tuple[list, int]:
        self.text += self.decoder.decode(data)
        found, bad = [], 0
        while True:
            start = self.text.find("{")
            if start < 0:
                bad += bool(self.text.strip())
                self.text = ""
                break
            if self.text[:start].strip():
                bad += 1
            self.text = self.text[start:]
            end = self._end()
            if end is None:
                self.too_long = len(self.text) > MAX_MESSAGE
                break
            piece, self.text = self.text[:end], self.text[end:]
            try:
                obj = json.loads(piece)
            except (ValueError, RecursionError):
                bad += 1
                continue
            found.append(obj)
        return found, bad

    def _end(self) -> int | None:
        """Where the object at the start of the text ends, or None when it has not yet."""
        depth, quoted, escaped = 0, False, False
        for i, c in enumerate(self.text[: MAX_MESSAGE + 1]):
            if quoted:
                if escaped:
                    escaped = False
                elif c == "\\":
                    escaped = True
                elif c == '"':
                    quoted = False
            elif c == '"':
                quoted = True
            elif c in "{[":
                depth += 1
            elif c in "}]":
                depth -= 1
                if depth <= 0:
                    return i + 1
        return None


def _number(v) -> float | None:
    if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
        return None
    return float(v)


class Os2l(TempoSource):
    """Tempo source "os2l": `[tempo] source = "os2l"`, on `os2l_host` and `os2l_port`, with
    `os2l_buttons` and `os2l_commands` binding names and numbers to cues."""

    name = "os2l"
    manual_tempo = False

    def __init__(self, tempo, clock, now, options, *, listen=True):
        super().__init__(tempo, clock, now, options)
        self.now = now
        self.beats_per_bar = tempo.beats_per_bar
        self.buttons = dict(getattr(tempo, "os2l_buttons", {}) or {})
        self.commands_bound = dict(getattr(tempo, "os2l_commands", {}) or {})
        self.grid = BeatGrid(WINDOW)
        self.follower = GridFollower(tempo.beats_per_bar)
        self.lock = threading.Lock()
        self.ignored: collections.Counter = collections.Counter()
        self.beats = 0
        self.launched = 0
        self.connected = 0  # connections open now
        self.connections = 0  # ever accepted
        self.queue = None
        self.make = None
        self.advertised = None  # True once advertised, False when it could not be (None: not yet)
        self.warnings: list[str] = []
        self.zeroconf = None
        self.running = True
        self.thread = None
        self.server = None
        self.port = 0
        if not listen:  # tests feed `message` themselves
            return
        host = getattr(tempo, "os2l_host", None) or "127.0.0.1"
        try:
            family = socket.AF_INET6 if ":" in host else socket.AF_INET
            self.server = socket.create_server((host, getattr(tempo, "os2l_port", 0)), family=family)
        except OSError as exc:
            raise RuntimeError(
                f"tempo source 'os2l' cannot listen on {host}:{getattr(tempo, 'os2l_port', 0)}: {exc.strerror or exc}"
            ) from None
        self.server.setblocking(False)
        self.host, self.port = host, self.server.getsockname()[1]
        try:
            import zeroconf
        except ImportError:
            zeroconf = None
            self.advertised = False
            self.warnings.append(
                f"OS2L is not advertised (DNS-SD needs the zeroconf package: {EXTRA_HINT}); "
                f"give the DJ software this machine's address and port {self.port}"
            )
        self.thread = threading.Thread(target=self._run, args=(zeroconf,), name="os2l", daemon=True)
        self.thread.start()

    def attach(self, commands, make) -> None:
        self.queue, self.make = commands, make

    # ---- messages -------------------------------------------------------------------------

    def message(self, msg, t: float) -> None:
        """One message from the DJ software, received at time `t`."""
        with self.lock:
            why = self._message(msg, t)
            if why:
                self.ignored[why] += 1

    def _message(self, msg, t: float) -> str | None:
        if not isinstance(msg, dict) or not isinstance(msg.get("evt"), str):
            return "malformed"
        evt = msg["evt"]
        if evt == "beat":
            bpm = _number(msg.get("bpm"))
            pos = msg.get("pos")
            change = msg.get("change", False)
            if bpm is None or not MIN_BPM <= bpm <= MAX_BPM or not isinstance(change, bool):
                return "out of range"
            if pos is not None and (isinstance(pos, bool) or not isinstance(pos, int) or not 0 <= pos < 1 << 31):
                return "out of range"
            cycle = self.beats_per_bar if pos is not None else 0
            self.grid.beat(t, bpm, pos, cycle, new=change)
            self.beats += 1
            return None
        if evt == "btn":
            name, state = msg.get("name"), msg.get("state")
            if not isinstance(name, str) or state not in ("on", "off"):
                return "out of range"
            if name not in self.buttons:
                return "not bound"
            return self._launch(self.buttons[name]) if state == "on" else None
        if evt == "cmd":
            ident, param = msg.get("id"), _number(msg.get("param"))
            if isinstance(ident, str) and ident.isdigit() and len(ident) < 10:
                ident = int(ident)
            if isinstance(ident, bool) or not isinstance(ident, int) or param is None:
                return "out of range"
            if ident not in self.commands_bound:
                return "not bound"
            return self._launch(self.commands_bound[ident]) if param > 0 else None
        return "unknown"

    def _launch(self, cue: str) -> str | None:
        if self.queue is None:
            return "no command queue"
        try:
            self.queue.put(self.make("cue", cue, "os2l"))
        except ValueError:
            return "refused"
        self.launched += 1
        return None

    # ---- the connections ------------------------------------------------------------------

    def _run(self, zeroconf) -> None:
        if zeroconf is not None:
            self._advertise(zeroconf)
        sel = selectors.DefaultSelector()
        sel.register(self.server, selectors.EVENT_READ, None)
        try:
            while self.running:
                for key, _ in sel.select(POLL_S):
                    if key.data is None:
                        self._accept(sel)
                    else:
                        self._read(sel, key.fileobj, key.data)
        except (OSError, ValueError):
            pass
        finally:
            for key in list(sel.get_map().values()):
                if key.data is not None:
                    key.fileobj.close()
            sel.close()

    def _accept(self, sel) -> None:
        try:
            conn, _ = self.server.accept()
        except (BlockingIOError, InterruptedError):
            return
        if self.connected >= MAX_CONNECTIONS:
            conn.close()
            with self.lock:
                self.ignored["too many connections"] += 1
            return
        conn.setblocking(False)
        sel.register(conn, selectors.EVENT_READ, Stream())
        self.connected += 1
        self.connections += 1

    def _read(self, sel, conn, stream: Stream) -> None:
        try:
            data = conn.recv(65536)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            data = b""
        t = self.now()
        if data:
            found, bad = stream.feed(data)
            for msg in found:
                self.message(msg, t)
            if bad:
                with self.lock:
                    self.ignored["malformed"] += bad
        if not data or stream.too_long:
            if stream.too_long:
                with self.lock:
                    self.ignored["too long"] += 1
            sel.unregister(conn)
            conn.close()
            self.connected -= 1

    def _advertise(self, zeroconf) -> None:
        try:
            if self.host in ("0.0.0.0", "::"):
                import ifaddr

                addresses = [
                    ip.ip
                    for adapter in ifaddr.get_adapters()
                    for ip in adapter.ips
                    if ip.is_IPv4 and not ip.ip.startswith("127.")
                ] or ["127.0.0.1"]
            else:
                addresses = ["127.0.0.1" if self.host == "localhost" else self.host]
            host = socket.gethostname().split(".")[0] or "kinetra"
            info = zeroconf.ServiceInfo(
                SERVICE,
                f"kinetra-live on {host}.{SERVICE}",
                addresses=[socket.inet_aton(a) for a in addresses],
                port=self.port,
                server=f"{host}.local.",
            )
            zc = zeroconf.Zeroconf()
            zc.register_service(info, allow_name_change=True)
        except Exception as exc:  # noqa: BLE001 - the port still takes connections
            self.warnings.append(f"OS2L is not advertised: {exc}")
            self.advertised = False
            return
        self.zeroconf = (zc, info)
        self.advertised = True

    # ---- the clock ------------------------------------------------------------------------

    def update(self, clock, now: float) -> None:
        with self.lock:
            grid = self.grid.target()
        self.follower.update(clock, now, grid)

    def command(self, name: str, arg, clock, now: float) -> bool:
        if name == "nudge":
            self.follower.nudge(clock, float(arg))
        elif name == "resync":
            with self.lock:
                grid = self.grid.target()
            self.follower.resync(clock, now, grid)
        else:
            return False
        return True

    def status(self) -> str:
        with self.lock:
            last, period, ignored = self.grid.last, self.grid.period, sum(self.ignored.values())
        if last is None:
            text = "os2l waiting for beats"
        else:
            text = f"os2l {60.0 / period:.1f} BPM"
            if self.now() - last > HOLD_BEATS * period:
                text += " holding"
        if self.server is not None:
            text += f"  port {self.port}" + (" (not advertised)" if self.advertised is False else "")
            text += f"  {self.connected} connected"
        if ignored:
            text += f"  {ignored} ignored"
        return text

    def close(self) -> None:
        self.running = False
        if self.thread is not None:
            self.thread.join(timeout=3.0)
        if self.zeroconf is not None:
            zc, info = self.zeroconf
            self.zeroconf = None
            try:
                zc.unregister_service(info)
            finally:
                zc.close()
        if self.server is not None:
            self.server.close()
