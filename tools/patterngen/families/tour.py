"""Family `tour`: star-polygon vertex tours on a noncircular outline.

tour_<n>_<k>, 1024 pips, for (n, k) = (5,2) (7,2) (7,3) (8,3) (9,2) (9,4) (10,3) (11,2)
(dimensions 2) and (11,3) (11,4) (12,5) (13,2) (13,3) (13,4) (13,5) (14,3) (dimensions 3).

Outline. Vertex v of n sits at the angle phi = 2*pi*v/n of the oval

    P(phi) = R(phi) * (cos phi, 0.679 * sin phi),
    R(phi) = 0.683 + 0.137*cos 2phi - 0.0278*sin 3phi + 0.07*sin phi*sin 5phi.

Every term of R is unchanged under phi -> pi - phi, so the outline is its own left-right
mirror image (P(pi - phi) = (-x, y)); the sin 3phi term makes it fuller below the x axis
than above it, and the sin phi*sin 5phi term, which vanishes on the five vertices of the
pentagon, keeps the vertices near the vertical axis from pulling in. Vertex 0 is (0.82, 0);
over all sixteen members the vertex radii lie between 0.396 and 0.825 and no vertex
coordinate exceeds 0.82. In tour_5_2 the vertices in visit order are (0.82, 0),
(-0.565, 0.279), (0.172, -0.359), (0.182, 0.380), (-0.608, -0.300), each within 4.2e-4.

Tour. Visit j goes to vertex j*k mod n, starting at vertex 0, and the last visit returns to
it at the wrap. Segment j (from visit j to visit j + 1) takes weight 1.5, 1, 1, 1.5, 1, 1, ...
(long, short, short) of the period, exact fractions of 1024 pips (tour_5_2: 256, 170.67,
170.67, 256, 170.67). Each segment is a straight line with the quintic ease, so the point
rests at every vertex, at pip 0 included. The 3-D members give visit j >= 1 the depth
+0.19 for odd j and -0.19 for even j; visit 0 stays at depth 0.

The table is scaled to 0.82 over the 2048 half-pip samples; the largest coordinate is vertex
0's x = 0.82, so the factor is 1.
"""

import math

from ..curves import path_scaled_on_half_pips, tour_path
from ..toolkit import pattern

N = 1024
DESCRIPTION = "A noncircular vertex tour with eased corners and alternating dwell lengths."

FLAT = ((5, 2), (7, 2), (7, 3), (8, 3), (9, 2), (9, 4), (10, 3), (11, 2))
DEEP = ((11, 3), (11, 4), (12, 5), (13, 2), (13, 3), (13, 4), (13, 5), (14, 3))
SQUASH = 0.679
DEPTH = 0.19
WEIGHTS = (1.5, 1, 1)  # long, short, short, repeating


def outline(phi: float):
    r = (0.683 + 0.137 * math.cos(2.0 * phi) - 0.0278 * math.sin(3.0 * phi)
         + 0.07 * math.sin(phi) * math.sin(5.0 * phi))
    return (r * math.cos(phi), SQUASH * r * math.sin(phi))


def visits(n: int, k: int, deep: bool):
    """The vertices in visit order."""
    out = []
    for j in range(n):
        x, y = outline(2.0 * math.pi * (j * k % n) / n)
        if deep:
            out.append((x, y, 0.0 if j == 0 else (DEPTH if j % 2 else -DEPTH)))
        else:
            out.append((x, y))
    return out


def build(pack):
    out = []
    for pairs, deep in ((FLAT, False), (DEEP, True)):
        for n, k in pairs:
            weights = [WEIGHTS[j % 3] for j in range(n)]
            path = tour_path(visits(n, k, deep), weights, N)
            out.append(pattern("tour_%d_%d" % (n, k), DESCRIPTION,
                               path_scaled_on_half_pips(path, N)))
    return out
