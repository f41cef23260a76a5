"""Family `surface`: paths on a varying-radius sphere with coupled longitude and latitude.

The longitude turns a times per loop while the latitude swings b times, both slightly warped,
on a sphere whose radius varies; each (a, b) pair comes with a `low` and a `wide` latitude
spread.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = "A varying-radius surface path with coupled longitude and latitude; all three coordinates are retained."

# (a, b, Phi low, Phi wide), in catalogue order.
# fmt: off
PAIRS = ((1, 2, 0.50, 1.10), (1, 3, 0.65, 1.20), (1, 4, 0.80, 1.00), (1, 5, 0.55, 1.25),
         (2, 3, 0.60, 1.15), (2, 5, 0.75, 1.00), (3, 4, 0.50, 1.20), (3, 5, 0.70, 1.05))
# fmt: on


def surface(a, b, amplitude):
    sin, cos = math.sin, math.cos

    def f(t):
        rho = 1.0 + 0.15 * cos(3.0 * t)
        lam = a * t + 0.22 * sin(2.0 * t)
        phi = amplitude * sin(b * t + 0.17 * sin(t))
        return (rho * cos(phi) * cos(lam), rho * cos(phi) * sin(lam), rho * sin(phi))

    return f


def build(pack):
    out = []
    for a, b, low, wide in PAIRS:
        for spread, amplitude in (("low", low), ("wide", wide)):
            out.append(
                pattern(
                    "surface_%d_%d_%s" % (a, b, spread), DESCRIPTION, scaled_on_half_pips(surface(a, b, amplitude), N)
                )
            )
    return out
