"""Family `arm`: tip of a two-link arm driven at its joints.

arm_coupled_01 ... arm_coupled_16, 1024 pips; dimensions 2 for 01-08, 3 for 09-16.

The arm hangs from a pivot at the origin along -y: an upper link of length 1 and a forearm
of length l. With theta = 2*pi*i/1024 the joints are driven by

    shoulder  a = A*sin(f*theta)
    elbow     b = B*sin(g*theta + phi)           (relative to the upper link)
    forearm   d = D*sin(f*theta + 0.5)           (out of the arm's plane; D = 0 for 01-08)

and the tip, before scaling, is

    x = sin a + l*cos d*sin(a + b),  y = -(cos a + l*cos d*cos(a + b)),  z = l*sin d.

The shoulder swings f times per period; the elbow follows at g = f or 2f with the phase lag
phi, so the tip's way out and way back differ (a thin crescent where the lag and the elbow
swing are small, a wide loop where they are large), and the forearm of the 3-D members rolls
out of the plane a little ahead of the swing. The table is scaled to 0.82 over
the 2048 half-pip samples; the largest coordinate is always the lowest y, so y spans from
-0.82 up to a highest point that stays negative. Per member, (l, f, g, phi, A, B, D) and the
stored ranges (y lowest..highest, x, z):

    01 (0.80, 1, 1, 0.35, 0.70, 0.30, 0.00)  y -0.82..-0.550  x +-0.598
    02 (1.00, 2, 2, 0.50, 1.10, 0.58, 0.00)  y -0.82..-0.165  x +-0.780
    03 (0.70, 1, 2, 0.80, 0.90, 0.46, 0.00)  y -0.82..-0.396  x -0.705..0.609
    04 (0.90, 2, 2, 0.25, 1.34, 0.30, 0.00)  y -0.82..-0.075  x +-0.808
    05 (1.10, 1, 1, 0.60, 0.82, 0.70, 0.00)  y -0.82..-0.326  x +-0.716
    06 (0.75, 3, 3, 0.40, 0.46, 0.98, 0.00)  y -0.82..-0.479  x +-0.555
    07 (0.95, 1, 1, 1.00, 0.78, 1.98, 0.00)  y -0.82..-0.025  x +-0.741
    08 (0.85, 2, 4, 0.70, 1.14, 0.38, 0.00)  y -0.82..-0.238  x -0.778..0.723
    09 (0.90, 1, 1, 0.45, 0.50, 0.82, 0.39)  y -0.82..-0.486  x +-0.557  z +-0.149
    10 (0.80, 2, 2, 0.90, 0.86, 1.30, 0.41)  y -0.82..-0.211  x +-0.721  z +-0.152
    11 (1.00, 1, 2, 0.30, 0.86, 0.66, 0.39)  y -0.82..-0.366  x -0.690..0.637  z +-0.157
    12 (0.70, 2, 2, 0.60, 1.26, 0.74, 0.49)  y -0.82..-0.052  x +-0.783  z +-0.162
    13 (1.20, 1, 1, 0.80, 0.70, 1.06, 0.37)  y -0.82..-0.283  x +-0.675  z +-0.165
    14 (0.85, 3, 3, 0.50, 0.58, 0.86, 0.46)  y -0.82..-0.439  x +-0.585  z +-0.169
    15 (0.95, 1, 1, 0.20, 1.18, 0.50, 0.45)  y -0.82..-0.124  x +-0.769  z +-0.176
    16 (0.75, 2, 2, 1.10, 0.82, 1.98, 0.49)  y -0.82..-0.146  x +-0.731  z +-0.182

The depth of 09-16 is symmetric: the roll is an odd function of its own phase.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = ("Tip position of two kinematically driven links; not a dynamics simulation or "
               "anatomical model.")

# (forearm l, shoulder turns f, elbow turns g, elbow lag phi, shoulder A, elbow B, roll D)
MEMBERS = (
    (0.80, 1, 1, 0.35, 0.70, 0.30, 0.0),
    (1.00, 2, 2, 0.50, 1.10, 0.58, 0.0),
    (0.70, 1, 2, 0.80, 0.90, 0.46, 0.0),
    (0.90, 2, 2, 0.25, 1.34, 0.30, 0.0),
    (1.10, 1, 1, 0.60, 0.82, 0.70, 0.0),
    (0.75, 3, 3, 0.40, 0.46, 0.98, 0.0),
    (0.95, 1, 1, 1.00, 0.78, 1.98, 0.0),
    (0.85, 2, 4, 0.70, 1.14, 0.38, 0.0),
    (0.90, 1, 1, 0.45, 0.50, 0.82, 0.39),
    (0.80, 2, 2, 0.90, 0.86, 1.30, 0.41),
    (1.00, 1, 2, 0.30, 0.86, 0.66, 0.39),
    (0.70, 2, 2, 0.60, 1.26, 0.74, 0.49),
    (1.20, 1, 1, 0.80, 0.70, 1.06, 0.37),
    (0.85, 3, 3, 0.50, 0.58, 0.86, 0.46),
    (0.95, 1, 1, 0.20, 1.18, 0.50, 0.45),
    (0.75, 2, 2, 1.10, 0.82, 1.98, 0.49),
)
ROLL_LEAD = 0.5


def tip(l, f, g, phi, a_amp, b_amp, d_amp):
    def at(t):
        a = a_amp * math.sin(f * t)
        b = b_amp * math.sin(g * t + phi)
        d = d_amp * math.sin(f * t + ROLL_LEAD)
        reach = l * math.cos(d)
        return (math.sin(a) + reach * math.sin(a + b),
                -(math.cos(a) + reach * math.cos(a + b)),
                l * math.sin(d))
    return at


def build(pack):
    return [pattern("arm_coupled_%02d" % j, DESCRIPTION, scaled_on_half_pips(tip(*m), N))
            for j, m in enumerate(MEMBERS, 1)]
