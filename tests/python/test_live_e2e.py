"""End to end: the live command against independent receivers on 127.0.0.1 (the
`sacn` package's receiving socket and packet parser, a python-osc server), and
against a real lighting daemon (olad) in a network namespace of its own."""

import dataclasses
import json
import math
import os
import pathlib
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import kinetra
import netns
import pytest
from kinetra_live import showfile
from kinetra_live.outputs import dmx
from test_live import HEAD_FIXTURE, make_show

BPM = 120.0


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SacnCapture:
    """Every E1.31 packet that arrives, with its arrival time on the monotonic clock."""

    def __init__(self, port):
        from sacn.messages.data_packet import DataPacket
        from sacn.receiving.receiver_socket_base import ReceiverSocketListener
        from sacn.receiving.receiver_socket_udp import ReceiverSocketUDP

        self.packets = []
        capture = self

        class Listener(ReceiverSocketListener):
            def on_data(self, data, current_time):
                capture.packets.append((time.monotonic(), DataPacket.make_data_packet(data)))

            def on_periodic_callback(self, current_time):
                pass

        self.socket = ReceiverSocketUDP(Listener(), "127.0.0.1", port)
        self.socket.start()

    def stop(self):
        self.socket.stop()


class OscCapture:
    def __init__(self, port):
        from pythonosc.dispatcher import Dispatcher
        from pythonosc.osc_server import ThreadingOSCUDPServer

        self.messages = []
        d = Dispatcher()
        d.set_default_handler(lambda addr, *args: self.messages.append((time.monotonic(), addr, args)))
        self.server = ThreadingOSCUDPServer(("127.0.0.1", port), d)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def live(args, **kw):
    return subprocess.Popen(
        [sys.executable, "-m", "kinetra_live", *args],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        **kw,
    )


def e2e_show(tmp_path, sacn_port, osc_port):
    text = make_show(heads=2, port=sacn_port, osc_port=osc_port)
    # a head that never moves, on a universe of its own: only keep-alive packets after the first three
    text += HEAD_FIXTURE.format(name="still", pattern="circle", universe=2, address=1) + "scale = 0\n"
    path = tmp_path / "show.toml"
    path.write_text(text, encoding="utf-8")
    return str(path)


def read_log(path):
    frames, terminated = [], []
    for line in pathlib.Path(path).read_text().splitlines():
        rec = json.loads(line)
        (terminated.extend(rec["terminated"]) if "terminated" in rec else frames.append(rec))
    return frames, terminated


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("live")
    sacn_port, osc_port = free_port(), free_port()
    rx, osc = SacnCapture(sacn_port), OscCapture(osc_port)
    try:
        show = e2e_show(tmp, sacn_port, osc_port)
        log = tmp / "frames.jsonl"
        proc = live([show, "--duration", "4", "--frame-log", str(log)])
        out, err = proc.communicate(timeout=30)
        time.sleep(0.3)
    finally:
        rx.stop()
        osc.stop()
    assert proc.returncode == 0, err
    frames, terminated = read_log(log)
    return showfile.load(show), frames, terminated, rx.packets, osc.messages


def test_received_bytes_are_the_encoding_of_the_pattern_at_the_logged_pips(run):
    s, frames, _, packets, _ = run
    by_packet = {(p["universe"], p["sequence"]): f for f in frames for p in f["packets"]}
    data = [(t, p) for t, p in packets if not p.option_StreamTerminated]
    assert len(data) > 100
    for _, p in data:
        frame = by_packet[(p.universe, p.sequence)]
        assert p.sourceName == "test" and p.priority == 100 and bytes(p.cid) == s.cid
        for fx in s.fixtures:
            if fx.kind != "sacn" or fx.patch.universe != p.universe:
                continue
            pip = frame["fixtures"][fx.name]["pip"]
            expected = dmx.values(fx.patch, *scaled(fx, kinetra.sample(fx.look.pattern, pip)))
            assert [[c, v] for c, v in expected] == frame["fixtures"][fx.name]["values"]
            assert [p.dmxData[c - 1] for c, _ in expected] == [v for _, v in expected]


def scaled(fx, offset):
    return tuple(min(1.0, max(-1.0, v * k)) for v, k in zip(offset.as_tuple(), fx.look.scale))


