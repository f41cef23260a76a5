"""The Pro DJ Link tempo source: packets built from the published field tables, two players
on simulated time (a handover mid-bar, pitch changes, players stopping), hostile input, the
show's keys, and one run on real sockets in a network namespace of the test's own."""

import os
import random
import socket
import statistics
import struct
import threading
import time
import types

import djlink_render as r
import netns
import pytest
from kinetra_live.clock import CATCH_UP, Clock
from kinetra_live.tempo import djlink as dl

HANDOVER = 8.2  # mid-bar for both players
END = 22.0


def players():
    one = r.Player(1, 124.0, 0.3, stop=10.0)
    two = r.Player(2, 128.0, 1.1, stop=18.0, pitches=[(12.03, 1.01), (15.01, 1.0)])
    return one, two


@pytest.mark.parametrize(
    "follow, status, leader_after",
    [
        ("master", True, 2),  # announced: the status packets hand the master over at HANDOVER
        ("master", False, 2),  # listening only: the player whose beats come, until it stops at 10 s
        (2, False, 2),  # the show names the player
    ],
)
def test_the_clock_follows_the_leading_player_within_2_ms_on_its_bars(follow, status, leader_after):
    one, two = players()
    src = r.make_source(follow)
    frames, clock = r.run(src, r.stream([one, two], [(0.0, 1), (HANDOVER, 2)], END, status), END)
    switch = {("master", True): HANDOVER, ("master", False): 10.0 + 2 * 60 / 124}.get((follow, status), 0.0)
    beat2 = 60.0 / 128.0
    followed = []
    if follow == "master":
        followed += r.errors(frames, one.beats(END), one.start + 60 / 124, switch)
    # after a handover the clock settles within two beats of the new leader
    followed += r.errors(frames, two.beats(END), max(switch, two.start) + 2 * beat2, two.stop)
    err = [abs(e) for e, _, _ in followed]
    assert statistics.median(err) < 0.002 and max(err) < 0.005, (statistics.median(err), max(err))
    # every bar on the players' downbeats
    assert all(kc % 4 == k % 4 for _, kc, k in followed)
    # no phase move faster than the catch-up, once the first grid was taken
    locked = two.start if follow == 2 else one.start
    first = next(i for i, f in enumerate(frames) if f[0] > locked + 0.05)
    assert max(abs(m) - CATCH_UP * allowed for m, allowed in r.phase_moves(frames)[first + 1 :]) <= 1e-9
    assert src.leader == leader_after
    # both stopped: the last grid is held, at the last tempo
    assert "holding" in src.status() and clock.bpm == pytest.approx(128.0, abs=0.01)


def test_a_stopped_master_gives_way_to_the_player_still_playing():
    one = r.Player(1, 124.0, 0.3, stop=6.0)
    two = r.Player(2, 126.0, 0.5)
    src = r.make_source()
    frames, clock = r.run(src, r.stream([one, two], [(0.0, 1)], 12.0), 12.0)
    assert src.leader == 2 and clock.bpm == pytest.approx(126.0)
    errs = [abs(e) for e, _, _ in r.errors(frames, two.beats(12.0), 9.0, 12.0)]
    assert max(errs) < 0.002
    assert "player 2 leads" in src.status() and "holding" not in src.status()


def test_a_resync_moves_the_bar_and_a_nudge_stays_on_top_of_the_grid():
    two = r.Player(2, 128.0, 0.1)
    src = r.make_source(2)
    events = r.stream([two], [(0.0, 2)], 12.0)
    clock = Clock(120.0, 0.0)
    for i, (t, port, data, addr) in enumerate(events):
        src.network.receive(port, data, addr, t)
        src.update(clock, t + 0.001)
        if i == len(events) // 2:
            src.command("nudge", 0.010, clock, t)
            src.command("resync", None, clock, t + 60 / 128 + 0.001)  # the next beat is a downbeat
    t, k, _ = two.beats(12.0)[-1]
    tc, kc = r.clock_beat([(t, clock.bpm, clock.t0)], t)
    assert tc - t == pytest.approx(-0.010, abs=1e-6)  # the lights 10 ms ahead
    assert (kc - k) % 4 != 0 and src.command("tap", None, clock, t) is False


