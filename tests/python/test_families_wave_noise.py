"""Tables of the `wave` and `noise` families: names, shapes, measured properties, loops."""

import hashlib
import math

import baked
import pytest
from patterngen.families import noise, wave

WAVES = baked.patterns("wave")
NOISES = baked.patterns("noise")

WAVE_LABELS = [
    ("wave_pinched", "Pinched sine"),
    ("wave_shouldered", "Shouldered sine"),
    ("wave_folded", "Folded sine"),
    ("wave_double_fold", "Double-fold wave"),
    ("wave_rounded_square", "Rounded square"),
    ("wave_soft_rectifier", "Soft rectified swell"),
    ("wave_skew_warp", "Phase-skew sweep"),
    ("wave_scoop_warp", "Scooped return"),
    ("wave_shelf_wave", "Shelf and scoop"),
    ("wave_notched", "Notched crest"),
    ("wave_bottle", "Bottle-neck swell"),
    ("wave_reed", "Reed flutter"),
    ("wave_unequal_peaks", "Unequal double crest"),
    ("wave_ripple_return", "Rippled recovery"),
    ("wave_soft_teeth", "Soft triple teeth"),
    ("wave_warped_fold", "Warped wave fold"),
]
NOISE_NAMES = (
    ["noise_drift_%d" % n for n in (5, 7, 9, 11)]
    + ["noise_ripple_%d" % n for n in (5, 7, 9, 11)]
    + ["noise_orbit_%d" % n for n in (6, 8, 10, 12)]
    + ["noise_depth_%d" % n for n in (6, 8, 10, 12)]
)


def xs(name):
    return [r[0] for r in WAVES[name].rows]


def coefficient(x, k, kind):
    """Discrete Fourier coefficient of x: 'mean', or the sin/cos k*theta weight."""
    n = len(x)
    if kind == "mean":
        return math.fsum(x) / n
    f = math.sin if kind == "sin" else math.cos
    return 2.0 / n * math.fsum(v * f(k * 2.0 * math.pi * i / n) for i, v in enumerate(x))


def assert_table_invariants(p):
    assert all(math.isfinite(v) and -1.0 <= v <= 1.0 for r in p.rows for v in r)
    assert max(abs(v) for r in p.rows for v in r) == pytest.approx(0.82, abs=1e-12)
    for axis in range(3):
        lane = [r[axis] for r in p.rows]
        largest = max(abs(b - a) for a, b in zip(lane, lane[1:]))
        assert abs(lane[0] - lane[-1]) <= largest, (p.name, axis)


def test_wave_members_in_order():
    assert [p.name for p in wave.build("atlas")] == [n for n, _ in WAVE_LABELS]


@pytest.mark.parametrize("name,label", WAVE_LABELS)
def test_wave_tables(name, label):
    p = WAVES[name]
    assert p.period == 512 and p.dimensions == 1
    assert p.description == (label + "; a continuous shaped control wave, mapped to horizontal displacement.")
    assert_table_invariants(p)


def s(k, t):
    return math.sin(k * t)


def c(k, t):
    return math.cos(k * t)


# Members written with their final coefficients: the stored table is the expression itself.
FINAL = [
    ("wave_shouldered", lambda t: 0.793894 * s(1, t) + 0.356677 * s(3, t)),
    ("wave_notched", lambda t: 0.586781 * s(1, t) - 0.211241 * s(3, t) + 0.070414 * c(5, t)),
    ("wave_reed", lambda t: 0.571072 * s(1, t) + 0.13437 * (s(8, t) - s(6, t))),
    ("wave_unequal_peaks", lambda t: 0.53076 * s(1, t) + 0.22731 * c(2, t) + 0.220766 * s(2, t)),
    ("wave_ripple_return", lambda t: 0.751457 * s(1, t) + 0.067631 * s(5, t) * (1 + c(1, t))),
]


@pytest.mark.parametrize("name,expr", FINAL)
def test_final_waves_are_stored_as_written(name, expr):
    x = xs(name)
    assert max(abs(v - expr(2.0 * math.pi * i / 512)) for i, v in enumerate(x)) < 1e-6


