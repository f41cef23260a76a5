"""Family `spiro`: closed roulettes of a circle rolling inside or outside another.

Each (R, r) pair gives an inside and an outside trace; the pen sits at its own distance from
the rolling centre, and the parameter runs until the trace closes.
"""

import math

from ..curves import TAU
from ..toolkit import pattern, scale_to

N = 1024
# (R, r, lambda), in catalogue order.
PAIRS = ((3, 1, 0.45), (4, 1, 0.60), (5, 2, 0.75), (5, 1, 0.55), (7, 2, 0.65), (7, 3, 0.70), (8, 3, 0.60), (9, 4, 0.80))
DESCRIPTION = "A closed {}-rolling circle trace, with pen radius smaller than the rolling radius."


def inside(R, r, d):
    def f(i):
        t = TAU * r * i / N
        return (
            (R - r) * math.cos(t) + d * math.cos((R - r) * t / r),
            (R - r) * math.sin(t) - d * math.sin((R - r) * t / r),
        )

    return f


def outside(R, r, d):
    def f(i):
        t = TAU * r * i / N
        return (
            (R + r) * math.cos(t) - d * math.cos((R + r) * t / r),
            (R + r) * math.sin(t) - d * math.sin((R + r) * t / r),
        )

    return f


def build(pack):
    out = []
    for R, r, lam in PAIRS:
        d = lam * r
        for kind, trace in (("inside", inside), ("outside", outside)):
            f = trace(R, r, d)
            out.append(
                pattern("spiro_%s_%d_%d" % (kind, R, r), DESCRIPTION.format(kind), scale_to([f(i) for i in range(N)]))
            )
    return out
