"""The packs and the (pack, family) order of the pattern registry, in one place.

The registry lists the packs in PACKS order; within a pack, the families follow FAMILIES;
within a family, the members follow the family module's build(). A family that ships in two
packs (lfo, rhythm, beat) is asked for each pack's members with build(pack); every other
family ships in one pack and its build() takes no argument.

CMake reads PACKS from here (`python3 -m patterngen --list-packs`).
"""

PACKS = ("initial", "expansion", "atlas", "continuum", "club", "dancefloor")

FAMILIES = (
    ("initial", "lfo"),
    ("initial", "rhythm"),
    ("initial", "rudiment"),
    ("initial", "ease"),
    ("initial", "akwf"),
    ("initial", "groove"),
    ("expansion", "lfo"),
    ("expansion", "path"),
    ("expansion", "rhythm"),
    ("atlas", "wave"),
    ("atlas", "env"),
    ("atlas", "seq"),
    ("atlas", "noise"),
    ("atlas", "orbit"),
    ("atlas", "weave"),
    ("atlas", "polar"),
    ("atlas", "spiro"),
    ("atlas", "space"),
    ("atlas", "mech"),
    ("atlas", "euclid"),
    ("atlas", "poly"),
    ("atlas", "meter"),
    ("atlas", "swing"),
    ("atlas", "stick"),
    ("atlas", "gesture"),
    ("continuum", "ribbon"),
    ("continuum", "contour"),
    ("continuum", "silhouette"),
    ("continuum", "spline"),
    ("continuum", "tour"),
    ("continuum", "scan"),
    ("continuum", "reach"),
    ("continuum", "surface"),
    ("continuum", "braid"),
    ("continuum", "arm"),
    ("continuum", "dwell"),
    ("continuum", "packet"),
    ("continuum", "canon"),
    ("continuum", "echo"),
    ("continuum", "ladder"),
    ("continuum", "necklace"),
    ("continuum", "accent"),
    ("continuum", "triplet"),
    ("continuum", "dialogue"),
    ("continuum", "burst"),
    ("club", "beat"),
    ("dancefloor", "beat"),
)

# Names of the procedural patterns, in catalogue order; no baked pattern may take one.
PROCEDURAL_NAMES = (
    "bounce", "sway", "circle", "figure_eight", "step_touch", "box_step", "helix",
    "clay_background", "single_stroke_roll", "double_stroke_roll", "multiple_bounce_roll",
    "single_paradiddle", "flam", "drag", "five_stroke_roll",
)


def split_families():
    """Families that ship in more than one pack."""
    packs = {}
    for pack, family in FAMILIES:
        packs.setdefault(family, set()).add(pack)
    return frozenset(f for f, p in packs.items() if len(p) > 1)
