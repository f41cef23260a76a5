"""Family `ladder`: four two-beat regions of changing subdivision density.

Each region divides its two beats into its own number of equal onsets, the first an accent and
the rest lighter, all leaning one way; the lean cycle turns one step further with every member,
so each member moves all three axes.
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

# fmt: off
MEMBERS = ((2, 3, 4, 6), (3, 5, 4, 2), (2, 5, 3, 7), (4, 3, 6, 5), (2, 4, 7, 3), (3, 6, 2, 5),
           (5, 3, 7, 4), (6, 4, 3, 2), (2, 7, 4, 5), (7, 3, 5, 2), (4, 7, 3, 6), (5, 2, 6, 3),
           (3, 4, 5, 7), (6, 5, 4, 3), (7, 5, 3, 4), (4, 6, 7, 5))
# fmt: on

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
        onsets.extend(
            accented_group(even_onsets(c, REGION, REGION * r), weights(axis, accent), weights(axis, INNER * accent))
        )
    return onsets


def build(pack):
    return [
        pattern("ladder_%d_%d_%d_%d" % counts, DESCRIPTION, render(N, score(m, counts), CONTINUUM_PULSE))
        for m, counts in enumerate(MEMBERS)
    ]
