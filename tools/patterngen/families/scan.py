"""Family `scan`: eased serpentine scans with an outer return.

scan_<variant>_<n> for n = 3, 4, 5, 6 and, within each n, the variants flat, bowed, tilted
(dimensions 2) and depth (dimensions 3); 1024 pips.

Every member is a closed polygon of 2n + 3 vertices visited in turn, each segment lasting
1024/(2n + 3) pips (exact fractions) and traversed on a straight line with the quintic ease,
so the point rests at every vertex (at pip 0 on the start vertex).

flat: with a = 0.574, the start (-a, -a); n rows at y_j = -a + 2a*j/(n - 1), traversed
left-to-right for even j and right-to-left for odd j, joined by vertical steps at the row
ends (2n vertices in all, the row ends); then the outer return (0.804, 0.82), (-0.82, 0.82),
(-0.82, -0.779) and back to the start. The return is the same for every n, so for even n its
first segment runs from the top-left row end across to (0.804, 0.82).

The other variants move the 2n row-end vertices and keep the three outer-return corners:

- bowed: the rows bend sideways into a bow, furthest in the middle row, and tilt:
  with w = 1 - (y/a)^2 (1 on the middle row, 0 on the outer rows) a row end (x, y) moves to
  (x - 0.096 + 0.26*w, y + 0.13*x + 0.0055*w). Row 0 ends at (0.478, -0.499); for odd n the
  middle row runs from (0.738, 0.080) to (-0.410, -0.069).
- tilted: the scan area is sheared and turned: (x, y) -> (x + 0.153*y, y), then rotated by
  -0.163 rad about the origin; the start becomes (-0.746, -0.459).
- depth: the flat row ends, with depth +0.309 on even rows and -0.309 on odd rows, so the
  rows alternate in depth and each vertical step crosses from one depth to the other; the
  outer-return corners stay at depth 0.

The table is scaled to 0.82 over the 2048 half-pip samples; the return's top edge runs at
y = 0.82 (and its left edge at x = -0.82), so the factor is 1 and the vertices are stored as
written. scan_flat_3 rests at (-0.574, -0.574, 0) at pip 0 and reaches (0.574, -0.574, 0) at
1024/9 = 113.8 pips, pips 113 and 114 lying within 4e-6 of it.
"""

from ..curves import path_scaled_on_half_pips, rotated, tour_path
from ..toolkit import pattern

N = 1024
DESCRIPTION = "An eased serpentine scan and an explicit outer return to the starting point."

A = 0.574
OUTER_RETURN = ((0.804, 0.82), (-0.82, 0.82), (-0.82, -0.779))
ROWS = (3, 4, 5, 6)
VARIANTS = ("flat", "bowed", "tilted", "depth")
BOW, BOW_SHIFT, BOW_SHEAR, BOW_LIFT = 0.26, -0.096, 0.13, 0.0055
TILT_SHEAR, TILT_TURN = 0.153, -0.163
DEPTH = 0.309


def row_ends(n: int):
    """The 2n row-end vertices of the flat scan, in visit order, with their row number."""
    out = []
    for j in range(n):
        y = -A + 2.0 * A * j / (n - 1)
        ends = ((-A, y), (A, y)) if j % 2 == 0 else ((A, y), (-A, y))
        out.extend((x, y, j) for x, y in ends)
    return out


def moved(variant: str, x: float, y: float, row: int):
    if variant == "bowed":
        w = 1.0 - (y / A) ** 2
        return (x + BOW_SHIFT + BOW * w, y + BOW_SHEAR * x + BOW_LIFT * w)
    if variant == "tilted":
        return rotated(x + TILT_SHEAR * y, y, TILT_TURN)
    if variant == "depth":
        return (x, y, DEPTH if row % 2 == 0 else -DEPTH)
    return (x, y)


def vertices(variant: str, n: int):
    scan = [moved(variant, x, y, row) for x, y, row in row_ends(n)]
    pad = (0.0,) * (len(scan[0]) - 2)  # the return corners at depth 0
    return scan + [corner + pad for corner in OUTER_RETURN]


def build(pack):
    out = []
    for n in ROWS:
        for variant in VARIANTS:
            vs = vertices(variant, n)
            path = tour_path(vs, [1] * len(vs), N)
            out.append(pattern("scan_%s_%d" % (variant, n), DESCRIPTION,
                               path_scaled_on_half_pips(path, N)))
    return out
