"""MIDI input through its seams: recorded message streams in, light messages out, byte for byte;
ports that come and go; and the MIDI clock on the same port."""

import importlib.metadata
import os
import pathlib
import time
import tomllib

import inputs_fakes as fakes
import pytest
from kinetra_live.clock import MidiClock
from kinetra_live.inputs import midi

ROOT = pathlib.Path(__file__).resolve().parents[2]
SHOW_CUES = [(n, g) for n, g in fakes.CUES.items()]  # wash: intro, sweep; beam: chase, still


def controller(layout, **kw):
    q = fakes.Queue()
    return midi.MidiController(q, fakes.make, midi.LAYOUTS[layout], cues=SHOW_CUES, **kw), q


class Out:
    def __init__(self):
        self.sent = []

    def send(self, data):
        self.sent.append(bytes(data))


@pytest.mark.parametrize(
    "data, expected",
    [
        ([0x90, 60, 100], ("note", 0, 60, 100)),
        ([0x93, 60, 0], ("note", 3, 60, 0)),
        ([0x80, 60, 64], ("note", 0, 60, 0)),
        ([0xB1, 7, 127], ("cc", 1, 7, 127)),
        ([0xF8], ("clock", 0, 0, 0)),
        ([0xFA], ("start", 0, 0, 0)),
        ([0xFC], ("stop", 0, 0, 0)),
        ([0xF2, 0x10, 0x01], ("songpos", 0, 0, 144)),
        ([0x90, 60], None),
        ([0x90, 200, 1], None),
        ([0xE0, 0, 64], None),
        ([0xF0, 0x7E, 0xF7], None),
        ([], None),
    ],
)
def test_decode(data, expected):
    assert midi.decode(bytes(data)) == expected


@pytest.mark.parametrize(
    "text, action",
    [
        ("tap", midi.Action("tap")),
        ("cue chase", midi.Action("cue", "chase")),
        ("cue  big finish ", midi.Action("cue", "big finish")),
        ("nudge +", midi.Action("nudge", 1.0)),
        ("tempo -", midi.Action("tempo", -1.0)),
        ("size", midi.Action("size", None, fader=True)),
        ("release", midi.Action("release")),
        ("release beam", midi.Action("release", "beam")),
        ("bpm 128", midi.Action("bpm", 128.0)),
        ("hold", midi.Action("hold")),
    ],
)
def test_actions_from_text(text, action):
    assert midi.parse_action(text) == action


@pytest.mark.parametrize(
    "text, reason",
    [
        ("", "expected a command"),
        ("dance", "unknown command"),
        ("quit", "unknown command"),
        ("cue", "needs the cue"),
        ("bpm fast", "needs the tempo"),
        ("nudge", "direction"),
        ("tempo up", "direction"),
        ("tap 3", "no argument"),
        (None, "expected"),
    ],
)
def test_bad_actions_say_why(text, reason):
    with pytest.raises(ValueError, match=reason):
        midi.parse_action(text)


@pytest.mark.parametrize(
    "layout, pads",
    [
        ("grid10", {81: "intro", 71: "sweep", 82: "chase", 72: "still"}),
        ("grid8", {56: "intro", 48: "sweep", 57: "chase", 49: "still"}),
        ("generic", {}),
    ],
)
def test_cues_fill_one_column_per_group_from_the_top(layout, pads):
    assert midi.assign_cues(midi.LAYOUTS[layout], SHOW_CUES) == pads


def test_a_full_grid_drops_what_does_not_fit():
    cues = [(f"c{g}{i}", f"g{g}") for g in range(10) for i in range(10)]
    pads = midi.assign_cues(midi.GRID8, cues)
    assert len(pads) == 64 and pads[56] == "c00" and pads[7] == "c77"


