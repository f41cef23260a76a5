"""Family `ribbon`: an elliptical spine whose radial width swells, with linked depth.

`ribbon_<a>_<b>_<width>` for (a, b) = (1,2) (1,3) (1,4) (1,5) (2,3) (2,5) (3,4) (3,5), each
pair with width `slim` then `deep`; period 1024 pips, dimensions 3. With theta =
2*pi*i/1024, the stored depth amplitude D of the table below and the radial width w:

    w(theta) = (1 + W*cos b*theta) / (1 + W)
    x = w*cos a*theta,   y = E*w*sin a*theta,   z = (D / 0.82)*sin b*theta

with the spine's aspect E = 0.72 and the width swing W = 0.16 (slim) or 0.28 (deep). The
spine (cos a*theta, E*sin a*theta) turns a times about the centre and the width swells b
times per loop; the depth deflection runs with the width, a quarter cycle behind it, so the
ribbon passes mid-depth at its widest and narrowest points. The table is scaled by 0.82 /
(largest coordinate over the 2048 half-pip samples); that coordinate is x = 1 at pip 0, so
the factor is 0.82 and the stored depth peaks at D (sin b*theta reaches 1 on a pip for every
b here).

Measured on the tables: x is even and y odd in theta, row 0 is (0.82, 0, 0), the angle of
(x, y) about the centre advances by a full turns, w has b maxima per loop, and the largest
|z| is 0.06 ... 0.12 over the `slim` members and 0.19 ... 0.26 over the `deep` ones.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import PEAK, pattern

N = 1024
DESCRIPTION = ("A curved elliptical spine with variable radial width and linked depth "
               "deflection.")
ELLIPSE = 0.72
# width -> radial width swing W.
SWING = {"slim": 0.16, "deep": 0.28}

# (a, b, stored depth amplitude D for slim, for deep), in catalogue order.
PAIRS = ((1, 2, 0.12, 0.26), (1, 3, 0.11, 0.25), (1, 4, 0.10, 0.24), (1, 5, 0.09, 0.23),
         (2, 3, 0.08, 0.22), (2, 5, 0.07, 0.21), (3, 4, 0.06, 0.19), (3, 5, 0.065, 0.20))


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
            out.append(pattern("ribbon_%d_%d_%s" % (a, b, width), DESCRIPTION,
                               scaled_on_half_pips(ribbon(a, b, SWING[width], depth), N)))
    return out
