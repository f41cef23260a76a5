"""The record every family produces."""

from dataclasses import dataclass
from typing import Sequence, Tuple

Row = Tuple[float, float, float]


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
