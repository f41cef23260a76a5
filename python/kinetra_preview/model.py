"""The page model: catalogue rows, families, thumbnails and encoded tables.

Everything here works on plain data: a list of catalogue-row dicts and a
`sample(name, pip)` function. The command line passes the rows and the
sampler of a `kinetra.PatternLibrary`; tests can pass small stand-ins.
"""

from __future__ import annotations

import dataclasses
import json
from typing import Callable, Iterable, Sequence

from kinetra import PIPS_PER_BEAT

from . import codec, decimate, projection

# The procedural patterns by group, as the pattern registry (tools/patterngen) lists them.
DANCE_MOVES = ("bounce", "sway", "circle", "figure_eight", "step_touch", "box_step", "helix", "clay_background")
DRUM_RUDIMENTS = (
    "single_stroke_roll",
    "double_stroke_roll",
    "multiple_bounce_roll",
    "single_paradiddle",
    "flam",
    "drag",
    "five_stroke_roll",
)
USER_FAMILY = "user"

Row = tuple[float, float, float]
Sampler = Callable[[str, int], object]


def family_of(name: str, user: bool = False) -> str:
    """Family shown for a pattern.

    The procedural dance moves form "dance" and the procedural drum rudiments
    join the baked "rudiment" family; a baked name begins with its family
    prefix; a caller's own patterns are "user".
    """
    if user:
        return USER_FAMILY
    if name in DANCE_MOVES:
        return "dance"
    if name in DRUM_RUDIMENTS:
        return "rudiment"
    head, sep, _ = name.partition("_")
    return head if sep else name


@dataclasses.dataclass(frozen=True)
class PatternRow:
    name: str
    description: str
    period_pips: int
    dimensions: int
    family: str
    user: bool = False

    @property
    def beats(self) -> float:
        return self.period_pips / PIPS_PER_BEAT


def rows_from_catalogue(catalogue: Sequence[dict], builtin_count: int | None = None) -> list[PatternRow]:
    """Page rows from catalogue dicts; rows from index `builtin_count` on are the caller's."""
    if builtin_count is None:
        builtin_count = len(catalogue)
    out = []
    for i, r in enumerate(catalogue):
        user = i >= builtin_count
        out.append(
            PatternRow(
                r["name"],
                r["description"],
                int(r["period_pips"]),
                int(r["dimensions"]),
                family_of(r["name"], user),
                user,
            )
        )
    return out


def families(rows: Iterable[PatternRow]) -> list[tuple[str, int]]:
    """(family, count) in order of first appearance."""
    counts: dict[str, int] = {}
    for r in rows:
        counts[r.family] = counts.get(r.family, 0) + 1
    return list(counts.items())


def sample_table(sample: Sampler, name: str, period: int) -> list[Row]:
    """One (x, y, z) row per pip of one period."""
    return [sample(name, pip).as_tuple() for pip in range(period)]


def seam_step(table: Sequence[Row]) -> tuple[float, float]:
    """(step from the last pip back to pip 0, largest step between neighbouring pips).

    Steps are the largest component difference. A seam step above the
    largest neighbour step is a visible jump at the loop boundary.
    """
    n = len(table)
    if n < 2:
        return (0.0, 0.0)

    def step(a: Row, b: Row) -> float:
        return max(abs(a[0] - b[0]), abs(a[1] - b[1]), abs(a[2] - b[2]))

    inner = max(step(table[i], table[i + 1]) for i in range(n - 1))
    return (step(table[-1], table[0]), inner)


def thumbnail_of(table: Sequence[Row]) -> str:
    return decimate.encode_thumbnail(decimate.thumbnail(projection.project_all(table)))


def line_axis(table: Sequence[Row]) -> int | None:
    """The one axis (0 for x, 1 for y) that moves when the path is a straight
    line along x or y, else None. The thumbnail of such a path says little,
    so the card adds that component's curve over time."""
    extents = [max(r[a] for r in table) - min(r[a] for r in table) for a in range(3)]
    big = max(extents)
    if big <= 0.0:
        return None
    moving = [a for a in range(3) if extents[a] > 0.02 * big]
    return moving[0] if len(moving) == 1 and moving[0] < 2 else None


def trace_of(table: Sequence[Row], axis: int) -> str:
    return decimate.encode_thumbnail(decimate.trace([r[axis] for r in table], axis_up=(axis == 0)))


@dataclasses.dataclass
class PageModel:
    """What one page shows: rows with thumbnails and encoded tables.

    `mode` is "gallery" (cards for all rows) or "single" (one large view,
    `selected` names its pattern).
    """

    rows: list[PatternRow]
    thumbs: list[str]
    tables: list[str]
    traces: dict[int, tuple[str, str]] = dataclasses.field(default_factory=dict)
    bpm: float = 120.0
    mode: str = "gallery"
    selected: str | None = None
    title: str = "kinetra pattern preview"

    def families(self) -> list[tuple[str, int]]:
        return families(self.rows)

    def to_data(self) -> dict:
        fams = self.families()
        index = {f: i for i, (f, _) in enumerate(fams)}
        return {
            "format": 1,
            "title": self.title,
            "mode": self.mode,
            "selected": self.selected,
            "bpm": self.bpm,
            "pipsPerBeat": PIPS_PER_BEAT,
            "quant": codec.QUANT_SCALE,
            "projection": projection.js_constants(),
            "thumbGrid": decimate.THUMB_GRID,
            "families": [f for f, _ in fams],
            "names": [r.name for r in self.rows],
            "descriptions": [r.description for r in self.rows],
            "periods": [r.period_pips for r in self.rows],
            "dimensions": [r.dimensions for r in self.rows],
            "family": [index[r.family] for r in self.rows],
            "user": [i for i, r in enumerate(self.rows) if r.user],
            "thumbs": self.thumbs,
            # {row: [axis name, curve]} for rows whose path is a straight line
            "traces": {str(i): list(t) for i, t in sorted(self.traces.items())},
            "tables": self.tables,
        }

    def to_json(self) -> str:
        """The page data as JSON that is safe inside a script element."""
        text = json.dumps(self.to_data(), ensure_ascii=False, separators=(",", ":"))
        # Keep the HTML parser from seeing a closing tag or comment in the data.
        return text.replace("</", "<\\/").replace("<!--", "<\\u0021--")


def build_page_model(
    rows: Sequence[PatternRow],
    sample: Sampler,
    *,
    bpm: float = 120.0,
    mode: str = "gallery",
    selected: str | None = None,
    progress: Callable[[int, int], None] | None = None,
) -> PageModel:
    """Sample every row over one period and encode its thumbnail and table."""
    if mode not in ("gallery", "single"):
        raise ValueError(f"unknown page mode: {mode}")
    if not (bpm > 0 and bpm < 10000):
        raise ValueError("BPM must be a positive number below 10000")
    thumbs, tables, traces = [], [], {}
    for i, row in enumerate(rows):
        table = sample_table(sample, row.name, row.period_pips)
        thumbs.append(thumbnail_of(table))
        axis = line_axis(table)
        if axis is not None:
            traces[i] = ("xy"[axis], trace_of(table, axis))
        tables.append(codec.encode_table(table))
        if progress is not None:
            progress(i + 1, len(rows))
    title = "kinetra pattern preview" if mode == "gallery" else f"{selected} \u2014 kinetra pattern preview"
    return PageModel(list(rows), thumbs, tables, traces, float(bpm), mode, selected, title)
