"""Family `ladder`: four two-beat regions of changing subdivision density.

ladder_<a>_<b>_<c>_<d>; 512 pips, dimensions 3, the continuum pulse (rise 0.15 beat, fall
0.225 beat). Region r (0 ... 3) spans pips 128*r ... 128*(r+1) and is divided into its count
c_r of equal onsets at exact times 128*r + 128*j/c_r.
- The first onset of a region is its accent: 0.32 on the region's axis in region 0 (the
  phrase downbeat), 0.31 in regions 1 to 3.
- Inner onsets are lighter: half the region's accent, on the same axis and side.
Leans: the cycle LEANS = (-x, +x, +z, -y) is the one of ladder_2_3_4_6; member m (registry
position 0 ... 15) gives region r the lean LEANS[(r + m) mod 4], so the cycle turns one step
further with every member (member 1 starts on +x, member 2 on +z, member 3 on -y, member 4
again on -x). Every member thus uses all four leans and moves all three axes.
"""

from ..rhythm import CONTINUUM_PULSE, accented_group, even_onsets, render
from ..toolkit import pattern

N = 512
REGION = 128
FIRST_ACCENT = 0.32
ACCENT = 0.31
INNER = 0.5  # inner onsets: this share of the region's accent

# (axis, sign) of the four leans, in the order of ladder_2_3_4_6.
LEANS = ((0, -1.0), (0, 1.0), (2, 1.0), (1, -1.0))

MEMBERS = ((2, 3, 4, 6), (3, 5, 4, 2), (2, 5, 3, 7), (4, 3, 6, 5), (2, 4, 7, 3), (3, 6, 2, 5),
           (5, 3, 7, 4), (6, 4, 3, 2), (2, 7, 4, 5), (7, 3, 5, 2), (4, 7, 3, 6), (5, 2, 6, 3),
           (3, 4, 5, 7), (6, 5, 4, 3), (7, 5, 3, 4), (4, 6, 7, 5))

DESCRIPTION = "Four two-beat regions change subdivision density while accents mark region starts."


def lean(member, region):
    return LEANS[(region + member) % 4]


def weights(axis, value):
    w = [0.0, 0.0, 0.0]
    w[axis] = value
    return tuple(w)


def score(member, counts):
    onsets = []
    for r, c in enumerate(counts):
        axis, sign = lean(member, r)
        accent = sign * (FIRST_ACCENT if r == 0 else ACCENT)
        onsets.extend(accented_group(even_onsets(c, REGION, REGION * r),
                                     weights(axis, accent), weights(axis, INNER * accent)))
    return onsets


def build(pack):
    return [pattern("ladder_%d_%d_%d_%d" % counts, DESCRIPTION,
                    render(N, score(m, counts), CONTINUUM_PULSE))
            for m, counts in enumerate(MEMBERS)]
