"""Family `packet`: compact oscillation packets with rests between them.

Each member plays n short packets of oscillation separated by rests. The variant sets how the
packets move: alternating sides, cascading down, crossing over, or into depth.
"""

import math
from fractions import Fraction

from ..rhythm import packet_window, smooth_window
from ..toolkit import PEAK, pattern

N = 512
SLOT_SHARE = Fraction(11, 16)  # share of a slot that the packet fills
CYCLES = 3
SIDE_PEAK = 0.276
DEPTH_PEAK = 0.35
SHRINK = 0.75
VARIANTS = ("alternating", "cascading", "crossing", "depth")
COUNTS = (2, 3, 4, 5)

DESCRIPTION = "Compact, smooth-edged oscillation packets arranged around a closed phrase, with shaped side motion."


def sweep(u):
    return -smooth_window(u) * math.sin(2.0 * math.pi * float(u))


def packet_rows(variant, n):
    """Unscaled rows."""
    rows = [[0.0, 0.0, 0.0] for _ in range(N)]
    slot = Fraction(N, n)
    for k in range(n):
        side = -1.0 if k % 2 else 1.0
        a = SHRINK**k if variant == "cascading" else 1.0
        for p, u in packet_window(N, slot * k, slot * SLOT_SHARE):
            h = smooth_window(u)
            rows[p][0] = side * a * h * math.sin(2.0 * math.pi * CYCLES * (float(u) - 0.5))
            rows[p][1] = side * sweep(u) if variant == "crossing" else side * a * h
            if variant == "depth":
                rows[p][2] = side * sweep(u)
    return rows


def scaled(rows):
    """Each axis scaled to its largest stored coordinate (an axis at rest stays 0)."""
    out = [list(r) for r in rows]
    for axis, target in enumerate((PEAK, SIDE_PEAK, DEPTH_PEAK)):
        m = max(abs(r[axis]) for r in rows)
        if m:
            s = target / m
            for r in out:
                r[axis] *= s
    return out


def build(pack):
    return [pattern("packet_%s_%d" % (v, n), DESCRIPTION, scaled(packet_rows(v, n))) for v in VARIANTS for n in COUNTS]
