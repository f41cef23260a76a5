"""Compact text view of a pattern for terminals: its position at every
sixteenth note over one period, one beat per line."""

from __future__ import annotations

from typing import Sequence

from .model import PIPS_PER_BEAT, PatternRow, seam_step

SIXTEENTH = PIPS_PER_BEAT // 4
AXES = "xyz"


def _fmt(v: float) -> str:
    s = f"{v:+.2f}"
    return "+0.00" if s == "-0.00" else s


def render_text(row: PatternRow, table: Sequence[tuple[float, float, float]], bpm: float = 120.0) -> str:
    """The text view. `table` holds one (x, y, z) row per pip of the period."""
    period = row.period_pips
    axes = max(1, min(3, row.dimensions))
    seconds = period / PIPS_PER_BEAT * 60.0 / bpm
    beats = period / PIPS_PER_BEAT
    beats_text = f"{beats:g} beat" + ("" if beats == 1 else "s")
    lines = [
        f"{row.name}  [{row.family}, {beats_text} = {period} pips, {row.dimensions}-D]",
        row.description,
        f"At {bpm:g} BPM one period lasts {seconds:.3f} s; a sixteenth is {15.0 / bpm:.3f} s.",
        "One line per beat; columns .1 to .4 are its sixteenths (pip +0, +16, +32, +48).",
        "",
    ]
    cell_header = " ".join(f"{a:>5}" for a in AXES[:axes])
    cell_width = len(cell_header)
    head = "beat  pip |" + " |".join(f" {cell_header}" for _ in range(4))
    offsets = "          |" + " |".join(f" {'.' + str(k + 1):>{cell_width}}" for k in range(4))
    lines.append(offsets)
    lines.append(head)
    lines.append("-" * len(head))
    for beat_start in range(0, period, PIPS_PER_BEAT):
        cells = []
        for k in range(4):
            pip = beat_start + k * SIXTEENTH
            if pip < period:
                cells.append(" " + " ".join(_fmt(table[pip][a]) for a in range(axes)))
            else:
                cells.append(" " + " " * cell_width)
        label = f"{beat_start // PIPS_PER_BEAT + 1:>4} {beat_start:>4} |"
        lines.append((label + " |".join(cells)).rstrip())
    seam, inner = seam_step(table)
    verdict = "a jump at the loop boundary" if seam > inner + 1e-12 else "the loop closes smoothly"
    lines.append("")
    lines.append(f"seam (pip {period - 1} -> 0): step {seam:.4f}, largest step between pips {inner:.4f}: {verdict}")
    return "\n".join(lines) + "\n"
