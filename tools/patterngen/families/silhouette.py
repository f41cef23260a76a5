"""Family `silhouette`: three unequal harmonics with cross-axis phases and linked depth.

Each member sums three harmonics of unequal size, phased across the axes, with depth linked to
them, so the silhouette is irregular but closed.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = "Three unequal harmonic components, with cross-axis phases and a small linked depth term."

# (p, q, r, b, c) for members 01 ... 16.
# fmt: off
HARMONICS = ((1, 2, 3, 0.20, 0.16), (1, 3, 5, 0.35, 0.12), (2, 3, 4, 0.30, 0.18),
             (2, 5, 7, 0.23, 0.16), (1, 4, 7, 0.35, 0.21), (3, 4, 5, 0.28, 0.14),
             (2, 7, 9, 0.19, 0.12), (3, 5, 8, 0.30, 0.17), (1, 2, 5, 0.40, 0.22),
             (1, 5, 8, 0.27, 0.24), (2, 3, 7, 0.34, 0.20), (3, 7, 10, 0.26, 0.16),
             (2, 4, 9, 0.33, 0.23), (3, 4, 9, 0.29, 0.25), (4, 5, 7, 0.25, 0.21),
             (4, 7, 11, 0.21, 0.16))
# fmt: on


def silhouette(p, q, r, b, c):
    sin, cos = math.sin, math.cos

    def f(t):
        return (
            cos(p * t) + b * sin(q * t + 0.3) + c * cos(r * t),
            0.65 * sin(p * t + 0.2) + c * sin(q * t) - b * cos(r * t + 0.1),
            0.06 * (cos((p + q - 1) * t) - cos((p + q + 1) * t)),
        )

    return f


def build(pack):
    return [
        pattern("silhouette_harmonic_%02d" % j, DESCRIPTION, scaled_on_half_pips(silhouette(*h), N))
        for j, h in enumerate(HARMONICS, start=1)
    ]
