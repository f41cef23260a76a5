"""Reduction of a closed path to the few points a thumbnail needs.

A pattern's path has one point per pip (up to 1024 of them for the built-in
patterns); a thumbnail needs a few dozen. The reduction keeps the points that
matter for the shape (Douglas-Peucker simplification of the closed loop) so
that sharp corners and short strokes survive, which an even stride would
skip.
"""

from __future__ import annotations

import base64
import math

# Thumbnails are drawn on a square grid of THUMB_GRID + 1 steps per side; one
# coordinate is one byte.
THUMB_GRID = 240
THUMB_MARGIN = 12
# Smallest extent (in pattern units) a thumbnail is stretched to, so that a
# nearly still pattern is not blown up into noise.
THUMB_MIN_EXTENT = 0.2


def _segment_distance_sq(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    wx, wy = px - ax, py - ay
    den = vx * vx + vy * vy
    if den > 0.0:
        t = (wx * vx + wy * vy) / den
        if t > 1.0:
            t = 1.0
        elif t < 0.0:
            t = 0.0
        wx -= t * vx
        wy -= t * vy
    return wx * wx + wy * wy


def simplify_open(points, tolerance: float) -> list[int]:
    """Indices of the points kept by Douglas-Peucker on an open polyline.

    The first and the last point are always kept. Every dropped point lies
    within `tolerance` of the kept polyline. Iterative, so long paths do not
    reach the interpreter's recursion limit.
    """
    n = len(points)
    if n <= 2:
        return list(range(n))
    tol_sq = tolerance * tolerance
    keep = [False] * n
    keep[0] = keep[n - 1] = True
    stack = [(0, n - 1)]
    dist = _segment_distance_sq
    while stack:
        lo, hi = stack.pop()
        if hi - lo < 2:
            continue
        ax, ay = points[lo]
        bx, by = points[hi]
        best, best_i = -1.0, -1
        for i in range(lo + 1, hi):
            px, py = points[i]
            d = dist(px, py, ax, ay, bx, by)
            if d > best:
                best, best_i = d, i
        if best > tol_sq:
            keep[best_i] = True
            stack.append((lo, best_i))
            stack.append((best_i, hi))
    return [i for i in range(n) if keep[i]]


def simplify_closed(points, tolerance: float) -> list[int]:
    """Indices kept when simplifying a closed loop (the last point joins the first).

    Index 0 is always kept, and so is the point farthest from it, which splits
    the loop into two open halves. The result is in increasing order.
    """
    n = len(points)
    if n <= 3:
        return list(range(n))
    x0, y0 = points[0]
    far = max(range(n), key=lambda i: (points[i][0] - x0) ** 2 + (points[i][1] - y0) ** 2)
    if far == 0:
        return [0]  # the path never leaves its first point
    first = simplify_open(points[: far + 1], tolerance)
    second = simplify_open(points[far:] + [points[0]], tolerance)
    # The second half ends on the loop's first point again: leave that out.
    return first + [far + i for i in second[1:-1]]


def _prereduce(points, buckets: int) -> list[int]:
    """Indices of at most 2 * buckets points of a long path: the first point
    of each run of consecutive points, and the point of the run farthest from
    the chord to the next run. A one-pip spike therefore survives."""
    n = len(points)
    bounds = [n * b // buckets for b in range(buckets + 1)]
    out = []
    dist = _segment_distance_sq
    for b in range(buckets):
        lo, hi = bounds[b], bounds[b + 1]
        if lo >= hi:
            continue
        ax, ay = points[lo]
        bx, by = points[hi % n]
        out.append(lo)
        best, best_i = 0.0, -1
        for i in range(lo + 1, hi):
            px, py = points[i]
            d = dist(px, py, ax, ay, bx, by)
            if d > best:
                best, best_i = d, i
        if best_i > 0:
            out.append(best_i)
    return out


def decimate_closed(points, tolerance: float, max_points: int) -> list[int]:
    """Simplify a closed loop to at most `max_points` points.

    The tolerance doubles until the point budget is met, so a busy path keeps
    its overall shape instead of being cut off. Very long paths are first
    thinned run by run (keeping each run's outlier), which bounds the work.
    """
    if max_points < 2:
        raise ValueError("max_points must be at least 2")
    index = list(range(len(points)))
    if len(points) > 8 * max_points:
        index = _prereduce(points, 4 * max_points)
        points = [points[i] for i in index]
    tol = tolerance if tolerance > 0.0 else 1e-9
    while True:
        kept = simplify_closed(points, tol)
        if len(kept) <= max_points:
            return [index[i] for i in kept]
        tol *= 2.0


def trace(values, axis_up: bool, max_points: int = 96, grid_tolerance: float = 1.0) -> list[tuple[int, int]]:
    """Grid points of one component over one period (time to the right).

    With `axis_up` positive values are drawn upward (as for x); otherwise
    negative values are drawn upward, as y is on screen. The scale is fixed
    (components lie in [-1, 1]), so small motion looks small.
    """
    n = len(values)
    if n == 0:
        return []
    span = THUMB_GRID - 2 * THUMB_MARGIN
    half = THUMB_GRID * 0.5
    sign = -1.0 if axis_up else 1.0
    pts = [(THUMB_MARGIN + span * i / max(n - 1, 1), half + sign * v * span * 0.5) for i, v in enumerate(values)]
    tol = grid_tolerance
    while True:
        kept = simplify_open(pts, tol)
        if len(kept) <= max_points:
            break
        tol *= 2.0
    out: list[tuple[int, int]] = []
    for i in kept:
        g = (_to_int(pts[i][0], THUMB_GRID), _to_int(pts[i][1], THUMB_GRID))
        if not out or out[-1] != g:
            out.append(g)
    return out


def fit_to_grid(
    points, grid: int = THUMB_GRID, margin: int = THUMB_MARGIN, min_extent: float = THUMB_MIN_EXTENT
) -> list[tuple[float, float]]:
    """Scale and centre 2-D points into the square 0..grid, keeping the aspect ratio.

    The larger side of the bounding box spans grid - 2 * margin; a box smaller
    than `min_extent` is treated as that large, so tiny motion stays small.
    """
    if not points:
        return []
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
    extent = max(x1 - x0, y1 - y0, min_extent)
    scale = (grid - 2 * margin) / extent
    ox = grid * 0.5 - (x0 + x1) * 0.5 * scale
    oy = grid * 0.5 - (y0 + y1) * 0.5 * scale
    return [(x * scale + ox, y * scale + oy) for x, y in points]


def _to_int(v: float, grid: int) -> int:
    i = int(math.floor(v + 0.5))
    return 0 if i < 0 else grid if i > grid else i


def thumbnail(points2d, max_points: int = 96, grid_tolerance: float = 1.0) -> list[tuple[int, int]]:
    """Grid points of a closed path's thumbnail, pip 0 first, no repeated neighbours.

    The path is fitted to the thumbnail grid first, so the simplification
    tolerance is in grid steps whatever the pattern's size.
    """
    fitted = fit_to_grid(list(points2d))
    if not fitted:
        return []
    kept = decimate_closed(fitted, grid_tolerance, max_points)
    out: list[tuple[int, int]] = []
    for i in kept:
        g = (_to_int(fitted[i][0], THUMB_GRID), _to_int(fitted[i][1], THUMB_GRID))
        if not out or out[-1] != g:
            out.append(g)
    while len(out) > 1 and out[-1] == out[0]:
        out.pop()
    return out


def encode_thumbnail(grid_points) -> str:
    """Base64 of the grid points, one byte per coordinate (x then y)."""
    raw = bytearray()
    for x, y in grid_points:
        if not (0 <= x <= 255 and 0 <= y <= 255):
            raise ValueError("thumbnail coordinate outside one byte")
        raw.append(x)
        raw.append(y)
    return base64.b64encode(bytes(raw)).decode("ascii")


def decode_thumbnail(text: str) -> list[tuple[int, int]]:
    raw = base64.b64decode(text)
    return [(raw[i], raw[i + 1]) for i in range(0, len(raw) - 1, 2)]