# Shapes given by measured properties: (name, kind, k, stated value, tolerance of half a
# unit in the stated last digit).
MEASURED = (
    [
        ("wave_soft_rectifier", "mean", 0, 0.126, 5e-4),
        ("wave_soft_rectifier", "cos", 2, -0.768, 5e-4),
        ("wave_shelf_wave", "sin", 1, 0.832, 5e-4),
        ("wave_shelf_wave", "cos", 1, 0.0, 5e-5),
        ("wave_shelf_wave", "cos", 3, 0.0667, 5e-5),
        ("wave_shelf_wave", "sin", 3, 0.2981, 5e-5),
        ("wave_shelf_wave", "sin", 5, 0.032, 5e-4),
    ]
    + [("wave_bottle", "sin", k, v, 5e-5) for k, v in zip((1, 3, 5, 7, 9), (0.6895, -0.1097, 0.0175, -0.0028, 0.0004))]
    + [
        ("wave_soft_teeth", "sin", k, v, 5e-5)
        for k, v in zip((1, 3, 5, 7, 9), (0.9621, 0.3274, 0.0995, 0.0619, 0.0249))
    ]
    + [
        ("wave_warped_fold", "sin", k, v, 5e-5)
        for k, v in zip((1, 3, 5, 7, 9), (0.6747, 0.3962, 0.1974, 0.0687, 0.0196))
    ]
)


@pytest.mark.parametrize("name,kind,k,value,tol", MEASURED)
def test_wave_measured_coefficients(name, kind, k, value, tol):
    assert abs(coefficient(xs(name), k, kind) - value) <= tol


@pytest.mark.parametrize("name", ["wave_shelf_wave", "wave_bottle", "wave_soft_teeth", "wave_warped_fold"])
def test_odd_harmonic_waves_mirror_each_half_cycle(name):
    x = xs(name)
    assert all(abs(x[i + 256] + x[i]) < 1e-12 for i in range(256))


def test_soft_rectifier_is_even_with_two_equal_swells():
    x = xs("wave_soft_rectifier")
    assert all(abs(x[i] - x[-i]) < 1e-12 and abs(x[i] - x[i + 256]) < 1e-12 for i in range(256))
    assert x[128] == pytest.approx(0.82, abs=1e-12)


def test_soft_teeth_has_three_teeth_per_half_cycle():
    x = xs("wave_soft_teeth")
    turns = [i for i in range(1, 256) if (x[i] - x[i - 1]) * (x[i + 1] - x[i]) < 0]
    assert len(turns) == 3 and turns[1] == 128


# ---- noise ----------------------------------------------------------------------------


def test_noise_members_in_order():
    assert [p.name for p in noise.build("atlas")] == NOISE_NAMES


def test_noise_is_deterministic():
    assert noise.build("atlas") == noise.build("atlas")


@pytest.mark.parametrize("name", NOISE_NAMES)
def test_noise_tables(name):
    p = NOISES[name]
    kind = name.split("_")[1]
    assert p.period == 1024
    assert p.dimensions == (3 if kind == "depth" else 2)
    assert p.description == ("Indexed SHA-256 control points in a closed %s path. No mutable random state." % kind)
    assert_table_invariants(p)
    steps = [math.dist(a, b) for a, b in zip(p.rows, p.rows[1:] + p.rows[:1])]
    if kind in ("drift", "depth"):
        assert max(steps[0], steps[-1]) < 0.01 * max(steps)  # resting at keyframe 0
    else:
        assert min(steps) > 1e-4  # never rests
    if kind in ("orbit", "ripple"):
        assert p.rows[0][1] == 0.0 and p.rows[0][0] > 0.0


def documented_control(name, lane, j):
    key = ("kinetra/noise/%s/%s/%d" % (name, lane, j)).encode("ascii")
    return int.from_bytes(hashlib.sha256(key).digest()[:8], "big") / 2**63 - 1.0


@pytest.mark.parametrize(
    "name,lanes,keyframes",
    [
        ("noise_drift_5", "xy", (0,)),
        ("noise_drift_11", "xy", (0,)),
        ("noise_depth_8", "xyz", range(8)),
        ("noise_depth_12", "xyz", (0, 3, 6, 9)),
    ],
)
def test_keyframe_paths_pass_through_hashed_control_points(name, lanes, keyframes):
    n = int(name.rsplit("_", 1)[1])
    values = [[documented_control(name, lane, j) for j in range(n)] for lane in lanes]
    # The peak is taken over the pips, which may fall just short of an extreme keyframe.
    scale = NOISES[name].rows[0][0] / values[0][0]
    assert scale >= 0.82 / max(abs(v) for lane in values for v in lane) - 1e-9
    for j in keyframes:
        row = NOISES[name].rows[1024 * j // n]
        for axis, lane in enumerate(values):
            assert row[axis] == pytest.approx(lane[j] * scale, abs=1e-11)
