"""The packs, the (pack, family) order of the pattern registry and the procedural patterns,
in one place.

The registry lists the packs in PACKS order; within a pack, the families follow FAMILIES;
within a family, the members follow the family module's build(pack). A family is the module
families/<family>.py, whose build(pack) returns its members in that pack (family() checks
that shape); a family listed for several packs (lfo, rhythm, beat) gives each its own members.

CMake reads PACKS from here (`python3 -m patterngen --list-packs`).
"""

import importlib
import inspect
from dataclasses import dataclass
from typing import Callable, List

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

# The procedural patterns in catalogue order: group, name, description, period in pips and
# dimensions. Their functions are declared in include/kinetra/core.hpp; the generator writes
# their records, their name lookup and the extension's list of them. No baked pattern may take
# one of their names.
PROCEDURAL = (
    ("dance", "bounce", "One-beat vertical bounce", 64, 1),
    ("dance", "sway", "Two-beat side-to-side sway", 128, 1),
    ("dance", "circle", "One-beat circular orbit", 64, 2),
    ("dance", "figure_eight", "Two-beat figure eight", 128, 2),
    ("dance", "step_touch", "Two-beat side step with a small lift", 128, 2),
    ("dance", "box_step", "Four-beat softened square path", 256, 2),
    ("dance", "helix", "Four-beat double-turn helix", 256, 3),
    ("dance", "clay_background", "Sculpted four-beat accented background drift", 256, 2),
    ("rudiment", "single_stroke_roll", "Alternating R/L strokes with smooth attack and decay", 64, 2),
    ("rudiment", "double_stroke_roll", "RRLL strokes with a softer second motion", 64, 2),
    ("rudiment", "multiple_bounce_roll", "Decaying same-hand bounce clusters", 64, 2),
    ("rudiment", "single_paradiddle", "RLRR LRLL with accented lead strokes", 128, 2),
    ("rudiment", "flam", "Grace motion flowing into an opposite-hand primary motion", 64, 2),
    ("rudiment", "drag", "Two grace motions flowing into an opposite-hand primary motion", 64, 2),
    ("rudiment", "five_stroke_roll", "Two diddles resolving to an accented fifth motion", 128, 2),
)
PROCEDURAL_NAMES = tuple(record[1] for record in PROCEDURAL)


@dataclass(frozen=True)
class Family:
    """A family of baked patterns: build(pack) returns its members in that pack, in registry
    order, each named <name>_<member>."""

    name: str
    build: Callable[[str], List]


def family(name: str) -> Family:
    """The family of module families/<name>.py; ModuleNotFoundError if there is none."""
    module = importlib.import_module("%s.families.%s" % (__package__, name))
    build = getattr(module, "build", None)
    if not callable(build) or list(inspect.signature(build).parameters) != ["pack"]:
        raise TypeError("%s must define build(pack)" % module.__name__)
    return Family(name, build)
