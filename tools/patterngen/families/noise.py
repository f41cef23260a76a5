"""Family `noise`: deterministic smooth noise from hashed control points.

Control values come from SHA-256 of indexed keys (seeds.signed_hash), so each table is a pure
function of its name. Drift and depth ease through the control points; orbit and ripple carry
band-limited interpolants of them round a circle whose angle slows across the seam.
"""

import math
from fractions import Fraction

from ..curves import eased_path, theta
from ..seeds import signed_hash
from ..toolkit import pattern, scale_to

N = 1024
DESCRIPTION = "Indexed SHA-256 control points in a closed {} path. No mutable random state."

# (kind, control point counts), in catalogue order.
KINDS = (
    ("drift", (5, 7, 9, 11)),
    ("ripple", (5, 7, 9, 11)),
    ("orbit", (6, 8, 10, 12)),
    ("depth", (6, 8, 10, 12)),
)

ORBIT_DEPTH = 0.2
RIPPLE_DEPTH = 0.3
# Orbit and ripple run through their loop with the angle phase(theta): a little slower
# across the seam at row 0 (speed 0.8) and faster opposite it (1.2), so the seam step
# stays clear of the largest step of the loop.
SEAM_EASE = 0.2


def phase(t: float) -> float:
    return t - SEAM_EASE * math.sin(t)


def control_value(name: str, lane: str, j: int) -> float:
    """Control value j of a lane: the first 8 digest bytes mapped onto [-1, 1]."""
    return signed_hash("kinetra/noise/%s/%s/%d" % (name, lane, j))


def lane_values(name: str, lane: str, n: int):
    return [control_value(name, lane, j) for j in range(n)]


def trig_interpolant(values):
    """The band-limited periodic curve f(t), period 2*pi, with f(2*pi*j/n) = values[j]."""
    n = len(values)
    nodes = [2.0 * math.pi * j / n for j in range(n)]
    terms = []  # (k, cos weight, sin weight)
    for k in range(1, n // 2 + 1):
        a = 2.0 / n * math.fsum(v * math.cos(k * t) for v, t in zip(values, nodes))
        b = 2.0 / n * math.fsum(v * math.sin(k * t) for v, t in zip(values, nodes))
        if 2 * k == n:  # the Nyquist cosine is shared by +k and -k: halve it
            a, b = a / 2.0, 0.0
        terms.append((k, a, b))
    mean = math.fsum(values) / n

    def f(t: float) -> float:
        return mean + math.fsum(a * math.cos(k * t) + b * math.sin(k * t) for k, a, b in terms)

    return f


def keyframe_rows(name: str, n: int, lanes: str):
    values = [lane_values(name, lane, n) for lane in lanes]
    keys = [(Fraction(N * j, n), tuple(v[j] for v in values)) for j in range(n)]
    return eased_path(keys, N)


def orbit_rows(name: str, n: int):
    radius = trig_interpolant(lane_values(name, "r", n))
    rows = []
    for i in range(N):
        t = phase(theta(i, N))
        r = 1.0 + ORBIT_DEPTH * radius(t)
        rows.append((r * math.cos(t), r * math.sin(t)))
    return rows


def ripple_rows(name: str, n: int):
    rx = trig_interpolant(lane_values(name, "x", n))
    ry = trig_interpolant(lane_values(name, "y", n))
    rows = []
    for i in range(N):
        t = phase(theta(i, N))
        w = RIPPLE_DEPTH * (1.0 - math.cos(t)) / 2.0  # ripples vanish at the seam
        rows.append((math.cos(t) + w * rx(t), math.sin(t) + w * ry(t)))
    return rows


def build(pack):
    out = []
    for kind, counts in KINDS:
        for n in counts:
            name = "noise_%s_%d" % (kind, n)
            if kind == "drift":
                rows = keyframe_rows(name, n, "xy")
            elif kind == "depth":
                rows = keyframe_rows(name, n, "xyz")
            elif kind == "orbit":
                rows = orbit_rows(name, n)
            else:
                rows = ripple_rows(name, n)
            out.append(pattern(name, DESCRIPTION.format(kind), scale_to(rows)))
    return out