# Recorded streams: (bytes, what the queue holds afterwards). Releases and unmapped pads do nothing.
@pytest.mark.parametrize(
    "layout, stream, expected",
    [
        (
            "grid10",
            [[0x90, 81, 127], [0x90, 81, 0], [0x90, 72, 90], [0x80, 72, 0]],
            [("cue", "intro"), ("cue", "still")],
        ),
        (
            "grid10",
            [[0xB0, 91, 127], [0xB0, 91, 0], [0xB0, 93, 127], [0xB0, 96, 127], [0xB0, 98, 127]],
            [("tap", None), ("nudge", -0.01), ("tempo", 0.1), ("double", None)],
        ),
        (
            "grid10",
            [[0xB0, 89, 127], [0xB0, 79, 127], [0xB0, 69, 127], [0xB0, 59, 127]],
            [("hold", None), ("home", None), ("blackout", None), ("release", None)],
        ),
        ("grid10", [[0x90, 11, 127], [0x90, 99, 127], [0xB0, 19, 127]], []),
        (
            "grid8",
            [[0x90, 56, 1], [0x90, 64, 127], [0x90, 67, 127], [0xB0, 56, 0], [0xB0, 56, 127]],
            [("cue", "intro"), ("tap", None), ("nudge", 0.01), ("size", 0.0), ("size", 1.0)],
        ),
        (
            "grid8",
            [[0x90, 82, 127], [0x90, 85, 127], [0xB0, 48, 127], [0x90, 0, 127]],
            [("hold", None), ("release", None)],
        ),
        ("generic", [[0x90, 81, 127], [0xB0, 91, 127]], []),
    ],
)
def test_recorded_streams_become_commands(layout, stream, expected):
    c, q = controller(layout)
    for t, data in enumerate(stream):
        c.receive(bytes(data), float(t))
    assert q.names() == expected
    assert all(cmd.source == "midi" for cmd in q.items)


def test_the_shows_own_map_adds_to_and_replaces_the_layout():
    c, q = controller(
        "grid8",
        notes={64: midi.parse_action("cue still"), 36: midi.parse_action("tempo -")},
        controls={7: midi.parse_action("size")},
        steps={"tempo_bpm": 1.0},
    )
    for data in ([0x90, 64, 127], [0x90, 36, 127], [0xB0, 7, 127], [0xB0, 7, 0]):
        c.receive(bytes(data))
    assert q.names() == [("cue", "still"), ("tempo", -1.0), ("size", 1.0), ("size", 0.0)]


def test_a_command_the_show_refuses_is_counted():
    c, q = controller("generic", notes={40: midi.parse_action("cue gone"), 41: midi.parse_action("release nowhere")})
    c.receive(bytes([0x90, 40, 127]))
    c.receive(bytes([0x90, 41, 127]))
    assert q.names() == [] and c.ignored == 2 and "no group or fixture" in c.last_error


STATE = dict(
    active={"wash": "intro"},
    queued={"beam": "chase"},
    masters={"hold": True, "size": 1.0, "home": False, "blackout": False},
)


@pytest.mark.parametrize(
    "layout, expected",
    [
        # grid: intro active (green 21), sweep armed (1), chase queued (yellow 13, lit), still armed;
        # buttons around it armed (1), hold on (21)
        (
            "grid10",
            {
                "90 51 15",
                "90 47 01",
                "90 52 0d",
                "90 48 01",
                *(f"b0 {n:02x} 01" for n in range(91, 99)),
                "b0 59 15",
                "b0 4f 01",
                "b0 45 01",
                "b0 3b 01",
            },
        ),
        # pads: green 1 active, red 3 queued, yellow 5 armed; round buttons: off unless on
        (
            "grid8",
            {
                "90 38 01",
                "90 30 05",
                "90 39 03",
                "90 31 05",
                *(f"90 {n:02x} 00" for n in range(64, 72)),
                "90 52 01",
                "90 53 00",
                "90 54 00",
                "90 55 00",
            },
        ),
    ],
)
def test_lights_byte_for_byte_and_only_changes_are_sent(layout, expected):
    c, _ = controller(layout)
    out = Out()
    c.attach(out)
    c.update(fakes.snapshot(pip=64 * 8 + 5, **STATE))  # first half of a beat: queued lit
    assert {m.hex(" ") for m in out.sent} == expected
    assert len(out.sent) == len(expected)
    out.sent.clear()
    c.update(fakes.snapshot(pip=64 * 8 + 10, **STATE))
    assert out.sent == []  # nothing changed
    c.update(fakes.snapshot(pip=64 * 8 + 40, **STATE))  # second half: queued shows armed
    queued_pad = {"grid10": 82, "grid8": 57}[layout]
    armed = {"grid10": 1, "grid8": 5}[layout]
    assert out.sent == [bytes([0x90, queued_pad, armed])]


