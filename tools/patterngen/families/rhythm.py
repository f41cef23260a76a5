"""Family `rhythm`: hand-built single rhythmic studies.

The first four members ship in the initial pack, the other eight in the expansion pack;
build(pack) returns that pack's members in order. Every onset adds a Hann pulse whose
half-width (pips) is given per member; onsets keep their exact rational times. Every "+-"
weight alternates in sign from onset to onset starting with +.

initial (256 pips, dimensions 2):
- rhythm_euclid_3_8: eighth steps (32 pips) where (i*3) mod 8 < 3 (0, 3, 6): x +-0.8,
  y -0.3 [12].
- rhythm_euclid_5_12: triplet-eighth steps (64/3 pips) where (i*5) mod 12 < 5 (0, 3, 5, 8,
  10): x +-0.8, y -0.3 [12].
- rhythm_three_two: x +0.78 at 0, 256/3, 512/3; y +0.78 at 0 and 128 [24].
- rhythm_half_time: y +0.85 at 0; y +0.4675 at 96; x +0.85, y -0.25 at 128; x -0.4, y -0.1
  at 224 [16].

expansion:
- rhythm_five_four (512, 2): x +-0.72 at i*512/10; y +-0.68 on every beat [12].
- rhythm_seven_four (512, 2): x +-0.72 at i*512/14; y +-0.68 on every beat [12].
- rhythm_euclid_7_16 / rhythm_euclid_5_16 (512, 2): sixteenth steps (16 pips) where
  (i*k) mod 16 < k in both bars, the x sign alternating over all 2k onsets; steps 0 and 12
  (7_16) or 0 and 4 (5_16) of each bar accented x +-0.76, y -0.3, the others x +-0.5472,
  y -0.216 [12].
- rhythm_swung_answer (256, 2): beats x +0.78 (beats 0, 1), -0.78 (beats 2, 3), y -0.3; an
  offbeat at 2/3 of every beat with 0.6 of its beat's weight on the same side, x +-0.468,
  y -0.18 [8].
- rhythm_group_332 (512, 2): eighth groups 3+3+2 per bar; group starts x +0.76 / -0.5472 /
  +0.6536, y -0.38 / -0.2736 / -0.3268, the second bar with x mirrored [16].
- rhythm_group_223 (448, 2): two 7/8 bars grouped 2+2+3; group starts x +0.74 / -0.518 /
  +0.629, y -0.4 / -0.28 / -0.34, the second bar with x mirrored [16].
- rhythm_three_four_five (512, 3): x +0.7 at i*512/3; y -0.7 at i*512/4; z +0.55 at
  i*512/5 [24].
"""

from fractions import Fraction

from ..rhythm import Hann, alternating, euclidean_steps, even_onsets, group_starts, onset, \
    render, signed_onsets
from ..toolkit import pattern

BEAT = 64
BAR = 256


def euclid_study(k, n, step):
    return signed_onsets([step * i for i in euclidean_steps(k, n)], 0.8, -0.3)


def three_two():
    return ([onset(t, 0.78) for t in even_onsets(3, BAR)]
            + [onset(t, 0.0, 0.78) for t in even_onsets(2, BAR)])


def half_time():
    return [onset(0, 0.0, 0.85), onset(96, 0.0, 0.4675), onset(128, 0.85, -0.25),
            onset(224, -0.4, -0.1)]


def against_beats(count):
    """count lateral hits per four beats against vertical hits on every beat, two bars."""
    beats = [onset(t, 0.0, s * 0.68)
             for t, s in zip(even_onsets(8, 2 * BAR), alternating(8))]
    return signed_onsets(even_onsets(2 * count, 2 * BAR), 0.72) + beats


def accented_euclid(k, accented):
    steps = [bar * 16 + i for bar in range(2) for i in euclidean_steps(k, 16)]
    return [onset(16 * s, sign * (0.76 if s % 16 in accented else 0.5472),
                  -0.3 if s % 16 in accented else -0.216)
            for s, sign in zip(steps, alternating(len(steps)))]


