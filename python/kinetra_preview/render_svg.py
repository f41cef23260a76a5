"""The large view of one pattern as a standalone SVG file.

It shows the path in x/y with depth by oblique projection (nearer segments
drawn stronger), beat markers, the seam from the last pip back to pip 0, the
three component curves over one period, and a point that moves along the
path at the chosen BPM (SVG animation, one step per pip).
"""

from __future__ import annotations

import textwrap
from typing import Sequence
from xml.sax.saxutils import escape

from . import projection
from .model import PIPS_PER_BEAT, PatternRow, seam_step

WIDTH = 720
PLOT_SIZE = 600
PLOT_TOP = 120
CURVES_TOP = PLOT_TOP + PLOT_SIZE + 30
CURVES_HEIGHT = 200
HEIGHT = CURVES_TOP + CURVES_HEIGHT + 40
DEPTH_BINS = 6

PATH_COLOUR = "#1d4e89"
POINT_COLOUR = "#d1495b"
SEAM_COLOUR = "#e07a00"
AXIS_COLOURS = ("#c0392b", "#2e8b57", "#2d6cdf")


def plot_scale() -> float:
    return (PLOT_SIZE / 2 - 10) / projection.PROJECTED_LIMIT


def to_plot(x: float, y: float, z: float) -> tuple[float, float]:
    """Pixel position in the SVG of a pattern position."""
    sx, sy = projection.project(x, y, z)
    s = plot_scale()
    return (WIDTH / 2 + sx * s, PLOT_TOP + PLOT_SIZE / 2 + sy * s)


def _animate(attr: str, seconds: float, values: list[str]) -> str:
    """A discrete SVG animation of attr through values, once per `seconds`, repeated."""
    return (
        f'<animate attributeName="{attr}" dur="{seconds:.6g}s" repeatCount="indefinite" '
        f'calcMode="discrete" values="{";".join(values)}"/>'
    )


def _n(v: float) -> str:
    s = f"{v:.1f}"
    return "0" if s in ("0.0", "-0.0") else s[:-2] if s.endswith(".0") else s


def _frame(dimensions: int) -> list[str]:
    out = []

    def square(z: float, style: str) -> str:
        pts = [to_plot(x, y, z) for x, y in ((-1, -1), (1, -1), (1, 1), (-1, 1))]
        d = "M" + " L".join(f"{_n(a)} {_n(b)}" for a, b in pts) + " Z"
        return f'<path d="{d}" {style}/>'

    if dimensions == 3:
        out.append(square(-1.0, 'fill="none" stroke="#ccc" stroke-width="1"'))
        out.append(square(1.0, 'fill="none" stroke="#bbb" stroke-width="1"'))
        for x, y in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
            (a, b), (c, d) = to_plot(x, y, -1.0), to_plot(x, y, 1.0)
            out.append(f'<line x1="{_n(a)}" y1="{_n(b)}" x2="{_n(c)}" y2="{_n(d)}" stroke="#ddd"/>')
    out.append(square(0.0, 'fill="none" stroke="#999" stroke-dasharray="4 4" stroke-width="1"'))
    (a, b), (c, d) = to_plot(-1, 0, 0), to_plot(1, 0, 0)
    out.append(f'<line x1="{_n(a)}" y1="{_n(b)}" x2="{_n(c)}" y2="{_n(d)}" stroke="#e4e4e4"/>')
    (a, b), (c, d) = to_plot(0, -1, 0), to_plot(0, 1, 0)
    out.append(f'<line x1="{_n(a)}" y1="{_n(b)}" x2="{_n(c)}" y2="{_n(d)}" stroke="#e4e4e4"/>')
    left = WIDTH / 2 - PLOT_SIZE / 2
    out.append(f'<text x="{_n(left + 6)}" y="{PLOT_TOP + 14}" class="small">negative y is up</text>')
    return out


def _path(table: Sequence[tuple[float, float, float]]) -> list[str]:
    n = len(table)
    pts = [to_plot(*r) for r in table]
    bins: list[list[str]] = [[] for _ in range(DEPTH_BINS)]
    # Consecutive segments of one depth band form one run, so joins inside a
    # run do not double the opacity.
    run, run_bin = "", -1
    for i in range(n - 1):
        z = (table[i][2] + table[i + 1][2]) * 0.5
        b = min(DEPTH_BINS - 1, int((projection.depth_strength(z) - 0.25) / 0.75 * DEPTH_BINS))
        if b != run_bin:
            if run:
                bins[run_bin].append(run)
            run, run_bin = f"M{_n(pts[i][0])} {_n(pts[i][1])}", b
        run += f"L{_n(pts[i + 1][0])} {_n(pts[i + 1][1])}"
    if run:
        bins[run_bin].append(run)
    out = []
    for b, segs in enumerate(bins):
        if not segs:
            continue
        strength = 0.25 + 0.75 * (b + 0.5) / DEPTH_BINS
        out.append(
            f'<path d="{"".join(segs)}" fill="none" stroke="{PATH_COLOUR}" '
            f'stroke-opacity="{strength:.2f}" stroke-width="{1 + 2.5 * strength:.2f}" '
            f'stroke-linecap="round" stroke-linejoin="round"/>'
        )
    return out