def test_pips_follow_the_clock_without_drift(run):
    s, frames, _, packets, _ = run
    for f in frames:
        assert f["pip"] == math.floor((f["t"] + f["latency_s"] - f["t0"]) * f["bpm"] / 60.0 * 64)
        # the group spreads 16 pips: its k-th member runs k times 16 pips behind the first
        assert [f["fixtures"][name]["pip"] for name in ("head1", "head2", "still", "visual")] == [
            f["pip"],
            f["pip"] - 16,
            f["pip"] - 32,
            f["pip"],
        ]
    # against the receiver's own clock: where the music is when a packet arrives
    by_packet = {(p["universe"], p["sequence"]): f for f in frames for p in f["packets"]}
    t0 = frames[0]["t0"]
    lags = [
        t - t0 - by_packet[(p.universe, p.sequence)]["pip"] / (BPM / 60 * 64)
        for t, p in packets
        if p.universe == 1 and not p.option_StreamTerminated
    ]
    assert 0 <= min(lags) and statistics.median(lags) < 0.010 and max(lags) < 0.2
    half = len(lags) // 2
    assert abs(statistics.median(lags[half:]) - statistics.median(lags[:half])) < 0.003  # no drift


def test_frame_rate_jitter_and_sequence_numbers(run):
    _, frames, _, packets, _ = run
    times = [t for t, p in packets if p.universe == 1 and not p.option_StreamTerminated]
    gaps = sorted(b - a for a, b in zip(times, times[1:]))
    rate = (len(times) - 1) / (times[-1] - times[0])
    assert 37.0 <= rate <= 40.5  # at most 40: never faster than asked
    assert abs(statistics.median(gaps) - 0.025) < 0.003
    assert gaps[int(0.99 * (len(gaps) - 1))] < 0.060  # a shared machine stalls now and then
    for u in (1, 2):
        seqs = [p.sequence for _, p in packets if p.universe == u]
        assert seqs[0] == 1 and all(b == (a + 1) % 256 for a, b in zip(seqs, seqs[1:]))


def test_unchanged_data_is_kept_alive(run):
    _, _, _, packets, _ = run
    times = [t for t, p in packets if p.universe == 2 and not p.option_StreamTerminated]
    assert times[2] - times[0] < 0.08  # sent three times at the frame rate
    assert all(0.7 < b - a <= 1.0 for a, b in zip(times[2:], times[3:]))
    assert len(times) >= 6


def test_three_stream_terminated_packets_end_each_universe(run):
    _, _, terminated, packets, _ = run
    for u in (1, 2):
        ours = [p for _, p in packets if p.universe == u]
        assert [p.option_StreamTerminated for p in ours[-4:]] == [False, True, True, True]
    assert len(terminated) == 6


def test_osc_messages_carry_the_pattern_as_floats(run):
    s, frames, _, _, messages = run
    assert abs(len(messages) - len(frames)) <= 1
    visual = s.fixture("visual")
    for (_, addr, args), f in zip(messages, frames):
        x, y, z = kinetra.sample("helix", f["fixtures"]["visual"]["pip"]).as_tuple()
        assert addr == visual.patch.address
        assert args == pytest.approx((x, y, z), abs=1e-6)


def test_ctrl_c_sends_the_termination_packets(tmp_path):
    port = free_port()
    rx = SacnCapture(port)
    try:
        proc = live([e2e_show(tmp_path, port, free_port())])
        time.sleep(1.5)
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=20)
        time.sleep(0.3)
    finally:
        rx.stop()
    assert proc.returncode == 0, err
    for u in (1, 2):
        ours = [p for _, p in rx.packets if p.universe == u]
        assert [p.option_StreamTerminated for p in ours[-4:]] == [False, True, True, True]


def test_a_bad_show_sends_nothing(tmp_path):
    port = free_port()
    rx = SacnCapture(port)
    try:
        text = e2e_show(tmp_path, port, free_port())
        bad = pathlib.Path(text).read_text().replace("address = 9", "address = 4")
        pathlib.Path(text).write_text(bad)
        proc = live([text, "--duration", "1"])
        _, err = proc.communicate(timeout=20)
        time.sleep(0.5)
    finally:
        rx.stop()
    assert proc.returncode == 1 and "overlap fixture 'head1'" in err
    assert rx.packets == []


