"""Curves on the pip grid: the curve parameter, closed parametric curves sampled per pip, the
two peak normalisations (over the pip samples, over the half-pip samples), eases, and eased
keyframe paths and tours that rest at every keyframe."""

import math
from fractions import Fraction
from typing import Callable, List, Sequence, Tuple

from .toolkit import PEAK, scale_to

TAU = 2.0 * math.pi

Point = Tuple[float, ...]


def theta(i, n: int) -> float:
    """Curve parameter of pip i (an int, or a float for points between pips) in a period of
    n pips: 2*pi*i/n."""
    return TAU * i / n


def closed_curve(f: Callable[[float], Point], n: int) -> List[Point]:
    """f(theta) at the n pips, theta = 2*pi*i/n: one full turn, closing at the wrap."""
    return [tuple(f(theta(i, n))) for i in range(n)]


def scaled_on_pips(f: Callable[[float], Point], n: int, target: float = PEAK) -> List[Point]:
    """closed_curve(f, n) multiplied by target / M, M the largest absolute coordinate over
    the n pip samples: the largest stored coordinate is target."""
    return scale_to(closed_curve(f, n), target)


def scaled_on_half_pips(f: Callable[[float], Point], n: int, target: float = PEAK) -> List[Point]:
    """closed_curve(f, n) multiplied by target / M, M the largest absolute coordinate over the
    2n half-pip samples theta = 2*pi*(k/2)/n: the largest stored coordinate may fall a little
    below target where the curve peaks between pips."""
    m = max(abs(v) for k in range(2 * n) for v in f(theta(k / 2.0, n)))
    return scale_to(closed_curve(f, n), target, reference=m)


def path_scaled_on_half_pips(path: Callable[[Fraction], Point], n: int, target: float = PEAK) -> List[Point]:
    """A path given as a function of the exact pip time t (Fraction), sampled at the n pips
    and multiplied by target / M, M the largest absolute coordinate over the 2n half pips."""
    m = max(abs(v) for k in range(2 * n) for v in path(Fraction(k, 2)))
    return scale_to([path(Fraction(i)) for i in range(n)], target, reference=m)


def quintic(u: float) -> float:
    """Quintic ease 6u^5 - 15u^4 + 10u^3 (zero velocity and acceleration at both ends)."""
    return u * u * u * (u * (6.0 * u - 15.0) + 10.0)


def cubic(u: float) -> float:
    """Cubic ease 3u^2 - 2u^3."""
    return u * u * (3.0 - 2.0 * u)


def keyframe_path(
    keys: Sequence[Tuple[object, Sequence[float]]], n: int, ease: Callable[[float], float] = quintic
) -> Callable[[object], Point]:
    """Cyclic keyframe path as a function of the pip time t (int, Fraction or float in
    [0, n)).

    keys: (time, values) in increasing time order, the first at time 0; times may be int or
    Fraction (exact rational pips). The last keyframe joins the first at time n. Between
    keyframes a and b each value moves on a straight line with parameter ease(u), u the
    fraction of the segment's span elapsed at t, so the point rests at every keyframe.
    """
    times = [Fraction(t) for t, _ in keys] + [Fraction(n)]
    values = [tuple(v) for _, v in keys]
    values.append(values[0])
    if times[0] != 0 or any(b <= a for a, b in zip(times, times[1:])):
        raise ValueError("keyframe times must start at 0 and increase to below the period")
    if len({len(v) for v in values}) != 1:
        raise ValueError("every keyframe needs the same number of coordinates")

    def at(t) -> Point:
        k = 0
        while times[k + 1] <= t:
            k += 1
        a, b = values[k], values[k + 1]
        u = float((t - times[k]) / (times[k + 1] - times[k]))
        e = ease(u)
        return tuple(va + (vb - va) * e for va, vb in zip(a, b))

    return at


def eased_path(
    keys: Sequence[Tuple[object, Sequence[float]]], n: int, ease: Callable[[float], float] = quintic
) -> List[Point]:
    """keyframe_path(keys, n, ease) sampled at pips 0..n-1."""
    at = keyframe_path(keys, n, ease)
    return [at(p) for p in range(n)]


def breakpoints(points: Sequence[Tuple[int, float]], n: int) -> List[float]:
    """One quintic-eased lane through (pip, value) breakpoints, closing at pip n."""
    return [v[0] for v in eased_path([(p, (v,)) for p, v in points], n)]


def segment_times(weights: Sequence[object], n: int) -> List[Fraction]:
    """Start times (exact Fractions) of consecutive segments whose durations are the weights
    normalised to fill n pips."""
    ws = [Fraction(w) for w in weights]
    total = sum(ws)
    times, t = [], Fraction(0)
    for w in ws:
        times.append(t)
        t += w * n / total
    return times


def tour_path(
    vertices: Sequence[Sequence[float]], weights: Sequence[object], n: int, ease: Callable[[float], float] = quintic
) -> Callable[[object], Point]:
    """Eased polyline tour as a function of the pip time t (int, Fraction or float in [0, n)):
    the point moves from vertex to vertex on straight lines, segment k taking weights[k] of
    the weights' total of the n pips, resting at every vertex; the last vertex returns to the
    first at the wrap."""
    if len(vertices) != len(weights):
        raise ValueError("one segment weight per vertex")
    return keyframe_path(list(zip(segment_times(weights, n), vertices)), n, ease)


