"""OSC input, fed by python-osc's own client over 127.0.0.1."""

import time

import inputs_fakes as fakes
import pytest
from kinetra_live.inputs import osc
from pythonosc.osc_bundle_builder import IMMEDIATELY, OscBundleBuilder
from pythonosc.osc_message_builder import OscMessageBuilder
from pythonosc.udp_client import SimpleUDPClient


@pytest.fixture
def listener():
    q = fakes.Queue()
    inp = osc.OscInput(q, fakes.make)
    yield inp, q, SimpleUDPClient("127.0.0.1", inp.port)
    inp.close()


def settle(inp, total, timeout=5.0):
    end = time.monotonic() + timeout
    while inp.accepted + inp.ignored < total and time.monotonic() < end:
        time.sleep(0.005)
    assert inp.accepted + inp.ignored == total


@pytest.mark.parametrize(
    "address, args, expected",
    [
        ("/kinetra/cue", ["chase"], ("cue", "chase")),
        ("/kinetra/tap", [], ("tap", None)),
        ("/kinetra/bpm", [124.5], ("bpm", 124.5)),
        ("/kinetra/bpm", [128], ("bpm", 128.0)),
        ("/kinetra/resync", [], ("resync", None)),
        ("/kinetra/hold", [1], ("hold", True)),
        ("/kinetra/hold", [0.0], ("hold", False)),
        ("/kinetra/hold", [True], ("hold", True)),
        ("/kinetra/size", [0.25], ("size", 0.25)),
    ],
)
def test_each_address_becomes_its_command(listener, address, args, expected):
    inp, q, client = listener
    client.send_message(address, args)
    settle(inp, 1)
    assert q.names() == [expected] and q.items[0].source == "osc"


@pytest.mark.parametrize(
    "address, args, reason",
    [
        ("/kinetra/cue", ["nope"], "no cue of that name"),
        ("/kinetra/cue", [], "one string"),
        ("/kinetra/cue", [3], "one string"),
        ("/kinetra/tap", [1], "no arguments"),
        ("/kinetra/bpm", ["fast"], "one number"),
        ("/kinetra/bpm", [float("inf")], "one number"),
        ("/kinetra/hold", [2], "0 or 1"),
        ("/kinetra/size", [1.5], "from 0 to 1"),
        ("/kinetra/quit", [], "unknown address"),
        ("/other/tap", [], "unknown address"),
        ("/kinetra", [], "unknown address"),
    ],
)
def test_wrong_messages_are_counted_and_ignored(listener, address, args, reason):
    inp, q, client = listener
    client.send_message(address, args)
    client.send_message("/kinetra/tap", [])  # and the next one still gets through
    settle(inp, 2)
    assert inp.ignored == 1 and reason in inp.last_error
    assert q.names() == [("tap", None)]


@pytest.mark.parametrize(
    "dgram",
    [b"", b"\x00", b"garbage", b"/kinetra/tap\x00\x00\x00\x00,f\x00\x00", b"#bundle\x00" + b"\xff" * 12, b"\xff" * 600],
)
def test_datagrams_that_do_not_parse_are_not_fatal(listener, dgram):
    inp, q, client = listener
    client._sock.sendto(dgram, ("127.0.0.1", inp.port))
    client.send_message("/kinetra/resync", [])
    settle(inp, 2)
    assert inp.ignored == 1 and inp.thread.is_alive()
    assert q.names() == [("resync", None)]


def test_bundles_are_opened_in_order(listener):
    inp, q, client = listener
    inner = OscBundleBuilder(IMMEDIATELY)
    for a, v in (("/kinetra/bpm", 90.0), ("/kinetra/size", 0.5)):
        m = OscMessageBuilder(a)
        m.add_arg(v)
        inner.add_content(m.build())
    outer = OscBundleBuilder(IMMEDIATELY)
    outer.add_content(OscMessageBuilder("/kinetra/tap").build())
    outer.add_content(inner.build())
    client.send(outer.build())
    settle(inp, 3)
    assert sorted(q.names()) == [("bpm", 90.0), ("size", 0.5), ("tap", None)]


def test_a_port_already_taken_is_a_clear_error(listener):
    inp, _, _ = listener
    with pytest.raises(RuntimeError, match=f"cannot listen for OSC on 127.0.0.1:{inp.port}"):
        osc.OscInput(fakes.Queue(), fakes.make, port=inp.port)


# ---- the show's [osc_in] table and the player --------------------------------------------------


@pytest.mark.parametrize(
    "table, needle, key, reason",
    [
        ('[osc_in]\nhost = "127.0.0.1"\n', "[osc_in]", "osc_in.port", "missing"),
        ("[osc_in]\nport = 70000\n", "port = 70000", "osc_in.port", "must be from 0 to 65535"),
        ('[osc_in]\nport = 9001\nhost = "stage-pc"\n', 'host = "stage-pc"', "osc_in.host", "must be an IP address"),
        ('[osc_in]\nport = 9001\nprefix = "/x"\n', "prefix =", "osc_in.prefix", "unknown key"),
    ],
)
def test_osc_in_table_mistakes_name_file_line_and_key(tmp_path, table, needle, key, reason):
    fakes.assert_table_refused(tmp_path, table, needle, key, reason)


def test_the_player_takes_osc_cues_and_tempo(tmp_path):
    from kinetra_live import runner, showfile
    from test_live_e2e import free_port

    port = free_port()
    path, _ = fakes.show_with(tmp_path, f"\n[osc_in]\nport = {port}\n")
    show = showfile.load(path)
    assert (show.osc_in.host, show.osc_in.port) == ("127.0.0.1", port)
    r = runner.Runner(show, bpm=120)
    try:
        time.sleep(0.05)  # past pip 0, so that the bar cue waits for bar 2
        client = SimpleUDPClient("127.0.0.1", port)
        client.send_message("/kinetra/cue", ["tight"])
        client.send_message("/kinetra/bpm", [96.0])
        client.send_message("/kinetra/cue", ["gone"])
        inp = r.inputs[0]
        settle(inp, 3)
        r.frame(r.now())
        assert r.engine.groups_state(r.clock.pip_at(r.now()))["heads"]["queued"] == "tight"
        assert r.clock.bpm == 96.0 and inp.ignored == 1
        assert "OSC in 2 ok, 1 ignored" in r.status_line(r.now())
    finally:
        r.close()
    assert not inp.thread.is_alive()
