"""Rhythmic phrases of the continuum: packet, canon, echo, ladder, necklace, accent, triplet,
dialogue and burst."""

import baked
import pytest
from patterngen.families import accent, burst, canon, dialogue, echo, ladder, necklace, packet, triplet

FAMILIES = ("packet", "canon", "echo", "ladder", "necklace", "accent", "triplet", "dialogue", "burst")
MODULES = dict(zip(FAMILIES, (packet, canon, echo, ladder, necklace, accent, triplet, dialogue, burst)))
BUILT = baked.built(*FAMILIES)
P = {p.name: p for ps in BUILT.values() for p in ps}


def joined(groups):
    return ["_".join(map(str, g)) for g in groups]


LADDERS = joined(
    [
        (2, 3, 4, 6),
        (3, 5, 4, 2),
        (2, 5, 3, 7),
        (4, 3, 6, 5),
        (2, 4, 7, 3),
        (3, 6, 2, 5),
        (5, 3, 7, 4),
        (6, 4, 3, 2),
        (2, 7, 4, 5),
        (7, 3, 5, 2),
        (4, 7, 3, 6),
        (5, 2, 6, 3),
        (3, 4, 5, 7),
        (6, 5, 4, 3),
        (7, 5, 3, 4),
        (4, 6, 7, 5),
    ]
)
DIALOGUES = joined(
    [
        (3, 4, 5),
        (5, 3, 4),
        (3, 5, 2),
        (2, 5, 4),
        (4, 3, 2),
        (3, 2, 4, 5),
        (5, 2, 3, 4),
        (2, 3, 5, 3),
        (3, 4, 3, 5),
        (5, 4, 2, 3),
        (2, 4, 5, 2),
        (4, 5, 3, 2),
        (3, 5, 4, 3),
        (5, 3, 2, 5),
        (2, 5, 3, 5),
        (4, 3, 5, 4),
    ]
)
WALKS = [
    (5, 1),
    (5, 2),
    (7, 1),
    (7, 2),
    (7, 3),
    (8, 1),
    (8, 3),
    (9, 1),
    (9, 2),
    (9, 4),
    (10, 3),
    (11, 2),
    (11, 3),
    (12, 5),
    (13, 3),
    (13, 5),
]
BURSTS = [
    (3, 5, 2),
    (4, 3, 6),
    (5, 2, 4),
    (2, 7, 3),
    (3, 4, 5),
    (5, 3, 7),
    (6, 2, 5),
    (4, 7, 2),
    (7, 3, 4),
    (2, 5, 6),
    (5, 7, 3),
    (3, 6, 4),
    (4, 5, 7),
    (6, 3, 5),
    (7, 4, 3),
    (5, 6, 2),
]
SPACINGS = ("regular", "shrinking", "expanding", "crossed")
PACKETS = ("alternating", "cascading", "crossing", "depth")

# family: (names in registry order, periods, dimensions, description)
TABLE = [
    (
        "packet",
        ["packet_%s_%d" % (v, n) for v in PACKETS for n in range(2, 6)],
        {512},
        None,
        "Compact, smooth-edged oscillation packets arranged around a closed phrase, with shaped side motion.",
    ),
    (
        "canon",
        ["canon_%02d_%s" % (m, t) for m in range(1, 9) for t in ("close", "late")],
        {512},
        {3},
        "A rational-beat motif passes between lateral and depth lanes, with an altered second-half response.",
    ),
    (
        "echo",
        ["echo_%s_%d" % (s, n) for s in SPACINGS for n in range(3, 7)],
        {512},
        {3},
        "An original decaying call and a differently directed answer; echo spacing is preserved as fractions.",
    ),
    (
        "ladder",
        ["ladder_" + s for s in LADDERS],
        {512},
        {3},
        "Four two-beat regions change subdivision density while accents mark region starts.",
    ),
    (
        "necklace",
        ["necklace_%02d" % m for m in range(1, 17)],
        {512},
        {3},
        "A hand-authored binary accent word; its complement moves the other side and rising accents add depth.",
    ),
    (
        "accent",
        ["accent_walk_%d_%d" % w for w in WALKS],
        {1024},
        {3},
        "A four-bar grid keeps its pulse spacing while a two-accent motif migrates between bars.",
    ),
    (
        "triplet",
        ["triplet_%02d_%s" % (m, v) for m in range(1, 9) for v in ("answer", "turnaround")],
        {512},
        {3},
        "Triplet-grid gestures with deliberate omissions; gaps either answer off-grid or rotate after four beats.",
    ),
    (
        "dialogue",
        ["dialogue_" + s for s in DIALOGUES],
        None,
        {3},
        "Different eighth-note group lengths pass a phrase between directions, with late pickup responses.",
    ),
    (
        "burst",
        ["burst_%d_%d_%d" % b for b in BURSTS],
        {512},
        {3},
        "Three unevenly subdivided directional bursts, deliberate gaps and a late settling accent.",
    ),
]


