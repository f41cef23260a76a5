"""What a show is, once read and checked: tempo, outputs, fixtures, groups and cues.

The reader (`showfile`) builds these; the engine, the outputs and the inputs only
read them. Every value here has passed its checks.
"""

from __future__ import annotations

import dataclasses
import re
from fractions import Fraction

# Launch quantisations by name, in beats ("now" lands on the next frame).
QUANTIZE_NAMES = ("now", "beat", "bar")
QUANTIZE_BEATS = (2, 4, 8, 16, 32)
CURVES = ("linear", "smooth")
PHASES = ("keep", "restart")
SPREAD_ORDERS = ("forward", "reverse", "centre-out", "outside-in")
AXES = ("x", "y", "z")
# Speed ratios p/q with p and q whole numbers from 1 to MAX_RATIO_TERM.
MAX_RATIO_TERM = 8
MAX_TRANSITION_BEATS = 32


CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f]")


def printable(text: str) -> str:
    """`text` with control characters escaped, safe to print to a terminal."""
    return CONTROL.sub(lambda m: repr(m.group())[1:-1], text)


class ShowError(ValueError):
    """A show file that cannot be played; the message names file, line and key."""

    def __init__(self, path: str, line: int | None, key: str | None, message: str):
        self.path, self.line, self.key, self.message = path, line, key, message
        where = f"{path}:{line}" if line is not None else path
        super().__init__(f"{where}: {key}: {message}" if key else f"{where}: {message}")


@dataclasses.dataclass(frozen=True)
class Tempo:
    bpm: float
    source: str = "fixed"
    beats_per_bar: int = 4
    latency_ms: float = 0.0
    midi_port: str | None = None
    bpm_range: tuple[float, float] | None = None
    audio_device: str | None = None
    follow: str | int = "master"  # djlink: the tempo master, or a device number
    djlink_interface: str | None = None
    djlink_announce: bool = False
    djlink_device: int | None = None  # announced as (None: the lowest free)
    os2l_host: str | None = None  # None: loopback
    os2l_port: int = 0  # 0: any free port (advertised)
    os2l_buttons: dict = dataclasses.field(default_factory=dict)  # OS2L button name -> cue
    os2l_commands: dict = dataclasses.field(default_factory=dict)  # OS2L command id -> cue


@dataclasses.dataclass(frozen=True)
class AxisMap:
    """Where -1 and +1 of one axis land, as fractions of the channel's range."""

    low: float
    high: float


@dataclasses.dataclass(frozen=True)
class DmxPatch:
    universe: int
    address: int  # first channel, 1..512
    channels: dict  # role -> channel offset (1 = address)
    footprint: int
    pan: AxisMap
    tilt: AxisMap
    z: AxisMap
    fixed: dict  # channel offset -> value 0..255
    blackout: dict  # channel offset -> value 0..255 while blacked out

    def used(self) -> range:
        return range(self.address, self.address + self.footprint)


@dataclasses.dataclass(frozen=True)
class OscPatch:
    address: str
    remap: bool = False


@dataclasses.dataclass(frozen=True)
class Look:
    """How one fixture moves: a pattern and its modifiers, before any timing."""

    pattern: str
    scale: tuple[float, float, float] = (1.0, 1.0, 1.0)
    lag_pips: int = 0  # this fixture runs this many pips behind its group's first
    speed: Fraction = Fraction(1)
    reverse: bool = False
    mirror: tuple[bool, bool, bool] = (False, False, False)
    rotate: float = 0.0  # degrees in the pan/tilt plane


@dataclasses.dataclass(frozen=True)
class Fixture:
    name: str
    output: str
    kind: str  # the output kind ("sacn", "osc", ...)
    offset_pips: int  # its own offset, ahead of the show's pip
    look: Look  # what it does before any cue
    patch: object  # the output kind's patch (DmxPatch, OscPatch, ...)
    group: str | None = None


@dataclasses.dataclass(frozen=True)
class Group:
    name: str
    members: tuple[str, ...]  # fixture names, in spread order
    spread_pips: int = 0


@dataclasses.dataclass(frozen=True)
class CueTarget:
    """What a cue changes on one group or fixture; None leaves a setting as it is."""

    name: str  # group or fixture name
    fixtures: tuple[str, ...]
    pattern: str | None = None
    scale: tuple[float, float, float] | None = None
    spread_pips: int | None = None
    order: str | None = None
    speed: Fraction | None = None
    reverse: bool | None = None
    mirror: tuple[bool, bool, bool] | None = None
    rotate: float | None = None


@dataclasses.dataclass(frozen=True)
class Cue:
    name: str
    key: str | None
    targets: tuple[CueTarget, ...]
    quantize_beats: int | None  # None: now
    fade_beats: Fraction | None  # None: a cut
    curve: str = "linear"
    phase: str = "keep"
    retrigger: bool = False
    next: str | None = None
    after_bars: int = 0


@dataclasses.dataclass(frozen=True)
class WebInput:
    """[web]: the remote's address (a token is asked for off the loopback)."""

    host: str
    port: int


@dataclasses.dataclass(frozen=True)
class OscInput:
    """[osc_in]: where OSC commands are taken in."""

    host: str
    port: int


@dataclasses.dataclass(frozen=True)
class MidiInput:
    """[midi]: a controller's ports (name, part of a name or glob), its layout and extra maps."""

    input: str
    output: str | None
    layout: str
    notes: dict  # note number -> action (inputs.midi.Action)
    controls: dict  # controller number -> action


@dataclasses.dataclass(frozen=True)
class Show:
    path: str
    name: str
    cid: bytes
    fps: int
    tempo: Tempo
    outputs: dict  # name -> the output kind's settings
    fixtures: tuple
    groups: dict  # name -> Group
    cues: dict  # name -> Cue, in file order
    keys: dict  # key -> cue name
    library: object  # kinetra.PatternLibrary with the show's own patterns
    quantize_beats: int | None = None
    latency_s: dict = dataclasses.field(default_factory=dict)  # output name -> seconds ahead
    web: WebInput | None = None
    osc_in: OscInput | None = None
    midi: MidiInput | None = None

    def fixture(self, name: str) -> Fixture:
        return next(f for f in self.fixtures if f.name == name)

    def universes(self, output: str) -> list[int]:
        return sorted({f.patch.universe for f in self.fixtures if f.output == output})

    @property
    def blackout_allowed(self) -> bool:
        return any(getattr(f.patch, "blackout", None) for f in self.fixtures)