def _seam(table) -> list[str]:
    if len(table) < 2:
        return []
    (a, b), (c, d) = to_plot(*table[-1]), to_plot(*table[0])
    seam, inner = seam_step(table)
    label = "seam: jump" if seam > inner + 1e-12 else "seam"
    return [
        f'<line x1="{_n(a)}" y1="{_n(b)}" x2="{_n(c)}" y2="{_n(d)}" stroke="{SEAM_COLOUR}" '
        f'stroke-width="3" stroke-dasharray="3 3" class="seam"/>',
        f'<text x="{_n(c + 8)}" y="{_n(d + 18)}" class="small" style="fill:{SEAM_COLOUR}">{label}</text>',
    ]


def _beats(table) -> list[str]:
    out = []
    for beat, pip in enumerate(range(0, len(table), PIPS_PER_BEAT)):
        a, b = to_plot(*table[pip])
        r = 5 if pip == 0 else 3.5
        fill = "#222" if pip == 0 else "#fff"
        out.append(f'<circle cx="{_n(a)}" cy="{_n(b)}" r="{r}" fill="{fill}" stroke="#222" class="beat"/>')
        out.append(f'<text x="{_n(a + 6)}" y="{_n(b - 5)}" class="small">{beat + 1}</text>')
    return out


def _point(table, seconds: float) -> list[str]:
    xs, ys, rs = [], [], []
    for r in table:
        a, b = to_plot(*r)
        xs.append(_n(a))
        ys.append(_n(b))
        rs.append(f"{5 + 4 * projection.depth_strength(r[2]):.1f}")
    a, b = xs[0], ys[0]
    return [
        f'<circle cx="{a}" cy="{b}" r="{rs[0]}" fill="{POINT_COLOUR}" stroke="#fff" class="point">',
        _animate("cx", seconds, xs),
        _animate("cy", seconds, ys),
        _animate("r", seconds, rs),
        "</circle>",
    ]


def _curves(table, seconds: float) -> list[str]:
    n = len(table)
    left, right = 50, WIDTH - 20
    top, h = CURVES_TOP, CURVES_HEIGHT

    def px(pip: float) -> float:
        return left + (right - left) * pip / n

    def py(v: float) -> float:
        return top + h / 2 - v * (h / 2 - 6)

    out = [
        f'<rect x="{left}" y="{top}" width="{right - left}" height="{h}" fill="#fff" stroke="#ccc"/>',
        f'<line x1="{left}" y1="{_n(py(0))}" x2="{right}" y2="{_n(py(0))}" stroke="#ddd"/>',
        f'<text x="{left - 6}" y="{_n(py(1) + 4)}" class="small" text-anchor="end">+1</text>',
        f'<text x="{left - 6}" y="{_n(py(-1) + 4)}" class="small" text-anchor="end">-1</text>',
    ]
    for beat, pip in enumerate(range(0, n, PIPS_PER_BEAT)):
        out.append(f'<line x1="{_n(px(pip))}" y1="{top}" x2="{_n(px(pip))}" y2="{top + h}" stroke="#eee"/>')
        out.append(f'<text x="{_n(px(pip) + 2)}" y="{top + h + 14}" class="small">{beat + 1}</text>')
    for axis, colour in enumerate(AXIS_COLOURS):
        d = "M" + " L".join(f"{_n(px(i))} {_n(py(r[axis]))}" for i, r in enumerate(table))
        out.append(f'<path d="{d}" fill="none" stroke="{colour}" stroke-width="1.5"/>')
    for axis, (name, colour) in enumerate(zip(("x", "y (negative = up)", "z (positive = near)"), AXIS_COLOURS)):
        out.append(f'<text x="{left + 8 + 150 * axis}" y="{top - 6}" class="small" style="fill:{colour}">{name}</text>')
    xs = [_n(px(i)) for i in range(n)]
    out.append(
        f'<line x1="{left}" y1="{top}" x2="{left}" y2="{top + h}" stroke="{POINT_COLOUR}" stroke-width="1.5">'
        + _animate("x1", seconds, xs)
        + _animate("x2", seconds, xs)
        + "</line>"
    )
    return out


def render_svg(row: PatternRow, table: Sequence[tuple[float, float, float]], bpm: float = 120.0) -> str:
    """The SVG document text for one pattern."""
    if len(table) != row.period_pips or not table:
        raise ValueError("the table must hold one row per pip of the period")
    seconds = row.period_pips / PIPS_PER_BEAT * 60.0 / bpm
    beats = row.period_pips / PIPS_PER_BEAT
    desc_lines = textwrap.wrap(row.description, 100)[:3] or [""]
    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 {WIDTH} {HEIGHT}" width="{WIDTH}" height="{HEIGHT}" '
        f'font-family="sans-serif">',
        f"<title>{escape(row.name)}</title>",
        "<style>.small{font-size:11px;fill:#555}.title{font-size:20px;font-weight:bold}</style>",
        f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#fbfbfa"/>',
        f'<text x="20" y="32" class="title">{escape(row.name)}</text>',
        f'<text x="20" y="52" font-size="12" fill="#333">{escape(row.family)} \u00b7 {beats:g} beats '
        f"({row.period_pips} pips) \u00b7 {row.dimensions}-D \u00b7 {bpm:g} BPM, one period {seconds:.3f} s</text>",
    ]
    for i, line in enumerate(desc_lines):
        parts.append(f'<text x="20" y="{72 + 15 * i}" font-size="12" fill="#555">{escape(line)}</text>')
    parts += _frame(row.dimensions)
    parts += _path(table)
    parts += _seam(table)
    parts += _beats(table)
    parts += _point(table, seconds)
    parts += _curves(table, seconds)
    parts.append("</svg>")
    return "\n".join(parts) + "\n"
