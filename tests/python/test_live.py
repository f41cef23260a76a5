"""Unit tests of the live-output companion: show-file checks, the DMX and OSC
mapping, the E1.31 encoder, the clock and its tempo sources, and the sender's
safety rules."""

import math
import socket

import kinetra
import pytest
from kinetra_live import cli, e131, engine, model, runner, showfile
from kinetra_live.clock import Clock, MidiClock, TapTempo
from kinetra_live.outputs import dmx, osc

HEAD = """\
[show]
name = "test"

[tempo]
bpm = 120

[outputs.stage]
type = "sacn"
destination = "127.0.0.1"
port = {port}

[outputs.visual]
type = "osc"
host = "127.0.0.1"
port = {osc_port}

[groups.heads]
spread_pips = 16
"""

HEAD_FIXTURE = """
[[fixtures]]
name = "{name}"
output = "stage"
group = "heads"
pattern = "{pattern}"
universe = {universe}
address = {address}
channels = {{ pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4, z = 5 }}
"""

VISUAL_FIXTURE = """
[[fixtures]]
name = "visual"
output = "visual"
pattern = "helix"
address = "/kinetra/visual"
"""


def make_show(heads=2, port=5568, osc_port=9000, pattern="circle", universe=1, visual=True):
    text = HEAD.format(port=port, osc_port=osc_port)
    for k in range(heads):
        text += HEAD_FIXTURE.format(name=f"head{k + 1}", pattern=pattern, universe=universe, address=1 + 8 * k)
    return text + (VISUAL_FIXTURE if visual else "")


def write(tmp_path, text, name="show.toml"):
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    return str(path)


# ---- show file ------------------------------------------------------------------------------


def test_good_show_loads_with_group_spread_and_beat_offsets(tmp_path):
    s = showfile.load(
        write(tmp_path, make_show(heads=3).replace('name = "head3"', 'name = "head3"\noffset_beats = 0.5'))
    )
    # the k-th member of a group runs k spreads behind the first
    assert [f.offset_pips - f.look.lag_pips for f in s.fixtures] == [0, -16, 32 - 32, 0]
    assert s.fps == 40 and s.universes("stage") == [1]


def test_example_show_loads():
    import pathlib

    s = showfile.load(str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "four-heads.toml"))
    assert [f.name for f in s.fixtures] == ["head1", "head2", "head3", "head4", "visual"]
    assert [f.offset_pips - f.look.lag_pips for f in s.fixtures] == [0, -16, -32, -48, 32]


