"""Family `ease`: easing curves closed into outward-and-return loops.

Each member goes out along one easing curve and comes back along another, so the loop shows the
curve's character (rebound, anticipation, overshoot, elasticity) against a plain return.
"""

import math

from ..curves import cubic
from ..toolkit import pattern, scale_to

BACK = 1.70158
ATTRIBUTED = "An attributed D3 easing curve, assembled into a closed outward-and-return loop."
ELASTIC = "Original windowed, decaying oscillation; not a copied D3 curve. Peak scaled to .8."


def bounce_out(t):
    """Standard bounce-out: parabolic arcs with breakpoints 4/11, 8/11, 10/11, scale 121/16."""
    b0 = 121.0 / 16.0
    if t < 4.0 / 11.0:
        return b0 * t * t
    if t < 8.0 / 11.0:
        t -= 6.0 / 11.0
        return b0 * t * t + 3.0 / 4.0
    if t < 10.0 / 11.0:
        t -= 9.0 / 11.0
        return b0 * t * t + 15.0 / 16.0
    t -= 21.0 / 22.0
    return b0 * t * t + 63.0 / 64.0


def back_in(t):
    return t * t * ((BACK + 1.0) * t - BACK)


def back_out(t):
    return 1.0 - back_in(1.0 - t)


def out_and_return(e):
    rows = []
    for i in range(256):
        if i <= 128:
            rows.append((-0.65 + 1.3 * e(i / 128.0),))
        else:
            rows.append((0.65 - 1.3 * cubic((i - 128) / 128.0),))
    return rows


def elastic():
    xs = []
    for i in range(256):
        t = i / 256.0
        g = (
            t
            - 0.6 * math.sin(2.0 * math.pi * t) / (2.0 * math.pi)
            - 0.3 * math.sin(4.0 * math.pi * t) / (4.0 * math.pi)
        )
        w = math.sin(math.pi * t) ** 1.75 * math.exp(-1.9 * t)
        xs.append((-w * math.sin(4.0 * math.pi * g),))
    return scale_to(xs, 0.8)


def build(pack):
    return [
        pattern("ease_rebound", ATTRIBUTED, out_and_return(bounce_out)),
        pattern("ease_anticipate", ATTRIBUTED, out_and_return(back_in)),
        pattern("ease_overshoot", ATTRIBUTED, out_and_return(back_out)),
        pattern("ease_elastic", ELASTIC, elastic()),
    ]
