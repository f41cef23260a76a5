"""Family `lfo`: low-frequency oscillator shapes used as motion.

Members in packs "initial" and "expansion": eased breakpoint lanes that close on their first
value at the period, formulas, and two constructions of our own, a sine that morphs into a skewed
triangle within the phrase and a drift of seeded Fourier lanes.
"""

import math

from ..curves import breakpoints, eased_path, theta
from ..rhythm import Hann, pulse_lane
from ..seeds import hashed_fractions
from ..toolkit import pattern

# fmt: off
DESCRIPTIONS = {
    "lfo_breathe": "A four-beat, single-axis sine. The quiet reference for judging busier shapes.",
    "lfo_surge": "A long rounded sweep and short recovery; an independently authored smooth-reset shape.",
    "lfo_soft_gate": "Short smooth transitions separated by long stationary dwells. No square-wave teleport.",
    "lfo_double_pump": "Two unequal pumps and a breathing space within four beats.",
    "lfo_ratchet": "A four-hit decaying burst, then a rest. Every event is peak-aligned.",
    "lfo_glide_stair": "Five rounded steps traverse the field, then a smooth return.",
    "lfo_morph": "An eight-beat blend between a sine and skewed triangle; movement changes within the phrase.",
    "lfo_flower": "Related rotations form an original three-lobed XY loop over eight beats.",
    "lfo_twin_swell": "Two broad swells of unequal depth, with a gentle lateral answer. Eight beats.",
    "lfo_pulse_hold": "A smooth outward pulse, sustained plateau, smaller opposite recoil, and rest.",
    "lfo_sweep_ratchet": "A slow lateral sweep followed by three decaying vertical ratchets; no reset jump.",
    "lfo_triplet_wobble": "Three rounded oscillations per two beats, breathing in depth over an eight-beat phrase.",
    "lfo_breathing_orbit": "A closed ellipse expands and contracts twice during its eight-beat revolution.",
    "lfo_seeded_drift": "Two independently seeded smooth random lanes; irregular-looking but exactly periodic "
                        "and seekable.",
    "lfo_pendulum_dwell": "Rounded saturation slows the pendulum near either side; a shallow arc connects the turns.",
    "lfo_reverse_swell": "A long anticipatory rise, quick softened return, and two diminishing aftershocks.",
}
# fmt: on


def _x_only(xs):
    return [(x,) for x in xs]


def _y_only(ys):
    return [(0.0, y) for y in ys]


def _formula(n, f):
    return [f(theta(i, n)) for i in range(n)]


def breathe():
    return _formula(256, lambda t: (0.8 * math.sin(t),))


def surge():
    return _x_only(breakpoints([(0, -0.8), (192, 0.8)], 256))


def soft_gate():
    return _x_only(breakpoints([(0, -0.8), (32, 0.8), (128, 0.8), (160, -0.8)], 256))


def double_pump():
    return _y_only(breakpoints([(0, 0.0), (32, -0.85), (64, 0.0), (96, -0.55), (128, 0.0)], 256))


def ratchet():
    onsets = (0, 16, 32, 48)
    x = pulse_lane(256, [(p, 0.8 * (1 - 0.18 * j)) for j, p in enumerate(onsets)], Hann(8))
    y = pulse_lane(256, [(p, -0.5 * (1 - 0.18 * j)) for j, p in enumerate(onsets)], Hann(8))
    return list(zip(x, y))


def glide_stair():
    return _x_only(breakpoints([(0, -0.8), (32, -0.8), (64, -0.4), (96, 0.0), (128, 0.4), (160, 0.8), (192, 0.8)], 256))


def _skewed_triangle(phi):
    if phi <= 0.35:
        return phi / 0.35
    if phi <= 0.65:
        return 1.0 - 2.0 * (phi - 0.35) / 0.3
    return -1.0 + (phi - 0.65) / 0.35


