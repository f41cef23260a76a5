"""MIDI input: pad controllers, faders and MIDI clock on one port handling.

A layout maps notes and controllers to commands and says how a pad lights up.
Cues fill a layout's 8x8 grid column by column, one column per group (cues in
the show's order from the top); the buttons around the grid carry the tempo
keys and the masters. Pad lights follow the cue states on every frame:

    off     no cue on the pad
    armed   a cue that is neither queued nor playing
    queued  blinks on the beat (lit for the first half of each beat) until it lands
    active  the cue that plays in its group

Only changed lights are sent, and all of them again after the controller
reconnects. Clock, Start, Continue, Stop and Song Position go to the MIDI
clock tempo source when the show takes its tempo from the same port.

The port layer needs the `rtmidi2` package (the `midi` extra).
"""

from __future__ import annotations

import dataclasses
import fnmatch
import logging
import threading
import time

log = logging.getLogger("kinetra_live.midi_in")

NOTE_OFF, NOTE_ON, CONTROL = 0x80, 0x90, 0xB0
CLOCK_KINDS = {0xF8: "clock", 0xFA: "start", 0xFB: "continue", 0xFC: "stop"}
SONG_POSITION = 0xF2
LIGHT_STATES = ("off", "armed", "queued", "active")
GRID = 8
RECONNECT_S = 1.0


def decode(data) -> tuple[str, int, int, int] | None:
    """Raw bytes -> (kind, channel, number, value) for what the inputs use, else None.
    kind: "note" (value 0 for a release), "cc", or a clock kind ("clock", "start", ...,
    "songpos" with the position in sixteenths as value)."""
    if not data:
        return None
    status = data[0]
    if status in CLOCK_KINDS:
        return CLOCK_KINDS[status], 0, 0, 0
    if status == SONG_POSITION and len(data) >= 3:
        return "songpos", 0, 0, (data[1] & 0x7F) | ((data[2] & 0x7F) << 7)
    kind, channel = status & 0xF0, status & 0x0F
    if len(data) < 3 or data[1] > 0x7F or data[2] > 0x7F:
        return None
    if kind == NOTE_ON:
        return "note", channel, data[1], data[2]
    if kind == NOTE_OFF:
        return "note", channel, data[1], 0
    if kind == CONTROL:
        return "cc", channel, data[1], data[2]
    return None


# ---- actions -------------------------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class Action:
    """What a note or controller does. `arg` for tempo/nudge is a direction (+1/-1) scaled by
    the step; a fader ("size") reads its value instead."""

    name: str
    arg: object = None
    fader: bool = False


_SIGNED = {"+": 1.0, "-": -1.0}
# What a pad may not do: stopping the show is for the operator at the machine.
REFUSED = frozenset({"quit"})


def parse_action(text: str) -> Action:
    """'tap', 'cue NAME', 'nudge +', 'tempo -', 'hold', 'size' (a fader), 'release [GROUP]' ...
    ValueError with the reason otherwise."""
    if not isinstance(text, str) or not text.strip():
        raise ValueError("expected a command such as 'tap' or 'cue NAME'")
    from ..commands import COMMANDS

    name, _, rest = text.strip().partition(" ")
    rest = rest.strip()
    allowed = [n for n in COMMANDS if n not in REFUSED]
    if name not in allowed:
        raise ValueError(f"unknown command {name!r} (one of: {', '.join(allowed)})")
    if name == "cue":
        if not rest:
            raise ValueError("'cue' needs the cue's name")
        return Action("cue", rest)
    if name in ("nudge", "tempo"):
        if rest not in _SIGNED:
            raise ValueError(f"'{name}' needs a direction: '{name} +' or '{name} -'")
        return Action(name, _SIGNED[rest])
    if name == "release":
        return Action("release", rest or None)
    if name == "bpm":
        try:
            return Action("bpm", float(rest))
        except ValueError:
            raise ValueError("'bpm' needs the tempo: 'bpm 120'") from None
    if rest:
        raise ValueError(f"'{name}' takes no argument")
    return Action(name, None, fader=(name == "size"))


