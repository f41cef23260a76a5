"""Family `weave`: phase-offset Lissajous weaves.

`weave_<a>_<b>` for the sixteen (a, b) pairs below, in catalogue order; period 1024 pips,
dimensions 2. Unscaled x = sin(a*theta + 0.37), y = 0.8125*sin(b*theta), theta =
2*pi*i/1024, then scaled so the largest coordinate over the 1024 pips is exactly 0.82 (the
unscaled x peak falls between pips, so the factor is a little above 0.82). The description
is "<a> horizontal and <b> vertical cycles; a phase-offset, closed 16-beat traversal."
"""

import math

from ..curves import scaled_on_pips
from ..toolkit import pattern

N = 1024
PAIRS = ((1, 3), (1, 4), (1, 5), (2, 5), (2, 7), (3, 4), (3, 5), (3, 7),
         (3, 8), (4, 5), (4, 7), (4, 9), (5, 6), (5, 7), (5, 8), (5, 9))
DESCRIPTION = "{} horizontal and {} vertical cycles; a phase-offset, closed 16-beat traversal."


def weave(a, b):
    return lambda t: (math.sin(a * t + 0.37), 0.8125 * math.sin(b * t))


def build(pack):
    return [pattern("weave_%d_%d" % (a, b), DESCRIPTION.format(a, b),
                    scaled_on_pips(weave(a, b), N))
            for a, b in PAIRS]
