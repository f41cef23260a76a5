"""Family `dialogue`: eighth-note groups passing a phrase between directions.

dialogue_<g1>_<g2>_...; three or four groups, each a length in eighth notes; N = 32 * (sum
of the groups) pips (288 ... 512), dimensions 3, the continuum pulse (rise 0.15 beat, fall
0.225 beat).
- Group g starts where the groups before it end and plays one gesture per eighth note
  (every 32 pips), all in its own direction DIRECTIONS[g]: group 1 left (-x), group 2 right
  (+x), group 3 up with depth (-y, z +0.45 of the accent), group 4 forward in depth (+z,
  with a lift of y -0.35 of the accent).
- The first gesture of a group is its accent, on the leading axis 0.32, 0.30, 0.31, 0.29
  for groups 1 to 4; the rest of the group carries 0.55 of it.
- One sixteenth (16 pips) before each later group start (groups 2 onwards), a light pickup
  answers: y +0.135, z -0.04.
The largest stored coordinate is group 1's accent, 0.32 at pip 0.
"""

from ..rhythm import CONTINUUM_PULSE, accented_group, even_onsets, onset, render
from ..toolkit import pattern

EIGHTH = 32
PICKUP_LEAD = 16
REST = 0.55
# Per group: the direction (unit on the leading axis) and the accent on that axis.
DIRECTIONS = ((-1.0, 0.0, 0.0), (1.0, 0.0, 0.0), (0.0, -1.0, 0.45), (0.0, -0.35, 1.0))
ACCENTS = (0.32, 0.30, 0.31, 0.29)
PICKUP = (0.0, 0.135, -0.04)

MEMBERS = ((3, 4, 5), (5, 3, 4), (3, 5, 2), (2, 5, 4), (4, 3, 2), (3, 2, 4, 5), (5, 2, 3, 4),
           (2, 3, 5, 3), (3, 4, 3, 5), (5, 4, 2, 3), (2, 4, 5, 2), (4, 5, 3, 2), (3, 5, 4, 3),
           (5, 3, 2, 5), (2, 5, 3, 5), (4, 3, 5, 4))

DESCRIPTION = ("Different eighth-note group lengths pass a phrase between directions, with late "
               "pickup responses.")


def score(groups):
    onsets, start = [], 0
    for g, length in enumerate(groups):
        lead = tuple(ACCENTS[g] * d for d in DIRECTIONS[g])
        rest = tuple(REST * w for w in lead)
        if g:
            onsets.append(onset(start - PICKUP_LEAD, *PICKUP))
        onsets.extend(accented_group(even_onsets(length, EIGHTH * length, start), lead, rest))
        start += EIGHTH * length
    return onsets


def build(pack):
    return [pattern("dialogue_" + "_".join(map(str, g)), DESCRIPTION,
                    render(EIGHTH * sum(g), score(g), CONTINUUM_PULSE))
            for g in MEMBERS]