BAD = [
    # (change to the good show, line, key, message)
    (lambda t: t.replace("bpm = 120", "bpm = 0"), 5, "tempo.bpm", "must be above 0.0"),
    (lambda t: t.replace("bpm = 120", 'bpm = "fast"'), 5, "tempo.bpm", "must be a number"),
    (lambda t: t.replace("bpm = 120", 'bpm = 120\nsource = "radio"'), 6, "tempo.source", "must be one of"),
    (lambda t: t.replace("[tempo]\nbpm = 120\n", ""), None, "tempo", "missing table [tempo]"),
    (lambda t: t.replace("[tempo]", "[tempo\n"), 4, None, "not valid TOML"),
    (
        lambda t: t.replace('type = "sacn"', 'type = "kinet"'),
        8,
        "outputs.stage.type",
        "must be one of sacn, osc, artnet",
    ),
    (
        lambda t: t.replace('destination = "127.0.0.1"', 'destination = "no such host.invalid"'),
        9,
        "outputs.stage.destination",
        "cannot resolve host name",
    ),
    (
        lambda t: t.replace('destination = "127.0.0.1"', 'destination = "255.255.255.255"'),
        9,
        "outputs.stage.destination",
        "is not an address to send to",
    ),
    (
        lambda t: t.replace('destination = "127.0.0.1"', 'destination = "239.255.0.1"'),
        9,
        "outputs.stage.destination",
        "use multicast = true",
    ),
    (
        lambda t: t.replace('destination = "127.0.0.1"', 'destination = "127.0.0.1"\nmulticast = true'),
        9,
        "outputs.stage.destination",
        "not both",
    ),
    (lambda t: t.replace("port = 9000", "port = 70000"), 15, "outputs.visual.port", "must be from 1 to 65535"),
    (
        lambda t: t.replace("spread_pips = 16", "spread_pips = 16\nspread_beats = 1"),
        18,
        "groups.heads.spread_pips",
        "not both",
    ),
    (
        lambda t: t.replace('pattern = "circle"', 'pattern = "moonwalk"', 1),
        24,
        "fixtures[0].pattern",
        "Unknown dance rudiment: moonwalk",
    ),
    (lambda t: t.replace('name = "head2"', 'name = "head1"'), 30, "fixtures[1].name", "already used"),
    (
        lambda t: t.replace('output = "stage"', 'output = "front"', 1),
        22,
        "fixtures[0].output",
        "no output named 'front'",
    ),
    (lambda t: t.replace("address = 9", "address = 3"), 35, "fixtures[1].address", "overlap fixture 'head1'"),
    (lambda t: t.replace("address = 9", "address = 510"), 35, "fixtures[1].address", "do not fit in 512"),
    (lambda t: t.replace("universe = 1", "universe = 64000", 1), 25, "fixtures[0].universe", "must be from 1 to 63999"),
    (
        lambda t: t.replace("tilt = 3, tilt_fine = 4", "tilt = 2, tilt_fine = 4", 1),
        27,
        "fixtures[0].channels",
        "channel 2 is used by both",
    ),
    (
        lambda t: t.replace("pan = 1, pan_fine = 2, ", "pan_fine = 2, ", 1),
        27,
        "fixtures[0].channels.pan_fine",
        "needs a pan channel",
    ),
    (lambda t: t.replace("z = 5 }", "zoom = 5 }", 1), 27, "fixtures[0].channels.zoom", "unknown key"),
    (lambda t: t.replace("address = 1\n", "address = 1\npan = [0, 600]\n", 1), 27, "fixtures[0].pan", "from 0 to 540"),
    (
        lambda t: t.replace("address = 1\n", "address = 1\nscale = [1, 2]\n", 1),
        27,
        "fixtures[0].scale",
        "three numbers",
    ),
    (
        lambda t: t.replace('address = "/kinetra/visual"', 'address = "kinetra visual"'),
        42,
        "fixtures[2].address",
        "must be an OSC address",
    ),
    (
        lambda t: t + VISUAL_FIXTURE.replace('"visual"\noutput', '"visual2"\noutput'),
        48,
        "fixtures[3].address",
        "already sent by fixture 'visual'",
    ),
    (lambda t: t.replace('group = "heads"', 'group = "spots"', 1), 23, "fixtures[0].group", "no group named"),
    (
        lambda t: t.replace(
            '[outputs.visual]\ntype = "osc"', '[outputs.visual]\ntype = "sacn"\ndestination = "127.0.0.2"'
        ).replace('host = "127.0.0.1"\n', ""),
        38,
        "fixtures[2].universe",
        "missing",
    ),
]


@pytest.mark.parametrize("change,line,key,message", BAD)
def test_every_show_mistake_names_file_line_and_key_and_sends_nothing(
    tmp_path, capsys, monkeypatch, change, line, key, message
):
    path = write(tmp_path, change(make_show()))
    monkeypatch.setattr(runner, "Runner", lambda *a, **k: pytest.fail("a bad show got to the sender"))
    assert cli.main([path, "--duration", "1"]) == 1
    err = capsys.readouterr().err
    where = f"{path}:{line}" if line else path
    assert err.startswith(f"kinetra-live: error: {where}: " + (f"{key}: " if key else "")), err
    assert message in err


def test_a_universe_belongs_to_one_output(tmp_path):
    text = make_show(heads=1, visual=False) + '\n[outputs.side]\ntype = "sacn"\ndestination = "127.0.0.2"\n'
    text += HEAD_FIXTURE.format(name="side1", pattern="sway", universe=1, address=100).replace(
        'output = "stage"', 'output = "side"'
    )
    with pytest.raises(model.ShowError, match=r"fixtures\[1\]\.universe: universe 1 is already sent by output 'stage'"):
        showfile.load(write(tmp_path, text))


def test_csv_patterns_come_through_the_preview_reader(tmp_path):
    (tmp_path / "walk.csv").write_text("x,y,z\n0.5,0,0\n-0.5,0.25,0\n", encoding="utf-8")
    text = make_show(heads=1, pattern="walk", visual=False) + '\n[patterns]\nwalk = "walk.csv"\n'
    s = showfile.load(write(tmp_path, text))
    assert s.library.sample("walk", 3).as_tuple() == (-0.5, 0.25, 0.0)
    (tmp_path / "walk.csv").write_text("x,y,z\n0.5,0,0\n2,0,0\n", encoding="utf-8")
    with pytest.raises(model.ShowError) as exc:
        showfile.load(write(tmp_path, text))
    assert str(exc.value).endswith(
        f"patterns.walk: {tmp_path / 'walk.csv'}:3: Pattern samples must be finite and within [-1, 1]"
    )


# ---- mapping --------------------------------------------------------------------------------


