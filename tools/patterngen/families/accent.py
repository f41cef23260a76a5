"""Family `accent`: a two-accent motif walking over a four-bar pulse grid.

accent_walk_<a>_<k>; 1024 pips (four bars of 256), dimensions 3, the continuum pulse (rise
0.15 beat, fall 0.225 beat). Bar b (0 ... 3) holds a evenly spaced pulses at exact times
256*b + 256*j/a (j = 0 ... a-1). In bar b the accents fall on pulses (k*b) mod a (the lead)
and (k*b + 2) mod a (the partner), so the motif walks k pulses per bar; every other pulse
is plain.
- Plain pulse: x +0.116, y -0.06.
- Accent: |x| 0.256, y -0.09, z +0.1536. The sign varies with the bar: the lead accent
  leans right (+x) in bars 0 and 2 and left in bars 1 and 3, its partner the other way.
The closest pulses (256/13 = 19.7 pips apart) meet only in their faint tails, so the largest
stored coordinate is the accent's 0.256 at pip 0.
"""

from fractions import Fraction

from ..rhythm import CONTINUUM_PULSE, onset, render
from ..toolkit import pattern

N = 1024
BAR = 256
BARS = 4
PLAIN = (0.116, -0.06, 0.0)
ACCENT_X, ACCENT_Y, ACCENT_Z = 0.256, -0.09, 0.1536

MEMBERS = ((5, 1), (5, 2), (7, 1), (7, 2), (7, 3), (8, 1), (8, 3), (9, 1),
           (9, 2), (9, 4), (10, 3), (11, 2), (11, 3), (12, 5), (13, 3), (13, 5))

DESCRIPTION = ("A four-bar grid keeps its pulse spacing while a two-accent motif migrates "
               "between bars.")


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
    return [pattern("accent_walk_%d_%d" % (a, k), DESCRIPTION,
                    render(N, score(a, k), CONTINUUM_PULSE))
            for a, k in MEMBERS]
