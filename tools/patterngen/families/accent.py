"""Family `accent`: a two-accent motif walking over a four-bar pulse grid.

Each bar holds evenly spaced plain pulses; two of them, the lead and its partner, are accented
and lean to opposite sides, and the motif walks a fixed number of pulses further every bar, so
the accent pattern travels round the grid and returns at the loop.
"""

from fractions import Fraction

from ..rhythm import CONTINUUM_PULSE, onset, render
from ..toolkit import pattern

N = 1024
BAR = 256
BARS = 4
PLAIN = (0.116, -0.06, 0.0)
ACCENT_X, ACCENT_Y, ACCENT_Z = 0.256, -0.09, 0.1536

# fmt: off
MEMBERS = ((5, 1), (5, 2), (7, 1), (7, 2), (7, 3), (8, 1), (8, 3), (9, 1),
           (9, 2), (9, 4), (10, 3), (11, 2), (11, 3), (12, 5), (13, 3), (13, 5))
# fmt: on

DESCRIPTION = "A four-bar grid keeps its pulse spacing while a two-accent motif migrates between bars."


def accents(a, k, b):
    """(lead, partner) pulse indices of bar b."""
    return (k * b) % a, (k * b + 2) % a


def score(a, k):
    onsets = []
    for b in range(BARS):
        lead, partner = accents(a, k, b)
        side = 1.0 if b % 2 == 0 else -1.0
        for j in range(a):
            t = BAR * b + Fraction(BAR * j, a)
            if j == lead:
                onsets.append(onset(t, side * ACCENT_X, ACCENT_Y, ACCENT_Z))
            elif j == partner:
                onsets.append(onset(t, -side * ACCENT_X, ACCENT_Y, ACCENT_Z))
            else:
                onsets.append(onset(t, *PLAIN))
    return onsets


def build(pack):
    return [
        pattern("accent_walk_%d_%d" % (a, k), DESCRIPTION, render(N, score(a, k), CONTINUUM_PULSE)) for a, k in MEMBERS
    ]
