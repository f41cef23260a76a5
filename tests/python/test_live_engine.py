"""The show engine under a virtual clock: cue launches quantised on the pip, crossfades,
speed ratios, phase, auto-follow, masters, and the cue checks of the show reader."""

import math
import random

import kinetra
import pytest
from kinetra_live import commands, engine, model, runner, showfile
from kinetra_live.commands import Command
from test_live import write

SHOW = """\
[show]
name = "cues"
fps = 40
{show_extra}

[tempo]
bpm = 120
{tempo_extra}

[outputs.stage]
type = "sacn"
destination = "127.0.0.1"

[groups.back]
spread_pips = 16

[groups.front]
fixtures = ["f1", "f2"]
"""

FIXTURE = """
[[fixtures]]
name = "{name}"
output = "stage"
{group}
pattern = "circle"
universe = 1
address = {address}
channels = {{ pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4, z = 5 }}
blackout = {{ 6 = 0 }}
set = {{ 6 = 255 }}
"""

CUES = """
[[cues]]
name = "a"
key = "1"
set.back = { pattern = "sway" }

[[cues]]
name = "b"
key = "2"
set.back = { pattern = "figure_eight", scale = [0.5, 0.5, 1] }
set.front = { pattern = "helix" }
"""


def make(tmp_path, cues=CUES, show_extra="", tempo_extra=""):
    text = SHOW.format(show_extra=show_extra, tempo_extra=tempo_extra)
    for k in range(3):
        text += FIXTURE.format(name=f"b{k + 1}", group='group = "back"', address=1 + 8 * k)
    for k in range(2):
        text += FIXTURE.format(name=f"f{k + 1}", group="", address=41 + 8 * k)
    return showfile.load(write(tmp_path, text + cues))


class FakeSocket:
    def __init__(self, settings=None):
        self.sent = []

    def sendto(self, data, addr):
        self.sent.append(bytes(data))

    def close(self):
        pass


class Player:
    """A runner on a virtual clock: frames at the times the test chooses."""

    def __init__(self, show, start=1000.0):
        self.t = start
        self.runner = runner.Runner(show, now=lambda: self.t, open_socket=FakeSocket)
        self.log = []

    def at(self, t, *cmds):
        self.t = t
        for c in cmds:
            self.runner.commands.put(commands.check(c, self.runner.show))

    def frame(self, t):
        self.t = t
        r = self.runner
        r.frame(t)
        pip = r.clock.pip_at(t)
        self.log.append((pip, r.engine.offsets(pip), [a.cue.name if a else None for a in r.engine.active], r.landed))
        return self.log[-1]

    def frames(self, t_from, t_to, fps=40.0, jitter=0.0, rng=None):
        n = 0
        while True:
            t = t_from + n / fps + (rng.uniform(0, jitter) if rng else 0.0)
            if t >= t_to:
                return
            self.frame(t)
            n += 1


def expected(fx_look, pip, anchor=0, offset=0):
    """What a look gives at `pip`, computed the long way."""
    t = pip + offset - fx_look.lag_pips - anchor
    p = math.floor(t * fx_look.speed)
    p = -p if fx_look.reverse else p
    x, y, z = kinetra.sample(fx_look.pattern, engine.wrap32(p)).as_tuple()
    return tuple(min(1.0, max(-1.0, v * s)) for v, s in zip((x, y, z), fx_look.scale))


# ---- quantised launches ---------------------------------------------------------------------


