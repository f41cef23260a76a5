"""Rhythmic studies on the beat grid: rhythm, rudiment, groove, euclid, poly, meter, swing and
stick. Members, stated weights and pulse widths, designed figures."""

import math

import baked
import pytest

FAMILIES = (
    ("initial", "rhythm"),
    ("initial", "rudiment"),
    ("initial", "groove"),
    ("expansion", "rhythm"),
    ("atlas", "euclid"),
    ("atlas", "poly"),
    ("atlas", "meter"),
    ("atlas", "swing"),
    ("atlas", "stick"),
)

PATTERNS = {e.pattern.name: e.pattern for e in baked.entries() if (e.pack, e.family) in FAMILIES}


def rows(name):
    return PATTERNS[name].rows


def close(row, expected, tol=1e-12):
    return all(abs(a - b) <= tol for a, b in zip(row, tuple(expected) + (0.0,) * 3))


EUCLID = [
    "euclid_%d_%d" % kn
    for kn in (
        (2, 5),
        (3, 7),
        (3, 10),
        (4, 9),
        (4, 11),
        (5, 9),
        (5, 11),
        (5, 13),
        (5, 14),
        (6, 13),
        (7, 12),
        (7, 15),
        (7, 17),
        (8, 19),
        (9, 20),
        (11, 24),
    )
]
POLY = [
    "poly_%d_%d" % ab
    for ab in (
        (2, 5),
        (2, 7),
        (2, 9),
        (3, 5),
        (3, 7),
        (3, 8),
        (3, 10),
        (4, 5),
        (4, 7),
        (4, 9),
        (5, 6),
        (5, 7),
        (5, 8),
        (5, 9),
        (6, 7),
        (7, 8),
    )
]
METER = [
    "meter_" + g
    for g in (
        "2_3",
        "3_2",
        "3_2_2",
        "2_3_2",
        "3_4",
        "4_3",
        "2_2_2_3",
        "2_3_2_2",
        "3_2_3_2",
        "3_3_2_3",
        "2_2_3_2_3",
        "3_3_3_2",
        "4_3_3",
        "3_4_4",
        "2_3_3_2_3",
        "3_3_3_4",
    )
]
SWING = ["swing_%s_%s" % (s, r) for r in ("3_5", "2_3", "5_7", "3_4") for s in ("push", "answer", "skip", "shuffle")]
STICK = ["stick_study_%02d" % j for j in range(1, 17)]
RUDIMENT_SENTENCE = (
    "Visual sticking study %s; equal triplet spacing over four beats. This is a "
    "movement interpretation, not a complete drum-performance notation."
)


def periods_of(names):
    def period(name):
        if name.startswith("euclid_"):
            return 32 * int(name.split("_")[2])
        if name.startswith("meter_"):
            return 32 * sum(int(g) for g in name.split("_")[1:])
        return 512

    return [period(n) for n in names]