def lane(name, axis):
    return [r[axis] for r in P[name].rows]


def largest(rows):
    return max(abs(v) for r in rows for v in r)


def local_peaks(values):
    """Pips where |value| is a cyclic local maximum (of two equal neighbouring pips around an
    onset between them, the later)."""
    n = len(values)
    a = [abs(v) for v in values]
    return [i for i in range(n) if a[i] >= a[i - 1] and a[i] > a[(i + 1) % n]]


def rests(rows, shortest=2):
    """Start pips of the cyclic runs of at least `shortest` rows at the origin."""
    n = len(rows)
    still = [r == (0.0, 0.0, 0.0) for r in rows]
    starts = [i for i in range(n) if still[i] and not still[i - 1]]
    out = []
    for i in starts:
        j = i
        while still[j % n] and j - i < n:
            j += 1
        if j - i >= shortest:
            out.append(i)
    return out


@pytest.mark.parametrize("family,names,periods,dims,description", TABLE)
def test_members(family, names, periods, dims, description):
    ps = BUILT[family]
    assert [p.name for p in ps] == names
    assert all(p.description == description for p in ps)
    assert {p.period for p in ps} == (periods or {32 * sum(map(int, n.split("_")[1:])) for n in names})
    if family == "dialogue":
        assert all(p.period == 32 * sum(map(int, p.name.split("_")[1:])) for p in ps)
    if family == "packet":
        assert [p.dimensions for p in ps] == [2] * 12 + [3] * 4
    else:
        assert {p.dimensions for p in ps} == dims


@pytest.mark.parametrize("family", [f for f in FAMILIES if f != "packet"])
def test_largest_coordinate_in_accent_range(family):
    for p in BUILT[family]:
        assert 0.248 <= largest(p.rows) <= 0.32, p.name


# necklace ----------------------------------------------------------------------------------


def test_necklace_04_has_no_depth_after_step_0():
    z = lane("necklace_04", 2)
    assert necklace.WORDS[3][0] == "1" and necklace.WORDS[3][15] == "1"
    assert all(v == 0.0 for v in z[:32])
    assert z[2 * 32 + 11] == 0.159  # step 2 is a rising accent (step 1 is not an accent)


@pytest.mark.parametrize("m", range(16))
def test_necklace_steps(m):
    name, word = "necklace_%02d" % (m + 1), necklace.WORDS[m]
    rows = P[name].rows
    for i, c in enumerate(word):
        expected = (-0.248, -0.096) if c == "1" else (0.1015, -0.0525)
        assert rows[32 * i][:2] == expected
    depth_peaks = local_peaks(lane(name, 2))
    rising = [i for i in range(16) if word[i] == "1" and word[i - 1] == "0"]
    assert depth_peaks == [32 * i + 11 for i in rising]
    assert all(rows[p][2] == 0.159 for p in depth_peaks)


# accent ------------------------------------------------------------------------------------


