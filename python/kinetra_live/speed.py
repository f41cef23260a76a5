"""How fast a look asks a head to turn, against how fast the head can.

A look's need is worked out once (per fixture and look, cached): the largest
pip-to-pip step of its pattern over one period, through its rotation and
scale, in degrees of the fixture's pan and tilt mapping, times its speed. That
is degrees per pip; at a tempo it is degrees per second. Nothing here runs per
frame.
"""

from __future__ import annotations

import dataclasses
import math
from fractions import Fraction

from kinetra_common.units import PIPS_PER_BEAT

from . import model

AXES = ("pan", "tilt")
# A pattern longer than this is looked at over its first MAX_PERIOD pips.
MAX_PERIOD = 1 << 16


@dataclasses.dataclass(frozen=True)
class Need:
    """Degrees per pip the look asks of each axis, and what the head can do (deg/s, None: no limit)."""

    pattern: str
    pan: float
    tilt: float
    pan_speed: float | None
    tilt_speed: float | None
    scale: tuple[float, float]  # the look's scale of x and y
    speed: Fraction

    def over(self, bpm: float) -> list[tuple[str, float, float]]:
        """(axis, needed deg/s, head's deg/s) for every axis the head cannot follow at `bpm`."""
        per_s = bpm / 60.0 * PIPS_PER_BEAT
        out = []
        for axis, need, can in (("pan", self.pan, self.pan_speed), ("tilt", self.tilt, self.tilt_speed)):
            if can is not None and need * per_s > can:
                out.append((axis, need * per_s, can))
        return out


def slower_speed(limit: Fraction) -> Fraction | None:
    """The fastest speed ratio (terms 1 to MAX_RATIO_TERM) at most `limit`, None if there is none."""
    best = None
    for q in range(1, model.MAX_RATIO_TERM + 1):
        p = math.floor(limit * q)
        if p >= 1:
            r = Fraction(min(p, model.MAX_RATIO_TERM), q)
            if best is None or r > best:
                best = r
    return best


class SpeedCheck:
    def __init__(self, show: model.Show):
        self.show = show
        self.sample = show.library.sample
        self.periods: dict | None = None  # pattern -> period in pips, read when first needed
        self.steps: dict = {}  # pattern -> [(dx, dy)] pip to pip over a period
        self.needs: dict = {}  # (fixture index, look) -> Need | None

    def _steps(self, pattern: str) -> list:
        steps = self.steps.get(pattern)
        if steps is None:
            if self.periods is None:
                self.periods = {row["name"]: row["period_pips"] for row in self.show.library.catalogue()}
            period = min(max(1, self.periods.get(pattern, 0)), MAX_PERIOD)
            pts = [self.sample(pattern, p).as_tuple() for p in range(period + 1)]
            steps = [(b[0] - a[0], b[1] - a[1]) for a, b in zip(pts, pts[1:])]
            self.steps[pattern] = steps
        return steps

    def need(self, index: int, look: model.Look) -> Need | None:
        """What `look` asks of fixture `index` (None: not a head with a speed limit)."""
        k = (index, look)
        if k in self.needs:
            return self.needs[k]
        f = self.show.fixtures[index]
        b, p = f.body, f.patch
        need = None
        if isinstance(p, model.DmxPatch) and (b.pan_speed is not None or b.tilt_speed is not None):
            a = math.radians(look.rotate)
            c, s = math.cos(a), math.sin(a)
            sx, sy = look.scale[0], look.scale[1]
            steps = self._steps(look.pattern)
            pan = max((abs(sx * (dx * c - dy * s)) for dx, dy in steps), default=0.0)
            tilt = max((abs(sy * (dx * s + dy * c)) for dx, dy in steps), default=0.0)
            # an offset of 1 is half the way from the mapping's -1 to its +1
            pan *= abs(p.pan.high - p.pan.low) / 2.0 * p.pan.degrees * float(look.speed)
            tilt *= abs(p.tilt.high - p.tilt.low) / 2.0 * p.tilt.degrees * float(look.speed)
            need = Need(look.pattern, pan, tilt, b.pan_speed, b.tilt_speed, (abs(sx), abs(sy)), look.speed)
        self.needs[k] = need
        return need


def advice(who: str, many: bool, need: Need, bpm: float) -> str | None:
    """ "heads: figure_eight at 174 BPM needs 610 deg/s of pan; these heads do 250 deg/s: scale 0.4 or
    speed 1/2", or None when the heads keep up."""
    over = need.over(bpm)
    if not over:
        return None
    axis, want, can = max(over, key=lambda o: o[1] / o[2])
    ratio = can / want
    ways = []
    scale = math.floor(need.scale[AXES.index(axis)] * ratio * 10) / 10
    if scale >= 0.1:
        ways.append(f"scale {scale:g}")
    slower = slower_speed(need.speed * Fraction(ratio).limit_denominator(1 << 20))
    if slower is not None:
        ways.append(f"speed {slower}")
    does = "these heads do" if many else "this head does"
    text = f"{who}: {need.pattern} at {bpm:g} BPM needs {want:.0f} deg/s of {axis}; {does} {can:g} deg/s"
    return text + (": " + " or ".join(ways) if ways else "")


def worst(check: SpeedCheck, looks, bpm: float) -> list[str]:
    """One warning per group (or ungrouped fixture) whose looks at `bpm` ask too much: `looks` is
    (fixture index, look) pairs; the member asking most speaks for its group."""
    by_who: dict = {}
    for i, look in looks:
        need = check.need(i, look)
        if need is None:
            continue
        over = need.over(bpm)
        if not over:
            continue
        f = check.show.fixtures[i]
        who = f.group or f.name
        score = max(w / c for _, w, c in over)
        if who not in by_who or score > by_who[who][0]:
            by_who[who] = (score, need, f.group is not None)
    return [advice(who, many, need, bpm) for who, (_, need, many) in by_who.items()]


def show_warnings(show: model.Show, check: SpeedCheck | None = None) -> list[str]:
    """Every warning at the show's tempo: its own looks, then each cue's looks (a cue's settings
    over the fixtures' own looks), each prefixed with the cue's name."""
    from .engine import LOOK_SETTINGS

    check = check or SpeedCheck(show)
    bpm = show.tempo.bpm
    index = {f.name: i for i, f in enumerate(show.fixtures)}
    out = worst(check, [(i, f.look) for i, f in enumerate(show.fixtures)], bpm)
    for cue in show.cues.values():
        looks = []
        for t in cue.targets:
            changes = {n: getattr(t, n) for n in LOOK_SETTINGS if getattr(t, n) is not None}
            for fname in t.fixtures:
                i = index[fname]
                looks.append((i, dataclasses.replace(show.fixtures[i].look, **changes)))
        out += [f"cue {cue.name!r}: {w}" for w in worst(check, looks, bpm)]
    return out