# ---- hostile input ---------------------------------------------------------------------------


def _with(packet: bytes, offset: int, value: bytes) -> bytes:
    return packet[:offset] + value + packet[offset + len(value) :]


BEAT = r.beat_packet(3, 128.0)
STATUS = r.status_packet(3, 128.0, master=True)
KEEP_ALIVE = dl.keep_alive(3, b"\1" * 6, "10.251.77.3")


@pytest.mark.parametrize(
    "port, data, source, why",
    [
        (dl.BEAT_PORT, BEAT[:0x5C], "10.251.77.3", "short"),
        (dl.BEAT_PORT, BEAT[:5], "10.251.77.3", "foreign"),
        (dl.BEAT_PORT, b"x" * 0x60, "10.251.77.3", "foreign"),
        (dl.BEAT_PORT, _with(BEAT, 0x5A, b"\xff\xff"), "10.251.77.3", "out of range"),  # no track
        (dl.BEAT_PORT, _with(BEAT, 0x54, struct.pack(">I", 0x200001)), "10.251.77.3", "out of range"),
        (dl.BEAT_PORT, _with(BEAT, 0x54, b"\0\0\0\0"), "10.251.77.3", "out of range"),  # stopped
        (dl.BEAT_PORT, _with(BEAT, 0x5A, struct.pack(">H", 1)), "10.251.77.3", "out of range"),
        (dl.BEAT_PORT, _with(BEAT, 0x5C, b"\x05"), "10.251.77.3", "out of range"),
        (dl.BEAT_PORT, _with(BEAT, 0x5C, b"\x00"), "10.251.77.3", "out of range"),
        (dl.BEAT_PORT, _with(BEAT, 0x21, b"\x00"), "10.251.77.3", "out of range"),
        (dl.BEAT_PORT, _with(BEAT, 0x5F, b"\x04"), "10.251.77.3", "out of range"),
        (dl.BEAT_PORT, _with(BEAT, 0x21, b"\xc8"), "10.251.77.3", "out of range"),
        (dl.BEAT_PORT, BEAT, "10.251.77.1", "own"),
        (dl.BEAT_PORT, r.beat_packet(7, 128.0), "10.251.77.9", "own"),  # our device number
        (dl.BEAT_PORT, BEAT, "192.168.1.5", "foreign"),  # not the interface's network
        (dl.STATUS_PORT, STATUS[:0xA0], "10.251.77.3", "short"),
        (dl.STATUS_PORT, _with(STATUS, 0x8C, b"\xff\xff\xff\xff"), "10.251.77.3", "out of range"),
        (dl.ANNOUNCE_PORT, KEEP_ALIVE[:0x30], "10.251.77.3", "short"),
        (dl.ANNOUNCE_PORT, _with(KEEP_ALIVE, 0x24, b"\0"), "10.251.77.3", "out of range"),
    ],
)
def test_malformed_foreign_and_own_packets_are_counted_and_ignored(port, data, source, why):
    import ipaddress

    src = r.make_source(own="10.251.77.1")
    src.network.network = ipaddress.ip_network("10.251.77.0/24")
    src.network.device = 7
    src.network.receive(port, data, source, 1.0)
    assert src.network.ignored == {why: 1} and not src.network.devices and src.network.leader is None
    src.update(clock := Clock(120.0, 0.0), 1.0)
    assert (clock.bpm, clock.t0) == (120.0, 0.0)


