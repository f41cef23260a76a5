"""Family `seq`: programmed position sequences.

Each member is an eased keyframe path through the steps of its shape, resting at each; every
shape comes with even timing and with a lilt.
"""

import math
from fractions import Fraction

from ..curves import eased_path
from ..toolkit import pattern

N = 512
STEP = 0.1025  # 0.82 / 8: m = +-8 reaches the usual 0.82 reach

SHAPES = (
    ("up_down", (-8, -3, 2, 8, 4, -1)),
    ("pendulum", (0, 8, 0, -8, 0, 4, 0, -4)),
    ("octave", (0, 8, 2, 6.5, -2, -8, -4, -6.5)),
    ("unequal", (0, 6, -2, 8, -7, 1)),
    ("question", (-6, -2, 3, 8, 6, 2)),
    ("answer", (6, 1, -8, -5, -1, 3)),
    ("ratchet", (0, 3, 0, 6, 0, 8, 0, -3)),
    ("stairs", (-8, -4, 0, 4, 8, 8, 0, -8)),
)
TIMINGS = ("even", "lilt")


def keyframe_times(k: int, timing: str):
    """Start pip (exact Fraction) of each of the k keyframes."""
    if timing == "even":
        return [Fraction(N * j, k) for j in range(k)]
    unit = Fraction(N, 3 * k // 2)  # k/2 long (2 units) + k/2 short (1 unit) segments
    times, t = [], Fraction(0)
    for j in range(k):
        times.append(t)
        t += 2 * unit if j % 2 == 0 else unit
    return times


def keyframes(ms):
    k = len(ms)
    return [(STEP * m, 0.287 * math.sin(2.0 * math.pi * j / k)) for j, m in enumerate(ms)]


def build(pack):
    out = []
    for shape, ms in SHAPES:
        for timing in TIMINGS:
            keys = list(zip(keyframe_times(len(ms), timing), keyframes(ms)))
            out.append(
                pattern(
                    "seq_%s_%s" % (shape, timing),
                    "A programmed position sequence with %s segment durations and softened transitions." % timing,
                    eased_path(keys, N),
                )
            )
    return out
