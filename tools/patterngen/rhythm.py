"""Rhythm on the pip grid: onsets at exact rational pip times (Fraction) carrying per-axis
weights, the pulses an onset adds around its time, and the rendering of a score into rows.

A pulse is evaluated at every integer pip within its reach of the onset, with the distance
d = pip - onset taken cyclically over the period, so onsets near the end of the period reach
into its start. Overlapping pulses add, in score order. Where no pulse reaches, the value is
exactly 0.0: the point rests at the origin.

Two pulse kinds, both with their peak of 1 at the onset:
  Hann(W): the symmetric bump (1 + cos(pi*d/W))/2 for |d| <= W;
  RaisedCosine(A, R): half a raised cosine rising over A pips before the onset,
    (1 + cos(pi*(-d)/A))/2 for -A <= d <= 0, and another falling over R pips after it,
    (1 + cos(pi*d/R))/2 for 0 < d <= R.
"""

import math
from dataclasses import dataclass
from fractions import Fraction
from typing import Iterable, List, Optional, Sequence, Tuple

PIPS_PER_BEAT = 64

Weights = Tuple[float, float, float]


def beats(value) -> Fraction:
    """A duration in beats (number, Fraction or decimal string such as "0.15") in pips."""
    return Fraction(value) * PIPS_PER_BEAT


@dataclass(frozen=True)
class Hann:
    """Symmetric Hann bump of half-width W pips."""

    half_width: Fraction

    @property
    def attack(self) -> Fraction:
        return Fraction(self.half_width)

    @property
    def release(self) -> Fraction:
        return Fraction(self.half_width)

    def __call__(self, d: Fraction) -> float:
        w = self.half_width
        if abs(d) > w:
            return 0.0
        return (1.0 + math.cos(math.pi * float(d) / float(w))) / 2.0


@dataclass(frozen=True)
class RaisedCosine:
    """Asymmetric pulse: attack A pips before the peak, release R pips after it."""

    attack: Fraction
    release: Fraction

    def __call__(self, d: Fraction) -> float:
        if -self.attack <= d <= 0:
            return (1.0 + math.cos(math.pi * float(-d) / float(self.attack))) / 2.0
        if 0 < d <= self.release:
            return (1.0 + math.cos(math.pi * float(d) / float(self.release))) / 2.0
        return 0.0


@dataclass(frozen=True)
class Onset:
    """One score event: its exact pip time, its weight on x, y and z, and optionally a pulse
    of its own (otherwise the score's pulse)."""

    time: Fraction
    weights: Weights
    pulse: Optional[object] = None


def onset(time, x: float = 0.0, y: float = 0.0, z: float = 0.0, pulse=None) -> Onset:
    return Onset(Fraction(time), (x, y, z), pulse)


def cyclic_offsets(time: Fraction, n: int, attack: Fraction, release: Fraction):
    """(pip, d) for every pip of the period within [time - attack, time + release] taken
    cyclically, d = the exact signed distance pip - time on that window."""
    first = math.ceil(time - attack)
    last = math.floor(time + release)
    if last - first + 1 > n:
        raise ValueError("a pulse reaches further than one period")
    for p in range(first, last + 1):
        yield p % n, Fraction(p) - time


def pulse_lane(n: int, events: Iterable[Tuple[object, float]], pulse) -> List[float]:
    """One lane: the sum of w * pulse(d) over the (time, w) events at each of the n pips. The
    pulse values come from pulse_profile (the pulse must be hashable), so the many events of a
    score that share an onset fraction evaluate the pulse once."""
    lane = [0.0] * n
    for time, w in events:
        first, values = pulse_profile(pulse, time)
        if len(values) > n:
            raise ValueError("a pulse reaches further than one period")
        for j, e in enumerate(values):
            lane[(first + j) % n] += w * e
    return lane


def render(n: int, onsets: Sequence[Onset], pulse=None) -> List[Weights]:
    """Rows of a score: at each pip, per axis, the sum of weight * pulse(d) over the onsets
    that reach it, each onset with its own pulse or else the score's pulse."""
    rows = [[0.0, 0.0, 0.0] for _ in range(n)]
    for o in onsets:
        kind = o.pulse if o.pulse is not None else pulse
        if kind is None:
            raise ValueError("an onset without a pulse in a score without one")
        for p, d in cyclic_offsets(o.time, n, kind.attack, kind.release):
            e = kind(d)
            row = rows[p]
            for axis in range(3):
                if o.weights[axis]:
                    row[axis] += o.weights[axis] * e
    return [tuple(r) for r in rows]


def alternating(count: int, first: int = 1) -> List[int]:
    """Signs of count successive events alternating from first: + - + - ... for first = 1
    (a "±" weight), - + - + ... for first = -1 (a "∓" weight)."""
    return [first if k % 2 == 0 else -first for k in range(count)]


def euclidean_steps(k: int, n: int) -> List[int]:
    """Steps i of n carrying an onset: those with (i*k) mod n < k (step 0 always does)."""
    return [i for i in range(n) if (i * k) % n < k]


def even_onsets(count: int, span, start=0) -> List[Fraction]:
    """count onsets evenly spaced over span pips from start: start + j*span/count, exact."""
    return [Fraction(start) + Fraction(span) * j / count for j in range(count)]


def cyclic_distance(a, b, n: int) -> Fraction:
    """Shortest distance between two times on a cycle of n pips."""
    d = (Fraction(a) - Fraction(b)) % n
    return min(d, n - d)


