"""Family `meter`: additive meters of eighth-note groups.

meter_<g1>_<g2>_... plays groups of eighth notes (the numbers are the group lengths), an
accented onset at each group start; the period is the sum of the groups.
"""

from ..rhythm import Hann, beats, group_starts, onset, render, signed_onsets
from ..toolkit import pattern

STEP = 32
PULSE = Hann(beats("0.3"))  # 19.2 pips
# fmt: off
GROUPINGS = ((2, 3), (3, 2), (3, 2, 2), (2, 3, 2), (3, 4), (4, 3), (2, 2, 2, 3), (2, 3, 2, 2),
             (3, 2, 3, 2), (3, 3, 2, 3), (2, 2, 3, 2, 3), (3, 3, 3, 2), (4, 3, 3), (3, 4, 4),
             (2, 3, 3, 2, 3), (3, 3, 3, 4))
# fmt: on
DESCRIPTION = "Group starts lean alternately left and right; quieter subdivisions mark the eighth-note grid."


def score(groups):
    starts, inner = group_starts(groups, STEP)
    return signed_onsets(starts, 0.72, -0.33) + [onset(t, 0.0, -0.1134, 0.0504) for t in inner]


def build(pack):
    return [
        pattern("meter_" + "_".join(map(str, g)), DESCRIPTION, render(STEP * sum(g), score(g), PULSE))
        for g in GROUPINGS
    ]