# (pack, family, names in order, periods, dimensions, descriptions)
TABLE = [
    (
        "initial",
        "rhythm",
        ["rhythm_euclid_3_8", "rhythm_euclid_5_12", "rhythm_three_two", "rhythm_half_time"],
        [256] * 4,
        [2] * 4,
        [
            "3 evenly distributed onsets on a 8-step grid. Alternating lateral gestures.",
            "5 evenly distributed onsets on a 12-step grid. Alternating lateral gestures.",
            "Three horizontal gestures interlock with two vertical gestures in one four-beat cycle.",
            "A strong downbeat, snare-like accent on beat three, and smaller offbeat shuffles.",
        ],
    ),
    (
        "expansion",
        "rhythm",
        [
            "rhythm_five_four",
            "rhythm_seven_four",
            "rhythm_euclid_7_16",
            "rhythm_euclid_5_16",
            "rhythm_swung_answer",
            "rhythm_group_332",
            "rhythm_group_223",
            "rhythm_three_four_five",
        ],
        [512, 512, 512, 512, 256, 512, 448, 512],
        [2] * 7 + [3],
        [
            "5 lateral hits against four vertical hits per four beats; two bars preserve alternating directions.",
            "7 lateral hits against four vertical hits per four beats; two bars preserve alternating directions.",
            "7 evenly distributed onsets on a sixteen-step grid, repeated with alternating sides over eight beats.",
            "5 evenly distributed onsets on a sixteen-step grid, repeated with alternating sides over eight beats.",
            "A two-to-one swung call on the right, answered on the left; four beats and eight peak-aligned gestures.",
            "Groups of three, three, and two eighth notes. Six alternating accents make an eight-beat loop.",
            "Two 7/8 bars grouped as 2+2+3 eighth notes: a seven-quarter-note loop, not forced into four beats.",
            "Three X, four Y, and five Z gestures share an eight-beat phrase, with exact rational peak times.",
        ],
    ),
    (
        "initial",
        "rudiment",
        ["rudiment_double_paradiddle", "rudiment_paradiddle_diddle", "rudiment_six_stroke", "rudiment_flam_accent"],
        [256] * 4,
        [2] * 4,
        [
            RUDIMENT_SENTENCE % "RLRLRR LRLRLL",
            RUDIMENT_SENTENCE % "RLRRLL LRLLRR",
            RUDIMENT_SENTENCE % "RLLRRL LRRLLR",
            "Opposite-hand grace gestures lead accented groups of three; deliberately expanded for visible motion.",
        ],
    ),
    (
        "initial",
        "groove",
        ["groove_a_played", "groove_a_grid", "groove_b_played", "groove_b_grid"],
        [512] * 4,
        [2] * 4,
        [
            "Two-bar funk excerpt A (4\u201312 source beats), performed microtiming.",
            "Two-bar funk excerpt A (4\u201312 source beats), same hits quantised to sixteenths.",
            "Two-bar funk excerpt B (36\u201344 source beats), performed microtiming.",
            "Two-bar funk excerpt B (36\u201344 source beats), same hits quantised to sixteenths.",
        ],
    ),
    (
        "atlas",
        "euclid",
        EUCLID,
        periods_of(EUCLID),
        [2] * 16,
        ["Evenly distributed accents with alternating sides; first onset is the phrase accent."] * 16,
    ),
    (
        "atlas",
        "poly",
        POLY,
        [512] * 16,
        [3] * 16,
        ["Two independent pulse trains share an eight-beat boundary. Each right-lane gesture includes depth."] * 16,
    ),
    (
        "atlas",
        "meter",
        METER,
        periods_of(METER),
        [3] * 16,
        ["Group starts lean alternately left and right; quieter subdivisions mark the eighth-note grid."] * 16,
    ),
    (
        "atlas",
        "swing",
        SWING,
        [512] * 16,
        [2 if "answer" in n else 3 for n in SWING],
        [
            "Eight-beat %s score with offbeats at %s of each beat; peaks follow the score."
            % (n.split("_")[1], "/".join(n.split("_")[2:]))
            for n in SWING
        ],
    ),
    (
        "atlas",
        "stick",
        STICK,
        [512] * 16,
        [2] * 16,
        [
            "Original R/L movement study with accented group leads, followed by its hand-swapped "
            "answer. Not an official rudiment transcription."
        ]
        * 16,
    ),
]


@pytest.mark.parametrize(
    "pack,family,names,periods,dims,descriptions", TABLE, ids=["%s/%s" % (t[0], t[1]) for t in TABLE]
)
def test_members(pack, family, names, periods, dims, descriptions):
    got = [e.pattern for e in baked.entries() if (e.pack, e.family) == (pack, family)]
    assert [p.name for p in got] == names
    assert [p.period for p in got] == periods
    assert [p.dimensions for p in got] == dims
    assert [p.description for p in got] == descriptions


# --- the stated edge cases ------------------------------------------------------------------


def test_euclid_2_5_onsets_and_rest():
    r = rows("euclid_2_5")
    assert len(r) == 160
    assert r[0] == (0.75, -0.32, 0.0) and r[96] == (-0.5625, -0.24, 0.0)
    assert all(v == (0.0, 0.0, 0.0) for v in r[24:73])
    assert x_peaks(r) == [0, 96]


def x_peaks(r):
    """Pips where |x| peaks (a strict rise into the pip, no rise after it)."""
    n = len(r)
    return [i for i in range(n) if abs(r[i][0]) > abs(r[i - 1][0]) and abs(r[i][0]) >= abs(r[(i + 1) % n][0])]


def test_euclid_7_12_onsets():
    r = rows("euclid_7_12")
    assert x_peaks(r) == [0, 64, 128, 192, 224, 288, 352]
    assert [r[p][0] for p in x_peaks(r)] == [0.75, -0.5625, 0.5625, -0.5625, 0.5625, -0.5625, 0.5625]


def test_meter_2_3_values():
    r = rows("meter_2_3")
    assert (r[0][0], r[64][0]) == (0.72, -0.72)
    assert (r[0][1], r[64][1]) == (-0.33, -0.33)
    assert [r[p][1] for p in (32, 96, 128)] == [-0.1134] * 3
    assert [r[p][2] for p in (32, 96, 128)] == [0.0504] * 3


def test_rhythm_three_two_peaks_between_pips():
    r = rows("rhythm_three_two")
    assert r[0][0] == 0.78 and r[0][1] == 0.78
    assert round(r[85][0], 4) == 0.7796 and r[85][0] == r[171][0]
    assert r[86][0] < r[85][0] and r[170][0] < r[171][0]


def test_poly_2_5_downbeat():
    assert rows("poly_2_5")[0] == (0.0, -0.52, 0.22)


