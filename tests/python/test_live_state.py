"""The live state across a restart, on virtual clocks: cues, follows, masters and the tapped
tempo resumed on the beat the wall clock says; damaged, foreign and stale state files resume
what still fits with one warning and are rewritten; a stalled disk never holds up a frame."""

import json
import threading

import pytest
from kinetra_live import commands, runner
from kinetra_live import state as saved
from kinetra_live.commands import Command
from test_live_engine import CUES, FakeSocket, make

LOOP = """
[[cues]]
name = "loop"
key = "3"
quantize = "bar"
phase = "restart"
transition = 1
next = "b"
after = 2
set.back = { pattern = "bounce", speed = "3/2", rotate = 10, spread_pips = 8, order = "reverse" }
"""


KILLS = 100
# What a kill may lose: the writer's period, a frame, the write and a loaded machine's delays.
MAX_LOSS_S = 0.6


class Clocks:
    """The monotonic clock of one run (a new base after each restart) and the wall clock."""

    def __init__(self, t=1000.0, wall=1.8e9):
        self.t, self.w = t, wall

    def step(self, dt):
        self.t += dt
        self.w += dt


def player(show, clocks, path, fresh=False):
    return runner.Runner(
        show,
        now=lambda: clocks.t,
        wall=lambda: clocks.w,
        open_socket=FakeSocket,
        state_file=str(path),
        fresh=fresh,
    )


def play(r, clocks, seconds, at=()):
    """Frames at 40 fps for `seconds`; `at` is [(seconds from now, command)]."""
    pending = sorted(at, key=lambda a: a[0])
    end = clocks.t + seconds
    start = clocks.t
    while clocks.t < end:
        while pending and clocks.t - start >= pending[0][0]:
            r.commands.put(commands.check(pending.pop(0)[1], r.show))
        r.frame(clocks.t)
        clocks.step(1 / 40)


def kept(r):
    e = r.engine
    return (
        [(a.cue.name, a.boundary) if a else None for a in e.active],
        [(q.cue.name, q.boundary) if q else None for q in e.queued],
        e.looks,
        [(due, nxt, o.cue.name, o.boundary) for due, nxt, o in e.follows],
        (e.hold, e.size_to, e.home, e.blackout),
    )


def night(tmp_path, clocks, extra_cues=LOOP):
    """A first run: taps to 132 BPM, two cues landed, a follow pending, a cue queued, masters set."""
    show = make(tmp_path, cues=CUES + extra_cues)
    path = tmp_path / "show.state.json"
    r = player(show, clocks, path)
    taps = [(0.2 + k * 60 / 132, Command("tap")) for k in range(6)]
    play(
        r,
        clocks,
        8.0,
        taps
        + [
            (3.0, Command("cue", "b")),
            (4.5, Command("cue", "loop")),
            (6.0, Command("size", 0.75)),
            (6.1, Command("blackout", True)),
            (7.9, Command("cue", "a")),
        ],
    )
    return show, path, r


@pytest.mark.parametrize("outage_s", [0.0, 0.4, 9.7])
def test_a_restart_resumes_cues_follows_masters_and_the_beat(tmp_path, outage_s):
    clocks = Clocks()
    show, path, r1 = night(tmp_path, clocks)
    before = kept(r1)
    beats = r1.clock.beats_at(clocks.t)
    assert r1.clock.bpm == pytest.approx(132, abs=3) and before[3] and any(before[1])
    r1.close()
    # the process comes back with another monotonic clock, `outage_s` later on the wall
    clocks.t, clocks.w = 50.0, clocks.w + outage_s
    r2 = player(show, clocks, path)
    assert r2.warnings == []
    assert kept(r2) == before
    assert r2.clock.bpm == r1.clock.bpm
    assert r2.clock.beats_at(clocks.t) == pytest.approx(beats + outage_s * r1.clock.bpm / 60, abs=1e-6)
    assert "resumed" in r2.status_line(clocks.t) and r2.keeper.resumed_from is not None
    # from here on both players give the same lights at the same pips (crossfades over)
    pip = r2.clock.pip_at(clocks.t) + 5 * 256
    for e in (r1.engine, r2.engine):
        e.advance(pip)
    assert r2.engine.offsets(pip) == r1.engine.offsets(pip)
    assert [a.cue.name if a else None for a in r2.engine.active] == [
        a.cue.name if a else None for a in r1.engine.active
    ]
    r2.close()


