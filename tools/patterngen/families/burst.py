"""Family `burst`: three unevenly subdivided directional bursts and a late settling accent.

burst_<a>_<b>_<c>; 512 pips, dimensions 3, the continuum pulse (rise 0.15 beat, fall 0.225
beat). Score, the same frame for every member:
- three bursts of one and a half beats (96 pips) starting at pips 0, 160 and 320, divided
  into a, b and c equal fast strokes at exact times start + 96*j/count, with one-beat gaps
  (pips 96-160, 256-320) between them;
- each burst is a decaying run in one direction, stroke j carrying 0.85**j of the lead:
  burst 1 leads right (x +0.30, y -0.06), burst 2 left (x -0.28, y -0.06), burst 3 lifts
  into depth (y -0.29, z +0.087);
- one late settling accent at pip 496 (a quarter beat before the loop restarts): y +0.24,
  z -0.072.
Strokes are at least 96/7 = 13.7 pips apart, so a stroke's rise never reaches the stroke
before it and the earlier stroke's tail adds at most 0.6 % of its weight: the largest stored
coordinate is burst 1's lead, 0.30 at pip 0.
"""

from ..rhythm import CONTINUUM_PULSE, decaying_run, even_onsets, onset, render
from ..toolkit import pattern

N = 512
SPAN = 96
STARTS = (0, 160, 320)
DECAY = 0.85
LEADS = ((0.30, -0.06, 0.0), (-0.28, -0.06, 0.0), (0.0, -0.29, 0.087))
SETTLE = (496, (0.0, 0.24, -0.072))

MEMBERS = ((3, 5, 2), (4, 3, 6), (5, 2, 4), (2, 7, 3), (3, 4, 5), (5, 3, 7), (6, 2, 5),
           (4, 7, 2), (7, 3, 4), (2, 5, 6), (5, 7, 3), (3, 6, 4), (4, 5, 7), (6, 3, 5),
           (7, 4, 3), (5, 6, 2))

DESCRIPTION = ("Three unevenly subdivided directional bursts, deliberate gaps and a late settling "
               "accent.")


def score(counts):
    onsets = []
    for count, start, lead in zip(counts, STARTS, LEADS):
        onsets.extend(decaying_run(even_onsets(count, SPAN, start), lead, DECAY))
    onsets.append(onset(SETTLE[0], *SETTLE[1]))
    return onsets


def build(pack):
    return [pattern("burst_%d_%d_%d" % c, DESCRIPTION, render(N, score(c), CONTINUUM_PULSE))
            for c in MEMBERS]
