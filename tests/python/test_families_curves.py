"""Closed curves and shapes: path, orbit, weave, polar, spiro, space, mech and the continuum
shapes silhouette, surface, braid and ribbon. Members, stated points, measured facts."""

import math

import baked
import pytest

FAMILIES = ("path", "orbit", "weave", "polar", "spiro", "space", "mech", "silhouette", "surface", "braid", "ribbon")
ENTRIES = [e for e in baked.entries() if e.family in FAMILIES]
P = {e.pattern.name: e.pattern for e in ENTRIES}
TAU = 2.0 * math.pi


def lane(name, axis):
    return [r["xyz".index(axis)] for r in P[name].rows]


def row(name, pip):
    return P[name].rows[pip % P[name].period]


def coefficient(values, k, kind):
    """Discrete Fourier weight of cos/sin(k*theta) in a periodic lane (k = 0: the mean)."""
    n = len(values)
    if k == 0:
        return math.fsum(values) / n
    f = math.sin if kind == "sin" else math.cos
    return 2.0 / n * math.fsum(v * f(k * TAU * i / n) for i, v in enumerate(values))


def turns(us, vs):
    """Full turns of the point (u, v) about the origin over one period."""
    total = 0.0
    for i in range(len(us)):
        a0 = math.atan2(vs[i - 1], us[i - 1])
        a1 = math.atan2(vs[i], us[i])
        total += (a1 - a0 + math.pi) % TAU - math.pi
    return total / TAU


def maxima(values):
    n = len(values)
    return sum(1 for i in range(n) if values[i - 1] < values[i] >= values[(i + 1) % n])


# --- the families: members, periods, dimensions, descriptions -------------------------------

PAIRS8 = ("1_2", "1_3", "1_4", "1_5", "2_3", "2_5", "3_4", "3_5")
SPIRO_PAIRS = ("3_1", "4_1", "5_2", "5_1", "7_2", "7_3", "8_3", "9_4")
MECH = (
    ("piston_short", "Short-rod piston"),
    ("piston_long", "Long-rod piston"),
    ("offset_crank", "Offset crank"),
    ("scotch_yoke", "Yoke with rocking linkage"),
    ("whitworth", "Quick-return linkage study"),
    ("elliptic_cam", "Elliptic cam follower"),
    ("two_lobe_cam", "Two-lobe cam follower"),
    ("three_lobe_cam", "Three-lobe cam follower"),
    ("escapement", "Soft escapement study"),
    ("paddle", "Paddle-wheel tip"),
    ("wobble_plate", "Wobble-plate trace"),
    ("rocking_beam", "Rocking beam"),
    ("coupled_cranks", "Coupled cranks"),
    ("crank_rocker", "Crank and rocker study"),
    ("piston_balance", "Piston and balance mass"),
    ("cam_return", "Cam rise and return"),
)
WEAVES = (
    "1_3",
    "1_4",
    "1_5",
    "2_5",
    "2_7",
    "3_4",
    "3_5",
    "3_7",
    "3_8",
    "4_5",
    "4_7",
    "4_9",
    "5_6",
    "5_7",
    "5_8",
    "5_9",
)
ROSE = "A complete signed-radius rose traversal; odd-petal roses use a half-turn parameter."
SCALLOP = "A positive-radius scalloped loop; no centre crossings, with an asymmetrically bent lobe."
SPIRO = "A closed %s-rolling circle trace, with pen radius smaller than the rolling radius."
TORUS = "A genuine XYZ closed torus-knot trajectory. The demo uses an oblique projection."


def numbered(prefix):
    return ["%s_%02d" % (prefix, j) for j in range(1, 17)]


