"""Family `space`: closed trajectories that use all three axes.

Torus knots (p turns about the axis, q through the tube) and weaves of three coprime-frequency
lanes with distinct phases, each scaled so that its largest coordinate over the pips is the
common peak.
"""

import math

from ..curves import scaled_on_pips, torus_knot
from ..toolkit import pattern

N = 1024
TORI = ((2, 5), (2, 7), (3, 4), (3, 5), (3, 7), (4, 5), (4, 7), (5, 6))
WEAVES = ((1, 2, 3), (1, 3, 4), (2, 3, 4), (2, 3, 7), (2, 5, 7), (3, 4, 5), (3, 5, 7), (4, 5, 7))
TORUS = "A genuine XYZ closed torus-knot trajectory. The demo uses an oblique projection."
WEAVE = "Three coprime-frequency coordinate lanes with distinct phase offsets."


def weave(a, b, c):
    return lambda t: (math.sin(a * t), 0.8 * math.sin(b * t + 0.4), 0.7 * math.cos(c * t + 0.7))


def build(pack):
    return [
        pattern("space_torus_%d_%d" % (p, q), TORUS, scaled_on_pips(torus_knot(p, q, 2.9, 1.0, 2.1), N))
        for p, q in TORI
    ] + [pattern("space_weave_%d_%d_%d" % abc, WEAVE, scaled_on_pips(weave(*abc), N)) for abc in WEAVES]