def test_a_thousand_bad_packets_a_second_change_nothing():
    two = r.Player(2, 128.0, 0.1)
    rng = random.Random(5)
    good = r.stream([two], [(0.0, 2)], 10.0)
    bad = []
    for i in range(10000):
        data = bytearray(rng.choice((BEAT, STATUS)))
        for _ in range(rng.randint(1, 6)):
            data[rng.randrange(0x21, len(data))] = rng.randrange(256)
        data = bytes(data[: rng.choice((len(data), rng.randrange(len(data))))])
        # the device's own number would be its own packet: keep the flood off player 2
        data = _with(data, 0x21, b"\x05") if len(data) > 0x21 else data
        bad.append((i / 1000.0, rng.choice((dl.BEAT_PORT, dl.STATUS_PORT)), data, "10.251.77.5"))
    clean, _ = r.run(r.make_source(2), good, 10.0)
    flooded_src = r.make_source(2)
    flooded, _ = r.run(flooded_src, sorted(good + bad, key=lambda e: e[0]), 10.0)
    assert [f[1:] for f in flooded] == [f[1:] for f in clean]
    n = flooded_src.network
    assert sum(n.ignored.values()) + n.unused >= 0.5 * len(bad) and n.leader == 2


def test_announcing_moves_off_a_number_another_device_takes():
    src = r.make_source()
    src.network.device = 7
    for number in (7, 8):
        src.network.receive(dl.ANNOUNCE_PORT, dl.keep_alive(number, bytes([number] * 6), "10.0.0.9"), "10.0.0.9", 1.0)
    assert src.network.device == 9 and src.network.moved == 2
    assert dl.parse_keep_alive(dl.keep_alive(9, b"\1\2\3\4\5\6", "10.0.0.1")) == (9, b"\1\2\3\4\5\6", "10.0.0.1")


# ---- the show file ---------------------------------------------------------------------------


def tempo_show(tmp_path, lines: str):
    import inputs_fakes as fakes

    path, text = fakes.show_with(tmp_path, "")
    text = text.replace("[tempo]\nbpm = 120\n", "[tempo]\nbpm = 120\n" + lines)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path, text


@pytest.mark.parametrize(
    "lines, needle, key, reason",
    [
        ('source = "djlink"\nfollow = "slave"\n', "follow", "tempo.follow", 'must be "master" or a player'),
        ('source = "djlink"\nfollow = 0\n', "follow", "tempo.follow", "from 1 to 127"),
        ('source = "djlink"\ndjlink_announce = true\n', "djlink_announce", "tempo.djlink_announce", "needs djlink_"),
        (
            'source = "djlink"\ndjlink_interface = "eth0"\ndjlink_announce = true\ndjlink_device = 3\n',
            "djlink_device",
            "tempo.djlink_device",
            "must be from 7 to 15",
        ),
        ('source = "djlink"\ndjlink_device = 8\n', "djlink_device", "tempo.djlink_device", "only with djlink_announce"),
        ('source = "audio"\nfollow = 2\n', "follow", "tempo.follow", 'only with source = "djlink"'),
        ('source = "djlink"\nos2l_port = 9996\n', "os2l_port", "tempo.os2l_port", 'only with source = "os2l"'),
        ('source = "os2l"\nos2l_port = 70000\n', "os2l_port", "tempo.os2l_port", "must be from 0 to 65535"),
        ('source = "os2l"\nos2l_host = "dj-pc"\n', "os2l_host", "tempo.os2l_host", "must be an IP address"),
        ('source = "os2l"\nos2l_commands = { x = "wide" }\n', "os2l_commands", "tempo.os2l_commands.x", "number"),
        ('source = "os2l"\nos2l_buttons = { drop = 3 }\n', "os2l_buttons", "tempo.os2l_buttons.drop", "a cue's name"),
        ('source = "os2l"\nos2l_buttons = { drop = "nope" }\n', "os2l_buttons", "tempo.os2l_buttons.drop", "no cue"),
    ],
)
def test_tempo_keys_of_the_two_sources_name_file_line_and_key(tmp_path, lines, needle, key, reason):
    from kinetra_live import model, showfile

    path, text = tempo_show(tmp_path, lines)
    with pytest.raises(model.ShowError) as info:
        showfile.load(path)
    line = text[: text.index(needle)].count("\n") + 1
    assert str(info.value).startswith(f"{path}:{line}: {key}: ") and reason in str(info.value), str(info.value)


