"""Family `spline`: closed cubic splines through asymmetrical controls.

Each member is the closed cubic spline through its controls (curves.closed_spline), with
unequal segment durations so the point slows on the short segments; the 3-D members add depth
controls. The table is scaled over the half-pip samples.
"""

from ..curves import closed_spline, path_scaled_on_half_pips
from ..toolkit import pattern

N = 512
DESCRIPTION = "Periodic cubic tangents connect asymmetrical controls with unequal segment times."

# corners, each followed by a point a little inside the middle of the next edge
# fmt: off
KITE = ((0.05, -0.95), (0.31, -0.6), (0.62, -0.2), (0.33, 0.32), (0.08, 0.9), (-0.19, 0.36),
        (-0.5, -0.12), (-0.24, -0.55))
# fmt: on
KITE_WEIGHTS = (0.5, 0.6, 0.7, 1.0, 0.8, 0.6, 0.35, 0.45)
# fmt: off
CROWN = ((-0.78, 0.55), (-0.72, -0.45), (-0.4, 0.02), (-0.02, -0.88), (0.33, -0.05),
         (0.7, -0.62), (0.82, 0.5), (0.0, 0.7))
# fmt: on
CROWN_WEIGHTS = (1.2, 0.8, 0.9, 0.8, 1.0, 0.7, 1.5, 1.1)
BOW = ((-0.85, -0.45), (-0.05, 0.05), (0.7, -0.3), (0.78, 0.4), (0.02, -0.05), (-0.8, 0.52))
BOW_WEIGHTS = (1.3, 1.0, 0.7, 1.2, 1.4, 0.8)


def with_depth(controls, depths):
    """Flat controls lifted into depth, one depth per control."""
    return tuple(tuple(c) + (z,) for c, z in zip(controls, depths))


# (shape, controls, segment weights); 3-D controls carry their depth.
# fmt: off
SHAPES = (
    ("kite", KITE, KITE_WEIGHTS),
    ("hourglass",
     ((-0.62, -0.78), (0.58, -0.72), (0.04, 0.02), (0.66, 0.8), (-0.55, 0.7), (-0.03, -0.04)),
     (1.3, 0.9, 0.8, 1.1, 1.4, 0.7)),
    ("hook",
     ((0.72, 0.7), (0.8, -0.25), (0.25, -0.85), (-0.45, -0.6), (-0.5, 0.05), (-0.05, 0.28),
      (0.2, -0.1)),
     (1.4, 1.0, 0.9, 1.2, 0.8, 0.6, 1.6)),
    ("crown", CROWN, CROWN_WEIGHTS),
    ("bow", BOW, BOW_WEIGHTS),
    ("crooked_cross",
     ((0.85, 0.12), (0.12, 0.06), (0.18, -0.82), (-0.06, -0.1), (-0.72, -0.26), (-0.1, 0.08),
      (-0.16, 0.78), (0.06, 0.12)),
     (1.1, 0.7, 1.3, 0.8, 1.0, 0.6, 1.4, 0.9)),
    ("asymmetric_star",
     ((0.86, 0.05), (-0.55, 0.52), (0.12, -0.62), (0.2, 0.78), (-0.64, -0.36)),
     (1.4, 0.9, 1.2, 1.0, 0.7)),
    ("scoop",
     ((0.8, -0.55), (0.55, 0.35), (-0.1, 0.72), (-0.7, 0.2), (-0.78, -0.5), (0.0, -0.42)),
     (1.2, 0.8, 1.5, 0.9, 1.1, 0.7)),
    ("rising_kite",
     with_depth(KITE, (-0.4, -0.15, 0.05, 0.3, 0.55, 0.4, 0.15, -0.15)), KITE_WEIGHTS),
    ("twisted_bow",
     with_depth(BOW, (0.45, 0.0, -0.4, -0.5, 0.05, 0.35)), BOW_WEIGHTS),
    ("cup",
     ((0.75, -0.6, 0.3), (0.62, 0.3, 0.1), (0.0, 0.75, -0.05), (-0.6, 0.35, -0.2),
      (-0.72, -0.55, -0.35), (0.02, -0.4, 0.45)),
     (1.0, 1.3, 0.9, 1.2, 0.8, 1.5)),
    ("bridge",
     ((-0.85, 0.45, 0.0), (-0.55, -0.35, 0.25), (0.0, -0.72, 0.5), (0.6, -0.3, 0.2),
      (0.82, 0.42, -0.05), (0.05, 0.5, -0.3)),
     (0.9, 1.2, 1.0, 1.4, 0.8, 1.6)),
    ("double_bay",
     ((0.82, 0.0, 0.1), (0.45, 0.62, 0.4), (0.0, 0.1, 0.0), (-0.35, 0.5, -0.45),
      (-0.72, 0.0, -0.2), (-0.3, -0.55, 0.1), (0.05, -0.1, 0.0), (0.5, -0.6, 0.3)),
     (1.2, 0.8, 1.0, 1.4, 0.9, 1.1, 0.7, 1.3)),
    ("slanted_loop",
     ((0.8, 0.1, 0.45), (0.1, 0.62, 0.1), (-0.7, 0.25, -0.4), (-0.45, -0.55, -0.3),
      (0.3, -0.6, 0.2)),
     (1.5, 0.8, 1.1, 1.3, 0.9)),
    ("fork",
     ((0.0, 0.85, 0.0), (0.05, 0.05, 0.05), (-0.5, -0.75, 0.45), (-0.25, -0.1, 0.1),
      (0.2, -0.05, -0.1), (0.55, -0.8, -0.5), (0.12, 0.1, -0.05)),
     (1.4, 0.8, 1.0, 0.7, 1.1, 0.9, 1.3)),
    ("folded_crown",
     with_depth(CROWN, (0.0, 0.45, -0.1, -0.5, 0.1, 0.4, 0.05, -0.2)),
     (1.1, 0.9, 0.8, 1.0, 0.9, 0.8, 1.4, 1.2)),
)
# fmt: on


def build(pack):
    return [
        pattern("spline_" + shape, DESCRIPTION, path_scaled_on_half_pips(closed_spline(controls, weights, N), N))
        for shape, controls, weights in SHAPES
    ]