def test_generic_layout_lights_only_what_the_show_maps():
    c, _ = controller(
        "generic",
        notes={36: midi.parse_action("cue intro"), 37: midi.parse_action("cue chase")},
        controls={20: midi.parse_action("hold"), 7: midi.parse_action("size")},
    )
    out = Out()
    c.attach(out)
    c.update(fakes.snapshot(pip=0, **STATE))
    assert sorted(m.hex(" ") for m in out.sent) == ["90 24 7f", "90 25 7f", "b0 14 7f"]
    c.update(fakes.snapshot(pip=40, **STATE))
    assert [m.hex(" ") for m in out.sent[3:]] == ["90 25 01"]
    assert sorted(m.hex(" ") for m in c.clear()) == ["90 24 00", "90 25 00", "b0 14 00"]


class FakeBackend:
    """Ports that appear and vanish, as a controller unplugged and plugged in again."""

    def __init__(self):
        self.ins, self.outs = [], []
        self.opened = []
        self.callbacks = {}

    def inputs(self):
        return list(self.ins)

    def outputs(self):
        return list(self.outs)

    def open_input(self, name, callback):
        self.opened.append(("in", name))
        self.callbacks[name] = callback

        class Handle:
            def close(_):
                self.callbacks.pop(name, None)

        return Handle()

    def open_output(self, name):
        self.opened.append(("out", name))
        out = Out()
        out.close = lambda: None
        return out


def test_lights_are_sent_again_when_the_controller_reconnects():
    c, q = controller("grid8")
    be = FakeBackend()
    ports = midi.MidiPorts(be, "pads", "pads", listeners=[c.receive], on_output=c.attach)
    ports.check()
    assert be.opened == [] and c.update(fakes.snapshot(**STATE)) == []
    be.ins, be.outs = ["Midi Through 14:0", "PADS MK2 20:0"], ["Midi Through 14:0", "PADS MK2 20:0"]
    ports.check()
    assert be.opened == [("in", "PADS MK2 20:0"), ("out", "PADS MK2 20:0")]
    first = c.update(fakes.snapshot(**STATE))
    assert len(first) == 4 + 8 + 4  # cue pads, tempo keys, master keys
    be.callbacks["PADS MK2 20:0"](bytes([0x90, 57, 127]))
    assert q.names() == [("cue", "chase")]
    be.ins, be.outs = ["Midi Through 14:0"], ["Midi Through 14:0"]  # unplugged
    ports.check()
    assert c.update(fakes.snapshot(**STATE)) == [] and c.out is None
    be.ins, be.outs = ["PADS MK2 24:0"], ["PADS MK2 24:0"]  # back, on another client number
    ports.check()
    assert sorted(c.update(fakes.snapshot(**STATE))) == sorted(first)
    assert ports.connects == 2


@pytest.mark.parametrize(
    "pattern, names, found",
    [
        ("PADS MK2 20:0", ["PADS MK2 20:0"], "PADS MK2 20:0"),
        ("pads", ["Through", "PADS MK2 20:0"], "PADS MK2 20:0"),
        ("P*2 2?:0", ["PADS MK2 20:0"], "PADS MK2 20:0"),
        (None, ["a", "b"], "a"),
        ("x", ["a"], None),
        ("a", [], None),
    ],
)
def test_port_names(pattern, names, found):
    assert midi.match_port(pattern, names) == found


