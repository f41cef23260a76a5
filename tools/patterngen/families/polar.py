"""Family `polar`: roses and scalloped loops in polar form.

Roses trace their complete signed-radius curve; scallops keep a positive radius, so they never
cross the centre.
"""

import math

from ..curves import closed_curve, rose
from ..toolkit import pattern

N = 1024
ROSES = (3, 6, 7, 8, 9, 10, 11, 12)
SCALLOPS = (2, 3, 4, 5, 6, 7, 8, 9)
ROSE = "A complete signed-radius rose traversal; odd-petal roses use a half-turn parameter."
SCALLOP = "A positive-radius scalloped loop; no centre crossings, with an asymmetrically bent lobe."


def scallop(k):
    def f(t):
        r = 0.58 + 0.24 * math.cos(k * t + 0.2 * math.sin(t))
        return (r * math.cos(t), r * math.sin(t))

    return f


def build(pack):
    return [pattern("polar_rose_%d" % k, ROSE, rose(k, N)) for k in ROSES] + [
        pattern("polar_scallop_%d" % k, SCALLOP, closed_curve(scallop(k), N)) for k in SCALLOPS
    ]
