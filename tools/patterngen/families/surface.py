"""Family `surface`: paths on a varying-radius sphere with coupled longitude and latitude.

`surface_<a>_<b>_<spread>` for (a, b) = (1,2) (1,3) (1,4) (1,5) (2,3) (2,5) (3,4) (3,5),
each pair with spread `low` then `wide`; period 1024 pips, dimensions 3. With theta =
2*pi*i/1024:

    radius     rho = 1 + 0.15*cos 3theta
    longitude  lam = a*theta + 0.22*sin 2theta
    latitude   phi = Phi*sin(b*theta + 0.17*sin theta)
    point      (rho*cos phi*cos lam, rho*cos phi*sin lam, rho*sin phi)

with the latitude amplitude Phi of the table below, scaled by 0.82 / (largest coordinate
over the 2048 half-pip samples). That largest coordinate is x = 1.15 at pip 0 (no latitude
reaches pi/2), so the factor is 0.82/1.15 and every member starts at (0.82, 0, 0).
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = ("A varying-radius surface path with coupled longitude and latitude; all three "
               "coordinates are retained.")

# (a, b, Phi low, Phi wide), in catalogue order.
PAIRS = ((1, 2, 0.50, 1.10), (1, 3, 0.65, 1.20), (1, 4, 0.80, 1.00), (1, 5, 0.55, 1.25),
         (2, 3, 0.60, 1.15), (2, 5, 0.75, 1.00), (3, 4, 0.50, 1.20), (3, 5, 0.70, 1.05))


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
            out.append(pattern("surface_%d_%d_%s" % (a, b, spread), DESCRIPTION,
                               scaled_on_half_pips(surface(a, b, amplitude), N)))
    return out