# ---- layouts -------------------------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class Light:
    """How one state is shown: (status byte, value) sent with the pad's number."""

    off: tuple[int, int]
    armed: tuple[int, int]
    queued: tuple[int, int]
    active: tuple[int, int]


@dataclasses.dataclass(frozen=True)
class Layout:
    name: str
    description: str
    grid: tuple  # GRID rows from the top, each GRID notes from the left (empty: no grid)
    buttons: dict  # ("note" | "cc", number) -> Action
    pad_light: Light | None
    button_light: dict  # "note" | "cc" -> Light for the buttons
    channel: int = 0  # the channel lights are sent on (0 = the first)


_TEMPO_KEYS = (
    Action("tap"),
    Action("resync"),
    Action("nudge", -1.0),
    Action("nudge", 1.0),
    Action("tempo", -1.0),
    Action("tempo", 1.0),
    Action("half"),
    Action("double"),
)
_MASTER_KEYS = (Action("hold"), Action("home"), Action("blackout"), Action("release"))

# Grids numbered ten to a row in "programmer" mode: row 1 at the bottom is notes 11..18,
# row 8 at the top 81..88; the round buttons above the grid are controllers 91..98 and
# those at its right 89, 79, ... 19 from the top. A pad's colour is the note-on velocity
# (an index into the controller's palette: 0 off, 1 dim white, 13 yellow, 21 green).
GRID10 = Layout(
    name="grid10",
    description="8x8 pad grid numbered 11..88 (ten to a row, programmer mode)",
    grid=tuple(tuple(10 * row + col for col in range(1, 9)) for row in range(8, 0, -1)),
    buttons={
        **{("cc", 91 + i): a for i, a in enumerate(_TEMPO_KEYS)},
        **{("cc", 89 - 10 * i): a for i, a in enumerate(_MASTER_KEYS)},
    },
    pad_light=Light(off=(NOTE_ON, 0), armed=(NOTE_ON, 1), queued=(NOTE_ON, 13), active=(NOTE_ON, 21)),
    button_light={"cc": Light(off=(CONTROL, 0), armed=(CONTROL, 1), queued=(CONTROL, 13), active=(CONTROL, 21))},
)

# Grids numbered 0..63 from the bottom left (0..7 the bottom row, 56..63 the top row),
# with round buttons 64..71 under the grid, 82..89 at its right and faders on controllers
# 48..56 (56 the master). A pad's velocity picks its colour: 0 off, 1 green, 3 red, 5 yellow;
# the round buttons are lit by velocity 1.
GRID8 = Layout(
    name="grid8",
    description="8x8 pad grid numbered 0..63 from the bottom left, faders 48..56",
    grid=tuple(tuple(8 * row + col for col in range(8)) for row in range(7, -1, -1)),
    buttons={
        **{("note", 64 + i): a for i, a in enumerate(_TEMPO_KEYS)},
        **{("note", 82 + i): a for i, a in enumerate(_MASTER_KEYS)},
        ("cc", 56): Action("size", None, fader=True),
    },
    pad_light=Light(off=(NOTE_ON, 0), armed=(NOTE_ON, 5), queued=(NOTE_ON, 3), active=(NOTE_ON, 1)),
    button_light={"note": Light(off=(NOTE_ON, 0), armed=(NOTE_ON, 0), queued=(NOTE_ON, 1), active=(NOTE_ON, 1))},
)

# Any other controller: only what the show maps, lit by note-on velocity (0 off, 1 armed, 127 on).
GENERIC = Layout(
    name="generic",
    description="no built-in pads: the show's [midi.notes] and [midi.controls] maps",
    grid=(),
    buttons={},
    pad_light=Light(off=(NOTE_ON, 0), armed=(NOTE_ON, 1), queued=(NOTE_ON, 127), active=(NOTE_ON, 127)),
    button_light={
        "note": Light(off=(NOTE_ON, 0), armed=(NOTE_ON, 1), queued=(NOTE_ON, 127), active=(NOTE_ON, 127)),
        "cc": Light(off=(CONTROL, 0), armed=(CONTROL, 1), queued=(CONTROL, 127), active=(CONTROL, 127)),
    },
)

LAYOUTS = {layout.name: layout for layout in (GRID10, GRID8, GENERIC)}


