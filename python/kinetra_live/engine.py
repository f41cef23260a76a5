"""The show engine: from the show's state and a pip to every fixture's offset.

Nothing here reads a clock or sends a byte. The runner asks for the offsets of
each frame's pip; commands (cue launches, masters) arrive stamped with the pip
at which they were given. Launches are quantised on the pip: a cue lands on
the first frame whose pip reaches its boundary, however the frames fall.

Each fixture shows a node: a `Play` (a look started at an anchor pip) or a
`Blend` of the node it leaves and the play it goes to, weighted by the pip.
"""

from __future__ import annotations

import dataclasses
import math
from fractions import Fraction

from kinetra_common.units import PIPS_PER_BEAT

from . import model, speed

INT32 = 1 << 32
# Size changes reach their new value over this many pips.
SIZE_RAMP_PIPS = 16
# Crossfades inside crossfades deeper than this give up their oldest part.
MAX_BLEND_DEPTH = 4
# A jump of the pip far ahead follows at most this many cues in one go.
MAX_FOLLOWS = 100_000
# What a cue may set on a look, by the same name on both.
LOOK_SETTINGS = ("pattern", "scale", "speed", "reverse", "mirror", "rotate")


def wrap32(pip: int) -> int:
    """Pips beyond the 32-bit range fold back into it (after months at any sane tempo)."""
    return (pip + (INT32 >> 1)) % INT32 - (INT32 >> 1)


def curve_weight(curve: str, u: float) -> float:
    """Weight of the new side at fraction u of the crossfade (0..1)."""
    if u <= 0.0:
        return 0.0
    if u >= 1.0:
        return 1.0
    if curve == "smooth":
        return u * u * (3.0 - 2.0 * u)
    return u


def spread_rank(order: str, index: int, count: int) -> int:
    """How many spreads member `index` of `count` runs behind the first to move."""
    if order == "reverse":
        return count - 1 - index
    centre = abs(2 * index - (count - 1)) // 2  # 0 at the middle, growing outward
    if order == "centre-out":
        return centre
    if order == "outside-in":
        return (count - 1) // 2 - centre
    return index


class Play:
    """A look started at an anchor: the pattern's own pip 0 falls on pip `anchor` (0
    keeps the bar phase). Everything a frame needs is worked out once, here."""

    __slots__ = ("look", "anchor", "cue", "_shift", "_num", "_den", "_reverse", "_mirror", "_rot", "_scale")

    def __init__(self, look: model.Look, anchor: int, cue: str | None, offset_pips: int = 0):
        self.look, self.anchor, self.cue = look, anchor, cue
        self._shift = look.lag_pips + anchor - offset_pips
        self._num, self._den = look.speed.numerator, look.speed.denominator
        self._reverse = look.reverse
        self._mirror = look.mirror if any(look.mirror) else None
        if look.rotate:
            a = math.radians(look.rotate)
            self._rot = (math.cos(a), math.sin(a))
        else:
            self._rot = None
        self._scale = look.scale

    def __eq__(self, other):
        return isinstance(other, Play) and (self.look, self.anchor, self.cue, self._shift) == (
            other.look,
            other.anchor,
            other.cue,
            other._shift,
        )

    def __hash__(self):
        return hash((self.look, self.anchor, self.cue, self._shift))

    def pattern_pip(self, pip: int) -> int:
        t = pip - self._shift
        if self._den != 1 or self._num != 1:
            t = (t * self._num) // self._den
        return wrap32(-t if self._reverse else t)

    def offset(self, pip: int, sample) -> tuple[float, float, float]:
        t = pip - self._shift
        if self._den != 1 or self._num != 1:
            t = (t * self._num) // self._den
        if self._reverse:
            t = -t
        if not -0x80000000 <= t <= 0x7FFFFFFF:
            t = wrap32(t)
        x, y, z = sample(self.look.pattern, t).as_tuple()
        if self._mirror is not None:
            mx, my, mz = self._mirror
            if mx:
                x = -x
            if my:
                y = -y
            if mz:
                z = -z
        if self._rot is not None:
            c, s = self._rot
            x, y = x * c - y * s, x * s + y * c
        sx, sy, sz = self._scale
        x *= sx
        y *= sy
        z *= sz
        return (
            1.0 if x > 1.0 else -1.0 if x < -1.0 else x,
            1.0 if y > 1.0 else -1.0 if y < -1.0 else y,
            1.0 if z > 1.0 else -1.0 if z < -1.0 else z,
        )


