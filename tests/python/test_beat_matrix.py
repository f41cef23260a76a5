"""The beat family: pack split, scores, the sixteen motions on four_floor and the constraints
every one of the 1088 patterns meets."""

import math
from fractions import Fraction

import pytest
from patterngen import emit, rhythm
from patterngen.data import beat_scores
from patterngen.families import beat

STEMS = [st["stem"] for st in beat_scores.STYLES]
CLUB, DANCE = STEMS[:36], STEMS[36:]
BEATS = (0, 64, 128, 192)


@pytest.fixture(scope="module")
def entries(all_entries):
    return [e for e in all_entries if e.family == "beat"]


@pytest.fixture(scope="module")
def patterns(entries):
    return {e.pattern.name: e.pattern for e in entries}


def ff(patterns, motion):
    return patterns["beat_four_floor_" + motion].rows


def axis(rows, c):
    return [r[c] for r in rows]


def winding(rows):
    turn = 0.0
    angles = [math.atan2(r[1], r[0]) for r in rows]
    for a, b in zip(angles, angles[1:] + angles[:1]):
        turn += (b - a + math.pi) % (2.0 * math.pi) - math.pi
    return turn / (2.0 * math.pi)


def raised_cosine(d, attack_beats, release_beats):
    a, r = 64 * attack_beats, 64 * release_beats
    if -a <= d <= 0:
        return (1 + math.cos(math.pi * -d / a)) / 2
    if 0 < d <= r:
        return (1 + math.cos(math.pi * d / r)) / 2
    return 0.0


# --- registry order, names, descriptions ---------------------------------------------------------


def test_pack_split_and_order(entries):
    club = [e.pattern.name for e in entries if e.pack == "club"]
    dance = [e.pattern.name for e in entries if e.pack == "dancefloor"]
    assert (len(club), len(dance), len(STEMS)) == (144, 944, 68)
    assert club == ["beat_%s_%s" % (s, m) for s in CLUB for m in beat.BASIC]
    assert dance == (
        ["beat_%s_%s" % (s, m) for s in CLUB for m in beat.FURTHER]
        + ["beat_%s_%s" % (s, m) for s in DANCE for m in beat.BASIC + beat.FURTHER]
    )
    emit.check(entries)


def test_descriptions(patterns):
    texts = [p.description for p in patterns.values()]
    assert sum(t.count("\u2014") for t in texts) == 1088
    assert all(len(t.encode("utf-8")) <= 235 for t in texts)
    assert patterns["beat_house_classic_bounce"].description.endswith("Kick-led bounce. ")
    assert patterns["beat_four_floor_surge"].description == (
        "Four to the floor / bare pulse \u2014 Forward surge. Kick thrust through depth with "
        "contrasting snare lift and hat detail."
    )
    assert patterns["beat_four_floor_orbit"].description == (
        "Four to the floor / bare pulse \u2014 Percussion orbit. Equal quarter-note kicks only. "
        "This shared foundation is not itself a complete genre."
    )
    assert patterns["beat_trance_glide"].description.startswith(
        "Trance / offbeat lift \u2014 Bass-and-phrase glide. Offbeat bass/pulse"
    )
    assert patterns["beat_disco_spring"].description.endswith(
        "Causal spring. An event starts at rest, then drives a damped ringing excursion."
    )
    assert patterns["beat_electro_robot_glide"].description == (
        "Electro / asymmetric machine break \u2014 Bass / phrase glide. Original %s continuous "
        "phrase path with bass excursions." % beat.PACK_LABEL
    )


# --- scores ---------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "steps, expected",
    [
        ("0-28/4", [(16 * s, 1.0) for s in range(0, 29, 4)]),
        ("7g 1", [(16, 1.0), (112, beat_scores.GHOST)]),
        ("10+2/3@0.5", [(Fraction(512, 3), 0.5)]),
        ("1-5/2+1/3", [(Fraction(64, 3), 1.0), (Fraction(160, 3), 1.0), (Fraction(256, 3), 1.0)]),
        ("0-4/2 2@0.8", [(0, 1.0), (32, 0.8), (64, 1.0)]),
    ],
)
def test_step_tokens(steps, expected):
    assert beat_scores.lane_events(steps, 1.0) == expected


@pytest.mark.parametrize("steps", ["3.5", "2-", "4x", "1/3"])
def test_bad_step_token(steps):
    with pytest.raises(ValueError):
        beat_scores.lane_events(steps, 1.0)


def test_tuplet_lanes_are_exact():
    fill = [t for t, _ in beat.score("drill_rolls").events["chat"] if t >= 24 * 16]
    assert fill == [24 * 16 + Fraction(32, 3) * k for k in range(12)]
    shuffle = [t for t, _ in beat.score("house_shuffle").events["ohat"]]
    assert shuffle == [16 * (s + Fraction(2, 3)) for s in range(2, 31, 4)]


def test_kit_only_styles():
    kit = [s for s in STEMS if not beat.score(s).extra]
    assert len(kit) == 24 and kit[0] == "four_floor"