def test_the_keys_of_a_good_show_reach_the_sources(tmp_path):
    from kinetra_live import showfile

    lines = 'source = "djlink"\ndjlink_interface = "eth0"\nfollow = 2\ndjlink_announce = true\ndjlink_device = 9\n'
    t = showfile.load(tempo_show(tmp_path, lines)[0]).tempo
    assert (t.follow, t.djlink_interface, t.djlink_announce, t.djlink_device) == (2, "eth0", True, 9)
    lines = 'source = "os2l"\nos2l_port = 9996\nos2l_buttons = { drop = "tight" }\nos2l_commands = { 3 = "wide" }\n'
    t = showfile.load(tempo_show(tmp_path, lines)[0]).tempo
    assert (t.os2l_host, t.os2l_port, t.os2l_buttons, t.os2l_commands) == (
        "127.0.0.1",
        9996,
        {"drop": "tight"},
        {3: "wide"},
    )


# ---- real sockets ----------------------------------------------------------------------------

NS_OWN, NS_PLAYER = "10.251.77.1", "10.251.77.3"


def in_namespace(ns, make):
    """`make()` run in a thread that entered the namespace (the sockets it opens, and the
    threads it starts, live there)."""
    made = {}

    def run():
        with open(f"/var/run/netns/{ns}") as fd:
            os.setns(fd.fileno(), os.CLONE_NEWNET)
        made["value"] = make()

    t = threading.Thread(target=run)
    t.start()
    t.join()
    return made["value"]


def test_beats_and_status_broadcast_on_a_network_reach_the_clock():
    why = netns.why_not()
    if why:
        pytest.skip(why)
    with netns.veth_namespace("kinetra-djl", NS_OWN, (NS_PLAYER,)) as ns:
        tempo = types.SimpleNamespace(bpm=120.0, beats_per_bar=4, follow="master", djlink_interface="kl0")
        tempo.djlink_announce, tempo.djlink_device = True, None

        def make():
            src = dl.DjLink(tempo, Clock(120.0, 0.0), time.monotonic, {})
            player = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            player.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
            player.bind((NS_PLAYER, 0))
            return src, player

        src, player = make_in = in_namespace(ns, make)
        try:
            assert src.iface.address == NS_OWN and src.iface.broadcast == "10.251.77.255"
            bcast = src.iface.broadcast
            for k in range(5):
                player.sendto(r.status_packet(3, 128.0, master=True), (bcast, dl.STATUS_PORT))
                player.sendto(r.beat_packet(3, 128.0, place=k % 4 + 1), (bcast, dl.BEAT_PORT))
                for _ in range(40):  # garbage, a thousand a second
                    player.sendto(os.urandom(random.randrange(1, 300)), (bcast, dl.BEAT_PORT))
                    time.sleep(0.001)
                time.sleep(max(0.0, 60 / 128 - 0.05))
            deadline = time.monotonic() + 3.0
            while time.monotonic() < deadline and not src.network.ignored["own"]:
                time.sleep(0.05)  # our own keep-alive, back from the broadcast
            clock = Clock(120.0, 0.0)
            src.update(clock, time.monotonic())
            n = src.network
            assert n.leader == 3 and clock.bpm == pytest.approx(128.0) and n.devices[3].master
            assert n.ignored["foreign"] >= 150 and n.ignored["own"] >= 1
            assert "player 3 leads" in src.status() and "as device 7" in src.status()
        finally:
            src.close()
            player.close()
        assert not src.thread.is_alive() and make_in
