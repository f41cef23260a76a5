"""Paths through keyframes and poses: the continuum families dwell, scan, tour, spline, reach,
arm and contour, and the atlas gestures. Names, periods, dimensions and descriptions, the
stated edge cases and the measured facts each designed family meets."""

import math
from fractions import Fraction

import baked
import pytest
from patterngen.curves import closed_spline
from patterngen.families import dwell, spline

FAMILIES = ("contour", "spline", "tour", "scan", "reach", "arm", "dwell")
BUILT = baked.built(*FAMILIES)
GESTURES = baked.built("gesture")["gesture"]
TABLES = {p.name: p for members in BUILT.values() for p in members} | {p.name: p for p in GESTURES}

SPLINE_SHAPES = (
    "kite",
    "hourglass",
    "hook",
    "crown",
    "bow",
    "crooked_cross",
    "asymmetric_star",
    "scoop",
    "rising_kite",
    "twisted_bow",
    "cup",
    "bridge",
    "double_bay",
    "slanted_loop",
    "fork",
    "folded_crown",
)
TOUR_PAIRS = (
    (5, 2),
    (7, 2),
    (7, 3),
    (8, 3),
    (9, 2),
    (9, 4),
    (10, 3),
    (11, 2),
    (11, 3),
    (11, 4),
    (12, 5),
    (13, 2),
    (13, 3),
    (13, 4),
    (13, 5),
    (14, 3),
)
FLAT_3D = [2] * 8 + [3] * 8

# family: (names in registry order, period, dimensions per member, description)
CATALOGUE = {
    "contour": (
        ["contour_shaped_%02d" % j for j in range(1, 17)],
        1024,
        FLAT_3D,
        "Signed-power oval edges with local ripples and an asymmetric bow.",
    ),
    "spline": (
        ["spline_" + s for s in SPLINE_SHAPES],
        512,
        FLAT_3D,
        "Periodic cubic tangents connect asymmetrical controls with unequal segment times.",
    ),
    "tour": (
        ["tour_%d_%d" % nk for nk in TOUR_PAIRS],
        1024,
        FLAT_3D,
        "A noncircular vertex tour with eased corners and alternating dwell lengths.",
    ),
    "scan": (
        ["scan_%s_%d" % (v, n) for n in (3, 4, 5, 6) for v in ("flat", "bowed", "tilted", "depth")],
        1024,
        [2, 2, 2, 3] * 4,
        "An eased serpentine scan and an explicit outer return to the starting point.",
    ),
    "reach": (
        ["reach_%s_%d" % (s, k) for k in (3, 4, 5, 7) for s in ("scoop", "hook", "lift", "recoil")],
        1024,
        [2, 2, 3, 2] * 4,
        "Separate shaped reaches depart from and settle at a shared centre, without reset jumps.",
    ),
    "arm": (
        ["arm_coupled_%02d" % j for j in range(1, 17)],
        1024,
        FLAT_3D,
        "Tip position of two kinematically driven links; not a dynamics simulation or anatomical model.",
    ),
    "dwell": (
        ["dwell_phrase_%02d" % j for j in range(1, 17)],
        1024,
        [3] * 16,
        "Two unequal lift-and-hold gestures, a transfer and a settling return; holds have finite musical duration.",
    ),
}


def rows(name):
    return TABLES[name].rows


def lane(name, axis):
    return [r[axis] for r in rows(name)]


def at_time(name, t):
    """The stored row nearest to the exact time t (the point rests there, so it is close)."""
    r = rows(name)
    return r[round(t) % len(r)]


def close(a, b, tol):
    return all(abs(u - v) <= tol for u, v in zip(a, b))


@pytest.mark.parametrize("family", FAMILIES)
def test_members_periods_dimensions_descriptions(family):
    names, period, dims, description = CATALOGUE[family]
    members = BUILT[family]
    assert [p.name for p in members] == names
    assert [p.dimensions for p in members] == dims
    for p in members:
        assert p.period == period and p.description == description, p.name
        # scaled over the half-pip samples: the stored peak is 0.82 or a little below
        assert 0.8199 <= max(abs(v) for r in p.rows for v in r) <= 0.82, p.name


