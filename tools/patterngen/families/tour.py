"""Family `tour`: star-polygon vertex tours on a noncircular outline.

tour_<n>_<k> visits the n vertices of a mirror-symmetric oval k at a time, as a star polygon
does, in eased straight segments of alternating long and short durations, resting at every
vertex; the 3-D members alternate the depth of their visits.
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
    r = 0.683 + 0.137 * math.cos(2.0 * phi) - 0.0278 * math.sin(3.0 * phi) + 0.07 * math.sin(phi) * math.sin(5.0 * phi)
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
            out.append(pattern("tour_%d_%d" % (n, k), DESCRIPTION, path_scaled_on_half_pips(path, N)))
    return out
