"""Family `euclid`: Euclidean accent distributions on an eighth-note grid.

euclid_<k>_<n> for the (k, n) below, in that order; dimensions 2. The steps are eighth notes
(32 pips) and the period is 32*n pips. Step i (0 <= i < n) carries an onset exactly when
(i*k) mod n < k, so step 0 always does (euclid_3_7 is x..x.x., euclid_7_12 x.x.x.xx.x.x).

Every onset adds a Hann pulse of half-width 24 pips (0.375 beat). The first onset is the
phrase accent, x +0.75, y -0.32; every later onset carries 0.75 of that, y -0.24 and x
+-0.5625, the sign alternating from onset to onset over the whole score (the accent counts as
the first +, so the second onset is -0.5625, the third +0.5625, ...).
"""

from ..rhythm import Hann, euclidean_steps, onset, render, signed_onsets
from ..toolkit import pattern

STEP = 32
PULSE = Hann(24)
PAIRS = ((2, 5), (3, 7), (3, 10), (4, 9), (4, 11), (5, 9), (5, 11), (5, 13), (5, 14),
         (6, 13), (7, 12), (7, 15), (7, 17), (8, 19), (9, 20), (11, 24))
DESCRIPTION = ("Evenly distributed accents with alternating sides; first onset is the phrase "
               "accent.")


def score(k, n):
    out = signed_onsets([STEP * i for i in euclidean_steps(k, n)], 0.5625, -0.24)
    out[0] = onset(0, 0.75, -0.32)
    return out


def build(pack):
    return [pattern("euclid_%d_%d" % (k, n), DESCRIPTION, render(STEP * n, score(k, n), PULSE))
            for k, n in PAIRS]
