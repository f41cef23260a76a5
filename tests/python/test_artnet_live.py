"""Art-Net output, universe synchronisation, latency per output and fixtures patched from
profiles, end to end: the live command against the decoders of test_artnet on 127.0.0.1,
and against olad's Art-Net plugin in a network namespace."""

import socket
import subprocess
import sys
import threading
import time

import kinetra
import pytest
from kinetra_live import artnet, runner, showfile
from kinetra_live.outputs import dmx
from test_artnet import make_poll_reply, read_artdmx, read_artsync, read_e131_data, read_e131_sync
from test_live import write
from test_live_e2e import NS_ADDRESS, free_port, live, namespace, play_into_olad, read_log  # noqa: F401
from test_profiles import OFL

BPM = 120.0


class RawCapture:
    """Every datagram that reaches 127.0.0.1:port, with its arrival time, in order."""

    def __init__(self, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", port))
        self.sock.settimeout(0.1)
        self.packets = []
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while self.running:
            try:
                data, _ = self.sock.recvfrom(2048)
            except OSError:
                continue
            self.packets.append((time.monotonic(), data))

    def stop(self):
        time.sleep(0.3)
        self.running = False
        self.thread.join(2)
        self.sock.close()


def head(name, output, pattern="circle", **keys):
    lines = [f'[[fixtures]]\nname = "{name}"\noutput = "{output}"\npattern = "{pattern}"']
    for k, v in keys.items():
        lines.append(f"{k} = {v}")
    return "\n".join(lines) + "\n"


def show_text(outputs, fixtures, fps=40):
    return f'[show]\nname = "test"\nfps = {fps}\n\n[tempo]\nbpm = {BPM}\n\n' + outputs + "\n" + fixtures


def play(tmp_path, text, ports, duration=2.0):
    path = write(tmp_path, text)
    caps = {p: RawCapture(p) for p in ports}
    log = tmp_path / "frames.jsonl"
    try:
        proc = live([path, "--duration", str(duration), "--frame-log", str(log)])
        _, err = proc.communicate(timeout=30)
    finally:
        for c in caps.values():
            c.stop()
    assert proc.returncode == 0, err
    frames, _ = read_log(log)
    return showfile.load(path), frames, {p: c.packets for p, c in caps.items()}


# ---- Art-Net through the command --------------------------------------------------------------


@pytest.fixture(scope="module")
def artnet_run(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("artnet")
    art, sacn = free_port(), free_port()
    outputs = (
        f'[outputs.nodes]\ntype = "artnet"\ndestination = "127.0.0.1"\nport = {art}\nsync = true\n'
        f"latency_ms = 100\n\n"
        f'[outputs.stage]\ntype = "sacn"\ndestination = "127.0.0.1"\nport = {sacn}\n'
    )
    fixtures = (
        head("a", "nodes", universe=1, address=1, channels="{ pan = 1, pan_fine = 2, tilt = 3 }")
        + head(
            "b",
            "nodes",
            net=1,
            subnet=2,
            universe=3,
            address=100,
            profile=f'"{OFL}/fixtures/generic/pan-tilt.json"',
            mode='"24bit"',
        )
        + head("still", "nodes", universe=2, address=1, channels="{ pan = 1, tilt = 2 }", scale=0)
        + head("ref", "stage", universe=9, address=1, channels="{ pan = 1, pan_fine = 2, tilt = 3 }")
    )
    s, frames, packets = play(tmp, show_text(outputs, fixtures, fps=44), [art, sacn], duration=3.0)
    return s, frames, packets[art], packets[sacn]


def test_artdmx_carries_the_logged_values_per_port_address(artnet_run):
    s, frames, packets, _ = artnet_run
    by_packet = {
        (p["universe"], p["sequence"]): f
        for f in frames
        for p in f["packets"]
        if p["output"] == "nodes" and "universe" in p
    }
    dmx_packets = [read_artdmx(p) for _, p in packets if artnet.opcode(p) == artnet.OP_DMX]
    assert len(dmx_packets) > 100
    ports = {artnet.port_address(d["net"], d["subnet"], d["universe"]) for d in dmx_packets}
    assert ports == {0x001, 0x002, 0x123}
    for d in dmx_packets:
        address = artnet.port_address(d["net"], d["subnet"], d["universe"])
        assert len(d["data"]) == 512 and d["physical"] == 0
        frame = by_packet[(address, d["sequence"])]
        for fx in s.fixtures:
            if fx.output == "nodes" and fx.patch.universe == address:
                values = frame["fixtures"][fx.name]["values"]
                assert [d["data"][c - 1] for c, _ in values] == [v for _, v in values]
    # 24 bit from the profile: three bytes per axis, in the profile's channel order
    b = next(fx for fx in s.fixtures if fx.name == "b")
    assert b.patch.channels == {"pan": 1, "pan_fine": 2, "pan_fine2": 3, "tilt": 4, "tilt_fine": 5, "tilt_fine2": 6}


def test_sequence_per_port_rate_and_keep_alive(artnet_run):
    _, _, packets, _ = artnet_run
    per_port = {}
    for t, p in packets:
        if artnet.opcode(p) == artnet.OP_DMX:
            d = read_artdmx(p)
            per_port.setdefault(artnet.port_address(d["net"], d["subnet"], d["universe"]), []).append((t, d))
    for port, got in per_port.items():
        seqs = [d["sequence"] for _, d in got]
        assert seqs[0] == 1 and all(b == a % 255 + 1 for a, b in zip(seqs, seqs[1:]))
        times = [t for t, _ in got]
        # at most 44 a second (with a little slack for the receiving thread's timestamps)
        assert all(sum(1 for u in times if t <= u < t + 0.95) <= artnet.MAX_FPS for t in times)
    still = [t for t, _ in per_port[2]]
    assert 3 <= len(still) <= 6 and all(artnet.KEEPALIVE_S - 0.05 < b - a < 1.0 for a, b in zip(still, still[1:]))


def test_artsync_follows_each_frame(artnet_run):
    _, frames, packets, _ = artnet_run
    kinds = ["S" if artnet.opcode(p) == artnet.OP_SYNC else "D" for _, p in packets]
    assert all(read_artsync(p) for _, p in packets if artnet.opcode(p) == artnet.OP_SYNC)
    # each frame's ArtDmx packets, then exactly one ArtSync, and no ArtDmx left unsynchronised
    text = "".join(kinds)
    assert text.endswith("S") and "SS" not in text and not text.startswith("S")
    assert text.count("S") == sum(1 for f in frames if any(p["output"] == "nodes" for p in f["packets"]))


def test_latency_samples_the_output_ahead_of_the_clock(artnet_run):
    s, frames, _, stage = artnet_run
    ahead = 0.100 * BPM / 60 * 64  # 12.8 pips
    for f in frames:
        assert f["fixtures"]["ref"]["pip"] == f["pip"]
        for name in ("a", "b"):  # 16 and 24 bit
            assert f["fixtures"][name]["pip"] - f["pip"] in (int(ahead), int(ahead) + 1)
            x, y, z = kinetra.sample("circle", f["fixtures"][name]["pip"]).as_tuple()
            assert [list(v) for v in dmx.values(s.fixture(name).patch, x, y, z)] == f["fixtures"][name]["values"]
    assert len(stage) > 100 and all(read_e131_data(p)["sync_address"] == 0 for _, p in stage)


# ---- E1.31 synchronisation through the command ------------------------------------------------


@pytest.mark.parametrize("sync,address", [("true", 3), ("7", 7)])
def test_e131_sync_packet_follows_each_frame(tmp_path, sync, address):
    port = free_port()
    outputs = f'[outputs.stage]\ntype = "sacn"\ndestination = "127.0.0.1"\nport = {port}\nsync = {sync}\n'
    fixtures = head("a", "stage", universe=3, address=1, channels="{ pan = 1, tilt = 2 }") + head(
        "b", "stage", universe=4, address=1, channels="{ pan = 1, tilt = 2 }"
    )
    s, frames, packets = play(tmp_path, show_text(outputs, fixtures), [port], duration=1.5)
    got = packets[port]
    kinds, syncs = [], []
    for _, p in got:
        if len(p) == 49:
            syncs.append(read_e131_sync(p))
            kinds.append("S")
        else:
            d = read_e131_data(p)
            # terminated packets at the end act at once; every other one waits for the sync packet
            assert d["sync_address"] == (0 if d["options"] & 0x40 else address) and d["cid"] == s.cid
            kinds.append("T" if d["options"] & 0x40 else "D")
    text = "".join(kinds)
    frames_sent = sum(1 for f in frames if f["packets"])
    assert text == "DDS" * frames_sent + "TT" * 3
    assert [x["sync_address"] for x in syncs] == [address] * frames_sent
    assert [x["sequence"] for x in syncs] == [(i + 1) & 0xFF for i in range(frames_sent)]


# ---- profiles ---------------------------------------------------------------------------------

FIX = OFL / "fixtures"
# (profile, mode, by-hand keys that say the same): three profiles, 16 and 24 bit, an inverted pan
PROFILED = {
    "mh-x25": (
        FIX / "stairville/mh-x25.json",
        "12ch",
        'set = { "Shutter" = 255, "Dimmer" = 200 }',
        "channels = { pan = 1, pan_fine = 3, tilt = 2, tilt_fine = 4 }\nfootprint = 12\n"
        "pan_range = 540\ntilt_range = 270\nset = { 7 = 255, 8 = 200 }",
    ),
    "pan-tilt": (
        FIX / "generic/pan-tilt.json",
        "24 bit (alternate)",
        "",
        "channels = { pan = 1, pan_fine = 3, pan_fine2 = 5, tilt = 2, tilt_fine = 4, tilt_fine2 = 6 }\n"
        "footprint = 6\npan_range = 540\ntilt_range = 180",
    ),
    "jbled": (
        FIX / "jb-lighting/jbled-a7.json",
        "C8",
        'set = { "Shutter" = 255 }\ntilt = [100, 200]',
        "channels = { pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }\nfootprint = 12\n"
        "pan_range = 430\ntilt_range = 300\ninvert_pan = true\ntilt = [100, 200]\nset = { 6 = 255 }",
    ),
}
RIG = ["mh-x25", "mh-x25", "mh-x25", "pan-tilt", "pan-tilt", "pan-tilt", "jbled", "jbled"]


def rig(port, by_hand):
    outputs = f'[outputs.nodes]\ntype = "artnet"\ndestination = "127.0.0.1"\nport = {port}\n'
    fixtures = ""
    for i, kind in enumerate(RIG):
        file, mode, extra, hand = PROFILED[kind]
        keys = dict(universe=1 + i // 4, address=1 + 20 * (i % 4), offset_beats=i * 0.25)
        fixtures += head(f"h{i}", "nodes", pattern="helix" if i % 2 else "circle", **keys)
        fixtures += hand + "\n\n" if by_hand else f'profile = "{file}"\nmode = "{mode}"\n{extra}\n\n'
    return show_text(outputs, fixtures)


class FakeSocket:
    def __init__(self):
        self.sent = []

    def sendto(self, data, addr):
        self.sent.append((bytes(data), addr))

    def close(self):
        pass


def test_eight_heads_from_three_profiles_send_the_bytes_of_the_same_patch_by_hand(tmp_path):
    streams = []
    for by_hand in (False, True):
        s = showfile.load(write(tmp_path, rig(6454, by_hand), f"rig{by_hand}.toml"))
        socks = []
        clock = iter(i / 40 for i in range(10**6))
        r = runner.Runner(
            s, now=lambda: next(clock), open_socket=lambda settings: socks.append(FakeSocket()) or socks[-1]
        )
        for _ in range(200):
            r.frame(next(clock))
        r.close()
        streams.append(socks[0].sent)
    assert len(streams[0]) >= 400 and streams[0] == streams[1]
    values = {read_artdmx(p)["data"][:6] for p, _ in streams[0]}
    assert len(values) >= 20  # the heads move


@pytest.mark.parametrize(
    "change,line,key,words",
    [
        (
            lambda t: t.replace('"12ch"', '"13ch"', 1),
            21,
            "fixtures[0].mode",
            "mh-x25.json: modes: no mode named '13ch'",
        ),
        (lambda t: t.replace("mh-x25.json", "none.json", 1), 20, "fixtures[0].profile", "none.json: cannot read"),
        (
            lambda t: t.replace('"Shutter" = 255', '"Shuter" = 255', 1),
            22,
            "fixtures[0].set.Shuter",
            "neither a channel number nor a channel of the profile's mode",
        ),
        (
            lambda t: t.replace('"Dimmer" = 200', '"8" = 200', 1).replace('"Shutter" = 255', '"Dimmer" = 1', 1),
            22,
            "fixtures[0].set.8",
            "channel 8 is already set as 'Dimmer'",
        ),
        (
            lambda t: t.replace('mode = "12ch"', 'mode = "12ch"\nfootprint = 6', 1),
            22,
            "fixtures[0].footprint",
            "must cover every channel used, up to 8",
        ),
        (
            lambda t: t.replace("port = 6454", "port = 6454\nlatency_ms = 151"),
            12,
            "outputs.nodes.latency_ms",
            "at most 150",
        ),
        (lambda t: t.replace("port = 6454", "port = 6454\nsync = 2"), 12, "outputs.nodes.sync", "true or false"),
        (lambda t: t.replace("universe = 1", "net = 128\nuniverse = 1", 1), 17, "fixtures[0].net", "from 0 to 127"),
        (
            lambda t: t.replace("universe = 1", "subnet = 1\nuniverse = 16", 1),
            18,
            "fixtures[0].universe",
            "from 0 to 15",
        ),
    ],
)
def test_profile_and_output_mistakes_name_file_line_and_key(tmp_path, change, line, key, words):
    path = write(tmp_path, change(rig(6454, False)))
    with pytest.raises(showfile.ShowError) as e:
        showfile.load(path)
    assert (e.value.line, e.value.key) == (line, key) and words in e.value.message, str(e.value)


def test_a_profiled_fixture_reaches_the_profiles_angles(tmp_path):
    """jbled-a7: pan written 430deg to 0deg: -1 lands on the high end of the channel."""
    s = showfile.load(write(tmp_path, rig(6454, False)))
    jb = s.fixture("h6").patch
    pan_lo = dict(dmx.values(jb, -1.0, 0.0, 0.0))
    pan_hi = dict(dmx.values(jb, 1.0, 0.0, 0.0))
    assert pan_lo[jb.address] > pan_hi[jb.address]
    assert (pan_lo[jb.address] << 8 | pan_lo[jb.address + 1]) == round((215 + 45) / 430 * 65535)


# ---- discovery and a real daemon --------------------------------------------------------------

NODE = """
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.2", 6454))
print("ready", flush=True)
s.settimeout(10)
packet, sender = s.recvfrom(2048)
sys.stdout.write(packet.hex() + "\\n")
s.sendto(bytes.fromhex(sys.argv[1]), (sender[0], 6454))    # nodes answer to the poller's port 6454
"""


def test_discover_lists_the_nodes_that_answer(namespace):  # noqa: F811 (a fixture)
    reply = make_poll_reply(ip="127.0.0.2", short="Node A")
    node = subprocess.Popen(
        ["ip", "netns", "exec", namespace, sys.executable, "-c", NODE, reply.hex()], stdout=subprocess.PIPE, text=True
    )
    try:
        assert node.stdout.readline().strip() == "ready"
        proc = subprocess.run(
            ["ip", "netns", "exec", namespace, sys.executable, "-m", "kinetra_live", "--discover", "127.0.0.2"],
            capture_output=True,
            text=True,
            timeout=30,
        )
        poll = bytes.fromhex(node.stdout.readline().strip())
    finally:
        node.kill()
        node.wait()
    assert proc.returncode == 0, proc.stderr
    assert artnet.opcode(poll) == artnet.OP_POLL
    assert proc.stdout.splitlines() == [
        "127.0.0.2  'Node A / A four-port node'  outputs (net:sub-net:universe): 3:10:0 3:10:1 3:10:3  #0001 [0005]"
    ]
    assert "1 Art-Net node(s) answered" in proc.stderr


@pytest.mark.parametrize("sync", [False, True])
def test_olad_receives_the_artnet_frames(namespace, tmp_path, sync):  # noqa: F811 (a fixture)
    outputs = f'[outputs.nodes]\ntype = "artnet"\ndestination = "{NS_ADDRESS}"\nsync = {str(sync).lower()}\n'
    fixtures = "".join(
        head(
            f"h{k}",
            "nodes",
            universe=1,
            address=1 + 8 * k,
            channels="{ pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4, z = 5 }",
        )
        for k in range(2)
    )
    sent, got = play_into_olad(namespace, tmp_path, show_text(outputs, fixtures), "artnet")
    assert len(got) >= 0.9 * len(sent) and len(sent) >= 70
    start = sent.index(got[0])
    assert got == sent[start : start + len(got)]
