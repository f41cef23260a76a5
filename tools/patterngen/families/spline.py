"""Family `spline`: closed cubic splines through asymmetrical controls.

spline_<shape>, 512 pips: kite, hourglass, hook, crown, bow, crooked_cross,
asymmetric_star, scoop (dimensions 2); rising_kite, twisted_bow, cup, bridge, double_bay,
slanted_loop, fork, folded_crown (dimensions 3).

A member is the closed periodic cubic spline (curves.closed_spline: continuous tangent and
curvature, the wrap included) through its controls, in the order listed. Control j is
passed at the start of segment j; segment j takes weights[j] of the weights' total of the
512 pips (exact fractions), so the segments have unequal durations and the point slows on
the short ones as well as the tangents bend to them. The table is scaled to 0.82 over the
1024 half-pip samples. Row 0 is control 0 (scaled).

rising_kite has the controls and weights of kite in x and y and adds a depth lane; its
depth stays below the kite's largest coordinate, so the two share their scale factor and
rising_kite's x and y equal kite's row for row. The other 3-D members carry their own depth
controls (up to 0.55 before scaling). The shapes (the controls below are before scaling):

- kite: a tall kite, its long diagonal vertical: eight controls, the four corners each
  followed by a point a little inside the middle of the next edge, so the edges bow
  inwards; the short segments round the side corners tightly.
- hourglass: two triangles meeting at the centre, crossing there twice.
- hook: a wide bend that curls back inside itself.
- crown: three points of unequal height above a rounded base.
- bow: a bow tie with unequal wings crossing near the centre.
- crooked_cross: four arms of unequal length at crooked angles, each visited out and back.
- asymmetric_star: a five-pointed star (every second tip) with unequal tip radii.
- scoop: a deep scoop with a flat return.
- twisted_bow: bow's outline whose wings lie at opposite depths.
- cup: a rounded cup whose rim tilts in depth.
- bridge: an arch and its road, the arch rising towards the viewer.
- double_bay: two bays of unequal size with a depth swing between them.
- slanted_loop: one loop in a plane slanted through depth.
- fork: a handle and two tines reaching to opposite depths.
- folded_crown: crown's points folded alternately forwards and back.
"""

from ..curves import closed_spline, path_scaled_on_half_pips
from ..toolkit import pattern

N = 512
DESCRIPTION = "Periodic cubic tangents connect asymmetrical controls with unequal segment times."

# corners, each followed by a point a little inside the middle of the next edge
KITE = ((0.05, -0.95), (0.31, -0.6), (0.62, -0.2), (0.33, 0.32), (0.08, 0.9), (-0.19, 0.36),
        (-0.5, -0.12), (-0.24, -0.55))
KITE_WEIGHTS = (0.5, 0.6, 0.7, 1.0, 0.8, 0.6, 0.35, 0.45)
CROWN = ((-0.78, 0.55), (-0.72, -0.45), (-0.4, 0.02), (-0.02, -0.88), (0.33, -0.05),
         (0.7, -0.62), (0.82, 0.5), (0.0, 0.7))
CROWN_WEIGHTS = (1.2, 0.8, 0.9, 0.8, 1.0, 0.7, 1.5, 1.1)
BOW = ((-0.85, -0.45), (-0.05, 0.05), (0.7, -0.3), (0.78, 0.4), (0.02, -0.05), (-0.8, 0.52))
BOW_WEIGHTS = (1.3, 1.0, 0.7, 1.2, 1.4, 0.8)


def with_depth(controls, depths):
    """Flat controls lifted into depth, one depth per control."""
    return tuple(tuple(c) + (z,) for c, z in zip(controls, depths))


# (shape, controls, segment weights); 3-D controls carry their depth.
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


def build(pack):
    return [pattern("spline_" + shape, DESCRIPTION,
                    path_scaled_on_half_pips(closed_spline(controls, weights, N), N))
            for shape, controls, weights in SHAPES]
