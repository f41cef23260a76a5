"""Family `rudiment`: drum stickings as lateral hand motion.

256 pips (four beats), dimensions 2. R strokes move +x, L strokes -x; every stroke adds a
Hann pulse of half-width 28/3 pips (7/48 beat, 9.33 pips: 7/16 of a triplet-eighth step, so
neighbouring strokes never overlap and the point passes through the origin between them).

- rudiment_double_paradiddle, rudiment_paradiddle_diddle, rudiment_six_stroke: twelve strokes
  on the eighth-note-triplet grid, stroke j at 64*j/3 (exact); accented strokes (capitals)
  x +-0.82, y -0.42, the others x +-0.4905, y -0.2512. The description spells the sticking
  in capitals, in two groups of six.
- rudiment_flam_accent: six strokes RlrLrl, stroke j at 256*j/6, in two groups of three; the
  group leads are accented (x +-0.82, y -0.42), the others x +-0.4915, y -0.2517. Each accent
  is led 3 pips earlier by a grace gesture of the opposite hand that lifts only: y -0.426,
  no lateral weight (the lead is R at 0, graced at pip 253 across the wrap, and L at 128,
  graced at 125).
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
TRIPLET_DESCRIPTION = ("Visual sticking study {}; equal triplet spacing over four beats. This "
                       "is a movement interpretation, not a complete drum-performance notation.")
TRIPLET_STUDIES = (
    ("rudiment_double_paradiddle", "RlrlrrLrlrll"),
    ("rudiment_paradiddle_diddle", "RlrrllLrllrr"),
    ("rudiment_six_stroke", "RllrrLLrrllR"),
)
FLAM_STICKING = "RlrLrl"
FLAM_DESCRIPTION = ("Opposite-hand grace gestures lead accented groups of three; deliberately "
                    "expanded for visible motion.")


def triplet_study(name, sticking):
    spelled = sticking.upper()
    onsets = sticking_onsets(sticking, even_onsets(12, N), ACCENT, TRIPLET_PLAIN)
    return pattern(name, TRIPLET_DESCRIPTION.format(spelled[:6] + " " + spelled[6:]),
                   render(N, onsets, PULSE))


def flam_accent():
    times = even_onsets(len(FLAM_STICKING), N)
    onsets = sticking_onsets(FLAM_STICKING, times, ACCENT, FLAM_PLAIN)
    onsets += [onset((t - GRACE_LEAD) % N, 0.0, GRACE_Y)
               for hand, t in zip(FLAM_STICKING, times) if hand.isupper()]
    return pattern("rudiment_flam_accent", FLAM_DESCRIPTION, render(N, onsets, PULSE))


def build(pack):
    return [triplet_study(name, sticking) for name, sticking in TRIPLET_STUDIES] + [flam_accent()]
