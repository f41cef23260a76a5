"""Stored values: the 12-decimal rounding, peak measurement and scaling, and the Pattern
record a family returns. Shared code of other kinds lives beside this module: curves
(closed curves, normalisations, keyframe paths), rhythm (onsets and pulses), seeds (hashed
numbers)."""

from typing import Iterable, List, Sequence, Tuple

from .model import Pattern, Row

PEAK = 0.82


def round12(v: float) -> float:
    """A stored value: rounded to 12 decimals, with negative zero folded to zero."""
    return round(v, 12) + 0.0


def peak(rows: Iterable[Sequence[float]]) -> float:
    """Largest absolute coordinate of the rows."""
    return max(abs(v) for r in rows for v in r)


def scale_to(rows: Sequence[Sequence[float]], target: float = PEAK, reference: float = None) -> List[Tuple[float, ...]]:
    """Multiply every coordinate by target / M, M the largest absolute coordinate of
    reference (default: of rows themselves, i.e. over the pip grid)."""
    m = peak(rows) if reference is None else reference
    s = target / m
    return [tuple(v * s for v in r) for r in rows]


def pattern(name: str, description: str, rows: Iterable[Sequence[float]]) -> Pattern:
    """Round rows to stored values and pad to (x, y, z)."""
    stored: List[Row] = []
    for r in rows:
        r = tuple(r) + (0.0,) * (3 - len(r))
        stored.append((round12(r[0]), round12(r[1]), round12(r[2])))
    return Pattern(name, description, tuple(stored))