@pytest.mark.parametrize("v,expected", [(-1.0, (0, 0)), (1.0, (255, 255)), (0.0, (128, 0))])
def test_pan_word_spans_the_range_coarse_then_fine(v, expected):
    patch = model.DmxPatch(
        1,
        10,
        {"pan": 1, "pan_fine": 2},
        2,
        model.AxisMap(0.0, 1.0),
        model.AxisMap(0.0, 1.0),
        model.AxisMap(0.0, 1.0),
        {},
        {},
    )
    # 0.0 is 32767.5, rounded half up to 32768 = 0x8000
    assert dmx.values(patch, v, 0.0, 0.0) == [(10, expected[0]), (11, expected[1])]
    data = bytearray(512)
    assert dmx.writer(patch)(data, v, 0.0, 0.0) == dmx.values(patch, v, 0.0, 0.0) and data[9:11] == bytes(expected)


def test_degrees_and_inversion_reach_the_named_angles(tmp_path):
    text = (
        make_show(heads=2, visual=False)
        .replace("address = 9\n", "address = 9\npan = [180, 360]\ninvert_pan = true\n")
        .replace("address = 1\n", "address = 1\npan = [180, 360]\n")
    )
    a, b = showfile.load(write(tmp_path, text)).fixtures
    assert dmx.word(a.patch.pan, -1.0) == math.floor(180 / 540 * 65535 + 0.5)
    assert dmx.word(a.patch.pan, 1.0) == math.floor(360 / 540 * 65535 + 0.5)
    assert dmx.word(b.patch.pan, -1.0) == dmx.word(a.patch.pan, 1.0)
    assert dmx.word(b.patch.pan, 0.25) == dmx.word(a.patch.pan, -0.25)


def test_scale_clamps_and_osc_remaps_to_unit_range():
    fx = model.Fixture("f", "o", "osc", 0, model.Look("circle", (2.0, 0.5, -1.0)), model.OscPatch("/f", True))
    x, y, z = kinetra.circle(8).as_tuple()
    assert engine.Play(fx.look, 0, None).offset(8, kinetra.sample) == (min(1.0, 2.0 * x), 0.5 * y, -z)
    assert osc.values(fx.patch, -1.0, 0.0, 1.0) == [0.0, 0.5, 1.0]


# ---- E1.31 encoder --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "universe,slots,options", [(1, 512, 0), (63999, 1, e131.OPTION_STREAM_TERMINATED), (300, 24, 0)]
)
def test_encoder_is_read_back_by_an_independent_parser(universe, slots, options):
    from sacn.messages.data_packet import DataPacket

    data = bytes((i * 7) & 0xFF for i in range(slots))
    cid = bytes(range(16))
    raw = e131.encode(cid, "Bühne", 150, 300, universe, data, options)
    assert len(raw) == 126 + slots
    p = DataPacket.make_data_packet(list(raw))
    assert (p.universe, p.sequence, p.priority, p.sourceName, p.cid) == (universe, 300 & 0xFF, 150, "Bühne", tuple(cid))
    assert p.dmxData[:slots] == tuple(data) and p.option_StreamTerminated == bool(options)
    assert raw[16:18] == (0x7000 | (len(raw) - 16)).to_bytes(2, "big")


def test_unchanged_data_is_sent_three_times_then_kept_alive():
    u = dmx.Universe(1, 4)
    keepalive = 0.8
    sent = [t for t in (i * 0.025 for i in range(200)) if u.due(t, keepalive) and u.sent(t)]
    assert sent[:3] == [0.0, 0.025, 0.05]
    gaps = [b - a for a, b in zip(sent[2:], sent[3:])]
    assert gaps and all(keepalive <= g < keepalive + 0.026 for g in gaps)
    u.data[0] = 9
    assert u.due(5.0, keepalive)


# ---- clock and tempo sources ----------------------------------------------------------------


def test_pip_comes_from_the_time_never_from_frame_counting():
    c = Clock(120.0, 100.0, latency_s=0.010)
    assert c.pip_at(100.0 - 0.010) == 0
    assert c.pip_at(101.0) == math.floor((101.0 + 0.010 - 100.0) * 120.0 / 60.0 * 64)
    assert c.pip_at(100.0 + 3600.0 - 0.010) == 3600 * 128  # an hour later, exactly on the grid
    c.set_tempo(60.0, 102.0)
    assert abs(c.beats_at(102.0) - (2.010 * 2)) < 1e-9  # no jump at the change
    before = c.pip_at(103.0)
    c.nudge(0.5)
    assert c.pip_at(103.0) == before + 32


@pytest.mark.parametrize("bpm,noise", [(120.0, 0.0), (128.0, 0.004), (87.5, 0.008)])
def test_tap_tempo_finds_tempo_and_downbeat(bpm, noise):
    tap = TapTempo()
    period = 60.0 / bpm
    jitter = [noise * ((i * 37) % 7 - 3) / 3 for i in range(8)]
    result = None
    for i in range(8):
        result = tap.tap(50.0 + i * period + jitter[i])
    got_bpm, downbeat = result
    assert abs(got_bpm - bpm) < bpm * noise * 2 + 1e-6
    assert abs(downbeat - 50.0) < noise + 1e-9


