"""The record every family produces, and the pack and family order of the registry."""

from dataclasses import dataclass
from typing import Sequence, Tuple

Row = Tuple[float, float, float]

# Registry order of the packs; a pack's families follow FAMILY_ORDER below.
PACKS = ("initial", "expansion", "atlas", "continuum", "club", "dancefloor")

# (pack, family module) in registry order. A new family joins by adding its module to
# patterngen/families/ and one entry here.
FAMILY_ORDER = (
    ("initial", "lfo"),
    ("initial", "ease"),
    ("initial", "akwf"),
    ("expansion", "lfo"),
    ("atlas", "wave"),
    ("atlas", "env"),
    ("atlas", "seq"),
    ("atlas", "noise"),
)


@dataclass(frozen=True)
class Pattern:
    """One baked pattern: its name, description and one (x, y, z) row per pip."""

    name: str
    description: str
    rows: Sequence[Row]

    @property
    def period(self) -> int:
        return len(self.rows)

    @property
    def dimensions(self) -> int:
        if any(r[2] != 0.0 for r in self.rows):
            return 3
        if any(r[1] != 0.0 for r in self.rows):
            return 2
        return 1
