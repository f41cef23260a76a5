"""Family `dwell`: held phrases.

A member is an eased keyframe path through four poses (home, two holds and a transfer point),
timed so that the point holds its poses for long stretches and moves briskly between them.
"""

from fractions import Fraction

from ..curves import keyframe_path, path_scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = (
    "Two unequal lift-and-hold gestures, a transfer and a settling return; holds have finite musical duration."
)

HOME = (-13, 5, 0)
FIRST_HOLD = (-6, -13, 4)
# (unit divisor, second hold C, transfer point T) for members 01-08 and 09-16
POSES = ((14, (14, 2, -3), (1, 12, 7)), (16, (15, -6, -9), (3, 16, 10)))

# Step grid per member: (M; b1, b2; c1, c2)
# fmt: off
GRIDS = (
    (10, 1, 2, 4, 6), (11, 2, 3, 4, 6), (12, 1, 3, 5, 6), (10, 2, 4, 5, 6),
    (12, 1, 4, 5, 7), (13, 3, 4, 6, 7), (12, 2, 5, 6, 8), (13, 3, 5, 7, 8),
    (13, 1, 2, 5, 7), (11, 2, 3, 6, 7), (13, 1, 4, 6, 8), (14, 3, 4, 5, 8),
    (12, 2, 4, 7, 8), (14, 3, 6, 7, 9), (15, 1, 3, 6, 9), (14, 2, 5, 8, 10),
)
# fmt: on


def phrase(member: int):
    """The keyframe path of member 1..16 as a function of the pip time."""
    divisor, second, transfer = POSES[(member - 1) // 8]
    e = 0.82 / divisor
    h, b, c, t = ([e * v for v in pose] for pose in (HOME, FIRST_HOLD, second, transfer))
    m, b1, b2, c1, c2 = GRIDS[member - 1]
    step = Fraction(N, m)
    keys = [
        (0, h),
        (b1 * step, b),
        (b2 * step, b),
        (c1 * step, c),
        (c2 * step, c),
        ((m - 3) * step, t),
        ((m - 1) * step, h),
    ]
    return keyframe_path(keys, N)


def build(pack):
    return [pattern("dwell_phrase_%02d" % j, DESCRIPTION, path_scaled_on_half_pips(phrase(j), N)) for j in range(1, 17)]
