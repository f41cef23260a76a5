"""Stand-ins for the command queue and the show's command check, shared by the input tests."""

import dataclasses
import math
import threading

CUES = {"intro": "wash", "sweep": "wash", "chase": "beam", "still": "beam"}
NAMES = {"cue", "tap", "resync", "nudge", "tempo", "bpm", "double", "half", "lock", "hold", "size",
         "home", "blackout", "release", "quit"}


@dataclasses.dataclass(frozen=True)
class Command:
    name: str
    arg: object = None
    source: str = ""


class Queue:
    def __init__(self):
        self.items = []
        self.lock = threading.Lock()

    def put(self, cmd):
        with self.lock:
            self.items.append(cmd)

    def names(self):
        with self.lock:
            return [(c.name, c.arg) for c in self.items]


def make(name, arg=None, source=""):
    """Accepts what the real check accepts for these names and refuses the rest with a reason."""
    if name not in NAMES:
        raise ValueError(f"unknown command {name!r}")
    if name == "cue" and arg not in CUES:
        raise ValueError(f"no cue named {arg!r}")
    if name in ("bpm", "size", "nudge", "tempo"):
        if not isinstance(arg, (int, float)) or isinstance(arg, bool) or not math.isfinite(arg):
            raise ValueError(f"{name} needs a number")
        if name == "size" and not 0 <= arg <= 1:
            raise ValueError("size must be 0..1")
    if name in ("hold", "home", "blackout") and arg not in (None, True, False):
        raise ValueError(f"{name} takes on/off")
    return Command(name, arg, source)


def snapshot(pip=0, active=None, queued=None, fixtures=None, masters=None):
    """A state shaped as the engine's snapshot, for the two groups above."""
    groups = {g: {"active": (active or {}).get(g), "queued": (queued or {}).get(g), "beats_left": 2}
              for g in ("wash", "beam")}
    return {"pip": pip, "beat": pip // 64 % 4, "bar": pip // 256, "bpm": 120.0, "groups": groups,
            "cues": [{"name": n, "group": g} for n, g in CUES.items()],
            "masters": masters or {"hold": False, "size": 1.0, "home": False, "blackout": False},
            "fixtures": fixtures or {"a": [0.0, 0.0, 0.0], "b": [0.5, -0.5, 0.25]}}
