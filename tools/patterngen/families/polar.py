"""Family `polar`: roses and scalloped loops in polar form.

Period 1024 pips, dimensions 2, members in catalogue order:

- `polar_rose_<k>` for k = 3, 6, 7, 8, 9, 10, 11, 12: the signed-radius rose
  r = 0.82*cos(n*phi), point (r*cos phi, r*sin phi). Odd k: n = k, phi = pi*i/1024 (half a
  turn); even k: n = k/2, phi = 2*pi*i/1024 (a full turn), so `polar_rose_6` and
  `polar_rose_10` trace their three- and five-petal roses twice.
- `polar_scallop_<k>` for k = 2 ... 9: r = 0.58 + 0.24*cos(k*theta + 0.2*sin theta), point
  (r*cos theta, r*sin theta), theta = 2*pi*i/1024. The radius stays within 0.34 ... 0.82 and
  the 0.2*sin theta bend makes one lobe asymmetric.

Both shapes peak at x = 0.82 at pip 0 and nowhere above it: no rescaling.
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
    return ([pattern("polar_rose_%d" % k, ROSE, rose(k, N)) for k in ROSES]
            + [pattern("polar_scallop_%d" % k, SCALLOP, closed_curve(scallop(k), N))
               for k in SCALLOPS])
