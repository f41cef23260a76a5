"""Family `weave`: phase-offset Lissajous weaves.

weave_<a>_<b> runs a horizontal and b vertical cycles with a phase offset, scaled to the common
peak over the pips.
"""

import math

from ..curves import scaled_on_pips
from ..toolkit import pattern

N = 1024
# fmt: off
PAIRS = ((1, 3), (1, 4), (1, 5), (2, 5), (2, 7), (3, 4), (3, 5), (3, 7),
         (3, 8), (4, 5), (4, 7), (4, 9), (5, 6), (5, 7), (5, 8), (5, 9))
# fmt: on
DESCRIPTION = "{} horizontal and {} vertical cycles; a phase-offset, closed 16-beat traversal."


def weave(a, b):
    return lambda t: (math.sin(a * t + 0.37), 0.8125 * math.sin(b * t))


def build(pack):
    return [pattern("weave_%d_%d" % (a, b), DESCRIPTION.format(a, b), scaled_on_pips(weave(a, b), N)) for a, b in PAIRS]
