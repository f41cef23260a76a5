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
        self.reach: dict = {}  # (pattern, rotate) -> largest step along x and y
        self.needs: dict = {}  # (head, pattern, |scale x|, |scale y|, speed, rotate) -> Need
        # per fixture what its need depends on: its mapping and its speeds (None: no limit to check)
        # (fixtures alike share one number, so that a group's members are worked out once)
        kinds: dict = {}
        self.heads = [
            kinds.setdefault((f.patch.pan, f.patch.tilt, f.body.pan_speed, f.body.tilt_speed), len(kinds))
            if isinstance(f.patch, model.DmxPatch) and (f.body.pan_speed is not None or f.body.tilt_speed is not None)
            else None
            for f in show.fixtures
        ]
        self.head_data = list(kinds)

    def _reach(self, pattern: str, rotate: float) -> tuple[float, float]:
        """The largest pip-to-pip step of the pattern turned by `rotate` degrees, along x and y
        (scale multiplies these, mirror and reverse leave them as they are)."""
        key = (pattern, rotate)
        reach = self.reach.get(key)
        if reach is None:
            steps = self.steps.get(pattern)
            if steps is None:
                if self.periods is None:
                    self.periods = {row["name"]: row["period_pips"] for row in self.show.library.catalogue()}
                period = min(max(1, self.periods.get(pattern, 0)), MAX_PERIOD)
                pts = [self.sample(pattern, p).as_tuple() for p in range(period + 1)]
                steps = self.steps[pattern] = [(b[0] - a[0], b[1] - a[1]) for a, b in zip(pts, pts[1:])]
            a = math.radians(rotate)
            c, s = math.cos(a), math.sin(a)
            reach = self.reach[key] = (
                max((abs(dx * c - dy * s) for dx, dy in steps), default=0.0),
                max((abs(dx * s + dy * c) for dx, dy in steps), default=0.0),
            )
        return reach

    def need(self, index: int, look: model.Look) -> Need | None:
        """What `look` asks of fixture `index` (None: not a head with a speed limit)."""
        return self.need_of(index, look.pattern, look.scale, look.speed, look.rotate)

    def need_of(self, index: int, pattern: str, scale, ratio: Fraction, rotate: float) -> Need | None:
        head = self.heads[index]
        if head is None:
            return None
        k = (head, pattern, abs(scale[0]), abs(scale[1]), ratio, rotate)
        need = self.needs.get(k)
        if need is None:
            pan_map, tilt_map, pan_speed, tilt_speed = self.head_data[head]
            sx, sy = k[2], k[3]
            rx, ry = self._reach(pattern, rotate)
            # an offset of 1 is half the way from the mapping's -1 to its +1
            pan = sx * rx * abs(pan_map.high - pan_map.low) / 2.0 * pan_map.degrees * float(ratio)
            tilt = sy * ry * abs(tilt_map.high - tilt_map.low) / 2.0 * tilt_map.degrees * float(ratio)
            need = self.needs[k] = Need(pattern, pan, tilt, pan_speed, tilt_speed, (sx, sy), ratio)
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
    return worst_of(check, [(i, check.need(i, look)) for i, look in looks], bpm)


def worst_of(check: SpeedCheck, needs, bpm: float) -> list[str]:
    """As `worst`, from (fixture index, Need or None) pairs."""
    by_who: dict = {}
    for i, need in needs:
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
    check = check or SpeedCheck(show)
    bpm = show.tempo.bpm
    index = {f.name: i for i, f in enumerate(show.fixtures)}
    out = worst(check, [(i, f.look) for i, f in enumerate(show.fixtures)], bpm)
    for cue in show.cues.values():
        needs, seen = [], set()
        for t in cue.targets:
            for fname in t.fixtures:
                i = index[fname]
                f = show.fixtures[i]
                own = f.look
                alike = (check.heads[i], f.group, own.pattern, own.scale, own.speed, own.rotate)
                if check.heads[i] is None or alike in seen:
                    continue  # a member like one already seen asks as much
                seen.add(alike)
                needs.append(
                    (
                        i,
                        check.need_of(
                            i,
                            own.pattern if t.pattern is None else t.pattern,
                            own.scale if t.scale is None else t.scale,
                            own.speed if t.speed is None else t.speed,
                            own.rotate if t.rotate is None else t.rotate,
                        ),
                    )
                )
        out += [f"cue {cue.name!r}: {w}" for w in worst_of(check, needs, bpm)]
    return out
