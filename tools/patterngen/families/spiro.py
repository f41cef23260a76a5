"""Family `spiro`: closed roulettes of a circle rolling inside or outside another.

For (R, r) = (3,1) (4,1) (5,2) (5,1) (7,2) (7,3) (8,3) (9,4), each pair gives
`spiro_inside_<R>_<r>` and then `spiro_outside_<R>_<r>`; period 1024 pips, dimensions 2.
The pen sits at d = lambda*r from the rolling centre, lambda from the table below, and the
parameter t = 2*pi*r*i/1024 runs r turns of the rolling centre, so the trace closes:

- inside (hypotrochoid): x = (R-r)*cos t + d*cos((R-r)*t/r), y = (R-r)*sin t - d*sin((R-r)*t/r);
- outside (epitrochoid): x = (R+r)*cos t - d*cos((R+r)*t/r), y = (R+r)*sin t - d*sin((R+r)*t/r).

Each trace is scaled so its largest coordinate over the 1024 pips is exactly 0.82, like every
atlas family. Inside, and outside where the widest point (radius R+r+d) lies on an axis, that
largest coordinate is the radius itself and the factor is 0.82/(R-r+d) and 0.82/(R+r+d). For
the outside traces of (4,1) and (8,3) the widest points lie off the axes (at 45 degrees for
(4,1)), so the largest coordinate is smaller than the radius, 4.880 of 5.6 and 12.493 of
12.8 (measured), and the factor larger: 0.82/4.880 and 0.82/12.493.
"""

import math

from ..curves import TAU
from ..toolkit import pattern, scale_to

N = 1024
# (R, r, lambda), in catalogue order.
PAIRS = ((3, 1, 0.45), (4, 1, 0.60), (5, 2, 0.75), (5, 1, 0.55), (7, 2, 0.65), (7, 3, 0.70),
         (8, 3, 0.60), (9, 4, 0.80))
DESCRIPTION = ("A closed {}-rolling circle trace, with pen radius smaller than the rolling "
               "radius.")


def inside(R, r, d):
    def f(i):
        t = TAU * r * i / N
        return ((R - r) * math.cos(t) + d * math.cos((R - r) * t / r),
                (R - r) * math.sin(t) - d * math.sin((R - r) * t / r))
    return f


def outside(R, r, d):
    def f(i):
        t = TAU * r * i / N
        return ((R + r) * math.cos(t) - d * math.cos((R + r) * t / r),
                (R + r) * math.sin(t) - d * math.sin((R + r) * t / r))
    return f


def build(pack):
    out = []
    for R, r, lam in PAIRS:
        d = lam * r
        for kind, trace in (("inside", inside), ("outside", outside)):
            f = trace(R, r, d)
            out.append(pattern("spiro_%s_%d_%d" % (kind, R, r), DESCRIPTION.format(kind),
                               scale_to([f(i) for i in range(N)])))
    return out
