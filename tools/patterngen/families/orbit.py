"""Family `orbit`: ellipses carrying unequal harmonic ripples.

Each member adds one harmonic ripple, of its own order, size and phase, to an ellipse, and is
scaled to the common peak.
"""

import math

from ..curves import scaled_on_pips
from ..toolkit import pattern

N = 512
DESCRIPTION = "An ellipse combined with unequal horizontal and vertical harmonic ripples."

# (h, rho) for j = 1 ... 16.
# fmt: off
HARMONICS = ((2, 0.18), (3, 0.22), (4, 0.25), (5, 0.28), (6, 0.25), (7, 0.20), (8, 0.15),
             (9, 0.13), (2, 0.34), (3, 0.31), (4, 0.29), (5, 0.26), (6, 0.23), (7, 0.20),
             (8, 0.17), (9, 0.14))
# fmt: on


def phase(j):
    return 0.0 if j <= 8 else 0.5 + 0.3 * (j - 9)


def orbit(h, rho, psi):
    def f(t):
        return (math.cos(t) + rho * math.cos(h * t + psi), 0.72 * math.sin(t) - rho * math.sin((h + 1) * t - psi))

    return f


def build(pack):
    return [
        pattern("orbit_harmonic_%02d" % j, DESCRIPTION, scaled_on_pips(orbit(h, rho, phase(j)), N))
        for j, (h, rho) in enumerate(HARMONICS, start=1)
    ]
