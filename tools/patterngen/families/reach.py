"""Family `reach`: shaped reaches out from a shared centre and back.

reach_<shape>_<k> for k = 3, 4, 5, 7 and, within each k, the shapes scoop, hook, lift
(dimensions 3) and recoil (dimensions 2 for the others); 1024 pips.

The period holds k reaches of 1024/k pips each (exact fractions). Reach j points along the
direction 2*pi*j/k, turned from +x towards +y, so the reaches fan once around the circle
starting along +x, and has the length L_j, the j-th of 0.82, 0.73, 0.71, 0.74, 0.68, 0.72,
0.70. Within a reach, with u the fraction of its time elapsed, the far fraction p = 0.44
(1/3 for recoil), s = q(u/p) on the way out and r = q((u - p)/(1 - p)) on the way back
(q the quintic ease), the progress g is s out and 1 - r back, and the point in the reach's
own frame (along, across, depth) is L_j times

- scoop: (g, 0.085*g + 0.16*w, 0), w = sin(pi*s) out and -sin(pi*r) back: the hand goes
  out on one side of the line and scoops back on the other;
- hook: (g, 0.44*g^2, 0) out and (g, 0.44*(1 - (1 - g)^2), 0) back: straight out curling
  sideways at the far end, then back wide before hooking in to the centre;
- lift: (g, 0.073*g, 0.4634*(1 - (1 - g)^2)) out and (g, 0.073*g, 0.4634*g^2) back: it
  rises early on the way out and comes back low;
- recoil: (s, 0.171*s, 0) out and ((1 - r)*(1 - 1.5*r), 0.171*(1 - r), 0) back: a quick
  reach, then a longer return that recoils to 0.042*L_j behind the centre before settling.

Every coordinate is a function of s or r with zero slope at both ends, so each reach
departs from and settles at the origin at rest and rests at its far point (L_j, across,
depth) at u = p. The table is scaled to 0.82 over the 2048 half-pip samples; the largest
coordinate is the first far point's x = 0.82 (every later reach stays within 0.81), so the
factor is 1 to within 1e-6 and the first far points are (0.82, 0.07) for scoop, (0.82, 0.36)
for hook, (0.82, 0.06, 0.38) for lift and (0.82, 0.14) for recoil.
"""

import math
from fractions import Fraction

from ..curves import path_scaled_on_half_pips, quintic, rotated
from ..toolkit import pattern

N = 1024
DESCRIPTION = ("Separate shaped reaches depart from and settle at a shared centre, without reset "
               "jumps.")

COUNTS = (3, 4, 5, 7)
SHAPES = ("scoop", "hook", "lift", "recoil")
LENGTHS = (0.82, 0.73, 0.71, 0.74, 0.68, 0.72, 0.70)
FAR = {"scoop": Fraction(11, 25), "hook": Fraction(11, 25), "lift": Fraction(11, 25),
       "recoil": Fraction(1, 3)}


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
            out.append(pattern("reach_%s_%d" % (shape, k), DESCRIPTION,
                               path_scaled_on_half_pips(reaches(shape, k), N)))
    return out
