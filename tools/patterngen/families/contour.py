"""Family `contour`: signed-power ovals with local ripples and an asymmetric bow.

Signed powers of cosine and sine square off or pinch the oval's edges, a ripple is confined to
one part of the loop, one end is made fuller than the other, and a bow bends one side; the 3-D
members add a depth bow that brings the top and bottom forward. MEMBERS holds the shape
parameters; the table is scaled over the half-pip samples.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = "Signed-power oval edges with local ripples and an asymmetric bow."
DEPTH_CENTRE = 0.625


def pw(v: float, e: float) -> float:
    return math.copysign(abs(v) ** e, v)


# (p, q, m, eps, t0, d, b, w, k)
MEMBERS = (
    (0.8, 0.9, 7, 0.05, 2.2, 0.06, 0.70, 0.18, 0.0),
    (1.2, 0.7, 5, 0.06, 3.6, 0.075, 0.66, 0.22, 0.0),
    (0.6, 1.1, 9, 0.04, 1.8, 0.08, 0.74, 0.14, 0.0),
    (1.0, 0.8, 6, 0.07, 4.2, 0.04, 0.62, 0.20, 0.0),
    (0.7, 0.6, 8, 0.05, 2.8, 0.05, 0.68, 0.16, 0.0),
    (1.4, 1.0, 5, 0.05, 3.1, 0.075, 0.72, 0.24, 0.0),
    (0.9, 1.3, 7, 0.06, 4.8, 0.06, 0.64, 0.18, 0.0),
    (0.65, 0.85, 11, 0.035, 2.5, 0.05, 0.70, 0.20, 0.0),
    (0.8, 0.9, 6, 0.05, 2.4, 0.06, 0.70, 0.18, 0.31),
    (1.1, 0.75, 8, 0.05, 3.4, 0.05, 0.66, 0.20, 0.30),
    (0.6, 1.0, 7, 0.06, 1.9, 0.07, 0.72, 0.16, 0.32),
    (1.0, 0.65, 9, 0.04, 4.0, 0.04, 0.64, 0.22, 0.30),
    (0.75, 1.2, 5, 0.07, 2.9, 0.06, 0.68, 0.18, 0.31),
    (1.3, 0.9, 10, 0.04, 3.3, 0.05, 0.70, 0.24, 0.31),
    (0.7, 0.7, 6, 0.06, 4.5, 0.07, 0.66, 0.18, 0.32),
    (0.9, 1.1, 8, 0.05, 2.2, 0.06, 0.72, 0.20, 0.30),
)


def shape(p, q, m, eps, t0, d, b, w, k):
    def at(t):
        c, s = math.cos(t), math.sin(t)
        r = 1.0 + eps * math.cos(m * t) * ((1.0 + math.cos(t - t0)) / 2.0) ** 2
        return (pw(c, p) * (1.0 - d * c) * r, b * pw(s, q) * r + w * (1.0 - c) / 2.0, k * (s * s - DEPTH_CENTRE))

    return at


def build(pack):
    return [
        pattern("contour_shaped_%02d" % j, DESCRIPTION, scaled_on_half_pips(shape(*m), N))
        for j, m in enumerate(MEMBERS, 1)
    ]
