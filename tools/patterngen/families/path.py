"""Family `path`: eight closed geometric paths of the expansion pack.

Lissajous figures, roses, an astroid, an orbit that dwells at its seam, a torus knot, a 3-D
weave and a crank slider, each written as its formula in MEMBERS with the stored amplitudes: no
member is rescaled.
"""

import math

from ..curves import closed_curve, crank_slider, rose, torus_knot
from ..toolkit import pattern

sin = math.sin
cos = math.cos


def lissajous_2_3(t):
    return (0.78 * sin(2.0 * t), 0.68 * sin(3.0 * t))


def bowed_diamond(t):
    c, s = cos(t), sin(t)
    return (0.8 * (c * c * c), 0.8 * (s * s * s))


def orbit_dwell(t):
    psi = t - sin(t)
    return (0.8 * cos(psi), 0.6 * sin(psi))


def woven_3d(t):
    return (0.72 * sin(2.0 * t), 0.64 * sin(3.0 * t), 0.48 * sin(5.0 * t))


def crank(t):
    return (0.78 * (crank_slider(t, 3.0) - 3.0), 0.3 * sin(t))


# (name, description, rows), in catalogue order.
# fmt: off
MEMBERS = (
    ("path_lissajous_2_3",
     "Two horizontal cycles cross three vertical cycles in a closed eight-beat Lissajous path.",
     lambda: closed_curve(lissajous_2_3, 512)),
    ("path_rose_4",
     "A signed radial oscillation draws four petals, passing through the centre between them.",
     lambda: rose(4, 512)),
    ("path_rose_5",
     "Five petals in one complete eight-beat traversal; the odd-petal parameter runs through "
     "pi, not two pi.",
     lambda: rose(5, 512)),
    ("path_bowed_diamond",
     "An astroid-shaped loop with inward-curved edges and naturally slow corners.",
     lambda: closed_curve(bowed_diamond, 512)),
    ("path_orbit_dwell",
     "An ellipse whose phase slows to zero speed at the loop boundary and accelerates through "
     "the opposite side.",
     lambda: closed_curve(orbit_dwell, 512)),
    ("path_torus_knot",
     "Two turns around the axis and three through the tube. XYZ is retained; the demo projects "
     "depth.",
     lambda: closed_curve(torus_knot(2, 3, 0.54, 0.22, 0.36), 1024)),
    ("path_woven_3d",
     "Independent two-, three-, and five-cycle XYZ oscillations close after sixteen beats.",
     lambda: closed_curve(woven_3d, 1024)),
    ("path_crank_slider",
     "Horizontal slider-crank travel with rod length three and crank radius one; vertical "
     "motion follows the crank tip.",
     lambda: closed_curve(crank, 256)),
)
# fmt: on


def build(pack):
    return [pattern(name, description, rows()) for name, description, rows in MEMBERS]