class Blend:
    """The node a fixture leaves, `old`, crossfading into the play it goes to, `new`,
    over `length` pips from pip `start`."""

    __slots__ = ("old", "new", "start", "length", "curve", "_num", "_den")

    def __init__(self, old, new: Play, start: int, length: Fraction, curve: str):
        self.old, self.new, self.start, self.length, self.curve = old, new, start, length, curve
        self._num, self._den = length.numerator, length.denominator

    def with_old(self, old) -> Blend:
        return Blend(old, self.new, self.start, self.length, self.curve)

    def weight(self, pip: int) -> float:
        return curve_weight(self.curve, (pip - self.start) * self._den / self._num)

    def ended(self, pip: int) -> bool:
        return (pip - self.start) * self._den >= self._num

    def offset(self, pip, sample):
        w = self.weight(pip)
        if w >= 1.0:
            return self.new.offset(pip, sample)
        a = self.old.offset(pip, sample)
        if w <= 0.0:
            return a
        b = self.new.offset(pip, sample)
        return (a[0] + (b[0] - a[0]) * w, a[1] + (b[1] - a[1]) * w, a[2] + (b[2] - a[2]) * w)

    def pattern_pip(self, pip: int) -> int:
        return self.new.pattern_pip(pip)

    @property
    def depth(self) -> int:
        return 1 + (self.old.depth if isinstance(self.old, Blend) else 0)


def _settled(node, pip: int):
    """The node without the crossfades that have ended by `pip`."""
    if isinstance(node, Blend):
        if node.ended(pip):
            return node.new
        old = _settled(node.old, pip)
        if old is not node.old:
            return node.with_old(old)
    return node


def _shallower(node):
    """The node with its deepest crossfade replaced by where that one is going."""
    if isinstance(node.old, Blend):
        return node.with_old(_shallower(node.old))
    return node.new if isinstance(node, Blend) else node


@dataclasses.dataclass
class Launch:
    cue: model.Cue
    boundary: int
    fixtures: tuple[int, ...]  # indices of the fixtures it sets