# (family, [(name, period, dims, description)] in catalogue order)
TABLE = [
    (
        "path",
        [
            (
                "path_lissajous_2_3",
                512,
                2,
                "Two horizontal cycles cross three vertical cycles in a closed eight-beat Lissajous path.",
            ),
            (
                "path_rose_4",
                512,
                2,
                "A signed radial oscillation draws four petals, passing through the centre between them.",
            ),
            (
                "path_rose_5",
                512,
                2,
                "Five petals in one complete eight-beat traversal; the "
                "odd-petal parameter runs through pi, not two pi.",
            ),
            (
                "path_bowed_diamond",
                512,
                2,
                "An astroid-shaped loop with inward-curved edges and naturally slow corners.",
            ),
            (
                "path_orbit_dwell",
                512,
                2,
                "An ellipse whose phase slows to zero speed at the loop "
                "boundary and accelerates through the opposite side.",
            ),
            (
                "path_torus_knot",
                1024,
                3,
                "Two turns around the axis and three through the tube. XYZ is retained; the demo projects depth.",
            ),
            (
                "path_woven_3d",
                1024,
                3,
                "Independent two-, three-, and five-cycle XYZ oscillations close after sixteen beats.",
            ),
            (
                "path_crank_slider",
                256,
                2,
                "Horizontal slider-crank travel with rod length three "
                "and crank radius one; vertical motion follows the crank tip.",
            ),
        ],
    ),
    (
        "orbit",
        [
            (n, 512, 2, "An ellipse combined with unequal horizontal and vertical harmonic ripples.")
            for n in numbered("orbit_harmonic")
        ],
    ),
    (
        "weave",
        [
            (
                "weave_" + ab,
                1024,
                2,
                "%s horizontal and %s vertical cycles; a phase-offset, "
                "closed 16-beat traversal." % tuple(ab.split("_")),
            )
            for ab in WEAVES
        ],
    ),
    (
        "polar",
        [("polar_rose_%d" % k, 1024, 2, ROSE) for k in (3, 6, 7, 8, 9, 10, 11, 12)]
        + [("polar_scallop_%d" % k, 1024, 2, SCALLOP) for k in range(2, 10)],
    ),
    (
        "spiro",
        [("spiro_%s_%s" % (kind, rr), 1024, 2, SPIRO % kind) for rr in SPIRO_PAIRS for kind in ("inside", "outside")],
    ),
    (
        "space",
        [("space_torus_" + pq, 1024, 3, TORUS) for pq in ("2_5", "2_7", "3_4", "3_5", "3_7", "4_5", "4_7", "5_6")]
        + [
            ("space_weave_" + abc, 1024, 3, "Three coprime-frequency coordinate lanes with distinct phase offsets.")
            for abc in ("1_2_3", "1_3_4", "2_3_4", "2_3_7", "2_5_7", "3_4_5", "3_5_7", "4_5_7")
        ],
    ),
    (
        "mech",
        [
            (
                "mech_" + m,
                512,
                3 if m in ("wobble_plate", "crank_rocker", "piston_balance") else 2,
                label + "; an original kinematic-style position study, not an engineering simulation.",
            )
            for m, label in MECH
        ],
    ),
    (
        "silhouette",
        [
            (n, 1024, 3, "Three unequal harmonic components, with cross-axis phases and a small linked depth term.")
            for n in numbered("silhouette_harmonic")
        ],
    ),
    (
        "surface",
        [
            (
                "surface_%s_%s" % (ab, s),
                1024,
                3,
                "A varying-radius surface path with "
                "coupled longitude and latitude; all three coordinates are retained.",
            )
            for ab in PAIRS8
            for s in ("low", "wide")
        ],
    ),
    (
        "braid",
        [
            (
                "braid_" + ab,
                1024,
                3,
                "An offset tube centreline and a rolling cross-section with a second depth ripple.",
            )
            for ab in PAIRS8 + ("1_6", "2_7", "3_7", "4_5", "4_7", "5_6", "5_7", "5_8")
        ],
    ),
    (
        "ribbon",
        [
            (
                "ribbon_%s_%s" % (ab, w),
                1024,
                3,
                "A curved elliptical spine with variable radial width and linked depth deflection.",
            )
            for ab in PAIRS8
            for w in ("slim", "deep")
        ],
    ),
]


@pytest.mark.parametrize("family,members", TABLE, ids=[f for f, _ in TABLE])
def test_family_members(family, members):
    got = [
        (e.pattern.name, e.pattern.period, e.pattern.dimensions, e.pattern.description)
        for e in ENTRIES
        if e.family == family
    ]
    assert got == members


# --- peaks: over the pips for the atlas, over the half pips for the continuum ------------

SCALED_ATLAS = [n for n in P if n.split("_")[0] in ("orbit", "weave", "polar", "spiro", "space")]
SCALED_ATLAS += [
    "mech_" + m for m in ("offset_crank", "elliptic_cam", "two_lobe_cam", "three_lobe_cam", "paddle", "coupled_cranks")
]
CONTINUUM = [n for n in P if n.split("_")[0] in ("silhouette", "surface", "braid", "ribbon")]


def peak(name):
    return max(abs(v) for r in P[name].rows for v in r)


@pytest.mark.parametrize("name", SCALED_ATLAS)
def test_atlas_tables_peak_at_exactly_082(name):
    assert peak(name) == 0.82


