"""Family `braid`: a point rolling round a tube about a circular centreline.

`braid_<a>_<b>` for the sixteen (a, b) pairs below, in catalogue order; period 1024 pips,
dimensions 3. With theta = 2*pi*i/1024 the centreline (cos a*theta, sin a*theta) makes a
turns, and the point rolls b times round an elliptical cross-section of radial half-axis
r = 0.32 and depth half-axis h = 0.40, whose depth swells twice per loop by the ripple
(1 + (2e/h)*cos 2theta), e = 0.09:

    x = (1 + r*cos b*theta)*cos a*theta
    y = (1 + r*cos b*theta)*sin a*theta
    z = h*sin b*theta + e*(sin (b-2)*theta + sin (b+2)*theta)

so z holds the b-th harmonic and its two neighbours two apart (for `braid_1_2`, whose
b - 2 term vanishes: sin 2theta and sin 4theta only). The table is scaled by 0.82 /
(largest coordinate over the 2048 half-pip samples); that coordinate is x = 1.32 at pip 0,
so every member starts at (0.82, 0, 0).

Measured on the tables: the angle of (x, y) about the centre advances by a full turns; the
angle of (rho - mean rho, z), rho the distance from the axis, advances by b full turns (the
section's depth half-axis stays between 0.22 and 0.58 before scaling, so the roll never
stalls); z has sine terms at b - 2, b and b + 2 only.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = ("An offset tube centreline and a rolling cross-section with a second depth "
               "ripple.")
PAIRS = ((1, 2), (1, 3), (1, 4), (1, 5), (2, 3), (2, 5), (3, 4), (3, 5),
         (1, 6), (2, 7), (3, 7), (4, 5), (4, 7), (5, 6), (5, 7), (5, 8))
SECTION = 0.32   # radial half-axis r of the cross-section
DEPTH = 0.40     # depth half-axis h
RIPPLE = 0.09    # e, each of the two neighbouring depth harmonics


def braid(a, b):
    sin, cos = math.sin, math.cos

    def f(t):
        ring = 1.0 + SECTION * cos(b * t)
        return (ring * cos(a * t), ring * sin(a * t),
                DEPTH * sin(b * t) + RIPPLE * (sin((b - 2) * t) + sin((b + 2) * t)))
    return f


def build(pack):
    return [pattern("braid_%d_%d" % (a, b), DESCRIPTION, scaled_on_half_pips(braid(a, b), N))
            for a, b in PAIRS]