def swung_answer():
    out = []
    for b, side in enumerate((1, 1, -1, -1)):
        out.append(onset(BEAT * b, side * 0.78, -0.3))
        out.append(onset(BEAT * b + Fraction(2 * BEAT, 3), side * 0.6 * 0.78, 0.6 * -0.3))
    return out


def grouped(groups, xs, ys):
    """Group starts of one bar of eighth groups, then the bar again with x mirrored."""
    bar = 32 * sum(groups)
    starts, _ = group_starts(groups, 32)
    return [onset(bar * k + t, (-1) ** k * x, y)
            for k in range(2) for t, x, y in zip(starts, xs, ys)]


def three_four_five():
    return ([onset(t, 0.7) for t in even_onsets(3, 2 * BAR)]
            + [onset(t, 0.0, -0.7) for t in even_onsets(4, 2 * BAR)]
            + [onset(t, 0.0, 0.0, 0.55) for t in even_onsets(5, 2 * BAR)])


# (pack, name, period, half-width, score, description) in registry order.
MEMBERS = (
    ("initial", "rhythm_euclid_3_8", 256, 12, lambda: euclid_study(3, 8, 32),
     "3 evenly distributed onsets on a 8-step grid. Alternating lateral gestures."),
    ("initial", "rhythm_euclid_5_12", 256, 12, lambda: euclid_study(5, 12, Fraction(64, 3)),
     "5 evenly distributed onsets on a 12-step grid. Alternating lateral gestures."),
    ("initial", "rhythm_three_two", 256, 24, three_two,
     "Three horizontal gestures interlock with two vertical gestures in one four-beat cycle."),
    ("initial", "rhythm_half_time", 256, 16, half_time,
     "A strong downbeat, snare-like accent on beat three, and smaller offbeat shuffles."),
    ("expansion", "rhythm_five_four", 512, 12, lambda: against_beats(5),
     "5 lateral hits against four vertical hits per four beats; two bars preserve alternating "
     "directions."),
    ("expansion", "rhythm_seven_four", 512, 12, lambda: against_beats(7),
     "7 lateral hits against four vertical hits per four beats; two bars preserve alternating "
     "directions."),
    ("expansion", "rhythm_euclid_7_16", 512, 12, lambda: accented_euclid(7, (0, 12)),
     "7 evenly distributed onsets on a sixteen-step grid, repeated with alternating sides over "
     "eight beats."),
    ("expansion", "rhythm_euclid_5_16", 512, 12, lambda: accented_euclid(5, (0, 4)),
     "5 evenly distributed onsets on a sixteen-step grid, repeated with alternating sides over "
     "eight beats."),
    ("expansion", "rhythm_swung_answer", 256, 8, swung_answer,
     "A two-to-one swung call on the right, answered on the left; four beats and eight "
     "peak-aligned gestures."),
    ("expansion", "rhythm_group_332", 512, 16,
     lambda: grouped((3, 3, 2), (0.76, -0.5472, 0.6536), (-0.38, -0.2736, -0.3268)),
     "Groups of three, three, and two eighth notes. Six alternating accents make an eight-beat "
     "loop."),
    ("expansion", "rhythm_group_223", 448, 16,
     lambda: grouped((2, 2, 3), (0.74, -0.518, 0.629), (-0.4, -0.28, -0.34)),
     "Two 7/8 bars grouped as 2+2+3 eighth notes: a seven-quarter-note loop, not forced into "
     "four beats."),
    ("expansion", "rhythm_three_four_five", 512, 24, three_four_five,
     "Three X, four Y, and five Z gestures share an eight-beat phrase, with exact rational peak "
     "times."),
)


def build(pack: str):
    return [pattern(name, description, render(n, score(), Hann(width)))
            for p, name, n, width, score, description in MEMBERS if p == pack]
