"""The OS2L tempo source: the message stream however it is cut, beats at 126 BPM with jitter
and dropped connections on simulated time, buttons and commands launching cues through the
command queue, and one run on real sockets (advertised by DNS-SD) in a namespace of its own."""

import json
import random
import socket
import statistics
import sys
import time
import types

import djlink_render as r
import inputs_fakes as fakes
import netns
import pytest
from kinetra_live.clock import Clock
from kinetra_live.tempo import os2l

BPM = 126.0
MESSAGES = [
    {"evt": "beat", "change": False, "pos": 8, "bpm": BPM, "strength": 80},
    {"evt": "btn", "name": "drop \u00e9", "page": "", "state": "on"},
    {"evt": "cmd", "id": 3, "param": 100},
]


def source(buttons=None, commands=None, beats_per_bar=4):
    tempo = types.SimpleNamespace(
        bpm=120.0, beats_per_bar=beats_per_bar, os2l_buttons=buttons or {}, os2l_commands=commands or {}
    )
    src = os2l.Os2l(tempo, Clock(120.0, 0.0), lambda: 0.0, {}, listen=False)
    queue = fakes.Queue()
    src.attach(queue, fakes.make)
    return src, queue


@pytest.mark.parametrize("cut", [1, 2, 5, 17, 10_000])
@pytest.mark.parametrize("between", ["", "\n", "\r\n  "])
def test_the_stream_gives_every_message_however_it_is_cut(cut, between):
    data = (between.join(json.dumps(m) for m in MESSAGES) + between).encode()
    stream, found, bad = os2l.Stream(), [], 0
    for i in range(0, len(data), cut):
        f, b = stream.feed(data[i : i + cut])
        found += f
        bad += b
    assert found == MESSAGES and bad == 0 and not stream.too_long


@pytest.mark.parametrize(
    "text, objects, bad, too_long",
    [
        ('junk{"evt":"beat"}', 1, 1, False),
        ('{"evt": beat}{"evt":"x"}', 1, 1, False),
        ('{"a": "}"}', 1, 0, False),  # a brace inside a string
        ('{"a": "' + "x" * 5000, 0, 0, True),  # never ends: the connection is dropped
        ("]]]", 0, 1, False),
    ],
)
def test_malformed_streams_are_counted(text, objects, bad, too_long):
    stream = os2l.Stream()
    found, n = stream.feed(text.encode())
    assert (len(found), n, stream.too_long) == (objects, bad, too_long)


@pytest.mark.parametrize(
    "msg, why, launched",
    [
        ({"evt": "btn", "name": "drop", "state": "on"}, None, [("cue", "intro")]),
        ({"evt": "btn", "name": "drop", "state": "off"}, None, []),
        ({"evt": "btn", "name": "other", "state": "on"}, "not bound", []),
        ({"evt": "btn", "name": "drop", "state": 1}, "out of range", []),
        ({"evt": "cmd", "id": 3, "param": 100}, None, [("cue", "chase")]),
        ({"evt": "cmd", "id": "3", "param": 55.5}, None, [("cue", "chase")]),
        ({"evt": "cmd", "id": 3, "param": 0}, None, []),
        ({"evt": "cmd", "id": 4, "param": 100}, "not bound", []),
        ({"evt": "cmd", "id": True, "param": 100}, "out of range", []),
        ({"evt": "cmd", "id": 3, "param": float("nan")}, "out of range", []),
        ({"evt": "btn", "name": "gone", "state": "on"}, "refused", []),  # a cue the show lost
        ({"evt": "beat", "bpm": 0}, "out of range", []),
        ({"evt": "beat", "bpm": 1e9}, "out of range", []),
        ({"evt": "beat", "bpm": "126"}, "out of range", []),
        ({"evt": "beat", "bpm": 126, "pos": -1}, "out of range", []),
        ({"evt": "beat", "bpm": 126, "pos": 2**40}, "out of range", []),
        ({"evt": "beat", "bpm": 126, "change": "yes"}, "out of range", []),
        ({"evt": "song", "name": "x"}, "unknown", []),
        ({"evt": 3}, "malformed", []),
        ([1, 2], "malformed", []),
    ],
)
def test_buttons_and_commands_launch_the_cues_bound_to_them(msg, why, launched):
    src, queue = source({"drop": "intro", "gone": "nope"}, {3: "chase"})
    src.message(msg, 1.0)
    assert dict(src.ignored) == ({why: 1} if why else {})
    assert queue.names() == launched


def beats_with_jitter(seed=3, until=40.0, drops=((12.0, 13.6), (25.0, 26.9))):
    """(time sent, pos, true beat time): 126 BPM, up to 8 ms late, nothing during the drops."""
    rng, period, out = random.Random(seed), 60.0 / BPM, []
    k = 0
    while 1.0 + k * period < until:
        t = 1.0 + k * period
        if not any(a <= t < b for a, b in drops):
            out.append((t + rng.uniform(0.0, 0.008), k, t))
        k += 1
    return out


