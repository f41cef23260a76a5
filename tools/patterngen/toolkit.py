"""Shared building blocks of the families: the pip grid, eases, keyframe paths, pulses,
peak normalisation and the 12-decimal rounding of stored values."""

import hashlib
import math
from fractions import Fraction
from typing import Callable, Iterable, List, Sequence, Tuple

from .model import Pattern, Row

TAU = 2.0 * math.pi
PEAK = 0.82


def theta(i: int, n: int) -> float:
    """Curve parameter of pip i in a period of n pips: 2*pi*i/n."""
    return TAU * i / n


def quintic(u: float) -> float:
    """Quintic ease 6u^5 - 15u^4 + 10u^3 (zero velocity and acceleration at both ends)."""
    return u * u * u * (u * (6.0 * u - 15.0) + 10.0)


def cubic(u: float) -> float:
    """Cubic ease 3u^2 - 2u^3."""
    return u * u * (3.0 - 2.0 * u)


def round12(v: float) -> float:
    """A stored value: rounded to 12 decimals, with negative zero folded to zero."""
    return round(v, 12) + 0.0


def eased_path(keys: Sequence[Tuple[object, Sequence[float]]], n: int,
               ease: Callable[[float], float] = quintic) -> List[Tuple[float, ...]]:
    """Cyclic keyframe path sampled at pips 0..n-1.

    keys: (time, values) in increasing time order, the first at time 0; times may be
    int or Fraction (exact rational pips). The last keyframe joins the first at time n.
    Between keyframes a and b each value moves on a straight line with parameter
    ease(u), u the fraction of the segment's span elapsed at the pip, so the point
    rests at every keyframe.
    """
    times = [Fraction(t) for t, _ in keys] + [Fraction(n)]
    values = [tuple(v) for _, v in keys]
    values.append(values[0])
    out = []
    k = 0
    for p in range(n):
        while times[k + 1] <= p:
            k += 1
        a, b = values[k], values[k + 1]
        u = float((p - times[k]) / (times[k + 1] - times[k]))
        e = ease(u)
        out.append(tuple(va + (vb - va) * e for va, vb in zip(a, b)))
    return out


def breakpoints(points: Sequence[Tuple[int, float]], n: int) -> List[float]:
    """One quintic-eased lane through (pip, value) breakpoints, closing at pip n."""
    return [v[0] for v in eased_path([(p, (v,)) for p, v in points], n)]


def cyclic_offset(i: int, onset: int, n: int) -> int:
    """Signed pip distance i - onset taken around the cycle, in [-n/2, n/2)."""
    d = (i - onset) % n
    return d - n if d >= n - n // 2 else d


def hann(d: float, half_width: float) -> float:
    """Hann bump (1 + cos(pi*d/w))/2 for |d| <= w, 0 outside."""
    if abs(d) > half_width:
        return 0.0
    return (1.0 + math.cos(math.pi * d / half_width)) / 2.0


def hann_train(n: int, bumps: Sequence[Tuple[int, float]], half_width: float) -> List[float]:
    """One lane of weighted Hann bumps: sum of w * hann(d, half_width) over (onset, w),
    d = pip - onset taken around the cycle of n pips; 0 between bumps."""
    return [sum(w * hann(cyclic_offset(i, onset, n), half_width) for onset, w in bumps)
            for i in range(n)]


def hashed_fractions(key: str, count: int) -> List[float]:
    """count (at most 4) numbers in [0, 1) from the SHA-256 digest of the UTF-8 key:
    consecutive big-endian 64-bit words of the digest divided by 2**64."""
    if not 0 < count <= 4:
        raise ValueError("a SHA-256 digest holds four 64-bit words")
    digest = hashlib.sha256(key.encode("utf-8")).digest()
    return [int.from_bytes(digest[8 * k:8 * k + 8], "big") / 2.0 ** 64 for k in range(count)]


def raised_cosine(u: float) -> float:
    """Raised-cosine pulse over u in [0, 1]: 0 at both ends, 1 in the middle."""
    if u <= 0.0 or u >= 1.0:
        return 0.0
    return (1.0 - math.cos(TAU * u)) / 2.0


def peak(rows: Iterable[Sequence[float]]) -> float:
    return max(abs(v) for r in rows for v in r)


def scale_to(rows: Sequence[Sequence[float]], target: float = PEAK,
             reference: float = None) -> List[Tuple[float, ...]]:
    """Multiply every coordinate by target / M, M the largest absolute coordinate of
    reference (default: of rows themselves, i.e. over the pip grid)."""
    m = peak(rows) if reference is None else reference
    s = target / m
    return [tuple(v * s for v in r) for r in rows]


def half_pip_peak(f: Callable[[float], Sequence[float]], n: int) -> float:
    """Largest absolute coordinate of f over 2n half-pip samples (f takes a pip as float)."""
    return max(abs(v) for k in range(2 * n) for v in f(k / 2.0))


def pattern(name: str, description: str, rows: Iterable[Sequence[float]]) -> Pattern:
    """Round rows to stored values and pad to (x, y, z)."""
    stored: List[Row] = []
    for r in rows:
        r = tuple(r) + (0.0,) * (3 - len(r))
        stored.append((round12(r[0]), round12(r[1]), round12(r[2])))
    return Pattern(name, description, tuple(stored))
