"""Several players in one Link session: two `kinetra-live` processes with `source = "link"`
and a third, plain aalink peer, all in a network namespace of the test's own (Link finds its
peers by multicast; the namespace keeps that traffic off every real network). Each player
sends sACN to a receiver on the namespace's 127.0.0.1."""

import json
import os
import pathlib
import socket
import statistics
import subprocess
import sys
import threading
import time

import netns
import pytest

BPM = 128.0
NEW_BPM = 140.0
SETTLE_S = 4.0  # both players joined and agreed on the session by then
WINDOW_S = 20.0  # pips compared over this long at BPM
AFTER_S = 4.0  # then the third peer changes the tempo; the players run this much longer
PIPS_PER_BEAT = 64
NS_ADDRESS = "127.78.0.1"

SHOW = """\
[show]
name = "{name}"

[tempo]
bpm = {bpm}
source = "link"

[outputs.stage]
type = "sacn"
destination = "127.0.0.1"
port = {port}

[[fixtures]]
name = "head"
output = "stage"
pattern = "circle"
universe = 1
address = 1
channels = {{ pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }}
"""

# The third peer: joins at BPM, changes the session's tempo at a given moment, says when.
PEER = """\
import asyncio, sys, time
from aalink import Link

async def main():
    change_at, end_at = float(sys.argv[1]), float(sys.argv[2])
    link = Link({bpm})
    link.enabled = True
    while time.monotonic() < change_at:
        await asyncio.sleep(0.005)
    link.tempo = {new_bpm}
    print(json.dumps({{"changed": time.monotonic()}}), flush=True)
    while time.monotonic() < end_at:
        await asyncio.sleep(0.05)
    link.enabled = False

import json
asyncio.run(main())
"""


def _why_not():
    try:
        import aalink  # noqa: F401
    except ImportError:
        return "aalink not installed (scripts/requirements-dev.txt has it)"
    return netns.why_not()


def namespace():
    # Link finds its peers on interfaces other than loopback
    return netns.veth_namespace("kinetra-link", NS_ADDRESS)


class Receiver:
    """A UDP socket on 127.0.0.1 inside the namespace, collecting E1.31 packets."""

    def __init__(self, ns):
        made = {}

        def make():
            with open(f"/var/run/netns/{ns}") as fd:
                os.setns(fd.fileno(), os.CLONE_NEWNET)  # this thread only
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind(("127.0.0.1", 0))
            made["sock"] = s

        t = threading.Thread(target=make)
        t.start()
        t.join()
        self.sock = made["sock"]
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.packets = []
        self.running = True
        self.thread = threading.Thread(target=self._loop, daemon=True)
        self.thread.start()

    def _loop(self):
        while self.running:
            try:
                data, _ = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            self.packets.append(data)

    def stop(self):
        self.running = False
        self.thread.join()
        self.sock.close()

    def terminated(self):
        """Stream-terminated flags (options bit 6) of the packets, in arrival order."""
        return [len(p) > 112 and bool(p[112] & 0x40) for p in self.packets if p[4:16] == b"ASC-E1.17\0\0\0"]


def read_frames(path):
    return [r for r in map(json.loads, pathlib.Path(path).read_text().splitlines()) if "pip" in r]


def position(frame, t):
    """A player's musical position (pips, fractional) at time t, from one frame's clock."""
    return (t + frame["latency_s"] - frame["t0"]) * frame["bpm"] / 60.0 * PIPS_PER_BEAT


def run_session(ns, tmp_path):
    """Runs the two players and the third peer; returns (frames A, frames B, time of the
    tempo change, receivers, players' stderr)."""
    receivers = [Receiver(ns), Receiver(ns)]
    start = time.monotonic()
    change_at = start + SETTLE_S + WINDOW_S + 1.0
    end_at = change_at + AFTER_S + 2.0
    peer_script = tmp_path / "peer.py"
    peer_script.write_text(PEER.format(bpm=BPM, new_bpm=NEW_BPM))
    netns = ["ip", "netns", "exec", ns]
    env = dict(os.environ, PYTHONWARNINGS="ignore::DeprecationWarning")
    peer = subprocess.Popen(
        [*netns, sys.executable, str(peer_script), str(change_at), str(end_at)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
    )
    players, logs = [], []
    try:
        time.sleep(1.0)
        duration = change_at + AFTER_S - time.monotonic()
        for i, rx in enumerate(receivers):
            show = tmp_path / f"player{i}.toml"
            show.write_text(SHOW.format(name=f"player{i}", bpm=BPM, port=rx.port))
            log = tmp_path / f"frames{i}.jsonl"
            logs.append(log)
            players.append(
                subprocess.Popen(
                    [
                        *netns,
                        sys.executable,
                        "-m",
                        "kinetra_live",
                        str(show),
                        "--duration",
                        f"{duration - i * 0.7:.2f}",
                        "--frame-log",
                        str(log),
                    ],
                    stdin=subprocess.DEVNULL,
                    stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE,
                    text=True,
                    env=env,
                )
            )
            time.sleep(0.7)  # the second player joins a running session
        errs = [p.communicate(timeout=60)[1] for p in players]
        out, perr = peer.communicate(timeout=30)
    finally:
        for p in players + [peer]:
            if p.poll() is None:
                p.kill()
                p.wait()
        time.sleep(0.2)
        for rx in receivers:
            rx.stop()
    for p, err in zip(players, errs):
        assert p.returncode == 0, err
    assert peer.returncode == 0, perr
    changed = json.loads(out.splitlines()[-1])["changed"]
    return read_frames(logs[0]), read_frames(logs[1]), changed, receivers, start


def pip_differences(a, b, t_from, t_to):
    """Pip of each frame of A minus B's pip at the same moment (from B's nearest frame)."""
    diffs = []
    j = 0
    for fa in a:
        t = fa["t"]
        if not t_from <= t <= t_to:
            continue
        while j + 1 < len(b) and abs(b[j + 1]["t"] - t) <= abs(b[j]["t"] - t):
            j += 1
        pip_b = int(position(b[j], t) // 1)
        diffs.append(fa["pip"] - pip_b)
    return diffs


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    why = _why_not()
    if why:
        pytest.skip(why)
    with namespace() as ns:
        yield run_session(ns, tmp_path_factory.mktemp("link"))


def test_two_players_agree_within_one_pip(session):
    a, b, changed, _, start = session
    t_from = max(a[0]["t"], b[0]["t"]) + SETTLE_S - 0.7
    diffs = pip_differences(a, b, t_from, t_from + WINDOW_S)
    assert len(diffs) >= WINDOW_S * 40 * 0.9
    assert all(f["bpm"] == pytest.approx(BPM, abs=0.01) for f in a + b if t_from <= f["t"] <= changed)
    assert max(abs(d) for d in diffs) <= 1, statistics.median(diffs)


def test_a_tempo_change_of_a_third_peer_reaches_both_within_a_beat(session):
    a, b, changed, _, _ = session
    for frames in (a, b):
        first = next(f["t"] for f in frames if f["t"] >= changed - 0.5 and abs(f["bpm"] - NEW_BPM) < 0.01)
        assert first - changed <= 60.0 / BPM
    end = min(a[-1]["t"], b[-1]["t"])
    assert max(abs(d) for d in pip_differences(a, b, changed + 60.0 / BPM, end)) <= 1


def test_both_players_send_and_end_their_streams(session):
    a, b, _, receivers, _ = session
    for frames, rx in zip((a, b), receivers):
        flags = rx.terminated()
        assert len(flags) >= 0.9 * len(frames)
        assert flags[-3:] == [True, True, True] and not any(flags[:-3])
