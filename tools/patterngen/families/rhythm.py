"""Family `rhythm`: hand-built single rhythmic studies.

Euclidean, cross-rhythm, half-time, odd-meter, swung and grouped figures, each onset a pulse at
its exact rational time. The first members ship in pack "initial", the others in "expansion";
build(pack) returns that pack's members in order.
"""

from fractions import Fraction

from ..rhythm import Hann, alternating, euclidean_steps, even_onsets, group_starts, onset, render, signed_onsets
from ..toolkit import pattern

BEAT = 64
BAR = 256


def euclid_study(k, n, step):
    return signed_onsets([step * i for i in euclidean_steps(k, n)], 0.8, -0.3)


def three_two():
    return [onset(t, 0.78) for t in even_onsets(3, BAR)] + [onset(t, 0.0, 0.78) for t in even_onsets(2, BAR)]


def half_time():
    return [onset(0, 0.0, 0.85), onset(96, 0.0, 0.4675), onset(128, 0.85, -0.25), onset(224, -0.4, -0.1)]


def against_beats(count):
    """count lateral hits per four beats against vertical hits on every beat, two bars."""
    beats = [onset(t, 0.0, s * 0.68) for t, s in zip(even_onsets(8, 2 * BAR), alternating(8))]
    return signed_onsets(even_onsets(2 * count, 2 * BAR), 0.72) + beats


def accented_euclid(k, accented):
    steps = [bar * 16 + i for bar in range(2) for i in euclidean_steps(k, 16)]
    return [
        onset(16 * s, sign * (0.76 if s % 16 in accented else 0.5472), -0.3 if s % 16 in accented else -0.216)
        for s, sign in zip(steps, alternating(len(steps)))
    ]


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
    return [onset(bar * k + t, (-1) ** k * x, y) for k in range(2) for t, x, y in zip(starts, xs, ys)]


def three_four_five():
    return (
        [onset(t, 0.7) for t in even_onsets(3, 2 * BAR)]
        + [onset(t, 0.0, -0.7) for t in even_onsets(4, 2 * BAR)]
        + [onset(t, 0.0, 0.0, 0.55) for t in even_onsets(5, 2 * BAR)]
    )


# (pack, name, period, half-width, score, description) in registry order.
# fmt: off
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
# fmt: on


def build(pack: str):
    return [
        pattern(name, description, render(n, score(), Hann(width)))
        for p, name, n, width, score, description in MEMBERS
        if p == pack
    ]