def test_beats_with_jitter_and_two_drops_put_the_clock_on_the_beat():
    src, _ = source()
    sent = beats_with_jitter()
    clock, frames, i = Clock(120.0, 0.0), [], 0
    for n in range(int(40.0 * r.FPS)):
        now = n / r.FPS
        while i < len(sent) and sent[i][0] <= now:
            t, k, _ = sent[i]
            src.message({"evt": "beat", "change": False, "pos": k + 2, "bpm": BPM, "strength": 50}, t)
            i += 1
        src.update(clock, now)
        frames.append((now, clock.bpm, clock.t0))
    # against the beats as sent on average (the software's jitter is its own)
    errs = [(r.clock_beat(frames, t)[0] - t - 0.004, r.clock_beat(frames, t)[1], k) for _, k, t in sent[4:]]
    err = [abs(e) for e, _, _ in errs]
    assert statistics.median(err) < 0.002 and max(err) < 0.005, (statistics.median(err), max(err))
    assert all(kc % 4 == (k + 2) % 4 for _, kc, k in errs)  # bars where pos is a multiple of four
    assert clock.bpm == pytest.approx(BPM, rel=0.002) and src.beats == len(sent)


# ---- the player and real sockets -------------------------------------------------------------


def test_the_player_warns_without_dns_sd_and_launches_bound_cues(tmp_path, monkeypatch):
    from kinetra_live import runner, showfile
    from test_tempo_djlink import tempo_show

    monkeypatch.setitem(sys.modules, "zeroconf", None)  # the extra not installed
    path, _ = tempo_show(tmp_path, 'source = "os2l"\nos2l_buttons = { drop = "tight" }\n')
    rr = runner.Runner(showfile.load(path), bpm=120)
    try:
        src = rr.tempo
        assert any("not advertised" in w and str(src.port) in w for w in rr.warnings)
        with socket.create_connection(("127.0.0.1", src.port)) as c:
            c.sendall(b'{"evt":"btn","name":"drop","state":"on"}{"evt":"nope"}')
            deadline = time.monotonic() + 5.0
            while time.monotonic() < deadline and not (src.launched and src.ignored):
                time.sleep(0.01)
        rr.frame(rr.now())
        heads = rr.engine.groups_state(rr.clock.pip_at(rr.now()))["heads"]
        assert "tight" in (heads["active"], heads["queued"])
        assert "(not advertised)" in rr.status_line(rr.now()) and "1 ignored" in rr.status_line(rr.now())
    finally:
        rr.close()
    assert not src.thread.is_alive()


def test_software_that_finds_the_service_connects_sends_beats_and_comes_back():
    why = netns.why_not()
    if why:
        pytest.skip(why)
    zeroconf = pytest.importorskip("zeroconf")
    from test_tempo_djlink import in_namespace

    with netns.veth_namespace("kinetra-os2l", "10.251.78.1") as ns:
        tempo = types.SimpleNamespace(bpm=120.0, beats_per_bar=4, os2l_host="0.0.0.0", os2l_port=0)
        tempo.os2l_buttons, tempo.os2l_commands = {}, {}

        def make():
            src = os2l.Os2l(tempo, Clock(120.0, 0.0), time.monotonic, {})
            zc = zeroconf.Zeroconf()
            return src, zc

        src, zc = in_namespace(ns, make)
        try:
            info = None
            deadline = time.monotonic() + 10.0
            while info is None and time.monotonic() < deadline:
                names = []
                browser = zeroconf.ServiceBrowser(zc, os2l.SERVICE, handlers=[lambda **kw: names.append(kw["name"])])
                time.sleep(0.5)
                browser.cancel()
                info = zc.get_service_info(os2l.SERVICE, names[0], timeout=2000) if names else None
            assert info is not None and info.port == src.port
            address = socket.inet_ntoa(info.addresses[0])
            for round_ in range(3):  # connects, and comes back twice after dropping
                c = in_namespace(ns, lambda: socket.create_connection((address, info.port)))
                for k in range(2):
                    msg = {"evt": "beat", "change": round_ > 0 and k == 0, "pos": 4 * round_ + k, "bpm": BPM}
                    c.sendall(json.dumps(msg).encode())
                    time.sleep(60.0 / BPM)
                c.close()
            deadline = time.monotonic() + 3.0
            while time.monotonic() < deadline and (src.beats < 6 or src.connected):
                time.sleep(0.02)
            clock = Clock(120.0, 0.0)
            src.update(clock, time.monotonic())
            assert src.beats == 6 and src.connections == 3 and src.connected == 0 and not src.ignored
            assert clock.bpm == pytest.approx(BPM, rel=0.05) and src.advertised
        finally:
            zc.close()
            src.close()
        assert not src.thread.is_alive()