def test_tap_after_a_pause_starts_again_and_sets_only_the_downbeat():
    tap, clock = TapTempo(), Clock(100.0, 0.0)
    for t in (10.0, 10.5, 11.0):
        tap.apply(clock, t)
    assert abs(clock.bpm - 120.0) < 1e-9 and abs(clock.t0 - 10.0) < 1e-9
    tap.apply(clock, 20.0)
    assert abs(clock.bpm - 120.0) < 1e-9 and clock.t0 == 20.0 and clock.pip_at(20.0) == 0


def midi_ticks(bpm, start, count, first_tick=0, noise=0.0):
    tick = 60.0 / bpm / 24
    return [(start + (first_tick + i) * tick + noise * ((i * 13) % 5 - 2) / 2, "clock") for i in range(count)]


@pytest.mark.parametrize("bpm,noise", [(120.0, 0.0), (140.0, 0.001), (90.0, 0.002)])
def test_midi_clock_start_sets_beat_zero_and_ticks_the_tempo(bpm, noise):
    m = MidiClock()
    m.feed(9.0, "start")
    for t, kind in midi_ticks(bpm, 10.0, 96, noise=noise):
        m.feed(t, kind)
    got_bpm, t0 = m.estimate()
    assert abs(got_bpm - bpm) < 0.5 and abs(t0 - 10.0) < 0.002


def test_midi_clock_song_position_continue_and_tempo_change():
    m = MidiClock()
    m.feed(0.0, "songpos", 16)  # sixteenth 16 = beat 4
    m.feed(0.0, "continue")
    for t, kind in midi_ticks(120.0, 0.0, 48, first_tick=96):
        m.feed(t, kind)
    bpm, t0 = m.estimate()
    assert abs(bpm - 120.0) < 1e-6 and abs(t0 - 0.0) < 1e-6  # tick 96 at 2 s means beat 0 at 0 s
    for t, kind in midi_ticks(100.0, 100.0, 48):
        m.feed(t, kind)  # two beats at the new tempo replace the window
    assert abs(m.estimate()[0] - 100.0) < 1e-6
    assert MidiClock().estimate() is None


def test_midi_clock_reads_mido_messages():
    mido = pytest.importorskip("mido")
    m = MidiClock()
    m.feed_message(0.0, mido.Message("start"))
    for i in range(24):
        m.feed_message(1.0 + i * 0.5 / 24, mido.Message("clock"))
    m.feed_message(2.0, mido.Message("note_on"))
    bpm, t0 = m.estimate()
    assert abs(bpm - 120.0) < 1e-6 and abs(t0 - 1.0) < 1e-9


# ---- the sender -----------------------------------------------------------------------------


class RecordingSocket:
    """Stands in for a UDP socket: records each datagram and where it would go."""

    def __init__(self, settings=None):
        self.sent = []
        self.closed = False

    def sendto(self, data, addr):
        assert not self.closed
        self.sent.append((addr, bytes(data)))

    def close(self):
        self.closed = True


def test_datagrams_go_only_to_the_addresses_the_show_names(tmp_path):
    sockets = []
    s = showfile.load(write(tmp_path, make_show(heads=2, port=6001, osc_port=6002)))
    summary = runner.Runner(s, open_socket=lambda settings: sockets.append(RecordingSocket()) or sockets[-1]).run(0.3)
    assert summary["frames"] >= 5
    assert {addr for sock in sockets for addr, _ in sock.sent} == {("127.0.0.1", 6001), ("127.0.0.1", 6002)}
    assert all(sock.closed for sock in sockets)


def test_sender_survives_a_receiver_that_is_not_there(tmp_path):
    # a port nobody listens on, and an address with no route from a loopback-only socket
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    s = showfile.load(write(tmp_path, make_show(heads=1, port=port, osc_port=port)))
    summary = runner.Runner(s).run(0.5)
    assert summary["frames"] >= 15


def test_status_line_shows_tempo_bar_beat_rate_and_late_frames(tmp_path):
    s = showfile.load(write(tmp_path, make_show(heads=1, visual=False)))
    r = runner.Runner(s, now=lambda: 100.0)
    r.clock = Clock(120.0, 100.0 - 2.6)  # beat 5 of the run: bar 2, beat 2
    r.recent = [100.0 - 1.0 + i / 40 for i in range(41)]
    r.late = 3
    assert r.status_line(100.0) == " 120.0 BPM fixed  bar    2 beat 2  40.0 fps  late 3"


def test_pips_fold_into_the_32_bit_range():
    assert engine.wrap32(2**31) == -(2**31) and engine.wrap32(-5) == -5
    kinetra.sample("circle", engine.wrap32(2**40 + 3))