# --- dwell ---------------------------------------------------------------------------------


@pytest.mark.parametrize("first,last", [(103, 204), (410, 614), (922, 1023)])
def test_dwell_phrase_01_holds(first, last):
    r = rows("dwell_phrase_01")
    assert all(r[i] == r[first] for i in range(first, last + 1))
    assert r[first - 1] != r[first]
    # the last hold is home, which runs on into pip 0
    assert (r[last + 1] != r[last]) if last < 1023 else r[0] == r[last]


@pytest.mark.parametrize("member", range(1, 17))
def test_dwell_poses_at_their_steps(member):
    unit, second, transfer = (14, (14, 2, -3), (1, 12, 7)) if member <= 8 else (16, (15, -6, -9), (3, 16, 10))
    e = 0.82 / unit
    home, first = (-13, 5, 0), (-6, -13, 4)
    m, b1, b2, c1, c2 = dwell.GRIDS[member - 1]
    step = Fraction(1024, m)
    r = rows("dwell_phrase_%02d" % member)
    # held poses: every pip inside the hold stores the pose itself
    for begin, end, pose in ((b1, b2, first), (c1, c2, second), (m - 1, m, home)):
        pips = range(math.ceil(begin * step), math.floor(end * step) + 1)
        assert len(pips) >= 60
        assert all(close(r[i % 1024], [e * v for v in pose], 1e-7) for i in pips), pose
    # the transfer point is passed at rest, at step m - 3
    assert close(at_time("dwell_phrase_%02d" % member, (m - 3) * step), [e * v for v in transfer], 1e-5)


# --- scan ----------------------------------------------------------------------------------


def scan_vertex_times(n):
    return [Fraction(1024 * j, 2 * n + 3) for j in range(2 * n + 3)]


def test_scan_flat_3_rest_and_first_corner():
    r = rows("scan_flat_3")
    assert r[0] == (-0.574, -0.574, 0.0) and close(r[1], r[0], 1e-5) and close(r[-1], r[0], 1e-5)
    for pip in (113, 114):
        assert close(r[pip], (0.574, -0.574, 0.0), 4e-6)


@pytest.mark.parametrize("name", CATALOGUE["scan"][0])
def test_scan_equal_eased_straight_segments(name):
    n = int(name.rsplit("_", 1)[1])
    r = rows(name)
    times = scan_vertex_times(n)
    vs = [at_time(name, t) for t in times]
    for j, t in enumerate(times):
        k = math.floor(t)  # the pips either side of the vertex time
        assert close(r[(k + 1) % 1024], r[k], 1e-4), (name, j)  # at rest on every vertex
        a, b = vs[j], vs[(j + 1) % len(vs)]
        mid = r[round(t + Fraction(512, 2 * n + 3))]
        # mid-segment: on the straight line between the vertices, about half way along
        ab = [v - u for u, v in zip(a, b)]
        am = [v - u for u, v in zip(a, mid)]
        along = sum(p * q for p, q in zip(ab, am)) / sum(p * p for p in ab)
        off = [m - along * d for m, d in zip(am, ab)]
        assert max(map(abs, off)) < 1e-5 and abs(along - 0.5) < 0.02, (name, j)
    # the outer return corners are the same in every variant, at depth 0
    assert close(vs[2 * n], (0.804, 0.82, 0.0), 1e-5)
    assert close(vs[2 * n + 1], (-0.82, 0.82, 0.0), 1e-5)
    assert close(vs[2 * n + 2], (-0.82, -0.779, 0.0), 1e-5)