@pytest.mark.parametrize("a,k", [(8, 1), (8, 3)])
def test_accent_walk_weights_on_whole_pips(a, k):
    rows = P["accent_walk_%d_%d" % (a, k)].rows
    for b in range(4):
        lead, partner = (k * b) % a, (k * b + 2) % a
        side = 0.256 if b % 2 == 0 else -0.256
        for j in range(a):
            r = rows[256 * b + 256 // a * j]
            if j == lead:
                assert r == (side, -0.09, 0.1536)
            elif j == partner:
                assert r == (-side, -0.09, 0.1536)
            else:
                assert r == (0.116, -0.06, 0.0)


@pytest.mark.parametrize("a,k", WALKS)
def test_accent_walk_depth_marks_the_walking_motif(a, k):
    peaks = local_peaks(lane("accent_walk_%d_%d" % (a, k), 2))
    expected = sorted(256 * b + 256 * j / a for b in range(4) for j in ((k * b) % a, (k * b + 2) % a))
    assert len(peaks) == 8
    assert all(abs(p - t) < 1 for p, t in zip(peaks, expected))


# ladder ------------------------------------------------------------------------------------

X, Y, Z = 0, 1, 2
FIRST_LEANS = [(X, -1), (X, 1), (Z, 1), (Y, -1)]  # ladder_2_3_4_6, region by region


@pytest.mark.parametrize("m", range(16))
def test_ladder_region_accents_and_inner_onsets(m):
    name = "ladder_" + LADDERS[m]
    rows = P[name].rows
    counts = list(map(int, LADDERS[m].split("_")))
    for r, c in enumerate(counts):
        axis, sign = FIRST_LEANS[(r + m) % 4]
        accent_value = sign * (0.32 if r == 0 else 0.31)
        assert rows[128 * r][axis] == accent_value
        assert [v for i, v in enumerate(rows[128 * r]) if i != axis] == [0.0, 0.0]
        step = 128 // c
        if 128 % c == 0 and step >= 24:
            for j in range(1, c):
                assert rows[128 * r + step * j][axis] == pytest.approx(accent_value / 2, abs=1e-12)


# echo --------------------------------------------------------------------------------------

ECHO_TIMES = {
    "regular": [0, 32, 64, 96, 128, 160],
    "shrinking": [0, 32, 57.6, 76.8, 89.6, 96],
    "expanding": [0, 8, 24, 48, 80, 120],
}


@pytest.mark.parametrize("spacing", SPACINGS)
@pytest.mark.parametrize("n", range(3, 7))
def test_echo_call_and_answer(spacing, n):
    name = "echo_%s_%d" % (spacing, n)
    rows = P[name].rows
    times = ECHO_TIMES["regular" if spacing == "crossed" else spacing][:n]
    call, answer = (-0.31, -0.12, 0.0), (0.0, 0.24, 0.12)
    if spacing == "crossed":
        call, answer = answer, call
    if spacing != "expanding":  # (there the second gesture's rise reaches the lead)
        assert (rows[0], rows[256]) == (call, answer)
    # the answer repeats the call's rhythm half a loop later; the peaks are counted on the
    # axis that bounces (x in the call's direction, z in the answer's)
    bounce = (0, 2) if spacing != "crossed" else (2, 0)
    for start, axis in zip((0, 256), bounce):
        offsets = sorted((p - start + 256) % 512 - 256 for p in local_peaks([r[axis] for r in rows]))
        offsets = [d for d in offsets if -2 < d < 200]
        assert len(offsets) == n
        # a rise that reaches back over a shorter interval (8 or 6.4 pips) moves the stored
        # peak before it by up to 1.6 pips
        assert all(abs(d - t) <= 2 for d, t in zip(offsets, times))
    if spacing == "regular":  # whole-pip onsets: decay 0.7 per gesture, x bouncing
        assert [rows[t][0] for t in times] == [pytest.approx(-0.31 * (-0.7) ** j, abs=1e-12) for j in range(n)]


# canon -------------------------------------------------------------------------------------


@pytest.mark.parametrize("m", range(1, 9))
def test_canon_lanes_and_trail(m):
    close, late = P["canon_%02d_close" % m].rows, P["canon_%02d_late" % m].rows
    assert close[:246] == late[:246]  # the close response's rise starts at 246.4
    assert all(r[2] == 0.0 for r in close[:246])
    assert all(r[:2] == (0.0, 0.0) for r in close[256:502])  # the motif's rise: 502.4
    assert [r[2] for r in late[278:]] == [r[2] for r in close[246 : 246 + 234]]
    assert all(r[2] == 0.0 for r in late[:278])
    xs = [abs(close[p][0]) for p in local_peaks([r[0] for r in close])]
    assert max(xs) == 0.28 and all(0.19 <= v <= 0.28 for v in xs)
    assert min(r[1] for r in close) == -0.1
    assert max(abs(r[2]) for r in close) == 0.192


# triplet -----------------------------------------------------------------------------------


@pytest.mark.parametrize("m", range(8))
def test_triplet_figure_answers_and_rotation(m):
    word = triplet.WORDS[m]
    answer = P["triplet_%02d_answer" % (m + 1)].rows
    turn = P["triplet_%02d_turnaround" % (m + 1)].rows
    assert answer[:246] == turn[:246]
    assert sum(c == "0" for c in word) >= 3
    for half, played in ((0, word), (256, word)):
        for b in range(4):
            if played[3 * b] == "1":
                assert answer[half + 64 * b][:2] == (-0.2945, -0.114)
    gaps = [256 + 64 * (i // 3) + 16 * (i % 3 + 1) for i, c in enumerate(word) if c == "0"]
    assert local_peaks([r[2] for r in answer]) == gaps
    assert all(answer[p][2] == 0.072 and 0.19 <= -answer[p][1] <= 0.2165 for p in gaps)
    rotated = word[-1] + word[:-1]
    for b in range(4):
        r = turn[256 + 64 * b]
        assert r == ((-0.2945, -0.114, 0.072) if rotated[3 * b] == "1" else (0.0, 0.0, 0.0))
    assert all(r[2] == 0.0 for r in turn[:246])


# dialogue ----------------------------------------------------------------------------------

DIRECTIONS = [(X, -1), (X, 1), (Y, -1), (Z, 1)]
ACCENTS = [0.32, 0.30, 0.31, 0.29]


@pytest.mark.parametrize("groups", DIALOGUES)
def test_dialogue_groups_and_pickups(groups):
    name = "dialogue_" + groups
    rows = P[name].rows
    start = 0
    for g, length in enumerate(map(int, groups.split("_"))):
        axis, sign = DIRECTIONS[g]
        assert rows[start][axis] == sign * ACCENTS[g]
        for j in range(1, length):
            assert rows[start + 32 * j][axis] == pytest.approx(0.55 * sign * ACCENTS[g], abs=1e-12)
        if g:
            assert rows[start - 16] == (0.0, 0.135, -0.04)
        start += 32 * length
    if groups == "3_4_5":  # -x, +x, then -y with depth
        assert rows[96][0] == 0.30 and rows[224][1] == -0.31 and rows[224][2] > 0


# burst -------------------------------------------------------------------------------------


@pytest.mark.parametrize("counts", BURSTS)
def test_burst_strokes_gaps_and_settling_accent(counts):
    rows = P["burst_%d_%d_%d" % counts].rows
    assert rows[496] == (0.0, 0.24, -0.072)
    assert all(r == (0.0, 0.0, 0.0) for r in rows[111:151] + rows[271:311])
    for (axis, lo, hi), c in zip(((X, 0, 111), (X, 151, 271), (Z, 311, 420)), counts):
        assert len([p for p in local_peaks([r[axis] for r in rows]) if lo <= p < hi]) == c
    assert rows[0][0] == 0.30 and rows[160][0] == -0.28


# packet ------------------------------------------------------------------------------------


@pytest.mark.parametrize("variant", PACKETS)
@pytest.mark.parametrize("n", range(2, 6))
def test_packet_ranges(variant, n):
    rows = P["packet_%s_%d" % (variant, n)].rows
    assert max(abs(r[0]) for r in rows) == 0.82
    assert max(abs(r[1]) for r in rows) == 0.276
    assert max(abs(r[2]) for r in rows) == (0.35 if variant == "depth" else 0.0)
    # n packets of x oscillation, with rests at the origin between them
    assert len(rests(rows)) == n
    sizes = [max(abs(r[0]) for r in rows[512 * k // n : 512 * (k + 1) // n]) for k in range(n)]
    ratios = [b / a for a, b in zip(sizes, sizes[1:])]
    assert ratios == pytest.approx([0.75 if variant == "cascading" else 1.0] * (n - 1), abs=0.01)


def test_packet_alternating_2_rests_exactly_80_pips():
    rows = P["packet_alternating_2"].rows
    still = [i for i in range(512) if rows[i] == (0.0, 0.0, 0.0)]
    assert still == [0] + list(range(176, 257)) + list(range(432, 512))
    assert rows[175] != (0.0, 0.0, 0.0) and rows[257] != (0.0, 0.0, 0.0)