@pytest.mark.parametrize("name", CONTINUUM)
def test_continuum_tables_peak_at_most_082(name):
    assert 0.8199 < peak(name) <= 0.82


def test_silhouette_04_peaks_between_pips():
    assert all(abs(v) != 0.82 for r in P["silhouette_harmonic_04"].rows for v in r)


def test_weave_1_3_peaks_exactly_although_the_curve_peaks_between_pips():
    x = lane("weave_1_3", "x")
    assert max(x) == 0.82
    # the factor is larger than 0.82: pip 0 lies above 0.82*sin(0.37)
    assert x[0] > 0.82 * math.sin(0.37) + 1e-7


@pytest.mark.parametrize("rr", SPIRO_PAIRS)
def test_spiro_outside_is_scaled_on_the_pips(rr):
    R, r = map(int, rr.split("_"))
    lam = dict(zip(SPIRO_PAIRS, (0.45, 0.60, 0.75, 0.55, 0.65, 0.70, 0.60, 0.80)))[rr]
    d = lam * r
    assert row("spiro_inside_" + rr, 0)[0] == 0.82
    bracket = 0.82 * (R + r - d) / (R + r + d)  # row 0 if the factor were 0.82/(R+r+d)
    x0 = row("spiro_outside_" + rr, 0)[0]
    if rr in ("4_1", "8_3"):
        assert x0 > bracket + 1e-6
    else:
        assert x0 == pytest.approx(bracket, abs=1e-11)


# --- stated points -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "name,pip,point",
    [
        ("polar_rose_6", 512, (0.82, 0.0, 0.0)),
        ("polar_rose_6", 256, (0.0, 0.0, 0.0)),
        ("polar_rose_6", 768, (0.0, 0.0, 0.0)),
        ("polar_rose_3", 256, (-0.41, -0.41, 0.0)),
        ("path_crank_slider", 64, (0.78 * (math.sqrt(8.0) - 3.0), 0.3, 0.0)),
        ("path_rose_4", 0, (0.82, 0.0, 0.0)),
        ("path_torus_knot", 0, (0.76, 0.0, 0.0)),
        ("surface_1_2_low", 0, (0.82, 0.0, 0.0)),
    ],
)
def test_stated_points(name, pip, point):
    assert row(name, pip) == pytest.approx(point, abs=1e-12)


def test_orbit_dwell_rests_at_the_seam():
    r0 = row("path_orbit_dwell", 0)
    assert max(math.dist(r0, row("path_orbit_dwell", i)) for i in range(1, 5)) < 2e-5
    # the phase round the ellipse advances fastest across pip 256
    phase = [math.atan2(y / 0.6, x / 0.8) for x, y, _ in P["path_orbit_dwell"].rows]
    steps = [(phase[(i + 1) % 512] - phase[i]) % TAU for i in range(512)]
    assert steps.index(max(steps)) in (255, 256)


@pytest.mark.parametrize("k", [6, 10])
def test_even_roses_of_odd_half_trace_twice(k):
    rows = P["polar_rose_%d" % k].rows
    assert all(a == pytest.approx(b, abs=1e-11) for a, b in zip(rows[:512], rows[512:]))


@pytest.mark.parametrize("k", range(2, 10))
def test_scallops_keep_a_positive_radius(k):
    radii = [math.hypot(x, y) for x, y, _ in P["polar_scallop_%d" % k].rows]
    assert min(radii) >= 0.34 - 1e-9 and max(radii) == pytest.approx(0.82, abs=1e-12)


# --- mech series: stored lanes against the stated heads (to 3e-4) and figures ---------------

SERIES = [
    ("mech_whitworth", "x", "sin", range(1, 7), (0.666264, 0.28266, 0.05032, 0.006213, 0.000557, 0.000041)),
    ("mech_whitworth", "y", "cos", (1, 2), (0.32801, 0.0)),
    ("mech_escapement", "x", "sin", (1, 2, 3, 5, 7, 9), (0.99498, 0.0, 0.23405, 0.08036, 0.02905, 0.01061)),
    ("mech_escapement", "y", "sin", (1,), (0.08241,)),
    ("mech_escapement", "y", "cos", (2,), (0.28843,)),
    ("mech_rocking_beam", "x", "sin", (1, 3, 5), (0.84991, 0.03022, 0.00031)),
    ("mech_crank_rocker", "y", "sin", (1, 2, 3, 5, 7), (0.60815, 0.0, 0.07743, 0.01775, 0.00484)),
    ("mech_crank_rocker", "z", "cos", (3,), (0.123,)),
    ("mech_cam_return", "x", "sin", range(1, 6), (0.63179, 0.31086, 0.06132, 0.00847, 0.00084)),
    ("mech_cam_return", "y", "cos", range(0, 5), (0.0037, -0.04883, 0.32067, 0.04865, 0.0037)),
]