@pytest.mark.parametrize("n", (3, 4, 5, 6))
def test_scan_flat_rows_serpentine(n):
    vs = [at_time("scan_flat_%d" % n, t) for t in scan_vertex_times(n)][: 2 * n]
    for j in range(n):
        y = -0.574 + 1.148 * j / (n - 1)
        left, right = (-0.574, y, 0.0), (0.574, y, 0.0)
        ends = (left, right) if j % 2 == 0 else (right, left)
        assert close(vs[2 * j], ends[0], 1e-5) and close(vs[2 * j + 1], ends[1], 1e-5)


@pytest.mark.parametrize(
    "name,vertex",
    [
        ("scan_bowed_3", (0.478, -0.499)),
        ("scan_bowed_3", (0.738, 0.08)),
        ("scan_bowed_3", (-0.41, -0.069)),
        ("scan_bowed_5", (0.738, 0.08)),
        ("scan_bowed_4", (0.478, -0.499)),
        ("scan_bowed_6", (0.478, -0.499)),
    ],
)
def test_scan_bowed_row_vertices(name, vertex):
    n = int(name[-1])
    vs = [at_time(name, t)[:2] for t in scan_vertex_times(n)]
    assert min(math.dist(v, vertex) for v in vs) < 1e-3


@pytest.mark.parametrize("n", (3, 4, 5, 6))
def test_scan_tilted_start_and_depth_lanes(n):
    assert close(rows("scan_tilted_%d" % n)[0], (-0.746, -0.459, 0.0), 1e-3)
    name = "scan_depth_%d" % n
    z = lane(name, 2)
    assert max(z) == 0.309 and min(z) == -0.309
    vs = [at_time(name, t) for t in scan_vertex_times(n)]
    assert [round(v[2], 4) for v in vs[: 2 * n]] == [0.309 if j // 2 % 2 == 0 else -0.309 for j in range(2 * n)]
    flat = rows("scan_flat_%d" % n)
    assert all(a[:2] == b[:2] for a, b in zip(rows(name), flat))


# --- tour ----------------------------------------------------------------------------------


def tour_visits(n, k):
    """(vertex index, stored row at the visit) in visit order."""
    name = "tour_%d_%d" % (n, k)
    weights = [Fraction(3, 2) if j % 3 == 0 else 1 for j in range(n)]
    out, t = [], Fraction(0)
    for j in range(n):
        out.append((j * k % n, at_time(name, t)))
        t += weights[j] * 1024 / sum(weights)
    return out


def test_tour_5_2_vertices_and_durations():
    expected = [(0.82, 0.0), (-0.565, 0.279), (0.172, -0.359), (0.182, 0.380), (-0.608, -0.300)]
    r = rows("tour_5_2")
    for (_, got), want in zip(tour_visits(5, 2), expected):
        assert close(got[:2], want, 5e-4)
    # at rest on the vertices at 0, 256, 426.7, 597.3 and 853.3 pips, moving in between
    for start, length in ((0, 256), (256, 171), (427, 171), (597, 256), (853, 171)):
        assert math.dist(r[start], r[(start + 1) % 1024]) < 1e-5
        assert math.dist(r[start + length // 2], r[start + length // 2 + 1]) > 3e-3


@pytest.mark.parametrize("n,k", TOUR_PAIRS)
def test_tour_outline_and_depths(n, k):
    name = "tour_%d_%d" % (n, k)
    r = rows(name)
    assert r[0] == (0.82, 0.0, 0.0) and close(r[1], r[0], 1e-4)
    visits = tour_visits(n, k)
    radii = [math.hypot(v[0], v[1]) for _, v in visits]
    assert 0.39 <= min(radii) <= 0.41 and max(radii) <= 0.83
    assert max(radii) - min(radii) > 0.3  # noncircular
    by_vertex = dict(visits)
    for v, p in by_vertex.items():  # left-right mirror: vertex at pi - phi is (-x, y)
        w = (n // 2 - v) % n
        if n % 2 == 0:
            assert close(by_vertex[w][:2], (-p[0], p[1]), 1e-5), (name, v)
    depths = [p[2] for _, p in visits]
    want = [0.0] * n
    if TABLES[name].dimensions == 3:
        want = [0.0] + [0.19 if j % 2 else -0.19 for j in range(1, n)]
    assert close(depths, want, 1e-5)


# --- spline --------------------------------------------------------------------------------


def test_closed_spline_interpolates_with_continuous_tangent_and_curvature():
    controls = ((0.8, 0.1), (-0.2, 0.6), (-0.7, -0.3), (0.3, -0.5))
    weights = (1.5, 0.5, 1, 2)
    f = closed_spline(controls, weights, 100)
    for t, c in zip((0, 30, 40, 60), controls):  # knots at the weights' shares of 100
        assert close(f(t), c, 1e-12)
    h = Fraction(1, 1000)
    for t in (0, 30, 40, 60):
        left = [f((t - h * j) % 100) for j in range(3)]
        right = [f(t + h * j) for j in range(3)]
        for d in range(2):
            slope_l = (left[0][d] - left[1][d]) / float(h)
            slope_r = (right[1][d] - right[0][d]) / float(h)
            assert abs(slope_l - slope_r) < 1e-3
            curv_l = (left[0][d] - 2 * left[1][d] + left[2][d]) / float(h) ** 2
            curv_r = (right[0][d] - 2 * right[1][d] + right[2][d]) / float(h) ** 2
            assert abs(curv_l - curv_r) < 1e-2 * max(1.0, abs(curv_l))


def test_rising_kite_is_kite_with_a_depth_lane():
    kite, rising = rows("spline_kite"), rows("spline_rising_kite")
    assert all(a[:2] == b[:2] for a, b in zip(kite, rising))
    assert max(map(abs, lane("spline_rising_kite", 2))) > 0.3


@pytest.mark.parametrize("shape", SPLINE_SHAPES)
def test_spline_smooth_through_the_wrap(shape):
    # a closed cubic has no corner anywhere: the second difference at the wrap is ordinary
    r = rows("spline_" + shape)
    for d in range(3):
        v = [p[d] for p in r]
        second = [abs(v[(i + 1) % 512] - 2 * v[i] + v[i - 1]) for i in range(512)]
        assert second[0] <= 1.5 * max(second[1:]) + 1e-9 and max(second) < 2e-3


@pytest.mark.parametrize("shape,controls,weights", spline.SHAPES)
def test_spline_passes_its_controls_at_unequal_times(shape, controls, weights):
    assert len(set(weights)) > 1
    r = rows("spline_" + shape)
    scale = max(zip(r[0], controls[0]), key=lambda pair: abs(pair[1]))
    scale = scale[0] / scale[1]
    largest_step = max(math.dist(r[i], r[i - 1]) for i in range(512))
    t = Fraction(0)
    for c, w in zip(controls, weights):
        c = tuple(c) + (0.0,) * (3 - len(c))
        assert math.dist(at_time("spline_" + shape, t), [scale * v for v in c]) <= largest_step / 2 + 1e-9, (shape, c)
        t += Fraction(str(w)) * 512 / sum(Fraction(str(v)) for v in weights)


# --- reach ---------------------------------------------------------------------------------

FIRST_FAR = {
    "scoop": (0.82, 0.07, 0.0),
    "hook": (0.82, 0.36, 0.0),
    "lift": (0.82, 0.06, 0.38),
    "recoil": (0.82, 0.14, 0.0),
}


@pytest.mark.parametrize("name", CATALOGUE["reach"][0])
def test_reaches_rest_at_centre_and_fan_out(name):
    _, shape, k = name.split("_")
    k = int(k)
    r = rows(name)
    span = Fraction(1024, k)
    far = Fraction(1, 3) if shape == "recoil" else Fraction(11, 25)
    angles, lengths = [], []
    for j in range(k):
        start = j * span
        assert close(at_time(name, start), (0, 0, 0), 1e-5), (name, j)
        assert math.dist(at_time(name, start), r[(round(start) + 1) % 1024]) < 5e-4
        pips = range(math.ceil(start), math.ceil(start + span))
        farthest = max(pips, key=lambda i: math.hypot(r[i][0], r[i][1]))
        assert abs(farthest - (start + far * span)) <= 2, (name, j)  # about 0.44 (0.33) in
        p = r[farthest]
        angles.append(math.atan2(p[1], p[0]))
        lengths.append(math.hypot(p[0], p[1]))
    assert close(r[round(far * span)], FIRST_FAR[shape], 0.005)
    turn = angles[0]
    for j, a in enumerate(angles):  # the reaches fan round the circle from the first
        assert abs(math.remainder(a - turn - 2 * math.pi * j / k, 2 * math.pi)) < 0.02
    assert len({round(v, 2) for v in lengths}) == k  # every reach has its own length
    assert [round(lengths[j] / lengths[0] * 0.82, 2) for j in (1, 2)] == [0.73, 0.71]


# --- arm -----------------------------------------------------------------------------------


@pytest.mark.parametrize("name", CATALOGUE["arm"][0])
def test_arm_tip_ranges(name):
    x, y, z = (lane(name, a) for a in range(3))
    assert min(y) == pytest.approx(-0.82, abs=1e-4) and max(y) < 0.0
    assert -0.56 <= max(y) <= 0.0
    assert 0.55 <= max(x) <= 0.81 and 0.55 <= -min(x) <= 0.81
    if TABLES[name].dimensions == 3:
        assert 0.145 <= max(z) <= 0.185 and max(z) == pytest.approx(-min(z), abs=1e-3)


def test_arm_highest_points_spread_over_the_range():
    highest = [max(lane(n, 1)) for n in CATALOGUE["arm"][0]]
    assert min(highest) < -0.47 and max(highest) > -0.05


# --- contour -------------------------------------------------------------------------------


@pytest.mark.parametrize("name", CATALOGUE["contour"][0])
def test_contour_start_asymmetry_and_depth_bow(name):
    r = rows(name)
    assert r[0][1] == 0.0 and 0.70 <= r[0][0] <= 0.77
    y = lane(name, 1)
    assert max(y) - (-min(y)) > 0.1  # unequal up and down
    assert 0.40 <= -min(y) and max(y) <= 0.70
    assert min(lane(name, 0)) == pytest.approx(-0.82, abs=1e-4)
    z = lane(name, 2)
    if TABLES[name].dimensions == 3:
        assert -0.16 <= min(z) <= -0.135 and 0.08 <= max(z) <= 0.095


# --- gesture -------------------------------------------------------------------------------

GESTURE = [
    "gesture_" + g
    for g in (
        "side_reach",
        "cross_reach",
        "low_scoop",
        "high_arc",
        "corner_taps",
        "diagonal_touch",
        "box_return",
        "zigzag_lift",
        "duck_sway",
        "push_pull",
        "reach_depth",
        "bow_turn",
        "heel_toe",
        "hop_answer",
        "spiral_reach",
        "diamond_depth",
    )
]
GESTURE_LABELS = (
    "side reach",
    "cross and reach",
    "low scoop",
    "high arc",
    "corner taps",
    "diagonal touch",
    "box and centre",
    "zigzag lift",
    "duck and sway",
    "push and pull",
    "reach through depth",
    "bow and turn",
    "heel-toe abstract",
    "hop and answer",
    "spiral reach",
    "depth diamond",
)


def test_gesture_members():
    depth = ("push_pull", "reach_depth", "bow_turn", "spiral_reach", "diamond_depth")
    assert [p.name for p in GESTURES] == GESTURE
    assert [p.period for p in GESTURES] == [512] * 16
    assert [p.dimensions for p in GESTURES] == [3 if g.split("_", 1)[1] in depth else 2 for g in GESTURE]
    assert [p.description for p in GESTURES] == [
        "An original single-point %s gesture. Abstract motion, not a full-body dance or biomechanical recording."
        % label
        for label in GESTURE_LABELS
    ]


def near(row, expected, tol):
    """row within tol of expected, padded with zeros to three components."""
    return close(row, tuple(expected) + (0.0,) * (3 - len(expected)), tol)


def test_gesture_corner_taps():
    r = rows("gesture_corner_taps")
    corners = [r[p] for p in (64, 192, 320, 448)]
    assert sorted((math.copysign(1, x), math.copysign(1, y)) for x, y, _ in corners) == [
        (-1, -1),
        (-1, 1),
        (1, -1),
        (1, 1),
    ]
    assert all((abs(x), abs(y)) == (0.82, 0.586) for x, y, _ in corners)
    assert all(r[p] == (0.0, 0.0, 0.0) for p in (0, 128, 256, 384))
    for p in range(0, 512, 64):  # rests at each
        assert math.dist(r[p], r[p + 1]) < 1e-4 and math.dist(r[p], r[p - 1]) < 1e-4


def test_gesture_spiral_reach():
    r = rows("gesture_spiral_reach")
    step = [math.dist(r[i - 1], r[i]) for i in range(512)]  # step into pip i
    fastest = max(step)
    for p in (0, 113, 171, 284, 399):
        assert max(step[p], step[(p + 1) % 512]) < 0.002 * fastest
    # it spirals: the lateral angle winds three times around over the loop
    turn = 0.0
    for i in range(512):
        a0 = math.atan2(r[i - 1][1], r[i - 1][0])
        a1 = math.atan2(r[i][1], r[i][0])
        turn += (a1 - a0 + math.pi) % (2 * math.pi) - math.pi
    assert round(turn / (2 * math.pi)) == 3
    assert max(abs(v) for row in r for v in row) == 0.82


# Keyframes that fall on a pip: stored 0.82 x the unit value; to within 5e-7 in the members
# whose +-1 keyframes fall between pips (their peak over the pips is scaled up to 0.82).
KEYFRAMES = [
    ("gesture_side_reach", 0, (0, 0), 0),
    ("gesture_cross_reach", 0, (-1, 2 / 7), 0),
    ("gesture_cross_reach", 256, (-6 / 7, -5 / 7), 0),
    ("gesture_high_arc", 0, (-1, 0), 0),
    ("gesture_box_return", 0, (-1, 5 / 6), 0),
    ("gesture_push_pull", 256, (-3 / 8, 1 / 4, -3 / 4), 5e-7),
    ("gesture_reach_depth", 256, (5 / 7, 3 / 7, 0), 5e-7),
    ("gesture_reach_depth", 0, (-5 / 7, 3 / 7, 0), 5e-7),
    ("gesture_heel_toe", 0, (0, 0), 0),
    ("gesture_bow_turn", 256, (1, 0, 0), 0),
    ("gesture_diamond_depth", 256, (0, 1, 0), 0),
]


@pytest.mark.parametrize("name,pip,unit,tol", KEYFRAMES)
def test_gesture_keyframes(name, pip, unit, tol):
    assert near(rows(name)[pip], [0.82 * u for u in unit], tol + 1e-12)


@pytest.mark.parametrize("name", GESTURE)
def test_gesture_scale(name):
    assert max(abs(v) for row in rows(name) for v in row) == 0.82


def test_gesture_scale_where_the_reach_falls_between_pips():
    # push_pull reaches z = 1 (unit) only at pip 512/3: the pips beside it store 0.82
    r = rows("gesture_push_pull")
    assert r[170][2] == 0.82 and 0.82 - 1e-6 < r[171][2] < 0.82
    assert 0.82 * 3 / 4 < -r[256][2] < 0.82 * 3 / 4 + 5e-7


def test_gesture_side_reach_rests_between_pips():
    r = rows("gesture_side_reach")
    # keyframe (1, 0) at 2/7 of the period, pip 146.29
    assert near(r[146], (0.82, 0.0), 1e-4) and near(r[147], (0.82, 0.0), 1e-4)