class Engine:
    def __init__(self, show: model.Show):
        self.show = show
        self.fixtures = show.fixtures
        self.index = {f.name: i for i, f in enumerate(show.fixtures)}
        self.sample = show.library.sample
        self.bar_pips = show.tempo.beats_per_bar * PIPS_PER_BEAT
        self.nodes: list = [Play(f.look, 0, None, f.offset_pips) for f in show.fixtures]
        self.looks: list = [f.look for f in show.fixtures]  # the look each fixture is going to
        self.active: list = [None] * len(show.fixtures)  # Launch that set it, None: base look
        self.queued: list = [None] * len(show.fixtures)  # Launch waiting for its boundary
        self.follows: list = []  # (due pip, next cue, launch)
        self.events: list = []  # cues landed since last taken
        self.hold: tuple | None = None  # offsets frozen by hold
        self.size_from, self.size_to, self.size_start = 1.0, 1.0, 0
        self.home = False
        self.blackout = False
        self.speed_check = speed.SpeedCheck(show)
        self.looks_version = 0  # counts changes of `looks`, for the speed warnings
        self._warned: tuple = (None, [])

    # ---- commands -------------------------------------------------------------------------

    def boundary(self, cue: model.Cue, pip: int) -> int:
        if cue.quantize_beats is None:
            return pip
        q = cue.quantize_beats * PIPS_PER_BEAT
        return -((-pip) // q) * q

    def launch(self, name: str, pip: int, boundary: int | None = None) -> Launch | None:
        """Queues cue `name` for its boundary at or after `pip` (or at `boundary`); it lands
        with the first `advance` that reaches it. Fixtures already showing the cue keep it
        unless it retriggers, and drop what was queued for them."""
        return self.launch_cue(self.show.cues[name], pip, boundary)

    def launch_cue(self, cue: model.Cue, pip: int, boundary: int | None = None) -> Launch | None:
        """As `launch`, for a cue that need not be one of the show's (the look being programmed)."""
        name = cue.name
        at = self.boundary(cue, pip) if boundary is None else boundary
        members = []
        for target in cue.targets:
            for fname in target.fixtures:
                i = self.index[fname]
                a = self.active[i]
                if a is not None and a.cue.name == name and not cue.retrigger:
                    self.queued[i] = None
                else:
                    members.append(i)
        if not members:
            return None
        launch = Launch(cue, at, tuple(members))
        for i in members:
            self.queued[i] = launch
        return launch

    def release(self, name: str | None, pip: int) -> None:
        """Back to the show's own look at once, for one group or fixture or for all."""
        if name is None:
            chosen = range(len(self.fixtures))
        elif name in self.show.groups:
            chosen = [self.index[m] for m in self.show.groups[name].members]
        else:
            chosen = [self.index[name]]
        for i in chosen:
            self.queued[i] = None
            self.active[i] = None
            self.looks[i] = self.fixtures[i].look
            self.nodes[i] = Play(self.fixtures[i].look, 0, None, self.fixtures[i].offset_pips)
        self.looks_version += 1

    def apply(self, name: str, arg, pip: int) -> None:
        """A checked command (see `commands.check`) that the engine answers."""
        if name == "cue":
            self.launch(arg, pip)
        elif name == "release":
            self.release(arg, pip)
        elif name == "hold":
            on = (self.hold is None) if arg is None else arg
            self.hold = None
            self.hold = tuple(self.offsets(pip)) if on else None
        elif name == "size":
            self.size_from, self.size_to, self.size_start = self.size(pip), float(arg), pip
        elif name == "home":
            self.home = (not self.home) if arg is None else arg
        elif name == "blackout":
            self.blackout = ((not self.blackout) if arg is None else arg) and self.show.blackout_allowed

    def size(self, pip: int) -> float:
        u = (pip - self.size_start) / SIZE_RAMP_PIPS
        if u >= 1.0 or self.size_from == self.size_to:
            return self.size_to
        return self.size_from + (self.size_to - self.size_from) * max(0.0, u)

    # ---- time -----------------------------------------------------------------------------

    def advance(self, pip: int) -> None:
        """Lands every launch whose boundary `pip` has reached, and the cues that follow."""
        for _ in range(MAX_FOLLOWS):
            due = [lc for lc in {id(q): q for q in self.queued if q is not None}.values() if lc.boundary <= pip]
            ready = [f for f in self.follows if f[0] <= pip]
            if not due and not ready:
                break
            # the earliest event first, so that a follow lands after what it follows
            first_launch = min((lc.boundary for lc in due), default=None)
            first_follow = min((f[0] for f in ready), default=None)
            if first_follow is not None and (first_launch is None or first_follow < first_launch):
                f = min(ready, key=lambda e: e[0])
                self.follows.remove(f)
                due_pip, nxt, origin = f
                if any(self.active[i] is origin for i in origin.fixtures):
                    self.launch_at(nxt, due_pip)
                continue
            self._land(min(due, key=lambda lc: lc.boundary), pip)
        nodes = self.nodes
        for i, node in enumerate(nodes):
            if node.__class__ is Blend:
                nodes[i] = _settled(node, pip)

    def launch_at(self, name: str, boundary: int) -> None:
        """Queues cue `name` for exactly `boundary` (a follow lands where its bars end)."""
        cue = self.show.cues[name]
        members = [self.index[f] for t in cue.targets for f in t.fixtures]
        launch = Launch(cue, boundary, tuple(members))
        for i in members:
            self.queued[i] = launch

    def _land(self, launch: Launch, pip: int) -> None:
        cue = launch.cue
        anchor = launch.boundary if cue.phase == "restart" else 0
        for target in cue.targets:
            for k, fname in enumerate(target.fixtures):
                i = self.index[fname]
                if self.queued[i] is not launch:
                    continue
                self.queued[i] = None
                look = self._look(self.looks[i], target, k)
                play = Play(look, anchor, cue.name, self.fixtures[i].offset_pips)
                old = _settled(self.nodes[i], launch.boundary)
                if cue.fade_beats is None:
                    node = play
                else:
                    node = Blend(old, play, launch.boundary, cue.fade_beats * PIPS_PER_BEAT, cue.curve)
                    while node.depth > MAX_BLEND_DEPTH:
                        node = _shallower(node)
                self.nodes[i] = node
                self.looks[i] = look
                self.active[i] = launch
        self.looks_version += 1
        if cue.next is not None:
            self.follows.append((launch.boundary + cue.after_bars * self.bar_pips, cue.next, launch))
        self.events.append({"cue": cue.name, "boundary": launch.boundary, "pip": pip})

    def _look(self, look: model.Look, t: model.CueTarget, k: int) -> model.Look:
        changes = {name: getattr(t, name) for name in LOOK_SETTINGS if getattr(t, name) is not None}
        if t.spread_pips is not None or t.order is not None:
            group = self.show.groups[t.name]
            spread = group.spread_pips if t.spread_pips is None else t.spread_pips
            changes["lag_pips"] = spread_rank(t.order or "forward", k, len(t.fixtures)) * spread
        return dataclasses.replace(look, **changes) if changes else look

    def rebased(self, show: model.Show) -> Engine:
        """An engine for an edited `show` that goes on from this one's state: fixtures kept by
        name keep what they show, what is queued and what follows (their cues as edited; a
        launch or follow of a cue the show no longer has, as the look being programmed, is
        dropped); new fixtures start on their own look."""
        new = Engine(show)
        where = {i: new.index[f.name] for i, f in enumerate(self.fixtures) if f.name in new.index}
        moved: dict = {}

        def move(launch):
            if launch is None:
                return None
            if id(launch) not in moved:
                cue = show.cues.get(launch.cue.name)
                moved[id(launch)] = (
                    None
                    if cue is None
                    else Launch(cue, launch.boundary, tuple(where[i] for i in launch.fixtures if i in where))
                )
            return moved[id(launch)]

        for i, j in where.items():
            if self.active[i] is not None:
                new.nodes[j], new.looks[j], new.active[j] = self.nodes[i], self.looks[i], move(self.active[i])
                if new.active[j] is None:  # its cue is gone: what it shows stays, under that name
                    new.active[j] = Launch(self.active[i].cue, self.active[i].boundary, (j,))
            new.queued[j] = move(self.queued[i])
        new.follows = [
            (due, nxt, move(origin)) for due, nxt, origin in self.follows if nxt in show.cues and move(origin)
        ]
        if self.hold is not None:
            held = {f.name: o for f, o in zip(self.fixtures, self.hold)}
            new.hold = tuple(held.get(f.name, (0.0, 0.0, 0.0)) for f in show.fixtures)
        new.size_from, new.size_to, new.size_start = self.size_from, self.size_to, self.size_start
        new.home = self.home
        new.blackout = self.blackout and show.blackout_allowed
        new.events = self.events
        return new

    def speed_warnings(self, bpm: float) -> list[str]:
        """The heads that cannot follow their current looks at `bpm` (worked out when a cue
        lands or the tempo changes, not per frame)."""
        key = (self.looks_version, round(bpm, 1))
        if self._warned[0] != key:
            self._warned = (key, speed.worst(self.speed_check, list(enumerate(self.looks)), key[1]))
        return self._warned[1]

    def take_events(self) -> list:
        events, self.events = self.events, []
        return events

    # ---- output ---------------------------------------------------------------------------

    def offsets(self, pip: int) -> list[tuple[float, float, float]]:
        """Every fixture's offset at `pip`, in show order, masters applied."""
        if self.home:
            return [(0.0, 0.0, 0.0)] * len(self.fixtures)
        if self.hold is not None:
            return list(self.hold)
        sample = self.sample
        out = [node.offset(pip, sample) for node in self.nodes]
        size = self.size(pip)
        if size != 1.0:
            out = [(x * size, y * size, z * size) for x, y, z in out]
        return out

    def pattern_pips(self, pip: int) -> list[int]:
        """The pattern pip each fixture's current look is at (for the frame log)."""
        return [node.pattern_pip(pip) for node in self.nodes]

    def groups_state(self, pip: int) -> dict:
        """Per group: the cue active on its members, the cue queued and beats until it lands."""
        out = {}
        for name, g in self.show.groups.items():
            members = [self.index[m] for m in g.members]
            active = {self.active[i].cue.name if self.active[i] else None for i in members}
            queued = [self.queued[i] for i in members if self.queued[i] is not None]
            q = min(queued, key=lambda lc: lc.boundary) if queued else None
            out[name] = {
                "active": active.pop() if len(active) == 1 else "mixed",
                "queued": q.cue.name if q else None,
                "beats_left": max(0.0, (q.boundary - pip) / PIPS_PER_BEAT) if q else None,
            }
        return out

    def snapshot(self, pip: int, offsets=None) -> dict:
        """The state as inputs and previews show it (plain JSON values)."""
        if offsets is None:
            offsets = self.offsets(pip)
        per_bar = self.show.tempo.beats_per_bar
        beat = pip // PIPS_PER_BEAT
        return {
            "pip": pip,
            "beat": beat % per_bar,
            "bar": beat // per_bar,
            "beats_per_bar": per_bar,
            "groups": self.groups_state(pip),
            "cues": list(self.show.cues),
            "masters": {
                "hold": self.hold is not None,
                "size": self.size_to,
                "home": self.home,
                "blackout": self.blackout,
            },
            "fixtures": {f.name: list(o) for f, o in zip(self.fixtures, offsets)},
        }
