"""Family `contour`: signed-power ovals with local ripples and an asymmetric bow.

contour_shaped_01 ... contour_shaped_16, 1024 pips; dimensions 2 for 01-08 and 3 for 09-16.

With theta = 2*pi*i/1024, c = cos theta, s = sin theta and pw(v, e) = sign(v)*|v|^e (the
signed power), a member is, before scaling,

    ripple  r = 1 + eps*cos(m*theta)*((1 + cos(theta - t0))/2)^2
    x = pw(c, p)*(1 - d*c)*r
    y = b*pw(s, q)*r + w*(1 - c)/2
    z = k*(s^2 - 0.625)                                  (k = 0 for 01-08)

The signed powers set the edges (p, q < 1 square the oval off, > 1 pinch it); the ripple of m
waves per turn is confined to the part of the loop around the angle t0; the factor 1 - d*c
makes the left end the fuller one, so the loop starts on the positive x axis short of the
0.82 peak; the bow w*(1 - c)/2, nothing at the start and w at the left end, bends the left side
and makes y unequal up and down; the depth bow brings the top and bottom of the loop forward
and the two ends back. The table is scaled to 0.82 over the 2048 half-pip samples; the
largest coordinate is the left end, x = -0.82. The parameters (p, q, m, eps, t0, d, b, w, k)
are in MEMBERS below; the stored rows start at (x, 0) and span:

    01  start x 0.743  y -0.486..0.651
    02  start x 0.743  y -0.463..0.625
    03  start x 0.708  y -0.515..0.628
    04  start x 0.732  y -0.409..0.554
    05  start x 0.709  y -0.454..0.581
    06  start x 0.743  y -0.493..0.677
    07  start x 0.749  y -0.439..0.575
    08  start x 0.737  y -0.471..0.640
    09  start x 0.701  y -0.459..0.594  z -0.144..0.087
    10  start x 0.708  y -0.429..0.575  z -0.140..0.084
    11  start x 0.725  y -0.499..0.653  z -0.155..0.093
    12  start x 0.767  y -0.447..0.609  z -0.150..0.090
    13  start x 0.755  y -0.480..0.618  z -0.156..0.093
    14  start x 0.714  y -0.447..0.629  z -0.146..0.087
    15  start x 0.704  y -0.443..0.569  z -0.150..0.090
    16  start x 0.706  y -0.470..0.639  z -0.141..0.084
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
        return (pw(c, p) * (1.0 - d * c) * r,
                b * pw(s, q) * r + w * (1.0 - c) / 2.0,
                k * (s * s - DEPTH_CENTRE))
    return at


def build(pack):
    return [pattern("contour_shaped_%02d" % j, DESCRIPTION, scaled_on_half_pips(shape(*m), N))
            for j, m in enumerate(MEMBERS, 1)]
