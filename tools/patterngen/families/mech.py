"""Family `mech`: toy mechanisms as kinematic-style position studies.

Each member follows one mechanism over a full turn of its crank: pistons, cranks, yokes, cams, an
escapement, a paddle wheel, a wobble plate and a rocking beam. Some are the mechanism's own
formula, others its harmonic series written with final coefficients; the formulas stand in
MEMBERS. Members marked as scaled are multiplied to the common peak.
"""

import math

from ..curves import closed_curve, crank_slider, scaled_on_pips
from ..toolkit import pattern

N = 512
DESCRIPTION = "{}; an original kinematic-style position study, not an engineering simulation."

sin = math.sin
cos = math.cos
sqrt = math.sqrt

WHITWORTH = (0.666264, 0.28266, 0.05032, 0.006213, 0.000557, 0.000041)
# fmt: off
ESCAPEMENT = (0.99498, 0.23405, 0.08036, 0.02905, 0.01061,
              0.00388, 0.00142, 0.00052, 0.00019, 0.00007, 0.00003, 0.00001)
# fmt: on
ROCKER = (0.60815, 0.07743, 0.01775, 0.00484, 0.00144, 0.00045, 0.00015, 0.00005, 0.00002, 0.00001)
CAM_RETURN = (0.63179, 0.31086, 0.06132, 0.00847, 0.00084)


def sines(b, p, step=1):
    """sum of b[j]*sin(k*p) for k = 1, 1 + step, 1 + 2*step, ..."""
    return sum(c * sin((1 + step * j) * p) for j, c in enumerate(b))


def odd_sines(b, p):
    return sines(b, p, step=2)


def elliptic_cam(p):
    c, s = cos(p), sin(p)
    rho = 0.5 / sqrt(0.25 * (c * c) + s * s)
    return (0.3 * s, rho - 0.65)


# (name, study label, scaled, shape(phi)), in catalogue order.
# fmt: off
MEMBERS = (
    ("mech_piston_short", "Short-rod piston", False,
     lambda p: (0.82 * (crank_slider(p, 2.0) - 2.0), 0.246 * sin(p))),
    ("mech_piston_long", "Long-rod piston", False,
     lambda p: (0.82 * (crank_slider(p, 4.0) - 4.0), 0.205 * sin(2.0 * p))),
    ("mech_offset_crank", "Offset crank", True,
     lambda p: (crank_slider(p, 3.0, 0.6) - 2.8, 0.35 * sin(p))),
    ("mech_scotch_yoke", "Yoke with rocking linkage", False,
     lambda p: (0.82 * cos(p), 0.82 * (0.35 * sin(p) + 0.18 * sin(3.0 * p)))),
    ("mech_whitworth", "Quick-return linkage study", False,
     lambda p: (sines(WHITWORTH, p), 0.32801 * cos(p))),
    ("mech_elliptic_cam", "Elliptic cam follower", True, elliptic_cam),
    ("mech_two_lobe_cam", "Two-lobe cam follower", True,
     lambda p: (0.4 * sin(p), (4.0 * cos(p) + 11.0 * cos(2.0 * p)) / 15.0)),
    ("mech_three_lobe_cam", "Three-lobe cam follower", True,
     lambda p: ((5.0 / 24.0) * sin(p), (cos(p) + 5.0 * cos(3.0 * p)) / 6.0)),
    ("mech_escapement", "Soft escapement study", False,
     lambda p: (odd_sines(ESCAPEMENT, p), 0.08241 * sin(p) + 0.28843 * cos(2.0 * p))),
    ("mech_paddle", "Paddle-wheel tip", True,
     lambda p: (cos(p) + 0.23 * cos(4.0 * p), sin(p) + 0.23 * sin(4.0 * p))),
    ("mech_wobble_plate", "Wobble-plate trace", False,
     lambda p: (0.82 * cos(p), 0.287 * sin(p), 0.41 * sin(2.0 * p + 0.3))),
    ("mech_rocking_beam", "Rocking beam", False,
     lambda p: (0.84991 * sin(p) + 0.03022 * sin(3.0 * p) + 0.00031 * sin(5.0 * p),
                0.288244 * (sin(p) * sin(p)) * (1.0 + sin(2.0 * p)))),
    ("mech_coupled_cranks", "Coupled cranks", True,
     lambda p: (cos(p) + 0.35 * cos(3.0 * p + 0.6), sin(p) - 0.35 * sin(3.0 * p + 0.6))),
    ("mech_crank_rocker", "Crank and rocker study", False,
     lambda p: (0.82 * cos(p), odd_sines(ROCKER, p), 0.123 * cos(3.0 * p))),
    ("mech_piston_balance", "Piston and balance mass", False,
     lambda p: (0.82 * cos(p), 0.41 * sin(2.0 * p), 0.205 * sin(p))),
    ("mech_cam_return", "Cam rise and return", False,
     lambda p: (sines(CAM_RETURN, p),
                0.0037 - 0.04883 * cos(p) + 0.32067 * cos(2.0 * p) + 0.04865 * cos(3.0 * p)
                + 0.0037 * cos(4.0 * p))),
)
# fmt: on


def build(pack):
    return [
        pattern(name, DESCRIPTION.format(label), (scaled_on_pips if scaled else closed_curve)(shape, N))
        for name, label, scaled, shape in MEMBERS
    ]