# --- stated weights and pulse widths --------------------------------------------------------

# (name, pip, stored row): gestures read where their onset falls on a pip and nothing overlaps.
WEIGHTS = [
    ("euclid_3_7", 96, (-0.5625, -0.24)),
    ("euclid_3_7", 160, (0.5625, -0.24)),
    ("poly_2_5", 256, (-0.403, -0.169)),
    ("poly_3_8", 64, (0.403, -0.169, 0.143)),
    ("meter_3_2_2", 96, (-0.72, -0.33)),
    ("meter_3_2_2", 160, (0.72, -0.33)),
    ("stick_study_01", 0, (0.74, -0.34)),
    ("stick_study_01", 32, (-0.407, -0.187)),
    ("rudiment_double_paradiddle", 0, (0.82, -0.42)),
    ("rudiment_double_paradiddle", 64, (-0.4905, -0.2512)),
    ("rudiment_flam_accent", 128, (-0.82, -0.42 - 0.426 * (1 + math.cos(math.pi * 9 / 28)) / 2)),
    ("rhythm_euclid_3_8", 96, (-0.8, -0.3)),
    ("rhythm_euclid_5_12", 64, (-0.8, -0.3)),
    ("rhythm_half_time", 96, (0.0, 0.4675)),
    ("rhythm_half_time", 128, (0.85, -0.25)),
    ("rhythm_half_time", 224, (-0.4, -0.1)),
    ("rhythm_five_four", 0, (0.72, 0.68)),
    ("rhythm_five_four", 64, (0.0, -0.68)),
    ("rhythm_seven_four", 256, (-0.72, 0.68)),
    ("rhythm_euclid_7_16", 48, (-0.5472, -0.216)),
    ("rhythm_euclid_7_16", 192, (-0.76, -0.3)),
    ("rhythm_euclid_7_16", 256, (-0.76, -0.3)),
    ("rhythm_euclid_5_16", 64, (-0.76, -0.3)),
    ("rhythm_euclid_5_16", 112, (0.5472, -0.216)),
    ("rhythm_swung_answer", 64, (0.78, -0.3)),
    ("rhythm_swung_answer", 192, (-0.78, -0.3)),
    ("rhythm_group_332", 96, (-0.5472, -0.2736)),
    ("rhythm_group_332", 192, (0.6536, -0.3268)),
    ("rhythm_group_332", 448, (-0.6536, -0.3268)),
    ("rhythm_group_223", 64, (-0.518, -0.28)),
    ("rhythm_group_223", 224, (-0.74, -0.4)),
    ("rhythm_group_223", 352, (-0.629, -0.34)),
    ("rhythm_three_four_five", 0, (0.7, -0.7, 0.55)),
    ("rhythm_three_four_five", 128, (0.0, -0.7)),
    ("swing_push_3_4", 48, (0.0747, -0.1494, 0.0896)),
    ("swing_answer_3_4", 48, (0.0, 0.0)),
    ("swing_answer_3_4", 304, (0.3245, -0.1198)),
    ("swing_answer_3_4", 368, (-0.3245, -0.1198)),
    ("swing_answer_3_4", 496, (0.3245, -0.1198)),
    ("swing_shuffle_3_4", 48, (-0.3245, -0.1198)),
    ("swing_shuffle_3_4", 240, (0.3245, -0.1198)),
    ("swing_shuffle_3_4", 216, (0.052, -0.105, 0.063)),
    ("swing_shuffle_3_4", 472, (0.052, -0.105, 0.063)),
    ("swing_skip_2_3", 128, (0.0, 0.0)),
    ("swing_skip_2_3", 384, (0.0, 0.0)),
]


@pytest.mark.parametrize("name,pip,expected", WEIGHTS)
def test_stated_weights(name, pip, expected):
    assert close(rows(name)[pip], expected), rows(name)[pip]


@pytest.mark.parametrize("name", SWING)
def test_swing_beats(name):
    """Bar starts +0.585; the other beats -, +, -, +, -, + in order; skip drops beats 2, 6."""
    xs = [rows(name)[64 * b][0] for b in range(8)]
    expected = [0.585, -0.4225, 0.4225, -0.4225, 0.585, 0.4225, -0.4225, 0.4225]
    if "skip" in name:
        expected[2] = expected[6] = 0.0
    assert xs == expected


