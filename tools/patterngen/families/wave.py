"""Family `wave`: shaped control waves on the horizontal axis.

Each member is a shaped wave on x, given by its formula or by final coefficients, and scaled so
that it peaks at the common peak over the pips.
"""

import math

from ..curves import theta
from ..toolkit import pattern, scale_to

N = 512
DESCRIPTION = "{}; a continuous shaped control wave, mapped to horizontal displacement."

sin = math.sin
cos = math.cos

# (name, label, x(theta) before normalisation), in catalogue order.
# fmt: off
MEMBERS = (
    ("wave_pinched", "Pinched sine",
     lambda t: sin(t) - sin(3.0 * t) / 3.0),
    ("wave_shouldered", "Shouldered sine",
     lambda t: 0.793894 * sin(t) + 0.356677 * sin(3.0 * t)),
    ("wave_folded", "Folded sine",
     lambda t: sin(2.2 * sin(t))),
    ("wave_double_fold", "Double-fold wave",
     lambda t: sin(3.8 * sin(t))),
    ("wave_rounded_square", "Rounded square",
     lambda t: math.tanh(2.0 * sin(t))),
    ("wave_soft_rectifier", "Soft rectified swell",
     lambda t: math.sqrt(sin(t) * sin(t) + 0.364 * 0.364) - 0.702),
    ("wave_skew_warp", "Phase-skew sweep",
     lambda t: sin(t + 0.7 * sin(t))),
    ("wave_scoop_warp", "Scooped return",
     lambda t: 0.2666 + 0.8205 * sin(t) + 0.2933 * cos(2.0 * t) + 0.0275 * cos(4.0 * t)),
    ("wave_shelf_wave", "Shelf and scoop",
     lambda t: (0.832 * sin(t) + 0.0667 * cos(3.0 * t) + 0.2981 * sin(3.0 * t)
                + 0.032 * sin(5.0 * t) - 0.0051 * cos(5.0 * t))),
    ("wave_notched", "Notched crest",
     lambda t: 0.586781 * sin(t) - 0.211241 * sin(3.0 * t) + 0.070414 * cos(5.0 * t)),
    ("wave_bottle", "Bottle-neck swell",
     lambda t: sin(t) / (1.0 + 0.3104 * cos(2.0 * t))),
    ("wave_reed", "Reed flutter",
     lambda t: 0.571072 * sin(t) + 0.13437 * (sin(8.0 * t) - sin(6.0 * t))),
    ("wave_unequal_peaks", "Unequal double crest",
     lambda t: 0.53076 * sin(t) + 0.22731 * cos(2.0 * t) + 0.220766 * sin(2.0 * t)),
    ("wave_ripple_return", "Rippled recovery",
     lambda t: 0.751457 * sin(t) + 0.067631 * sin(5.0 * t) * (1.0 + cos(t))),
    ("wave_soft_teeth", "Soft triple teeth",
     lambda t: math.tanh(1.8 * (sin(t) + 0.4 * sin(3.0 * t)))),
    ("wave_warped_fold", "Warped wave fold",
     lambda t: sin(2.6 * sin(t + 0.34 * sin(2.0 * t)))),
)
# fmt: on


def build(pack):
    out = []
    for name, label, shape in MEMBERS:
        rows = scale_to([(shape(theta(i, N)),) for i in range(N)])
        out.append(pattern(name, DESCRIPTION.format(label), rows))
    return out
