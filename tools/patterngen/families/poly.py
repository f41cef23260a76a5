"""Family `poly`: two pulse trains over one eight-beat boundary.

poly_<a>_<b> plays a evenly spaced onsets on the left lane against b on the right, at their
exact rational times; the shared downbeat carries an accent that completes the two lanes to one
total weight.
"""

from ..rhythm import Hann, beats, even_onsets, onset, render
from ..toolkit import pattern

N = 512
PULSE = Hann(beats("0.35"))  # 22.4 pips
# fmt: off
PAIRS = ((2, 5), (2, 7), (2, 9), (3, 5), (3, 7), (3, 8), (3, 10), (4, 5), (4, 7), (4, 9),
         (5, 6), (5, 7), (5, 8), (5, 9), (6, 7), (7, 8))
# fmt: on
LEFT = (-0.403, -0.169, 0.0)
RIGHT = (0.403, -0.169, 0.143)
DOWNBEAT = (0.0, -0.52, 0.22)
DESCRIPTION = "Two independent pulse trains share an eight-beat boundary. Each right-lane gesture includes depth."


def score(a, b):
    out = [onset(0, *DOWNBEAT)]
    out += [onset(t, *LEFT) for t in even_onsets(a, N)[1:]]
    out += [onset(t, *RIGHT) for t in even_onsets(b, N)[1:]]
    return out


def build(pack):
    return [pattern("poly_%d_%d" % (a, b), DESCRIPTION, render(N, score(a, b), PULSE)) for a, b in PAIRS]