def assign_cues(layout: Layout, cues) -> dict:
    """note -> cue name: one grid column per group (in order of first appearance), cues from the top.
    `cues`: (name, group) pairs in the show's order. Cues beyond the grid get no pad."""
    if not layout.grid:
        return {}
    columns: dict = {}
    for name, group in cues:
        columns.setdefault(group, []).append(name)
    pads = {}
    for col, names in enumerate(list(columns.values())[:GRID]):
        for row, name in enumerate(names[:GRID]):
            pads[layout.grid[row][col]] = name
    return pads


# ---- the controller ------------------------------------------------------------------------


class MidiController:
    """Turns decoded messages into commands and cue states into pad lights.

    `receive(data, t)` is called from the port's thread (a listener of `share`); `update(state)` from the frame loop,
    which is also where every light is sent from. `notes` / `controls` (number -> Action)
    add to or replace the layout's own buttons.
    """

    def __init__(self, queue, make, layout: Layout, *, cues=(), notes=None, controls=None, steps=None):
        from .keys import NUDGE_S, TEMPO_STEP

        self.queue = queue
        self.make = make
        self.layout = layout
        self.steps = {"nudge_s": NUDGE_S, "tempo_bpm": TEMPO_STEP, **(steps or {})}
        self.actions: dict = {("note", n): Action("cue", c) for n, c in assign_cues(layout, cues).items()}
        self.actions.update(layout.buttons)
        self.actions.update({("note", n): a for n, a in (notes or {}).items()})
        self.actions.update({("cc", n): a for n, a in (controls or {}).items()})
        self.out = None
        self.lit: dict = {}  # (kind, number) -> bytes last sent
        self.accepted = 0
        self.ignored = 0
        self.last_error = ""
        self._lock = threading.Lock()

    # ---- input -----------------------------------------------------------------------------

    def receive(self, data, t: float | None = None) -> None:
        try:
            msg = decode(bytes(data))
        except (TypeError, ValueError):
            msg = None
        if msg is None:
            return
        kind, _channel, number, value = msg
        if kind not in ("note", "cc"):
            return  # clock messages are the tempo source's (see clock_listener)
        action = self.actions.get((kind, number))
        if action is None:
            return
        if action.fader:
            if kind != "cc":
                return
            arg = value / 127.0
        elif value == 0:
            return  # releases do nothing; a press is a note-on or a controller > 0
        elif action.name == "nudge":
            arg = action.arg * self.steps["nudge_s"]
        elif action.name == "tempo":
            arg = action.arg * self.steps["tempo_bpm"]
        else:
            arg = action.arg
        try:
            command = self.make(action.name, arg, "midi")
        except Exception as exc:
            self.ignored += 1
            self.last_error = str(exc)[:200]
            return
        self.queue.put(command)
        self.accepted += 1

    # ---- lights ----------------------------------------------------------------------------

    def states(self, state: dict) -> dict:
        """(kind, number) -> light state for every mapped cue pad and master button."""
        playing, queued = set(), set()
        for g in (state.get("groups") or {}).values():
            if isinstance(g, dict):
                if g.get("active") is not None:
                    playing.add(g["active"])
                if g.get("queued") is not None:
                    queued.add(g["queued"])
        masters = state.get("masters") or {}
        out = {}
        for key, action in self.actions.items():
            if action.name == "cue":
                out[key] = "queued" if action.arg in queued else "active" if action.arg in playing else "armed"
            elif action.name in ("hold", "home", "blackout") and action.arg is None:
                out[key] = "active" if masters.get(action.name) else "armed"
            elif not action.fader:
                out[key] = "armed"
        return out

    def message(self, key, light: str, blink_on: bool) -> bytes | None:
        kind, number = key
        table = (
            self.layout.pad_light
            if (kind == "note" and self.actions.get(key, Action("")).name == "cue")
            else self.layout.button_light.get(kind)
        )
        if table is None:
            return None
        if light == "queued" and not blink_on:
            light = "armed"
        status, value = getattr(table, light)
        return bytes((status | self.layout.channel, number, value))

    def update(self, state: dict) -> list[bytes]:
        """Sends the lights that changed (everything after a reconnect); returns what was sent."""
        with self._lock:
            out = self.out
        if out is None:
            return []
        pip = state.get("pip") or 0
        blink_on = pip % 64 < 32
        sent = []
        for key, light in self.states(state).items():
            msg = self.message(key, light, blink_on)
            if msg is not None and self.lit.get(key) != msg:
                try:
                    out.send(msg)
                except Exception as exc:
                    self.last_error = f"MIDI output: {exc}"[:200]
                    with self._lock:
                        self.out = None
                    return sent
                self.lit[key] = msg
                sent.append(msg)
        return sent

    def attach(self, out) -> None:
        """A (re)connected light output: every light is sent again on the next update."""
        with self._lock:
            self.out = out
            self.lit = {}

    def clear(self) -> list[bytes]:
        """All lights off (at the end of the show)."""
        with self._lock:
            out = self.out
        sent = []
        if out is not None:
            for key in self.lit:
                msg = self.message(key, "off", False)
                if msg is not None:
                    try:
                        out.send(msg)
                    except Exception:
                        break
                    sent.append(msg)
        self.lit = {}
        return sent

    def status(self) -> str:
        return f"MIDI in {self.accepted} ok, {self.ignored} refused" if self.ignored else ""


