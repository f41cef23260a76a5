"""Family `ribbon`: an elliptical spine whose radial width swells, with linked depth.

The spine turns a times about the centre while the width swells b times per loop; the depth
deflection runs with the width a quarter cycle behind it, so the ribbon passes mid-depth at its
widest and narrowest points. Each (a, b) pair comes as a `slim` and a `deep` ribbon.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import PEAK, pattern

N = 1024
DESCRIPTION = "A curved elliptical spine with variable radial width and linked depth deflection."
ELLIPSE = 0.72
# width -> radial width swing W.
SWING = {"slim": 0.16, "deep": 0.28}

# (a, b, stored depth amplitude D for slim, for deep), in catalogue order.
# fmt: off
PAIRS = ((1, 2, 0.12, 0.26), (1, 3, 0.11, 0.25), (1, 4, 0.10, 0.24), (1, 5, 0.09, 0.23),
         (2, 3, 0.08, 0.22), (2, 5, 0.07, 0.21), (3, 4, 0.06, 0.19), (3, 5, 0.065, 0.20))
# fmt: on


def ribbon(a, b, swing, depth):
    sin, cos = math.sin, math.cos

    def f(t):
        w = (1.0 + swing * cos(b * t)) / (1.0 + swing)
        return (w * cos(a * t), ELLIPSE * w * sin(a * t), depth / PEAK * sin(b * t))

    return f


def build(pack):
    out = []
    for a, b, slim, deep in PAIRS:
        for width, depth in (("slim", slim), ("deep", deep)):
            out.append(
                pattern(
                    "ribbon_%d_%d_%s" % (a, b, width),
                    DESCRIPTION,
                    scaled_on_half_pips(ribbon(a, b, SWING[width], depth), N),
                )
            )
    return out
