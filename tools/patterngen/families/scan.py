"""Family `scan`: eased serpentine scans with an outer return.

Each member scans n rows in a serpentine of eased straight segments and returns round the
outside; the variant makes the rows flat, bowed, tilted or moving in depth.
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
            out.append(pattern("scan_%s_%d" % (variant, n), DESCRIPTION, path_scaled_on_half_pips(path, N)))
    return out
