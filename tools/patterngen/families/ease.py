"""Family `ease`: easing curves closed into outward-and-return loops.

256 pips, x only. For the three attributed curves E, pips 0..128 go out with
x = -0.65 + 1.3*E(i/128) and pips 128..255 come back with x = 0.65 - 1.3*s((i - 128)/128),
s the cubic ease; both halves give 0.65 at pip 128.

ease_elastic is our own windowed oscillation. With t = i/256:
    g(t) = t - 0.6*sin(2*pi*t)/(2*pi) - 0.3*sin(4*pi*t)/(4*pi)
        a phase warp (g(0) = 0, g(1/2) = 1/2, g(1) = 1, g' >= 0.1 > 0) that slows the
        oscillation near the loop point and quickens it around the middle;
    W(t) = sin(pi*t)**1.75 * exp(-1.9*t)
        a window that is 0 at both ends, grows to its crest before the middle and decays;
    x = -W(t)*sin(4*pi*g(t)), scaled so that its largest absolute value over the 256 pips
        is 0.8.
Four half-swings result: 0 at pip 0, -0.597 at pip 62, +0.8 at pip 104, 0 at pip 128,
-0.571 at pip 149, +0.229 at pip 191, fading to 0 at the wrap.
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
        g = (t - 0.6 * math.sin(2.0 * math.pi * t) / (2.0 * math.pi)
             - 0.3 * math.sin(4.0 * math.pi * t) / (4.0 * math.pi))
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