# ---- a real lighting daemon -----------------------------------------------------------------

OLA_USER = "kinetra-ola"
NS_ADDRESS = "127.77.0.1"


def _namespaces_permitted():
    if shutil.which("olad") is None:
        return "olad is not installed (scripts/test.sh installs the ola package)"
    return netns.why_not()


@pytest.fixture
def namespace():
    why = _namespaces_permitted()
    if why:
        pytest.skip(why)
    with netns.veth_namespace("kinetra-live", NS_ADDRESS) as name:
        yield name


OLA_PLUGINS = (
    "artnet",
    "dummy",
    "e131",
    "espnet",
    "ftdidmx",
    "gpio",
    "karate",
    "kinet",
    "milinst",
    "opendmx",
    "openpixelcontrol",
    "osc",
    "pathport",
    "renard",
    "sandnet",
    "shownet",
    "spi",
    "stageprofi",
    "uartdmx",
    "usbdmx",
    "usbserial",
)
# The one plugin olad runs: its settings and the name its device shows in ola_dev_info.
OLA_RECEIVERS = {
    "e131": (
        "E1.31",
        f"enabled = true\nip = {NS_ADDRESS}\ninput_ports = 1\noutput_ports = 0\n"
        "ignore_preview = true\nrevision = 0.46\ndraft_discovery = false\nprepend_hostname = false\n"
        "dscp = 0\ncid = 6c0f3c52-0000-4c1e-9a57-2f3d1b7e5a10\n",
    ),
    "artnet": (
        "ArtNet",
        f"enabled = true\nip = {NS_ADDRESS}\nnet = 0\nsubnet = 0\nshort_name = kinetra test\n"
        "use_limited_broadcast = false\nuse_loopback = false\n",
    ),
}


