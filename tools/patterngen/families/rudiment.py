"""Family `rudiment`: drum stickings as lateral hand motion.

Right-hand strokes move right, left-hand strokes left; every stroke is a short pulse, narrow
enough that neighbouring strokes never overlap and the point passes the centre between them.
"""

from fractions import Fraction

from ..rhythm import Hann, even_onsets, onset, render, sticking_onsets
from ..toolkit import pattern

N = 256
PULSE = Hann(Fraction(28, 3))
ACCENT = (0.82, -0.42)
TRIPLET_PLAIN = (0.4905, -0.2512)
FLAM_PLAIN = (0.4915, -0.2517)
GRACE_LEAD = 3
GRACE_Y = -0.426
TRIPLET_DESCRIPTION = (
    "Visual sticking study {}; equal triplet spacing over four beats. This "
    "is a movement interpretation, not a complete drum-performance notation."
)
TRIPLET_STUDIES = (
    ("rudiment_double_paradiddle", "RlrlrrLrlrll"),
    ("rudiment_paradiddle_diddle", "RlrrllLrllrr"),
    ("rudiment_six_stroke", "RllrrLLrrllR"),
)
FLAM_STICKING = "RlrLrl"
FLAM_DESCRIPTION = (
    "Opposite-hand grace gestures lead accented groups of three; deliberately expanded for visible motion."
)


def triplet_study(name, sticking):
    spelled = sticking.upper()
    onsets = sticking_onsets(sticking, even_onsets(12, N), ACCENT, TRIPLET_PLAIN)
    return pattern(name, TRIPLET_DESCRIPTION.format(spelled[:6] + " " + spelled[6:]), render(N, onsets, PULSE))


def flam_accent():
    times = even_onsets(len(FLAM_STICKING), N)
    onsets = sticking_onsets(FLAM_STICKING, times, ACCENT, FLAM_PLAIN)
    onsets += [onset((t - GRACE_LEAD) % N, 0.0, GRACE_Y) for hand, t in zip(FLAM_STICKING, times) if hand.isupper()]
    return pattern("rudiment_flam_accent", FLAM_DESCRIPTION, render(N, onsets, PULSE))


def build(pack):
    return [triplet_study(name, sticking) for name, sticking in TRIPLET_STUDIES] + [flam_accent()]