def test_cached_pulse_lane_matches_direct_evaluation():
    pulse = rhythm.RaisedCosine(rhythm.beats("0.12"), rhythm.beats("0.4"))
    events = [(Fraction(-5, 3), 1.0), (Fraction(170, 3), -0.4), (250, 0.7), (Fraction(1, 2), 1)]
    direct = rhythm.render(256, [rhythm.onset(t, w) for t, w in events], pulse)
    assert rhythm.pulse_lane(256, events, pulse) == [r[0] for r in direct]


# --- four_floor -----------------------------------------------------------------------------------


def test_four_floor_bounce(patterns):
    p = patterns["beat_four_floor_bounce"]
    assert p.dimensions == 2 and p.period == 256
    assert set(axis(p.rows, 0)) == set(axis(p.rows, 2)) == {0.0}
    y = axis(p.rows, 1)
    assert [y[b] for b in BEATS] == [0.55] * 4
    assert all(y[b + i] == 0.0 for b in BEATS for i in range(30, 58))
    for i in range(-20, 40):  # the basic kick pulse: A = 0.10, R = 0.46 beat
        assert y[i % 256] == pytest.approx(0.55 * raised_cosine(i, 0.10, 0.46), abs=1e-12)


def test_four_floor_step(patterns):
    rows = ff(patterns, "step")
    assert [rows[b][:2] for b in BEATS] == [(0.42, -0.22), (-0.42, -0.22)] * 2
    assert patterns["beat_four_floor_step"].dimensions == 2


def test_four_floor_further_kick_pulse(patterns):
    z = axis(ff(patterns, "surge"), 2)
    for i in range(-20, 40):  # the further kick pulse: A = 0.11, R = 0.48 beat
        assert z[i % 256] == pytest.approx(0.506 * raised_cosine(i, 0.11, 0.48), abs=1e-12)


# (x, y, z) on the four beats, where K = 1, Ka = +1, -1, +1, -1 and U = 0, 90, 180, 270 deg.
ON_BEATS = {
    "orbit": [(0.58, 0, 0), (0, 0.58, 0), (-0.58, 0, 0), (0, -0.58, 0)],
    "glide": [(0.13, 0, 0.14), (0.27, 0, -0.13), (0.13, 0, -0.40), (-0.53, 0, -0.13)],
    "surge": [(0.153, -0.1535, 0.506), (-0.153, -0.1535, 0.506)] * 2,
    "flutter": [(0.099, 0.203, 0.054), (0.161, 0.203, 0.054), (0.099, 0.203, 0.054), (-0.359, 0.203, 0.054)],
    "dive": [(0.341, -0.126, 0.24), (-0.341, -0.126, 0.13), (0.341, -0.126, 0.02), (-0.341, -0.126, 0.13)],
    "figure8": [(0, 0, 0.064), (0.63, 0, -0.16), (0, 0, 0.064), (-0.63, 0, -0.16)],
    "corkscrew": [(0.53, 0, 0.016), (-0.53, 0, 0.436), (0.53, 0, 0.016), (-0.53, 0, -0.404)],
    "spiral": [(0.50, 0, 0.295), (-0.67, 0, -0.105), (0.50, 0, -0.085), (-0.33, 0, -0.105)],
    "slalom": [(0.056, -0.114, 0.346), (0.524, -0.374, -0.346), (0.056, -0.114, 0.346), (-0.636, 0.146, -0.346)],
    "ricochet": [(0.54, -0.12, 0.126), (0, 0.34, -0.03), (-0.54, -0.12, 0.126), (0, -0.58, -0.03)],
}


@pytest.mark.parametrize("motion", sorted(ON_BEATS))
def test_four_floor_on_beats(patterns, motion):
    rows = ff(patterns, motion)
    for b, expected in zip(BEATS, ON_BEATS[motion]):
        assert rows[b] == pytest.approx(expected, abs=1e-9), (motion, b)


def test_four_floor_rests_between_kicks(patterns):
    # Where no further kick pulse reaches (pips 31..56 of a beat), the pulse axes rest.
    for motion, axes in (("surge", 3), ("ricochet", 3), ("dive", 2)):
        rows = ff(patterns, motion)
        assert all(rows[b + i][:axes] == (0.0,) * axes for b in BEATS for i in range(31, 57)), motion


def test_recoil_echo(patterns):
    rows = ff(patterns, "recoil")
    x = axis(rows, 0)
    for k, b in enumerate(BEATS):
        sign = 1 if k % 2 == 0 else -1
        assert rows[b] == pytest.approx((0.143 * sign, 0.257, -0.072), abs=1e-12)
        lag = min(range(1, 60), key=lambda i: sign * x[b + i])
        assert 24 <= lag <= 30
        assert 0.075 <= -sign * x[b + lag] <= 0.107