# (name, axis, last pip reached, first pip at rest) beside one isolated onset.
WIDTHS = [
    ("euclid_2_5", 0, 23, 24),  # W 24
    ("poly_2_5", 2, 22, 23),  # W 22.4
    ("meter_2_3", 0, 19, 20),  # W 19.2
    ("swing_answer_2_3", 0, 12, 13),  # W 12.8
    ("stick_study_01", 0, 11, 12),  # W 12
    ("rudiment_double_paradiddle", 0, 9, 10),  # W 28/3
    ("rhythm_euclid_3_8", 0, 11, 12),
    ("rhythm_three_two", 1, 23, 24),
    ("rhythm_half_time", 1, 15, 16),
    ("rhythm_swung_answer", 0, 7, 8),
    ("rhythm_group_332", 0, 15, 16),
    ("rhythm_three_four_five", 2, 23, 24),
    ("groove_a_grid", 1, 15, 16),  # kick W 16
    ("groove_b_grid", 0, 203, 204),  # snare W 12 from pip 192
]


@pytest.mark.parametrize("name,axis,reached,rest", WIDTHS)
def test_pulse_widths(name, axis, reached, rest):
    r = rows(name)
    assert r[reached][axis] != 0.0 and r[rest][axis] == 0.0


@pytest.mark.parametrize(
    "name,study",
    list(
        zip(
            STICK,
            (
                "RlrrLrll",
                "RrlrLlrl",
                "RllrLrrl",
                "RrllRlrl",
                "RlrlRrll",
                "RrrlLlrl",
                "RlllRrrl",
                "RrlrRlll",
                "RlrrLlrl",
                "RrllRllr",
                "RlrlLrrl",
                "RrrlRlll",
                "RrrrLrll",
                "RrllLrrl",
                "RlrrRlll",
                "RrlrLllr",
            ),
        )
    ),
)
def test_stick_sticking(name, study):
    """Read the sticking back from the strokes: sign gives the hand, size the accent."""
    swapped = study.translate(str.maketrans("RLrl", "LRlr"))
    read = ""
    for j in range(16):
        x, y, _ = rows(name)[32 * j]
        hand = "R" if x > 0 else "L"
        read += hand if (abs(x), y) == (0.74, -0.34) else hand.lower()
        assert (abs(x), y) in ((0.74, -0.34), (0.407, -0.187))
    assert read == study + swapped


@pytest.mark.parametrize(
    "name,sticking",
    [
        ("rudiment_double_paradiddle", "RlrlrrLrlrll"),
        ("rudiment_paradiddle_diddle", "RlrrllLrllrr"),
        ("rudiment_six_stroke", "RllrrLLrrllR"),
    ],
)
def test_rudiment_triplet_sticking(name, sticking):
    r = rows(name)
    read = ""
    for j in range(12):
        x = r[round(64 * j / 3)][0]
        hand = "R" if x > 0 else "L"
        read += hand if abs(x) > 0.7 else hand.lower()
        assert abs(x) > 0.8 or 0.48 < abs(x) <= 0.4905
    assert read == sticking
    # the strokes never overlap: the point passes through the origin between them
    assert r[11] == (0.0, 0.0, 0.0)


def test_rudiment_flam_grace_leads_each_accent():
    r = rows("rudiment_flam_accent")
    for accent in (0, 128):
        grace = (accent - 3) % 256
        # the grace lifts only: x there is the tail of the accent 3 pips later
        assert r[grace][0] == pytest.approx(r[accent][0] * (1 + math.cos(math.pi * 9 / 28)) / 2, abs=1e-12)
        assert r[grace][1] < -0.74 and r[(grace - 10) % 256] == (0.0, 0.0, 0.0)
    plain = [r[round(256 * j / 6)] for j in (1, 2, 4, 5)]
    assert [math.copysign(1, x) for x, _, _ in plain] == [-1, 1, 1, -1]
    # a third of a pip from their onsets: 0.9968 of x 0.4915, y -0.2517
    assert all(0.489 < abs(x) < 0.4915 and -0.2517 < y < -0.25 for x, y, _ in plain)


# --- designed members -----------------------------------------------------------------------


@pytest.mark.parametrize(
    "name,largest_x,x_pips",
    [
        ("groove_a_played", 0.674, [68, 452]),
        ("groove_a_grid", 0.649, [64, 448]),
        ("groove_b_played", 1.0, [195, 451]),
        ("groove_b_grid", 1.0, [192, 448]),
    ],
)
def test_groove_figures(name, largest_x, x_pips):
    r = rows(name)
    xs = [abs(v[0]) for v in r]
    assert max(xs) == largest_x
    assert [i for i, v in enumerate(xs) if v == largest_x] == x_pips
    assert 0.41 <= max(abs(v[1]) for v in r) <= 0.49


@pytest.mark.parametrize("excerpt", ("a", "b"))
def test_groove_played_and_grid_carry_the_same_hits(excerpt):
    played, grid = rows("groove_%s_played" % excerpt), rows("groove_%s_grid" % excerpt)
    assert played != grid
    for axis in (0, 1):
        # moving a pulse by whole pips keeps its sum over the period
        assert math.fsum(v[axis] for v in played) == pytest.approx(math.fsum(v[axis] for v in grid), abs=1e-9)