def tour(
    vertices: Sequence[Sequence[float]], weights: Sequence[object], n: int, ease: Callable[[float], float] = quintic
) -> List[Point]:
    """tour_path(vertices, weights, n, ease) sampled at pips 0..n-1."""
    at = tour_path(vertices, weights, n, ease)
    return [at(p) for p in range(n)]


def rose(k: int, n: int, amplitude: float = PEAK) -> List[Point]:
    """Signed-radius rose of k petals over n pips: r = amplitude*cos(m*phi), point
    (r*cos phi, r*sin phi). Odd k: m = k over half a turn (phi = pi*i/n); even k: m = k/2
    over a full turn (phi = 2*pi*i/n), so the rose of k/2 petals is traced twice when k/2
    is odd. Either way the trace closes at the wrap."""
    if k % 2:
        m, turn = k, math.pi
    else:
        m, turn = k // 2, TAU
    rows = []
    for i in range(n):
        phi = turn * i / n
        r = amplitude * math.cos(m * phi)
        rows.append((r * math.cos(phi), r * math.sin(phi)))
    return rows


def torus_knot(p: int, q: int, major: float, minor: float, depth: float) -> Callable[[float], Point]:
    """(p, q) torus knot as f(theta): p turns about the axis and q through the tube,
    ((major + minor*cos q*theta)*cos p*theta, (...)*sin p*theta, depth*sin q*theta)."""

    def f(t: float) -> Point:
        ring = major + minor * math.cos(q * t)
        return (ring * math.cos(p * t), ring * math.sin(p * t), depth * math.sin(q * t))

    return f


def crank_slider(phi: float, rod: float, offset: float = 0.0) -> float:
    """Slider position of a crank of radius 1 at angle phi driving a rod of the given length,
    the slider line lying `offset` from the crank axis: cos phi + sqrt(rod^2 - (sin phi +
    offset)^2), measured from the crank axis."""
    s = math.sin(phi) + offset
    return math.cos(phi) + math.sqrt(rod * rod - s * s)


def rotated(x: float, y: float, angle: float) -> Tuple[float, float]:
    """(x, y) turned by angle radians about the origin (from +x towards +y)."""
    c, s = math.cos(angle), math.sin(angle)
    return (x * c - y * s, x * s + y * c)


def _solve(a: List[List[float]], b: List[float]) -> List[float]:
    """Solution of the small dense system a x = b (Gaussian elimination, partial pivoting)."""
    m = len(b)
    a = [row[:] + [v] for row, v in zip(a, b)]
    for c in range(m):
        p = max(range(c, m), key=lambda r: abs(a[r][c]))
        a[c], a[p] = a[p], a[c]
        for r in range(c + 1, m):
            f = a[r][c] / a[c][c]
            for k in range(c, m + 1):
                a[r][k] -= f * a[c][k]
    x = [0.0] * m
    for r in range(m - 1, -1, -1):
        x[r] = (a[r][m] - sum(a[r][k] * x[k] for k in range(r + 1, m))) / a[r][r]
    return x


def closed_spline(controls: Sequence[Sequence[float]], weights: Sequence[object], n: int) -> Callable[[object], Point]:
    """Closed periodic cubic spline through the controls as a function of the pip time t in
    [0, n).

    Control j is passed at the start of segment j (segment_times(weights, n)); the last
    segment runs back to control 0 at the wrap. The curve is the interpolating cubic with
    continuous tangent and curvature everywhere, the wrap included (each coordinate's second
    derivatives M solve the cyclic system h[j-1] M[j-1] + 2 (h[j-1] + h[j]) M[j] + h[j] M[j+1]
    = 6 (slope[j] - slope[j-1]), h the segment durations), so unequal durations shape the
    tangents as well as the timing.
    """
    m = len(controls)
    if m < 3 or len(weights) != m:
        raise ValueError("a closed spline needs at least three controls and one weight each")
    starts = segment_times(weights, n)
    times = starts + [Fraction(n)]
    h = [float(times[j + 1] - times[j]) for j in range(m)]
    points = [tuple(float(v) for v in c) for c in controls]
    dims = len(points[0])
    system = [[0.0] * m for _ in range(m)]
    for j in range(m):
        system[j][(j - 1) % m] += h[j - 1]
        system[j][j] += 2.0 * (h[j - 1] + h[j])
        system[j][(j + 1) % m] += h[j]
    moments = []
    for d in range(dims):
        v = [p[d] for p in points]
        slopes = [(v[(j + 1) % m] - v[j]) / h[j] for j in range(m)]
        moments.append(_solve(system, [6.0 * (slopes[j] - slopes[j - 1]) for j in range(m)]))

    def at(t) -> Point:
        t = Fraction(t)
        j = m - 1
        while starts[j] > t:
            j -= 1
        hj = h[j]
        b = float(t - times[j]) / hj
        a = 1.0 - b
        k = (j + 1) % m
        ca, cb = (a * a * a - a) * hj * hj / 6.0, (b * b * b - b) * hj * hj / 6.0
        return tuple(a * points[j][d] + b * points[k][d] + ca * moments[d][j] + cb * moments[d][k] for d in range(dims))

    return at