# ---- ports ---------------------------------------------------------------------------------


def match_port(pattern: str | None, names: list[str]) -> str | None:
    """The first port whose name is `pattern`, contains it (any case) or matches it as a glob;
    the first port when no pattern is given."""
    if not names:
        return None
    if not pattern:
        return names[0]
    for test in (
        lambda n: n == pattern,
        lambda n: pattern.lower() in n.lower(),
        lambda n: fnmatch.fnmatchcase(n, pattern),
    ):
        for n in names:
            if test(n):
                return n
    return None


class RtMidiBackend:
    """Ports through rtmidi2 (ALSA on Linux, CoreMIDI on macOS, WinMM on Windows)."""

    def __init__(self, client_name: str = "kinetra-live"):
        try:
            import rtmidi2
        except ImportError:
            raise RuntimeError("MIDI needs the rtmidi2 package: pip install kinetra[midi]") from None
        self.rtmidi2 = rtmidi2
        self.client_name = client_name
        try:
            self._in_probe = rtmidi2.MidiIn(client_name)
            self._out_probe = rtmidi2.MidiOut(client_name)
        except RuntimeError as exc:
            raise RuntimeError(f"no MIDI system available ({str(exc).strip().splitlines()[0]})") from None

    def inputs(self) -> list[str]:
        return list(self._in_probe.ports)

    def outputs(self) -> list[str]:
        return list(self._out_probe.ports)

    def open_input(self, name: str, callback):
        port = self.rtmidi2.MidiIn(self.client_name)
        port.ignore_types(midi_sysex=True, midi_time=False, midi_sense=True)
        port.open_port(self.inputs().index(name))
        port.callback = lambda msg, _delta: callback(msg)
        return _RtInput(port)

    def open_output(self, name: str):
        port = self.rtmidi2.MidiOut(self.client_name)
        port.open_port(self.outputs().index(name))
        return _RtOutput(port)


class _RtInput:
    def __init__(self, port):
        self.port = port

    def close(self):
        self.port.callback = None
        self.port.close_port()


class _RtOutput:
    def __init__(self, port):
        self.port = port

    def send(self, data: bytes):
        self.port.send_raw(*data)

    def close(self):
        self.port.close_port()


