"""Family `packet`: compact oscillation packets with rests between them.

packet_<variant>_<n> for variants alternating, cascading, crossing (dimensions 2) and depth
(dimensions 3), each with n = 2 ... 5; 512 pips.

Placement: packet k (0 ... n-1) fills the first 11/16 of its slot of 512/n pips, the
window from t_k = 512*k/n to t_k + L with L = 352/n (exact fractions); the remaining 5/16
of the slot is a rest at the origin. In packet_alternating_2 the packets span 176 pips and
the point is exactly still for 80 pips after each (rows 176 ... 256 and 432 ... 512 are 0).

Shape, with u = (pip - t_k) / L in (0, 1), the smooth window h(u) = sin(pi*u)**2 and the
packet's side s_k = (-1)**k:
- x: s_k * a_k * h(u) * sin(6*pi*(u - 1/2)), three cycles under the window, odd about the
  packet's middle;
- y, side motion: a lean s_k * a_k * h(u) peaking mid-packet, so successive packets lean to
  alternate sides; in `crossing` a sweep -s_k * h(u) * sin(2*pi*u) that crosses from one
  side to the other during the packet, successive packets crossing the other way;
- z, in `depth` only: a sweep -s_k * h(u) * sin(2*pi*u) through depth, beside the y lean;
- a_k = 0.75**k in `cascading` (each packet three quarters of the one before), else 1.
Each axis is then scaled over the table's pips: largest |x| exactly 0.82, largest |y|
exactly 0.276, largest |z| exactly 0.35.
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

DESCRIPTION = ("Compact, smooth-edged oscillation packets arranged around a closed phrase, "
               "with shaped side motion.")


def sweep(u):
    return -smooth_window(u) * math.sin(2.0 * math.pi * float(u))


def packet_rows(variant, n):
    """Unscaled rows."""
    rows = [[0.0, 0.0, 0.0] for _ in range(N)]
    slot = Fraction(N, n)
    for k in range(n):
        side = -1.0 if k % 2 else 1.0
        a = SHRINK ** k if variant == "cascading" else 1.0
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
    return [pattern("packet_%s_%d" % (v, n), DESCRIPTION, scaled(packet_rows(v, n)))
            for v in VARIANTS for n in COUNTS]
