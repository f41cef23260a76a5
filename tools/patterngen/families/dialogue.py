"""Family `dialogue`: eighth-note groups passing a phrase between directions.

A member is three or four groups of eighth-note gestures, each group in its own direction and
led by an accent, with a light pickup answering just before each later group. The group lengths
make the name and the period.
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

# fmt: off
MEMBERS = ((3, 4, 5), (5, 3, 4), (3, 5, 2), (2, 5, 4), (4, 3, 2), (3, 2, 4, 5), (5, 2, 3, 4),
           (2, 3, 5, 3), (3, 4, 3, 5), (5, 4, 2, 3), (2, 4, 5, 2), (4, 5, 3, 2), (3, 5, 4, 3),
           (5, 3, 2, 5), (2, 5, 3, 5), (4, 3, 5, 4))
# fmt: on

DESCRIPTION = "Different eighth-note group lengths pass a phrase between directions, with late pickup responses."


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
    return [
        pattern("dialogue_" + "_".join(map(str, g)), DESCRIPTION, render(EIGHTH * sum(g), score(g), CONTINUUM_PULSE))
        for g in MEMBERS
    ]
