"""Family `dwell`: held phrases.

dwell_phrase_01 ... dwell_phrase_16, 1024 pips, dimensions 3. A member is a quintic-eased
keyframe path (straight segments, resting at every keyframe) through four poses: home H,
first hold B, second hold C and transfer point T, written in units of e = 0.82/14 for
members 01-08 and e = 0.82/16 for members 09-16:

    01-08: H = e*(-13, 5, 0), B = e*(-6, -13, 4), C = e*(14, 2, -3), T = e*(1, 12, 7)
    09-16: H = e*(-13, 5, 0), B = e*(-6, -13, 4), C = e*(15, -6, -9), T = e*(3, 16, 10)

The period is divided into M equal steps of 1024/M pips (exact fractions). Keyframes, in
steps: H at 0; B at b1 and again at b2 (a hold); C at c1 and again at c2 (a hold); T at M - 3;
H at M - 1, held to the end of the period. The table is scaled to 0.82 over the 2048 half-pip
samples; the largest coordinate is a pose coordinate (14e or 16e = 0.82), so the factor is 1
to within rounding and the stored poses are the products above. In dwell_phrase_01 (M = 10)
the holds cover pips 103-204, 410-614 and 922-1023.
"""

from fractions import Fraction

from ..curves import keyframe_path, path_scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = ("Two unequal lift-and-hold gestures, a transfer and a settling return; holds have "
               "finite musical duration.")

HOME = (-13, 5, 0)
FIRST_HOLD = (-6, -13, 4)
# (unit divisor, second hold C, transfer point T) for members 01-08 and 09-16
POSES = ((14, (14, 2, -3), (1, 12, 7)),
         (16, (15, -6, -9), (3, 16, 10)))

# Step grid per member: (M; b1, b2; c1, c2)
GRIDS = (
    (10, 1, 2, 4, 6), (11, 2, 3, 4, 6), (12, 1, 3, 5, 6), (10, 2, 4, 5, 6),
    (12, 1, 4, 5, 7), (13, 3, 4, 6, 7), (12, 2, 5, 6, 8), (13, 3, 5, 7, 8),
    (13, 1, 2, 5, 7), (11, 2, 3, 6, 7), (13, 1, 4, 6, 8), (14, 3, 4, 5, 8),
    (12, 2, 4, 7, 8), (14, 3, 6, 7, 9), (15, 1, 3, 6, 9), (14, 2, 5, 8, 10),
)


def phrase(member: int):
    """The keyframe path of member 1..16 as a function of the pip time."""
    divisor, second, transfer = POSES[(member - 1) // 8]
    e = 0.82 / divisor
    h, b, c, t = ([e * v for v in pose] for pose in (HOME, FIRST_HOLD, second, transfer))
    m, b1, b2, c1, c2 = GRIDS[member - 1]
    step = Fraction(N, m)
    keys = [(0, h), (b1 * step, b), (b2 * step, b), (c1 * step, c), (c2 * step, c),
            ((m - 3) * step, t), ((m - 1) * step, h)]
    return keyframe_path(keys, N)


def build(pack):
    return [pattern("dwell_phrase_%02d" % j, DESCRIPTION, path_scaled_on_half_pips(phrase(j), N))
            for j in range(1, 17)]