def test_clock_and_pads_share_one_port():
    """A recorded stream on one port: Start, two beats of clock at 125 BPM, pad presses between."""
    be = FakeBackend()
    be.ins = be.outs = ["PADS MK2 20:0"]
    clock = MidiClock()
    c, q = controller("grid10")
    stamps = iter([])
    tempo_side = midi.share("pads", midi.clock_listener(clock), backend=be)
    pads_side = midi.share("pads", c.receive, output_pattern="pads", on_output=c.attach, backend=be)
    try:
        assert be.opened == [("in", "PADS MK2 20:0"), ("out", "PADS MK2 20:0")]  # the input once
        tick = 60.0 / 125 / 24
        stream = [(9.9, [0xFA])] + [(10.0 + i * tick, [0xF8]) for i in range(48)]
        stream += [(10.1, [0x90, 82, 127]), (10.2, [0x80, 82, 0]), (10.3, [0xB0, 91, 127])]
        stream.sort(key=lambda e: e[0])
        stamps = iter(t for t, _ in stream)
        tempo_side.ports.now = lambda: next(stamps)
        for _, data in stream:
            be.callbacks["PADS MK2 20:0"](bytes(data))
        bpm, t0 = clock.estimate()
        assert bpm == pytest.approx(125.0, abs=1e-6) and t0 == pytest.approx(10.0, abs=1e-6)
        assert q.names() == [("cue", "chase"), ("tap", None)]
    finally:
        pads_side.close()
        assert "PADS MK2 20:0" in be.callbacks  # still open for the tempo source
        tempo_side.close()
        assert be.callbacks == {} and midi._shared == {}


@pytest.mark.parametrize("extra, name", [("midi", "rtmidi2"), ("web", "websockets")])
def test_the_extras_name_installable_packages(extra, name):
    """Each requirement of the extra is met here by a CPython 3.13 wheel (the dev setup installs
    them from PyPI), so `pip install kinetra[EXTRA]` resolves."""
    from packaging.requirements import Requirement

    reqs = [
        Requirement(r)
        for r in tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["optional-dependencies"][extra]
    ]
    assert name in {r.name for r in reqs}
    for r in reqs:
        dist = importlib.metadata.distribution(r.name)
        assert r.specifier.contains(dist.version), (r, dist.version)
        tags = [line for line in (dist.read_text("WHEEL") or "").splitlines() if line.startswith("Tag:")]
        assert any("cp313" in t or "py3-none" in t for t in tags), tags


@pytest.mark.skipif(
    not os.path.exists("/dev/snd/seq"),
    reason="no ALSA sequencer on this machine (/dev/snd/seq is absent), so no virtual MIDI ports",
)
def test_virtual_ports_round_trip():
    import rtmidi2

    c, q = controller("grid8")
    src = rtmidi2.MidiOut("kinetra-test")
    src.open_virtual_port("kinetra test pads")
    sink = rtmidi2.MidiIn("kinetra-test")
    sink.open_virtual_port("kinetra test lights")
    lights = []
    sink.callback = lambda msg, _t: lights.append(bytes(msg))
    ports = midi.MidiPorts(
        midi.RtMidiBackend(), "kinetra test pads", "kinetra test lights", listeners=[c.receive], on_output=c.attach
    )
    try:
        ports.check()
        src.send_raw(0x90, 56, 127)
        src.send_raw(0xF8)
        deadline = time.monotonic() + 5
        while not q.items and time.monotonic() < deadline:
            time.sleep(0.01)
        assert q.names() == [("cue", "intro")]
        c.update(fakes.snapshot(**STATE))
        while len(lights) < 20 and time.monotonic() < deadline:
            time.sleep(0.01)
        assert bytes([0x90, 0x38, 0x01]) in lights
    finally:
        ports.close()
        src.close_port()
        sink.close_port()


# ---- the show's [midi] table ----------------------------------------------------------------


def test_midi_table_loads(tmp_path):
    from kinetra_live import showfile

    path, _ = fakes.show_with(
        tmp_path,
        '\n[midi]\ninput = "PADS"\noutput = "PADS"\nlayout = "grid8"\n'
        '[midi.notes]\n36 = "cue tight"\n37 = "nudge -"\n[midi.controls]\n7 = "size"\n',
    )
    m = showfile.load(path).midi
    assert (m.input, m.output, m.layout) == ("PADS", "PADS", "grid8")
    assert m.notes == {36: midi.Action("cue", "tight"), 37: midi.Action("nudge", -1.0)}
    assert m.controls == {7: midi.Action("size", None, fader=True)}