# Continuum studies: their standard gesture and the shorter one of the quick repeats.
CONTINUUM_PULSE = RaisedCosine(beats("0.15"), beats("0.225"))  # rise 9.6, fall 14.4 pips
SHORT_PULSE = RaisedCosine(beats("0.15"), beats("0.10"))  # rise 9.6, fall 6.4 pips


def accented_group(times: Sequence, lead: Weights, rest: Weights, pulse=None) -> List[Onset]:
    """A group of onsets: the first time carries the lead weights, every later time the rest
    weights, all with the given pulse (None: the score's)."""
    return [Onset(Fraction(t), lead if j == 0 else rest, pulse) for j, t in enumerate(times)]


def decaying_run(
    times: Sequence,
    lead: Weights,
    decay: float,
    alternate: Tuple[bool, bool, bool] = (False, False, False),
    pulse=None,
    lead_pulse=None,
) -> List[Onset]:
    """A run of gestures fading by a constant factor: onset j carries lead * decay**j on each
    axis, with its sign flipped on every odd j on the axes marked in alternate. The first
    onset takes lead_pulse (when given), the later ones pulse."""
    out = []
    for j, t in enumerate(times):
        scale = decay**j
        w = tuple(v * scale * (-1.0 if flip and j % 2 else 1.0) for v, flip in zip(lead, alternate))
        kind = lead_pulse if j == 0 and lead_pulse is not None else pulse
        out.append(Onset(Fraction(t), w, kind))
    return out


def packet_window(n: int, start, length):
    """(pip, u) for every integer pip strictly inside the window from start to start + length
    (exact times, taken cyclically over n pips), u = (pip - start) / length in (0, 1)."""
    start, length = Fraction(start), Fraction(length)
    if length >= n:
        raise ValueError("a packet window longer than the period")
    first = math.floor(start) + 1
    last = math.ceil(start + length) - 1
    for p in range(first, last + 1):
        yield p % n, (Fraction(p) - start) / length


def smooth_window(u) -> float:
    """The packet envelope sin(pi*u)**2 on 0 <= u <= 1: zero with zero slope at both edges."""
    s = math.sin(math.pi * float(u))
    return s * s


def signed_onsets(
    times: Sequence[object], x: float, y: float = 0.0, z: float = 0.0, first: int = 1, pulse=None
) -> List[Onset]:
    """Onsets at the given times whose x weight alternates in sign from event to event
    (first = 1: +x, -x, +x, ... for a "±x" weight; first = -1 for "∓x"); y and z are the
    same for every event."""
    return [onset(t, s * x, y, z, pulse) for t, s in zip(times, alternating(len(times), first))]


def sticking_onsets(
    sticking: str, times: Sequence[object], accent: Tuple[float, float], plain: Tuple[float, float], pulse=None
) -> List[Onset]:
    """One onset per stroke of a sticking such as "RlrrLrll": R strokes move +x, L strokes -x;
    capitals (accented strokes) carry accent = (|x|, y), the others plain = (|x|, y)."""
    if len(sticking) != len(times):
        raise ValueError("one time per stroke")
    out = []
    for hand, t in zip(sticking, times):
        if hand.upper() not in "RL":
            raise ValueError("a sticking holds only R and L strokes")
        ax, ay = accent if hand.isupper() else plain
        out.append(onset(t, ax if hand.upper() == "R" else -ax, ay, 0.0, pulse))
    return out


def swap_hands(sticking: str) -> str:
    """The same sticking with the hands swapped (R <-> L), accents kept."""
    return sticking.translate(str.maketrans("RLrl", "LRlr"))


def group_starts(groups: Sequence[int], step, start=0) -> Tuple[List[Fraction], List[Fraction]]:
    """Consecutive groups of the given lengths in steps of step pips from start: the start time
    of every group, and the times of the other steps inside the groups (in time order)."""
    starts, inner = [], []
    t = Fraction(start)
    for g in groups:
        starts.append(t)
        inner.extend(t + Fraction(step) * j for j in range(1, g))
        t += Fraction(step) * g
    return starts, inner


# --- cached pulse profiles, fast lanes and the rhythm-weighted clock ----------------------------

_PROFILES = {}


def pulse_profile(pulse, time):
    """(first, values): pulse(p - time) at the pips p = first, first + 1, ... that the pulse
    reaches from an onset at time (not folded into a period). The values depend only on the
    pulse and the fractional part of time, so they are computed once per (pulse, fraction),
    with the same exact Fraction distances as cyclic_offsets; the pulse must be hashable."""
    time = Fraction(time)
    base = math.floor(time)
    frac = time - base
    key = (pulse, frac)
    profile = _PROFILES.get(key)
    if profile is None:
        first = math.ceil(frac - pulse.attack)
        last = math.floor(frac + pulse.release)
        profile = (first, tuple(pulse(Fraction(p) - frac) for p in range(first, last + 1)))
        _PROFILES[key] = profile
    return base + profile[0], profile[1]


def weighted_clock(density: Sequence[float]) -> List[float]:
    """Rhythm-weighted clock angle at each pip p: 2*pi*(sum of density[q] for q < p) / (sum of
    the whole density), the sums taken in pip order. 0 at pip 0, one turn per period, faster
    where the density is higher; the density must be positive."""
    total = 0.0
    before = []
    for d in density:
        before.append(total)
        total += d
    return [2.0 * math.pi * c / total for c in before]
