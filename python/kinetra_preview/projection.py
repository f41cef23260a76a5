"""Oblique projection of pattern positions onto the drawing plane.

Positions are drawn with x to the right and y downward, which is how the
patterns are defined (negative y is upward), so x and y map straight onto
screen coordinates. Depth is shown by a cabinet-style oblique projection:
the far side (negative z) recedes up and to the right, so a point that comes
nearer (positive z) shifts down and to the left by half its depth along a
45 degree diagonal. Nearer parts of a path are drawn stronger.

The page's script uses the same constants (they travel in the page data), so
the browser and the files written from Python agree on every coordinate.
"""

from __future__ import annotations

import math

# Length of the receding axis relative to x and y (cabinet projection).
DEPTH_SCALE = 0.5
# Angle of the receding axis above the horizontal, in degrees.
DEPTH_ANGLE_DEGREES = 45.0

_ANGLE = math.radians(DEPTH_ANGLE_DEGREES)
# Screen shift per unit of z. A nearer point (z > 0) moves left and down.
DEPTH_DX = -DEPTH_SCALE * math.cos(_ANGLE)
DEPTH_DY = DEPTH_SCALE * math.sin(_ANGLE)

# Every component lies in [-1, 1]; the projected point then stays inside
# this half-width in both screen directions.
PROJECTED_LIMIT = 1.0 + max(abs(DEPTH_DX), abs(DEPTH_DY))


def project(x: float, y: float, z: float) -> tuple[float, float]:
    """Screen position (right, down) of a pattern position."""
    return (x + z * DEPTH_DX, y + z * DEPTH_DY)


def project_all(points) -> list[tuple[float, float]]:
    """Project a sequence of (x, y, z) rows."""
    dx, dy = DEPTH_DX, DEPTH_DY
    return [(x + z * dx, y + z * dy) for x, y, z in points]


def depth_strength(z: float) -> float:
    """Drawing strength in [0.25, 1] for a depth in [-1, 1]: nearer is stronger.

    z = -1 (far) gives 0.25, z = 0 gives 0.625, z = +1 (near) gives 1. Values
    outside [-1, 1] are clamped, so the result is always a usable opacity.
    """
    if z != z:  # NaN
        z = 0.0
    z = -1.0 if z < -1.0 else 1.0 if z > 1.0 else z
    return 0.625 + 0.375 * z


def bounds(points2d) -> tuple[float, float, float, float]:
    """(min_x, min_y, max_x, max_y) of projected points; zeros when empty."""
    pts = list(points2d)
    if not pts:
        return (0.0, 0.0, 0.0, 0.0)
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return (min(xs), min(ys), max(xs), max(ys))


def js_constants() -> dict:
    """The projection constants as the page's script reads them."""
    return {"dx": DEPTH_DX, "dy": DEPTH_DY, "limit": PROJECTED_LIMIT}