@pytest.mark.parametrize("name,axis,kind,ks,heads", SERIES)
def test_mech_series_heads(name, axis, kind, ks, heads):
    values = lane(name, axis)
    for k, b in zip(ks, heads):
        assert coefficient(values, k, kind) == pytest.approx(b, abs=3e-4), k


@pytest.mark.parametrize(
    "name,axis,pip,value,tol",
    [
        ("mech_escapement", "x", 128, 0.82, 1e-4),
        ("mech_escapement", "x", 384, -0.82, 1e-4),
        ("mech_crank_rocker", "y", 128, 0.5447, 5e-5),
        ("mech_crank_rocker", "y", 384, -0.5447, 5e-5),
        ("mech_rocking_beam", "x", 128, 0.82, 1e-12),
        ("mech_rocking_beam", "y", 0, 0.0, 1e-12),
        ("mech_rocking_beam", "y", 256, 0.0, 1e-12),
        ("mech_cam_return", "y", 0, 0.328, 5e-4),
        ("mech_cam_return", "y", 128, -0.313, 5e-4),
    ],
)
def test_mech_stated_figures(name, axis, pip, value, tol):
    assert lane(name, axis)[pip] == pytest.approx(value, abs=tol)


def test_escapement_is_flat_near_its_extremes():
    x = lane("mech_escapement", "x")
    assert all(abs(x[i] - 0.82) < 0.005 and abs(x[i + 256] + 0.82) < 0.005 for i in range(88, 169))
    assert max(map(abs, x)) < 0.8201


def test_rocking_beam_lift():
    y = lane("mech_rocking_beam", "y")
    assert min(y) >= -0.02
    for centre in (96, 352):  # 3pi/8 and 11pi/8
        top = max(range(centre - 32, centre + 33), key=y.__getitem__)
        assert abs(top - centre) <= 8 and y[top] == pytest.approx(0.42, abs=0.005)


# --- designed continuum shapes -----------------------------------------------------------


def pair(name):
    a, b = name.split("_")[1:3]
    return int(a), int(b)


RIBBONS = [n for n in P if n.startswith("ribbon_")]
BRAIDS = [n for n in P if n.startswith("braid_")]


@pytest.mark.parametrize("name", RIBBONS)
def test_ribbon_spine_and_width(name):
    from patterngen.families import ribbon

    a, b = pair(name)
    x, y, z = (lane(name, axis) for axis in "xyz")
    assert row(name, 0) == (0.82, 0.0, 0.0)
    assert all(abs(x[i] - x[-i]) <= 2e-12 and abs(y[i] + y[-i]) <= 2e-12 for i in range(1, 1024))
    assert round(turns(x, y), 9) == a
    width = [math.hypot(u, v / ribbon.ELLIPSE) for u, v in zip(x, y)]
    assert maxima(width) == b


@pytest.mark.parametrize("width,low,high", [("slim", 0.06, 0.12), ("deep", 0.19, 0.26)])
def test_ribbon_depth_ranges(width, low, high):
    depths = [max(map(abs, lane(n, "z"))) for n in RIBBONS if n.endswith(width)]
    assert all(low <= d <= high for d in depths)
    assert min(depths) == pytest.approx(low, abs=1e-9)
    assert max(depths) == pytest.approx(high, abs=1e-9)


@pytest.mark.parametrize("name", BRAIDS)
def test_braid_centreline_and_rolling_section(name):
    a, b = pair(name)
    x, y, z = (lane(name, axis) for axis in "xyz")
    assert row(name, 0) == (0.82, 0.0, 0.0)
    assert round(turns(x, y), 9) == a
    rho = [math.hypot(u, v) for u, v in zip(x, y)]
    centre = math.fsum(rho) / len(rho)
    assert round(turns([r - centre for r in rho], z), 9) == b


@pytest.mark.parametrize("name", BRAIDS)
def test_braid_depth_harmonics(name):
    _, b = pair(name)
    z = lane(name, "z")
    present = {k for k in range(1, 16) if abs(coefficient(z, k, "sin")) > 1e-6}
    assert present == {k for k in (b - 2, b, b + 2) if k > 0}
    assert all(abs(coefficient(z, k, "cos")) < 1e-6 for k in range(16))