class MidiPorts:
    """One input port (and an optional output for the lights), opened by name pattern and
    opened again when the device comes back. Every message goes to each of `listeners`
    (callables taking (bytes, time)); `on_output(out or None)` hears of the light output.
    Call `check()` now and then (the watcher thread does, every RECONNECT_S)."""

    def __init__(
        self,
        backend,
        input_pattern: str | None,
        output_pattern: str | None = None,
        *,
        listeners=(),
        on_output=None,
        now=time.monotonic,
    ):
        self.backend = backend
        self.input_pattern, self.output_pattern = input_pattern, output_pattern
        self.listeners = list(listeners)
        self.on_output = on_output
        self.now = now
        self.inp = self.out = None
        self.in_name = self.out_name = None
        self.connects = 0
        self._stopped = threading.Event()
        self._thread = None
        self._lock = threading.Lock()

    def _deliver(self, data) -> None:
        t = self.now()
        for listener in self.listeners:
            try:
                listener(bytes(data), t)
            except Exception:
                log.exception("MIDI input: handler failed")

    def check(self) -> None:
        with self._lock:
            self._check()

    def _check(self) -> None:
        names = self.backend.inputs()
        if self.inp is not None and self.in_name not in names:
            self._close_input()
        if self.inp is None:
            name = match_port(self.input_pattern, names)
            if name is not None:
                try:
                    self.inp = self.backend.open_input(name, self._deliver)
                except Exception as exc:  # gone again, or busy: the next check tries again
                    log.warning("MIDI input %s: %s", name, exc)
                    return
                self.in_name = name
                self.connects += 1
        if self.output_pattern is None:
            return
        outs = self.backend.outputs()
        if self.out is not None and self.out_name not in outs:
            self._close_output()
        if self.out is None:
            name = match_port(self.output_pattern, outs)
            if name is not None:
                try:
                    self.out = self.backend.open_output(name)
                except Exception as exc:
                    log.warning("MIDI output %s: %s", name, exc)
                    return
                self.out_name = name
                if self.on_output is not None:
                    self.on_output(self.out)

    def start(self) -> None:
        self.check()
        self._thread = threading.Thread(target=self._watch, name="kinetra-midi", daemon=True)
        self._thread.start()

    def _watch(self) -> None:
        while not self._stopped.wait(RECONNECT_S):
            try:
                self.check()
            except Exception as exc:
                log.warning("MIDI ports: %s", exc)

    def _close_input(self) -> None:
        try:
            self.inp.close()
        except Exception:
            pass
        self.inp = self.in_name = None

    def _close_output(self) -> None:
        if self.on_output is not None:
            self.on_output(None)
        try:
            self.out.close()
        except Exception:
            pass
        self.out = self.out_name = None

    def close(self) -> None:
        self._stopped.set()
        if self._thread is not None:
            self._thread.join(RECONNECT_S + 1.0)
        if self.inp is not None:
            self._close_input()
        if self.out is not None:
            self._close_output()


def clock_listener(clock):
    """A port listener that hands MIDI clock, Start, Stop, Continue and Song Position to a
    `clock.MidiClock`, stamped with their arrival time."""

    def listen(data, t):
        msg = decode(data)
        if msg is not None and msg[0] not in ("note", "cc"):
            clock.feed(t, msg[0], msg[3])

    return listen


# ---- one handling per port, shared by the tempo source and the controller -----------------


class Shared:
    """A listener's hold on a shared port; `close()` lets go (the last one closes the port)."""

    def __init__(self, key, ports, listener):
        self.key, self.ports, self.listener = key, ports, listener

    def close(self) -> None:
        with _shared_lock:
            if self.listener in self.ports.listeners:
                self.ports.listeners.remove(self.listener)
            if not self.ports.listeners:
                _shared.pop(self.key, None)
                last = True
            else:
                last = False
        if last:
            self.ports.close()


_shared: dict = {}
_shared_lock = threading.Lock()


def share(
    input_pattern: str | None, listener, *, output_pattern: str | None = None, on_output=None, backend=None
) -> Shared:
    """Adds `listener` to the port named by `input_pattern`, opening it (and watching for it to
    come back) the first time; a later caller may add the light output."""
    with _shared_lock:
        ports = _shared.get(input_pattern)
        fresh = ports is None
        if fresh:
            ports = MidiPorts(
                backend if backend is not None else RtMidiBackend(), input_pattern, output_pattern, on_output=on_output
            )
            _shared[input_pattern] = ports
        elif output_pattern is not None and ports.output_pattern is None:
            ports.output_pattern, ports.on_output = output_pattern, on_output
        ports.listeners.append(listener)
    if fresh:
        try:
            ports.start()
        except Exception:
            Shared(input_pattern, ports, listener).close()
            raise
    else:
        ports.check()
    return Shared(input_pattern, ports, listener)