@pytest.mark.parametrize(
    "table, needle, key, reason",
    [
        ('[midi]\nlayout = "grid8"\n', "[midi]", "midi.input", "missing"),
        (
            '[midi]\ninput = "x"\nlayout = "grid9"\n',
            'layout = "grid9"',
            "midi.layout",
            "must be one of grid10, grid8, generic",
        ),
        ('[midi]\ninput = "x"\nchannel = 2\n', "channel = 2", "midi.channel", "unknown key"),
        ('[midi]\ninput = "x"\n[midi.notes]\n128 = "tap"\n', "128 =", "midi.notes.128", "from 0 to 127"),
        ('[midi]\ninput = "x"\n[midi.notes]\n36 = "cue nope"\n', "36 =", "midi.notes.36", "no cue named 'nope'"),
        ('[midi]\ninput = "x"\n[midi.notes]\n36 = "quit"\n', "36 =", "midi.notes.36", "unknown command 'quit'"),
        ('[midi]\ninput = "x"\n[midi.notes]\n36 = 5\n', "36 =", "midi.notes.36", "must be a command"),
        ('[midi]\ninput = "x"\n[midi.notes]\n36 = "size"\n', "36 =", "midi.notes.36", "map it under [midi.controls]"),
        (
            '[midi]\ninput = "x"\n[midi.controls]\n7 = "release spots"\n',
            "7 =",
            "midi.controls.7",
            "no group or fixture named 'spots'",
        ),
    ],
)
def test_midi_table_mistakes_name_file_line_and_key(tmp_path, table, needle, key, reason):
    fakes.assert_table_refused(tmp_path, table, needle, key, reason)


def test_the_player_shares_one_port_between_midi_clock_and_pads(tmp_path):
    from kinetra_live import runner, showfile

    path, _ = fakes.show_with(tmp_path, '\n[midi]\ninput = "pads"\noutput = "pads"\nlayout = "grid8"\n')
    path_text = pathlib.Path(path).read_text().replace("bpm = 120", 'bpm = 120\nsource = "midi"\nmidi_port = "pads"')
    pathlib.Path(path).write_text(path_text)
    be = FakeBackend()
    be.ins = be.outs = ["PADS MK2 20:0"]
    lights = []
    r = runner.Runner(showfile.load(path), options={"midi_backend": be})
    try:
        assert be.opened == [("in", "PADS MK2 20:0"), ("out", "PADS MK2 20:0")]
        r.pads.out.send = lights.append
        feed = be.callbacks["PADS MK2 20:0"]
        feed(bytes([0xFA]))
        for _ in range(30):
            feed(bytes([0xF8]))
            time.sleep(0.5 / 24)  # 120 BPM of clock
        feed(bytes([0x90, 48, 127]))  # the first column's second pad: "tight"
        time.sleep(0.01)
        r.frame(r.now())
        assert 100 < r.clock.bpm < 140
        assert [c.name for _, c in r.commands.drain()] == [] and r.engine.groups_state(0)["heads"]["queued"] == "tight"
        assert bytes([0x90, 56, 1]) in lights or bytes([0x90, 56, 5]) in lights  # "wide" lit
        assert any(m[1] == 48 for m in lights)  # "tight" lit
    finally:
        r.close()
    assert lights[-1][2] == 0 and be.callbacks == {} and midi._shared == {}  # lights off, port let go


def test_a_port_that_fails_to_open_is_tried_again():
    c, q = controller("grid8")
    be = FakeBackend()
    be.ins = be.outs = ["PADS"]
    real_open, tries = be.open_input, []

    def flaky(name, callback):
        tries.append(name)
        if len(tries) == 1:
            raise RuntimeError("device busy")
        return real_open(name, callback)

    be.open_input = flaky
    ports = midi.MidiPorts(be, "PADS", "PADS", listeners=[c.receive], on_output=c.attach)
    ports.check()
    assert ports.inp is None and c.out is None
    ports.check()
    assert ports.inp is not None and c.out is not None and len(tries) == 2
