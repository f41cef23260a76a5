"""One queue of commands that every input feeds (keys, MIDI, OSC, the web page);
the frame loop takes them in at the start of each frame."""

from __future__ import annotations

import collections
import dataclasses
import math
import threading

# name -> what its argument is
COMMANDS = {
    "cue": "cue name",
    "tap": None,
    "resync": None,
    "nudge": "seconds, -1 to 1",
    "tempo": "BPM step, -100 to 100",
    "bpm": "BPM",
    "double": None,
    "half": None,
    "lock": "true, false or none (toggle)",
    "hold": "true, false or none (toggle)",
    "size": "0 to 1",
    "home": "true, false or none (toggle)",
    "blackout": "true, false or none (toggle)",
    "release": "group or fixture name, or none (all)",
    "quit": None,
}
# The show editor's changes reach the frame loop as this command, never from an input's
# message (it is not in COMMANDS, so `check` refuses it).
EDIT = "edit"
TEMPO_COMMANDS = ("tap", "resync", "nudge", "tempo", "bpm", "double", "half", "lock")
MASTER_COMMANDS = ("hold", "size", "home", "blackout")
# Commands waiting beyond this many are dropped, oldest first.
MAX_PENDING = 1024


class CommandError(ValueError):
    pass


@dataclasses.dataclass(frozen=True)
class Command:
    name: str
    arg: object = None
    source: str = ""


def _number(cmd: Command, lo: float, hi: float) -> float:
    v = cmd.arg
    if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v) or not lo <= v <= hi:
        raise CommandError(f"{cmd.name}: needs a number from {lo:g} to {hi:g}")
    return float(v)


def _switch(cmd: Command):
    if cmd.arg is None or isinstance(cmd.arg, bool):
        return cmd.arg
    if cmd.arg in (0, 1) and isinstance(cmd.arg, (int, float)):
        return bool(cmd.arg)
    raise CommandError(f"{cmd.name}: needs true, false or nothing (toggle)")


def check(cmd: Command, show) -> Command:
    """The command as the engine takes it, from any input, trusted or not."""
    from kinetra_common.units import MAX_BPM

    name = cmd.name
    if name not in COMMANDS:
        raise CommandError(f"unknown command {name!r}")
    if name == "cue":
        if not isinstance(cmd.arg, str) or cmd.arg not in show.cues:
            raise CommandError("cue: no cue of that name")
        return cmd
    if name == "release":
        if cmd.arg is not None and (
            not isinstance(cmd.arg, str)
            or (cmd.arg not in show.groups and cmd.arg not in {f.name for f in show.fixtures})
        ):
            raise CommandError("release: no group or fixture of that name")
        return cmd
    if name == "nudge":
        return dataclasses.replace(cmd, arg=_number(cmd, -1.0, 1.0))
    if name == "tempo":
        return dataclasses.replace(cmd, arg=_number(cmd, -100.0, 100.0))
    if name == "bpm":
        v = _number(cmd, 0.0, MAX_BPM)
        if v <= 0:
            raise CommandError("bpm: must be above 0")
        return dataclasses.replace(cmd, arg=v)
    if name == "size":
        return dataclasses.replace(cmd, arg=_number(cmd, 0.0, 1.0))
    if name in ("lock", "hold", "home", "blackout"):
        return dataclasses.replace(cmd, arg=_switch(cmd))
    return dataclasses.replace(cmd, arg=None)


class CommandQueue:
    """Thread-safe: inputs put from their own threads, the frame loop drains. Each
    command is stamped with the time it came in, so that a launch is quantised from
    the moment it was asked for, not from the next frame."""

    def __init__(self, now):
        self.now = now
        self._items: collections.deque = collections.deque(maxlen=MAX_PENDING)
        self._lock = threading.Lock()

    def put(self, cmd: Command) -> None:
        t = self.now()
        with self._lock:
            self._items.append((t, cmd))

    def drain(self) -> list[tuple[float, Command]]:
        with self._lock:
            items = list(self._items)
            self._items.clear()
        return items
