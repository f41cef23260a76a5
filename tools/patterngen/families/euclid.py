"""Family `euclid`: Euclidean accent distributions on an eighth-note grid.

euclid_<k>_<n> spreads k onsets as evenly as possible over n eighth-note steps, step 0 always
carrying one; the period is the n steps.
"""

from ..rhythm import Hann, euclidean_steps, onset, render, signed_onsets
from ..toolkit import pattern

STEP = 32
PULSE = Hann(24)
# fmt: off
PAIRS = ((2, 5), (3, 7), (3, 10), (4, 9), (4, 11), (5, 9), (5, 11), (5, 13), (5, 14),
         (6, 13), (7, 12), (7, 15), (7, 17), (8, 19), (9, 20), (11, 24))
# fmt: on
DESCRIPTION = "Evenly distributed accents with alternating sides; first onset is the phrase accent."


def score(k, n):
    out = signed_onsets([STEP * i for i in euclidean_steps(k, n)], 0.5625, -0.24)
    out[0] = onset(0, 0.75, -0.32)
    return out


def build(pack):
    return [pattern("euclid_%d_%d" % (k, n), DESCRIPTION, render(STEP * n, score(k, n), PULSE)) for k, n in PAIRS]