def _start_olad(ns, confdir, plugin="e131"):
    """olad in the namespace with only `plugin` running, its first input port patched to universe 1."""
    if subprocess.run(["id", OLA_USER], capture_output=True).returncode != 0:
        subprocess.run(
            ["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", OLA_USER], check=True
        )
    confdir.mkdir()
    device, settings = OLA_RECEIVERS[plugin]
    for other in OLA_PLUGINS:
        (confdir / f"ola-{other}.conf").write_text(settings if other == plugin else "enabled = false\n")
    shutil.chown(confdir.parent, OLA_USER)
    for p in [confdir, *confdir.iterdir()]:
        shutil.chown(p, OLA_USER)
    olad = subprocess.Popen(
        [
            "ip",
            "netns",
            "exec",
            ns,
            "runuser",
            "-u",
            OLA_USER,
            "--",
            "olad",
            "-c",
            str(confdir),
            "--no-http",
            "--no-register-with-dns-sd",
        ],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        info = subprocess.run(["ip", "netns", "exec", ns, "ola_dev_info"], capture_output=True, text=True)
        if device in info.stdout:
            dev = info.stdout.split("Device ")[1].split(":")[0]
            subprocess.run(
                ["ip", "netns", "exec", ns, "ola_patch", "-d", dev, "-p", "0", "-i", "-u", "1"],
                check=True,
                capture_output=True,
            )
            return olad
        time.sleep(0.3)
    olad.kill()
    pytest.fail(f"olad did not start its {device} device: " + olad.communicate()[1][-2000:])


@pytest.mark.parametrize("delivery", ["unicast", "multicast"])
def test_olad_receives_the_frames(namespace, tmp_path, delivery):
    text = make_show(heads=2, visual=False)
    target = (
        f'destination = "{NS_ADDRESS}"' if delivery == "unicast" else f'multicast = true\ninterface = "{NS_ADDRESS}"'
    )
    text = text.replace('destination = "127.0.0.1"\nport = 5568', target)
    sent, got = play_into_olad(namespace, tmp_path, text, "e131")
    assert len(got) >= 0.9 * len(sent) and len(sent) >= 70
    # what olad read back is what was sent, frame after frame, in order
    start = sent.index(got[0])
    assert got == sent[start : start + len(got)]


def play_into_olad(namespace, tmp_path, text, plugin, duration=2):
    """Plays the show (universe 1) in the namespace into olad running `plugin`; returns the
    universe as sent in each frame that sent packets, and as olad recorded it."""
    confdir = pathlib.Path(tempfile.mkdtemp(prefix="kinetra-ola-"))  # readable by the olad user
    olad = _start_olad(namespace, confdir / "ola", plugin)
    try:
        show = tmp_path / "show.toml"
        show.write_text(text.replace('[outputs.visual]\ntype = "osc"\nhost = "127.0.0.1"\nport = 9000\n', ""))
        record = tmp_path / "recorded.txt"
        recorder = subprocess.Popen(
            ["ip", "netns", "exec", namespace, "ola_recorder", "-r", str(record), "-u", "1"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
        )
        time.sleep(1.0)
        log = tmp_path / "frames.jsonl"
        proc = subprocess.run(
            [
                "ip",
                "netns",
                "exec",
                namespace,
                sys.executable,
                "-m",
                "kinetra_live",
                str(show),
                "--duration",
                str(duration),
                "--frame-log",
                str(log),
            ],
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            timeout=30,
        )
        assert proc.returncode == 0, proc.stderr
        time.sleep(0.5)
        recorder.send_signal(signal.SIGINT)
        recorder.wait(timeout=10)
    finally:
        olad.send_signal(signal.SIGTERM)
        try:
            olad.wait(timeout=10)
        except subprocess.TimeoutExpired:
            olad.kill()
        shutil.rmtree(confdir, ignore_errors=True)
    frames, _ = read_log(log)
    s = showfile.load(str(show))
    sent = []
    for f in frames:
        if f["packets"]:
            universe = [0] * 512
            for fx in s.fixtures:
                for c, v in f["fixtures"][fx.name]["values"]:
                    universe[c - 1] = v
            sent.append(universe)
    got = [
        [int(v) for v in line.split(" ", 1)[1].split(",")]
        for line in record.read_text().splitlines()
        if line.startswith("1 ")
    ]
    return sent, got


# ---- performing: keys on a terminal launch cues -----------------------------------------------

CUE_KEYS = """
[[cues]]
name = "drop"
key = "1"
quantize = "bar"
set.heads = { pattern = "figure_eight", scale = [0.5, 1, 1] }
"""


def test_a_key_on_the_terminal_launches_a_cue_that_lands_on_the_bar(tmp_path):
    import pty

    port = free_port()
    rx = SacnCapture(port)
    path = tmp_path / "show.toml"
    path.write_text(make_show(heads=2, port=port, visual=False) + CUE_KEYS, encoding="utf-8")
    log = tmp_path / "frames.jsonl"
    master, slave = pty.openpty()
    try:
        proc = subprocess.Popen(
            [
                sys.executable,
                "-m",
                "kinetra_live",
                str(path),
                "--duration",
                "4",
                "--frame-log",
                str(log),
                "--no-status",
            ],
            stdin=slave,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        os.close(slave)
        time.sleep(1.2)
        os.write(master, b"1")
        _, err = proc.communicate(timeout=30)
        time.sleep(0.3)
    finally:
        os.close(master)
        rx.stop()
    assert proc.returncode == 0, err
    frames, _ = read_log(log)
    s = showfile.load(str(path))
    landing = [i for i, f in enumerate(frames) if "landed" in f]
    assert len(landing) == 1
    i = landing[0]
    boundary = frames[i]["landed"][0]["boundary"]
    assert boundary % 256 == 0 and frames[i - 1]["pip"] < boundary <= frames[i]["pip"]
    by_packet = {p["sequence"]: f for f in frames for p in f["packets"] if p["universe"] == 1}
    head1 = s.fixture("head1")
    cue_look = dataclasses.replace(head1.look, pattern="figure_eight", scale=(0.5, 1.0, 1.0))
    switched = []
    for _, p in rx.packets:
        if p.option_StreamTerminated or p.sequence not in by_packet:
            continue
        f = by_packet[p.sequence]
        look = cue_look if f["pip"] >= boundary else head1.look
        pip = f["fixtures"]["head1"]["pip"]
        want = dmx.values(
            head1.patch, *scaled(dataclasses.replace(head1, look=look), kinetra.sample(look.pattern, pip))
        )
        assert [p.dmxData[c - 1] for c, _ in want] == [v for _, v in want]
        switched.append(f["pip"] >= boundary)
    assert switched.count(False) > 10 and switched.count(True) > 10