def test_fresh_ignores_the_state_and_then_keeps_its_own(tmp_path):
    clocks = Clocks()
    show, path, r1 = night(tmp_path, clocks)
    r1.close()
    r2 = player(show, clocks, path, fresh=True)
    assert all(a is None for a in r2.engine.active) and r2.clock.bpm == 120 and r2.keeper.resumed_from is None
    r2.close()
    assert json.loads(path.read_text())["fixtures"]["b1"]["active"] is None


def _damage(name):
    def edit(data, text):
        if name == "truncated":
            return text[: len(text) // 2]
        if name == "empty":
            return ""
        if name == "binary":
            return "\udcff\x00garbage"
        if name == "deep":
            return "[" * 100000
        if name == "a list":
            return "[1, 2]"
        data = json.loads(text)
        if name == "other show":
            data["show"] = "another"
        elif name == "newer version":
            data["version"] = 99
        elif name == "hostile values":
            data["fixtures"]["b1"]["active"]["boundary"] = "soon"
            data["fixtures"]["b2"]["active"]["look"]["scale"] = [1, 2]
            data["masters"]["size"] = 7
            data["tempo"]["bpm"] = -3
            data["follows"] = [{"due": None}]
        return json.dumps(data)

    return edit


# (damage, what must still be resumed on b3 / f1, words of the one warning or None)
DAMAGED = [
    ("truncated", (None, None), "starting fresh"),
    ("empty", (None, None), "starting fresh"),
    ("binary", (None, None), "starting fresh"),
    ("deep", (None, None), "starting fresh"),
    ("a list", (None, None), "not a state file"),
    ("other show", (None, None), "from another show ('another')"),
    ("newer version", (None, None), "version 99"),
    ("hostile values", ("loop", "b"), "dropped the tempo (out of range), the masters (unreadable), fixture 'b1'"),
]


@pytest.mark.parametrize("damage,survivors,words", DAMAGED, ids=[d[0] for d in DAMAGED])
def test_a_damaged_state_file_resumes_what_fits_warns_once_and_is_rewritten(tmp_path, damage, survivors, words):
    clocks = Clocks()
    show, path, r1 = night(tmp_path, clocks)
    r1.close()
    path.write_bytes(_damage(damage)(None, path.read_text()).encode("utf-8", "surrogateescape"))
    r2 = player(show, clocks, path)
    assert len(r2.warnings) == 1 and words in r2.warnings[0], r2.warnings
    names = [a.cue.name if a else None for a in r2.engine.active]
    assert (names[2], names[3]) == survivors
    play(r2, clocks, 0.3)
    r2.close()
    assert json.loads(path.read_text())["format"] == saved.FORMAT  # rewritten whole


@pytest.mark.parametrize(
    "change,dropped,kept_cues",
    [
        # a cue that changed, directly or through a group it sets: what it set is dropped
        (
            lambda t: t.replace(
                'scale = [0.5, 0.5, 1] }\nset.front = { pattern = "helix" }',
                'scale = [0.5, 0.5, 1] }\nset.front = { pattern = "sway" }',
            ),
            "cue 'b' (changed)",
            ("loop", None),
        ),
        (
            lambda t: t.replace('name = "loop"', 'name = "spin"').replace('key = "3"', 'key = "9"'),
            "cue 'loop' (not in the show)",
            (None, "b"),
        ),
        (
            lambda t: t.replace('name = "f2"', 'name = "f9"').replace('["f1", "f2"]', '["f1", "f9"]'),
            "fixture 'f2' (not in the show)",
            ("loop", None),
        ),
        (
            lambda t: t.replace(
                'name = "b3"\noutput = "stage"\ngroup = "back"\npattern = "circle"',
                'name = "b3"\noutput = "stage"\ngroup = "back"\npattern = "sway"',
            ),
            "fixture 'b3' (changed)",
            (None, "b"),
        ),
    ],
    ids=["cue changed", "cue gone", "fixture gone", "fixture changed"],
)
def test_a_changed_show_resumes_what_still_matches(tmp_path, change, dropped, kept_cues):
    clocks = Clocks()
    show, path, r1 = night(tmp_path, clocks)
    r1.close()
    text = change((tmp_path / "show.toml").read_text())
    assert text != (tmp_path / "show.toml").read_text()
    (tmp_path / "show.toml").write_text(text)
    from kinetra_live import showfile

    changed = showfile.load(str(tmp_path / "show.toml"))
    r2 = player(changed, clocks, path)
    assert len(r2.warnings) == 1 and dropped in r2.warnings[0], r2.warnings
    names = {f.name: (a.cue.name if a else None) for f, a in zip(changed.fixtures, r2.engine.active)}
    assert (names["b3"], names["f1"]) == kept_cues
    assert r2.clock.bpm == r1.clock.bpm  # the tempo does not depend on the cues
    r2.close()


class Stuck:
    """A disk that stops answering until released."""

    def __init__(self):
        self.go = threading.Event()
        self.calls = 0

    def write(self, *args):
        self.calls += 1
        self.go.wait(10)
        return 0

    def flush(self):
        pass


@pytest.mark.parametrize("what", ["state file", "frame log"])
def test_a_stalled_disk_costs_dropped_writes_never_a_frame(tmp_path, monkeypatch, what):
    stuck = Stuck()
    clocks = Clocks()
    show = make(tmp_path, cues=CUES + LOOP)
    if what == "state file":
        monkeypatch.setattr(saved.Keeper, "write", lambda self, data: stuck.write())
        r = player(show, clocks, tmp_path / "s.json")
    else:
        r = runner.Runner(show, now=lambda: clocks.t, open_socket=FakeSocket, frame_log=stuck)
    cues = [(k * 0.25, Command("cue", "ab"[k % 2])) for k in range(40)]
    play(r, clocks, 10.0, cues)  # returns at all: no frame waited for the disk
    assert r.frames >= 400
    assert (r.keeper.dropped if what == "state file" else r.log.dropped) > 0
    assert stuck.calls >= 1
    if what == "frame log":
        assert "lines dropped" in r.status_line(clocks.t)
    stuck.go.set()
    r.close()


@pytest.mark.slow
def test_sigkill_at_random_moments_loses_at_most_a_fraction_of_a_second(tmp_path):
    """A hundred players killed with SIGKILL at random moments (starting, resuming, writing),
    each started again on the state the last one left, with commands streaming in."""
    import pathlib
    import subprocess
    import sys

    from test_live import make_show, write

    sink = __import__("socket").socket(__import__("socket").AF_INET, __import__("socket").SOCK_DGRAM)
    sink.bind(("127.0.0.1", 0))
    port = sink.getsockname()[1]
    show = write(tmp_path, make_show(heads=2, port=port, osc_port=port) + "\n[osc_in]\nport = 0\n")
    state = tmp_path / "state" / "show.state.json"
    state.parent.mkdir()
    helper = pathlib.Path(__file__).with_name("kill_cycles.py")
    proc = subprocess.run(
        [sys.executable, str(helper), show, str(state), str(KILLS), "7"], capture_output=True, text=True, timeout=600
    )
    sink.close()
    assert proc.returncode == 0, proc.stderr[-3000:]
    out = json.loads(proc.stdout)
    cycles = out["cycles"]
    assert len(cycles) == KILLS
    assert all(c["readable"] is not False for c in cycles)  # never a half-written file
    assert sum(1 for c in cycles if c["ready"]) >= KILLS // 2
    for c in cycles:
        if c["ready"]:
            assert c["warnings"] == [], c
            if c["expected_resume"] is not None:
                assert c["resumed"] == c["expected_resume"], c
    lost = [c["lost_s"] for c in cycles if c["ready"] and c["sent"]]
    assert max(lost) < MAX_LOSS_S, sorted(lost)[-5:]
    assert len(out["leftovers"]) <= 1  # a kill halfway through a write leaves one, swept at the next start
