"""Family `braid`: a point rolling round a tube about a circular centreline.

The centreline makes a turns while the point rolls b times round an elliptical cross-section
whose depth swells twice per loop, so each (a, b) pair braids its own closed knot through
depth.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = "An offset tube centreline and a rolling cross-section with a second depth ripple."
# fmt: off
PAIRS = ((1, 2), (1, 3), (1, 4), (1, 5), (2, 3), (2, 5), (3, 4), (3, 5),
         (1, 6), (2, 7), (3, 7), (4, 5), (4, 7), (5, 6), (5, 7), (5, 8))
# fmt: on
SECTION = 0.32  # radial half-axis r of the cross-section
DEPTH = 0.40  # depth half-axis h
RIPPLE = 0.09  # e, each of the two neighbouring depth harmonics


def braid(a, b):
    sin, cos = math.sin, math.cos

    def f(t):
        ring = 1.0 + SECTION * cos(b * t)
        return (
            ring * cos(a * t),
            ring * sin(a * t),
            DEPTH * sin(b * t) + RIPPLE * (sin((b - 2) * t) + sin((b + 2) * t)),
        )

    return f


def build(pack):
    return [pattern("braid_%d_%d" % (a, b), DESCRIPTION, scaled_on_half_pips(braid(a, b), N)) for a, b in PAIRS]