def morph():
    n = 512
    xs = []
    for i in range(n):
        t = theta(i, n)
        w = (1.0 - math.cos(t)) / 2.0
        phi = (4 * i % n) / n
        xs.append((1.0 - w) * math.sin(4.0 * t) + w * _skewed_triangle(phi))
    s = 0.8 / max(abs(x) for x in xs)
    return [(x * s, 0.2 * math.sin(theta(i, n))) for i, x in enumerate(xs)]


def flower():
    return _formula(
        512, lambda t: (0.56 * math.cos(t) - 0.28 * math.cos(2 * t), 0.56 * math.sin(t) + 0.28 * math.sin(2 * t))
    )


def twin_swell():
    return eased_path([(0, (0.0, 0.0)), (128, (0.2, -0.85)), (256, (0.0, 0.0)), (384, (-0.32, -0.45))], 512)


def pulse_hold():
    return _x_only(breakpoints([(0, 0.0), (32, 0.8), (128, 0.8), (160, -0.35), (192, 0.0)], 256))


def sweep_ratchet():
    x = breakpoints([(0, -0.75), (256, 0.75), (384, 0.75)], 512)
    y = pulse_lane(512, [(p, -0.65 * (1 - 0.22 * j)) for j, p in enumerate((256, 288, 320))], Hann(12))
    return list(zip(x, y))


def triplet_wobble():
    return _formula(512, lambda t: ((0.5525 - 0.255 * math.cos(t)) * math.sin(12 * t), 0.22 * math.sin(t)))


def breathing_orbit():
    return _formula(
        512, lambda t: (0.67 * math.cos(t) + 0.11 * math.cos(3 * t), 0.39 * math.sin(t) + 0.09 * math.sin(3 * t))
    )


def _drift_lane(lane, lo, hi, n=1024):
    terms = []
    for k in range(1, 7):
        f0, f1 = hashed_fractions("lfo_seeded_drift/%s/%d" % (lane, k), 2)
        terms.append((k, (0.5 + 0.5 * f0) / k, 2.0 * math.pi * f1))
    raw = [sum(a * math.sin(k * theta(i, n) + ph) for k, a, ph in terms) for i in range(n)]
    r_lo, r_hi = min(raw), max(raw)
    return [lo + (hi - lo) * (v - r_lo) / (r_hi - r_lo) for v in raw]


def seeded_drift():
    return list(zip(_drift_lane("x", -0.71, 0.79), _drift_lane("y", -0.61, 0.40)))


def pendulum_dwell():
    return _formula(512, lambda t: (0.78 * math.tanh(2.8 * math.sin(t)) / math.tanh(2.8), 0.22 * math.cos(2 * t)))


def reverse_swell():
    x = breakpoints([(0, 0.0), (192, -0.24), (224, 0.24), (384, 0.0)], 512)
    y = breakpoints([(0, 0.0), (192, -0.82), (224, 0.0), (256, -0.38), (288, 0.0), (320, -0.18), (352, 0.0)], 512)
    return list(zip(x, y))


# fmt: off
MEMBERS = {
    "initial": (("lfo_breathe", breathe), ("lfo_surge", surge), ("lfo_soft_gate", soft_gate),
                ("lfo_double_pump", double_pump), ("lfo_ratchet", ratchet),
                ("lfo_glide_stair", glide_stair), ("lfo_morph", morph), ("lfo_flower", flower)),
    "expansion": (("lfo_twin_swell", twin_swell), ("lfo_pulse_hold", pulse_hold),
                  ("lfo_sweep_ratchet", sweep_ratchet), ("lfo_triplet_wobble", triplet_wobble),
                  ("lfo_breathing_orbit", breathing_orbit), ("lfo_seeded_drift", seeded_drift),
                  ("lfo_pendulum_dwell", pendulum_dwell), ("lfo_reverse_swell", reverse_swell)),
}
# fmt: on


def build(pack: str):
    return [pattern(name, DESCRIPTIONS[name], rows()) for name, rows in MEMBERS[pack]]
