"""Family `burst`: three unevenly subdivided directional bursts and a late settling accent.

Every member plays the same frame: three bursts of fast decaying strokes, each in its own
direction (right, left, up into depth) and divided into its own number of strokes, separated by
gaps, then one late accent that settles the motion just before the loop restarts.
"""

from ..rhythm import CONTINUUM_PULSE, decaying_run, even_onsets, onset, render
from ..toolkit import pattern

N = 512
SPAN = 96
STARTS = (0, 160, 320)
DECAY = 0.85
LEADS = ((0.30, -0.06, 0.0), (-0.28, -0.06, 0.0), (0.0, -0.29, 0.087))
SETTLE = (496, (0.0, 0.24, -0.072))

# fmt: off
MEMBERS = ((3, 5, 2), (4, 3, 6), (5, 2, 4), (2, 7, 3), (3, 4, 5), (5, 3, 7), (6, 2, 5),
           (4, 7, 2), (7, 3, 4), (2, 5, 6), (5, 7, 3), (3, 6, 4), (4, 5, 7), (6, 3, 5),
           (7, 4, 3), (5, 6, 2))
# fmt: on

DESCRIPTION = "Three unevenly subdivided directional bursts, deliberate gaps and a late settling accent."


def score(counts):
    onsets = []
    for count, start, lead in zip(counts, STARTS, LEADS):
        onsets.extend(decaying_run(even_onsets(count, SPAN, start), lead, DECAY))
    onsets.append(onset(SETTLE[0], *SETTLE[1]))
    return onsets


def build(pack):
    return [pattern("burst_%d_%d_%d" % c, DESCRIPTION, render(N, score(c), CONTINUUM_PULSE)) for c in MEMBERS]
