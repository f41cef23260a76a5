"""Family `arm`: the tip of a two-link arm driven at its joints.

The arm hangs from a pivot: the shoulder swings, the elbow follows with a phase lag (so the
tip's way out and way back differ, from a thin crescent to a wide loop), and in the 3-D members
the forearm rolls out of the arm's plane a little ahead of the swing. MEMBERS gives each arm's
link length, frequencies, lag and swings; the table is scaled over the half-pip samples.
"""

import math

from ..curves import scaled_on_half_pips
from ..toolkit import pattern

N = 1024
DESCRIPTION = "Tip position of two kinematically driven links; not a dynamics simulation or anatomical model."

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
        return (math.sin(a) + reach * math.sin(a + b), -(math.cos(a) + reach * math.cos(a + b)), l * math.sin(d))

    return at


def build(pack):
    return [
        pattern("arm_coupled_%02d" % j, DESCRIPTION, scaled_on_half_pips(tip(*m), N)) for j, m in enumerate(MEMBERS, 1)
    ]