@pytest.mark.parametrize(
    "quantize,q_pips",
    [('"now"', None), ('"beat"', 64), ('"bar"', 256), ("2", 128), ("4", 256), ("8", 512), ("16", 1024), ("32", 2048)],
)
def test_a_launch_lands_on_the_first_frame_that_reaches_its_boundary(tmp_path, quantize, q_pips):
    show = make(tmp_path, show_extra=f"quantize = {quantize}")
    rng = random.Random(q_pips)
    for trial in range(4):
        p = Player(show, start=1000.0 + trial)
        p.frames(p.t, p.t + 0.37 * (trial + 1), jitter=0.01, rng=rng)
        t_cmd = p.t + 0.003
        p.at(t_cmd, Command("cue", "a"))
        launch_pip = p.runner.clock.pip_at(t_cmd)
        start = len(p.log)
        p.frames(t_cmd + 0.001, t_cmd + 0.001 + (q_pips or 64) / 128 + 0.2, jitter=0.01, rng=rng)
        landed = [(i, ev) for i, (_, _, _, evs) in enumerate(p.log) for ev in evs if i >= start]
        assert len(landed) == 1
        i, ev = landed[0]
        boundary = launch_pip if q_pips is None else -(-launch_pip // q_pips) * q_pips
        assert ev["boundary"] == boundary and ev["cue"] == "a"
        # the first frame at or past the boundary shows the cue; the one before does not
        assert p.log[i][0] >= boundary and (i == start or p.log[i - 1][0] < boundary)
        assert p.log[i][2][:3] == ["a"] * 3 and (i == start or p.log[i - 1][2][:3] == [None] * 3)


def test_a_later_launch_replaces_the_queued_one_group_by_group(tmp_path):
    show = make(tmp_path, cues=CUES.replace('key = "2"', 'key = "2"\nquantize = "bar"'))
    p = Player(show)
    p.frames(1000.0, 1000.2)
    p.at(1000.21, Command("cue", "b"))  # back and front, next bar
    p.frame(1000.22)
    p.at(1000.3, Command("cue", "a"))  # back only: replaces b there
    p.frames(1000.31, 1003.0)
    names = p.log[-1][2]
    assert names == ["a", "a", "a", "b", "b"]
    assert sum(len(ev) for *_, ev in p.log) == 2


def test_relaunching_the_active_cue_restarts_it_only_when_it_retriggers(tmp_path):
    cues = CUES.replace('name = "a"', 'name = "a"\nphase = "restart"\nquantize = "beat"')
    for retrigger, restarts in ((False, False), (True, True)):
        show = make(
            tmp_path, cues=cues.replace('phase = "restart"', f'phase = "restart"\nretrigger = {str(retrigger).lower()}')
        )
        p = Player(show)
        p.at(1000.0, Command("cue", "a"))
        p.frames(1000.0, 1001.0)
        anchor = p.runner.engine.nodes[0].anchor
        p.at(1001.0, Command("cue", "a"))
        p.frames(1001.0, 1002.0)
        assert (p.runner.engine.nodes[0].anchor != anchor) == restarts


# ---- crossfades -----------------------------------------------------------------------------


def step(a, b):
    return max(abs(u - v) for u, v in zip(a, b))


@pytest.mark.parametrize("beats,curve", [(1, "linear"), (2.5, "smooth"), (0.25, "linear")])
def test_crossfade_weights_continuity_and_exact_end(tmp_path, beats, curve):
    cues = CUES.replace('name = "a"', f'name = "a"\ntransition = {beats}\ncurve = "{curve}"\nquantize = "beat"')
    show = make(tmp_path, cues=cues)
    p = Player(show)
    p.frames(1000.0, 1000.3)
    p.at(1000.3, Command("cue", "a"))
    p.frames(1000.31, 1000.31 + beats / 2 + 1.0)
    b1 = show.fixture("b1")
    new_look = model.Look("sway", b1.look.scale)
    boundary = next(ev for *_, evs in p.log for ev in evs)["boundary"]
    length = beats * 64
    prev = None
    for pip, offs, _, _ in p.log:
        old, new = expected(b1.look, pip), expected(new_look, pip)
        u = (pip - boundary) / length
        w = 0.0 if u <= 0 else 1.0 if u >= 1 else (u if curve == "linear" else u * u * (3 - 2 * u))
        if w >= 1.0:
            assert offs[0] == new  # after the window, exactly the new pattern
        elif w > 0.0:
            assert offs[0] == pytest.approx(tuple(a + (b - a) * w for a, b in zip(old, new)), abs=1e-12)
        if prev is not None:
            ppip, poffs, pw, pold, pnew = prev
            bound = max(step(pold, old), step(pnew, new)) + abs(w - pw) * max(step(old, new), step(pold, pnew))
            assert step(poffs[0], offs[0]) <= bound + 1e-12
        prev = (pip, offs, w, old, new)


def test_a_crossfade_into_a_crossfade_starts_where_the_blend_is(tmp_path):
    cues = CUES.replace('name = "a"', 'name = "a"\ntransition = 4\nquantize = "now"').replace(
        'name = "b"', 'name = "b"\ntransition = 2\nquantize = "now"'
    )
    p = Player(make(tmp_path, cues=cues))
    p.frames(1000.0, 1000.2)
    p.at(1000.2, Command("cue", "a"))
    p.frames(1000.2, 1000.9)
    p.at(1000.9, Command("cue", "b"))
    p.frames(1000.9, 1003.0)
    land = next(i for i, (*_, evs) in enumerate(p.log) if any(ev["cue"] == "b" for ev in evs))
    before, at = p.log[land - 1][1][0], p.log[land][1][0]
    # no jump at the landing: one frame moves no more than the patterns themselves do
    assert step(before, at) < 0.2
    assert p.log[-1][1][0] == expected(model.Look("figure_eight", (0.5, 0.5, 1.0)), p.log[-1][0])


# ---- speed, phase, spread -------------------------------------------------------------------


@pytest.mark.parametrize("ratio", ["1/2", "2", "3/2", "2/3", "1/4", "8", "7/8"])
def test_ratio_speeds_are_exact_over_a_million_beats(tmp_path, ratio):
    cues = f'[[cues]]\nname = "s"\nquantize = "now"\nset.front = {{ pattern = "figure_eight", speed = "{ratio}" }}\n'
    show = make(tmp_path, cues=cues)
    e = engine.Engine(show)
    e.launch("s", 0)
    e.advance(0)
    p, q = map(int, (ratio + "/1").split("/")[:2])
    f1 = show.fixtures.index(show.fixture("f1"))
    for beats in (0, 1, 4, 1000, 999_999, 1_000_000):
        pip = beats * 64
        assert e.pattern_pips(pip)[f1] == engine.wrap32(pip * p // q)
        assert e.offsets(pip)[f1] == kinetra.sample("figure_eight", engine.wrap32(pip * p // q)).as_tuple()
    if q in (2, 4):
        # half and quarter time stay on the bar: every bar line is a pattern beat line
        assert all((bar * 256 * p // q) % 64 == 0 for bar in range(0, 10**6, 997))


@pytest.mark.parametrize("phase", ["keep", "restart"])
def test_phase_keeps_the_bar_or_restarts_the_pattern_at_the_boundary(tmp_path, phase):
    cues = f'[[cues]]\nname = "s"\nquantize = "bar"\nphase = "{phase}"\nset.front = {{ pattern = "helix" }}\n'
    e = engine.Engine(make(tmp_path, cues=cues))
    e.launch("s", 300)
    e.advance(512)
    f1 = 3
    assert e.pattern_pips(512)[f1] == (0 if phase == "restart" else 512)
    assert e.pattern_pips(700)[f1] == (188 if phase == "restart" else 700)


@pytest.mark.parametrize(
    "order,count,ranks",
    [
        ("forward", 4, [0, 1, 2, 3]),
        ("reverse", 4, [3, 2, 1, 0]),
        ("centre-out", 4, [1, 0, 0, 1]),
        ("outside-in", 4, [0, 1, 1, 0]),
        ("centre-out", 5, [2, 1, 0, 1, 2]),
        ("outside-in", 5, [0, 1, 2, 1, 0]),
    ],
)
def test_spread_orders(order, count, ranks):
    assert [engine.spread_rank(order, i, count) for i in range(count)] == ranks


def test_modifiers_reverse_mirror_rotate_then_scale(tmp_path):
    cues = (
        '[[cues]]\nname = "m"\nquantize = "now"\n'
        'set.f1 = { pattern = "circle", reverse = true, mirror = ["y"], rotate = 90, scale = [0.5, 1, 1] }\n'
    )
    e = engine.Engine(make(tmp_path, cues=cues))
    e.launch("m", 0)
    e.advance(0)
    x, y, z = kinetra.circle(-10).as_tuple()
    y = -y
    rx, ry = (
        x * math.cos(math.pi / 2) - y * math.sin(math.pi / 2),
        x * math.sin(math.pi / 2) + y * math.cos(math.pi / 2),
    )
    assert e.offsets(10)[3] == (0.5 * rx, ry, z)


# ---- auto-follow ----------------------------------------------------------------------------


def test_cues_follow_each_other_after_their_bars_all_night(tmp_path):
    cues = """
[[cues]]
name = "a"
quantize = "bar"
next = "b"
after = 2
set.back = { pattern = "sway" }

[[cues]]
name = "b"
next = "a"
after = 1
set.back = { pattern = "bounce" }
"""
    e = engine.Engine(make(tmp_path, cues=cues))
    e.launch("a", 10)
    landed = []
    for pip in range(0, 256 * 30, 13):
        e.advance(pip)
        landed += [(ev["cue"], ev["boundary"]) for ev in e.take_events()]
    assert landed[:5] == [("a", 256), ("b", 256 * 3), ("a", 256 * 4), ("b", 256 * 6), ("a", 256 * 7)]
    # a long jump ahead follows every cue in order, not just the last
    e.advance(256 * 3000)
    events = e.take_events()
    assert [ev["cue"] for ev in events[:2]] != [events[0]["cue"]] * 2
    assert events[-1]["boundary"] == 256 * 3000 and e.active[0].cue.name == "b"


def test_a_cue_launched_by_hand_ends_the_loop_it_replaces(tmp_path):
    cues = CUES.replace('name = "a"', 'name = "a"\nnext = "b"\nafter = 1\nquantize = "bar"')
    e = engine.Engine(make(tmp_path, cues=cues))
    e.launch("a", 0)
    e.advance(0)
    e.release("back", 10)
    e.advance(256 * 4)
    assert [a for a in e.active[:3]] == [None] * 3


# ---- masters --------------------------------------------------------------------------------


def test_masters_hold_size_home_and_blackout(tmp_path):
    p = Player(make(tmp_path))
    p.frames(1000.0, 1000.5)
    p.at(1000.5, Command("hold", True))
    p.frames(1000.5, 1001.0)
    held = p.runner.engine.offsets(p.runner.clock.pip_at(1000.5))
    p.runner.engine.hold = None
    assert held != p.runner.engine.offsets(p.log[-1][0])
    p.runner.engine.hold = tuple(held)
    assert all(offs == held for _, offs, _, _ in p.log[-20:])
    p.at(1001.0, Command("hold", False), Command("size", 0.5))
    p.frames(1001.0, 1002.0)
    pip, offs, _, _ = p.log[-1]
    assert offs[0] == pytest.approx(tuple(0.5 * v for v in expected(p.runner.show.fixtures[0].look, pip)))
    e = p.runner.engine
    assert e.size(e.size_start + engine.SIZE_RAMP_PIPS // 2) == pytest.approx(0.75)
    p.at(1002.0, Command("home", True), Command("blackout", True))
    p.frame(1002.01)
    assert p.log[-1][1] == [(0.0, 0.0, 0.0)] * 5
    data = p.runner.senders["stage"].universes[1].data
    assert data[5] == 0 and data[0] == 128  # blackout channel down, pan at the centre
    p.at(1002.1, Command("blackout", False))
    p.frame(1002.11)
    assert data[5] == 255


# ---- what the reader refuses ----------------------------------------------------------------

CUE_BAD = [
    (
        'set.back = { pattern = "sway" }',
        'set.nobody = { pattern = "sway" }',
        "cues[0].set.nobody",
        "no group or fixture",
    ),
    (
        'set.back = { pattern = "sway" }',
        'set.back = { pattern = "moonwalk" }',
        "cues[0].set.back.pattern",
        "Unknown dance rudiment",
    ),
    ('key = "2"', 'key = "1"', "cues[1].key", "already bound"),
    ('key = "2"', 'key = "q"', "cues[1].key", "quits the player"),
    ('key = "2"', 'key = "ab"', "cues[1].key", "one letter or digit"),
    ('set.back = { pattern = "sway" }', 'set.back = { speed = "0/1" }', "cues[0].set.back.speed", "ratio"),
    ('set.back = { pattern = "sway" }', 'set.back = { speed = "1/0" }', "cues[0].set.back.speed", "ratio"),
    ('set.back = { pattern = "sway" }', 'set.back = { speed = "x" }', "cues[0].set.back.speed", "ratio"),
    ('set.back = { pattern = "sway" }', 'set.back = { speed = "2.5" }', "cues[0].set.back.speed", "ratio"),
    ('set.back = { pattern = "sway" }', 'set.back = { speed = "9" }', "cues[0].set.back.speed", "ratio"),
    ('key = "1"', 'key = "1"\nquantize = 3', "cues[0].quantize", "must be one of"),
    ('key = "1"', 'key = "1"\nquantize = "sometimes"', "cues[0].quantize", "must be one of"),
    ('key = "1"', 'key = "1"\ncurve = "bouncy"', "cues[0].curve", "must be one of"),
    ('key = "1"', 'key = "1"\ntransition = 0', "cues[0].transition", "above 0 and at most 32"),
    ('key = "1"', 'key = "1"\ntransition = 33', "cues[0].transition", "above 0 and at most 32"),
    ('key = "1"', 'key = "1"\ntransition = -1', "cues[0].transition", "above 0 and at most 32"),
    ('key = "1"', 'key = "1"\nnext = "zz"', "cues[0].next", "no cue named"),
    ('key = "1"', 'key = "1"\nnext = "a"', "cues[0].next", "follow itself"),
    ('key = "1"', 'key = "1"\nnext = "b"\nafter = 0', "cues[0].next", None),
    (
        'set.front = { pattern = "helix" }',
        'set.front = { pattern = "helix" }\nset.f1 = { pattern = "bounce" }',
        "cues[1].set.f1",
        "set by both",
    ),
    (
        'set.front = { pattern = "helix" }',
        "set.f1 = { spread_beats = 1 }",
        "cues[1].set.f1.spread_beats",
        "needs a group",
    ),
]


@pytest.mark.parametrize("old,new,key,message", CUE_BAD)
def test_every_cue_mistake_names_line_and_key(tmp_path, old, new, key, message):
    cues = CUES.replace(old, new, 1)
    if message is None:  # a chain back to itself, but after a bar: fine
        make(tmp_path, cues=cues.replace('name = "b"', 'name = "b"\nnext = "a"\nafter = 1'))
        return
    with pytest.raises(model.ShowError) as info:
        make(tmp_path, cues=cues)
    text = (tmp_path / "show.toml").read_text()
    line = int(str(info.value).split(":")[1])
    assert str(info.value).split(": ", 2)[1] == key and message in str(info.value)
    assert key.split(".")[-1] in text.splitlines()[line - 1] or "set" in text.splitlines()[line - 1]


def test_a_cue_that_follows_itself_through_a_chain_at_once_is_refused(tmp_path):
    cues = CUES.replace('key = "1"', 'key = "1"\nnext = "b"').replace('key = "2"', 'key = "2"\nnext = "a"')
    with pytest.raises(model.ShowError, match="would follow itself"):
        make(tmp_path, cues=cues)


def test_unknown_commands_and_arguments_are_refused_before_the_engine():
    show = type("S", (), {"cues": {"a": 1}, "groups": {}, "fixtures": ()})()
    for bad in (
        Command("explode"),
        Command("cue", "zz"),
        Command("size", 2.0),
        Command("size", float("nan")),
        Command("bpm", 0),
        Command("hold", "yes"),
        Command("nudge", 5),
    ):
        with pytest.raises(commands.CommandError):
            commands.check(bad, show)
    assert commands.check(Command("hold", 1), show).arg is True


# ---- the sACN source identity ---------------------------------------------------------------


def test_cid_is_stable_per_machine_and_path_and_can_be_given(tmp_path, monkeypatch):
    a = showfile.default_cid(str(tmp_path / "show.toml"))
    assert a == showfile.default_cid(str(tmp_path / "show.toml"))
    assert a != showfile.default_cid(str(tmp_path / "other" / "show.toml"))
    monkeypatch.setattr(showfile, "machine_id", lambda: "another machine")
    assert a != showfile.default_cid(str(tmp_path / "show.toml"))
    s = make(tmp_path, show_extra='cid = "12345678-1234-5678-1234-567812345678"')
    assert s.cid == bytes.fromhex("12345678123456781234567812345678")


def test_status_line_shows_each_group_with_its_active_and_queued_cue(tmp_path):
    p = Player(make(tmp_path, show_extra='quantize = "bar"'))
    p.at(1000.0, Command("cue", "a"))
    p.frame(1000.0)  # a lands at once: pip 0 is a bar line
    p.at(1000.6, Command("cue", "b"))
    p.frame(1000.6)
    line = p.runner.status_line(1000.6)
    # b waits for pip 256, 2 s after the start; 1.4 s is 2.8 beats at 120 BPM
    assert line.endswith("  back: a > b in 2.8  front: - > b in 2.8"), line