def test_pendulum_range(patterns):
    rows = ff(patterns, "pendulum")
    x, y = axis(rows, 0), axis(rows, 1)
    assert min(x) == pytest.approx(-0.55, abs=0.002) and max(x) == pytest.approx(0.43, abs=0.002)
    assert min(y) == pytest.approx(-0.19, abs=0.002) and max(y) == pytest.approx(0.05, abs=0.002)
    # one swing per bar: the far left at beat 4, the far right at beat 2
    assert x.index(min(x)) == 192 and x.index(max(x)) == 64


def test_box_corners(patterns):
    rows = ff(patterns, "box")
    for k, b in enumerate(BEATS):
        x, y = rows[b][:2]
        assert (x > 0, y > 0) == ((True, True), (False, True), (False, False), (True, False))[k]
        assert 0.42 <= abs(x) <= 0.50 and 0.40 <= abs(y) <= 0.48
    assert max(abs(r[0]) for r in rows) <= 0.50 and max(abs(r[1]) for r in rows) <= 0.48
    assert min(abs(r[0]) for r in rows[:32]) < 0.001  # the tour crosses the y axis once per beat


def test_spring_response(patterns):
    rows = ff(patterns, "spring")
    for k, b in enumerate(BEATS):
        c, sign = ((2, 1), (0, 1), (2, -1), (0, -1))[k]
        ring = [rows[b + i][c] * sign for i in range(64)]
        assert rows[b] == (0.0, 0.0, 0.0)
        assert max(ring) == pytest.approx(0.32, abs=1e-9) and ring.index(max(ring)) == 6
        assert all(v == 0.0 for v in ring[56:]) and ring[55] != 0.0
        trough = ring.index(min(ring))  # half a ringing period after the peak
        assert 13 <= trough - 6 <= 16
        assert min(ring) / max(ring) == pytest.approx(-math.exp(-(trough - 6) / 8.8), abs=0.05)
        if c == 2:
            assert [rows[b + i][1] for i in range(64)] == pytest.approx(
                [0.19 * rows[b + i][2] for i in range(64)], abs=1e-12
            )


# --- richer styles --------------------------------------------------------------------------------


def test_orbit_backbeat_pulls_inward(patterns):
    rows = patterns["beat_ukg_two_step_orbit"].rows
    assert min(math.hypot(r[0], r[1]) for r in rows) == pytest.approx(0.367, abs=1e-9)


def test_speed_garage_bass_pulses(patterns):
    z = axis(patterns["beat_speed_garage_bounce"].rows, 2)
    onsets = [t for t, _ in beat.score("speed_garage").events["bass"]]
    assert [z[int(t)] for t in onsets] == [0.038, -0.038] * 4
    assert max(abs(v) for v in z) == 0.038


def test_ghosts_change_motion_only_within_their_reach(patterns):
    # amen_no_ghosts differs from amen_four_bar only by the ghost snares: on the axes where
    # the snare weight does not alternate, the rows differ exactly within the ghosts' reach.
    ghosts = [t for t, v in beat.score("amen_four_bar").events["snare"] if v == beat_scores.GHOST]
    reach = beat.PULSES["snare"]
    near = {
        i % 1024
        for t in ghosts
        for i in range(math.ceil(t - reach.attack), math.floor(t + reach.release) + 1)
        if i != t - reach.attack and i != t + reach.release
    }
    for motion in ("bounce", "surge"):
        a = axis(patterns["beat_amen_four_bar_" + motion].rows, 1)
        b = axis(patterns["beat_amen_no_ghosts_" + motion].rows, 1)
        assert {i for i in range(1024) if a[i] != b[i]} == near, motion


# --- constraints over all 1088 --------------------------------------------------------------------


def test_periods_by_style(patterns):
    special = {
        "four_floor": 256,
        "techno_polymeter": 768,
        "amen_four_bar": 1024,
        "amen_no_ghosts": 1024,
        "jungle_switch": 1024,
    }
    for name, p in patterns.items():
        stem = name[len("beat_") :].rsplit("_", 1)[0]
        assert p.period == special.get(stem, 512), name


def test_dimensions(patterns):
    for name, p in patterns.items():
        stem, motion = name[len("beat_") :].rsplit("_", 1)
        if motion in ("bounce", "step"):
            expected = 3 if beat.score(stem).extra else 2
        elif motion == "orbit":
            expected = 2 if stem == "four_floor" else 3
        else:
            expected = 3
        assert p.dimensions == expected, name


def test_headroom_and_closure(patterns):
    for name, p in patterns.items():
        assert max(abs(v) for r in p.rows for v in r) <= 0.92, name
        assert max(abs(a - b) for a, b in zip(p.rows[0], p.rows[-1])) <= 0.053, name


@pytest.mark.parametrize("motion, turns", [("orbit", 1), ("box", 1), ("corkscrew", 2), ("spiral", 2)])
def test_winding(patterns, motion, turns):
    for stem in STEMS:
        assert winding(patterns["beat_%s_%s" % (stem, motion)].rows) == pytest.approx(turns), stem
