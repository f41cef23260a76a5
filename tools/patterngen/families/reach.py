"""Family `reach`: shaped reaches out from a shared centre and back.

Each member makes k reaches from the centre, fanning out round it, each along the shape of its
name (scoop, hook, lift into depth, or recoil) and back to rest at the centre.
"""

import math
from fractions import Fraction

from ..curves import path_scaled_on_half_pips, quintic, rotated
from ..toolkit import pattern

N = 1024
DESCRIPTION = "Separate shaped reaches depart from and settle at a shared centre, without reset jumps."

COUNTS = (3, 4, 5, 7)
SHAPES = ("scoop", "hook", "lift", "recoil")
LENGTHS = (0.82, 0.73, 0.71, 0.74, 0.68, 0.72, 0.70)
FAR = {"scoop": Fraction(11, 25), "hook": Fraction(11, 25), "lift": Fraction(11, 25), "recoil": Fraction(1, 3)}


def local(shape: str, u: Fraction):
    """(along, across, depth) of a reach of length 1 at the fraction u of its time."""
    p = FAR[shape]
    out = u <= p
    e = quintic(float(u / p)) if out else quintic(float((u - p) / (1 - p)))
    g = e if out else 1.0 - e
    if shape == "scoop":
        w = math.sin(math.pi * e) if out else -math.sin(math.pi * e)
        return (g, 0.085 * g + 0.16 * w, 0.0)
    if shape == "hook":
        return (g, 0.44 * (g * g if out else 1.0 - (1.0 - g) ** 2), 0.0)
    if shape == "lift":
        return (g, 0.073 * g, 0.4634 * (1.0 - (1.0 - g) ** 2 if out else g * g))
    if out:
        return (g, 0.171 * g, 0.0)
    return ((1.0 - e) * (1.0 - 1.5 * e), 0.171 * g, 0.0)


def reaches(shape: str, k: int):
    span = Fraction(N, k)

    def at(t):
        t = Fraction(t)
        j = int(t // span)
        a, b, c = local(shape, t / span - j)
        length = LENGTHS[j]
        x, y = rotated(length * a, length * b, 2.0 * math.pi * j / k)
        return (x, y, length * c)

    return at


def build(pack):
    out = []
    for k in COUNTS:
        for shape in SHAPES:
            out.append(pattern("reach_%s_%d" % (shape, k), DESCRIPTION, path_scaled_on_half_pips(reaches(shape, k), N)))
    return out
