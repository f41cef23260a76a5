"""Faults the show rides out: a tempo source that raises (restarted, then left for a steady
tempo), an output whose network goes away (counted, the other outputs unaffected, back by
itself, names resolved again), in a network namespace of the test's own with its interface
taken down and up during a run."""

import errno
import json
import logging
import subprocess
import sys

import netns
import pytest
from kinetra_live import faults, runner
from kinetra_live.commands import Command
from kinetra_live.outputs import net
from kinetra_live.tempo import base
from test_live import make_show, write
from test_live_engine import FakeSocket, make
from test_live_state import Clocks, play

# ---- tempo sources that raise ---------------------------------------------------------------


class Flaky(base.TempoSource):
    """Raises from `where` on calls number `bad` (counted over every instance)."""

    calls = 0
    made = 0
    where = "update"
    bad: tuple = ()
    refuse_after = None  # instances made beyond this raise in __init__

    def __init__(self, tempo, clock, now, options):
        Flaky.made += 1
        if Flaky.refuse_after is not None and Flaky.made > Flaky.refuse_after:
            raise RuntimeError("device gone")
        super().__init__(tempo, clock, now, options)

    def _maybe(self, where):
        if where == Flaky.where:
            Flaky.calls += 1
            if Flaky.calls in Flaky.bad or Flaky.bad == "all":
                raise ValueError(f"broken {where}")

    def update(self, clock, now):
        self._maybe("update")

    def command(self, name, arg, clock, now):
        self._maybe("command")
        return super().command(name, arg, clock, now)

    def status(self):
        self._maybe("status")
        return "flaky"


@pytest.mark.parametrize(
    "where,bad,refuse_after,made,note",
    [
        ("update", (5,), None, 2, "restarted after 1 error"),
        ("command", (2, 3), None, 3, "restarted after 2 error"),
        ("update", "all", None, 1 + faults.MAX_RESTARTS, "off (4 errors): steady at the last tempo"),
        ("update", (3,), 1, 2, "off (device gone)"),
    ],
    ids=["update once", "command twice", "always", "restart refused"],
)
def test_a_failing_tempo_source_is_logged_once_restarted_or_left_and_the_show_plays_on(
    tmp_path, monkeypatch, caplog, where, bad, refuse_after, made, note
):
    for name, value in dict(calls=0, made=0, where=where, bad=bad, refuse_after=refuse_after).items():
        monkeypatch.setattr(Flaky, name, value)
    monkeypatch.setitem(runner.tempo.SOURCES, "fixed", Flaky)
    clocks = Clocks()
    r = runner.Runner(make(tmp_path), now=lambda: clocks.t, open_socket=FakeSocket)
    with caplog.at_level(logging.WARNING, logger="kinetra_live"):
        play(r, clocks, 3.0, [(k * 0.1, Command("tempo", 0.1)) for k in range(20)])
    assert r.frames >= 120
    assert Flaky.made == made
    assert sum(1 for rec in caplog.records if rec.exc_info) == 1  # one traceback, however often it fails
    assert note in r.status_line(clocks.t)
    # the tempo it had is kept: the steps before the failure count, the lights go on on the beat
    assert r.clock.bpm > 120.0
    r.close()


# ---- outputs whose network goes away ------------------------------------------------------


class Unplugged(FakeSocket):
    """Fails every send with `err` while `down` is true."""

    def __init__(self, settings=None):
        super().__init__(settings)
        self.down = False
        self.err = errno.ENETUNREACH

    def sendto(self, data, addr):
        if self.down:
            raise OSError(self.err, __import__("os").strerror(self.err))
        self.sent.append((bytes(data), addr))

    def setsockopt(self, *args):
        pass


@pytest.mark.parametrize("err", [errno.ENETUNREACH, errno.EHOSTUNREACH, errno.ENOBUFS, errno.EPERM])
def test_an_output_that_loses_its_network_counts_says_so_and_comes_back(tmp_path, monkeypatch, err):
    monkeypatch.setattr(net, "REPAIR_S", 0.01)
    resolved = []

    def getaddrinfo(name, *args):
        resolved.append(name)
        return [(None, None, None, "", ("127.0.0.1" if name == "localhost" else name, 0))]

    monkeypatch.setattr(net.socket, "getaddrinfo", getaddrinfo)
    text = make_show(heads=2).replace('destination = "127.0.0.1"', 'destination = "localhost"')
    from kinetra_live import showfile

    show = showfile.load(write(tmp_path, text))
    socks = {}
    clocks = Clocks()
    r = runner.Runner(
        show,
        now=lambda: clocks.t,
        open_socket=lambda settings: socks.setdefault(settings.name, Unplugged()),
    )
    stage, visual = socks["stage"], socks["visual"]
    stage.err = err
    play(r, clocks, 1.0)
    osc_before = len(visual.sent)
    stage.down = True
    play(r, clocks, 1.0)
    health = r.senders["stage"].health
    assert health.failing_since is not None and health.errors >= 39
    assert "stage: " in r.status_line(clocks.t) and "failing for" in r.status_line(clocks.t)
    assert "failing for" in r.faults(clocks.t)  # what the remote is sent
    assert len(visual.sent) - osc_before >= 39  # the other output went on, frame for frame
    for _ in range(200):  # the repair thread resolves the names again while the output fails
        if "localhost" in resolved:
            break
        __import__("time").sleep(0.01)
    assert "localhost" in resolved
    stage.down = False
    n = len(stage.sent)
    play(r, clocks, 1.0)
    assert len(stage.sent) - n >= 39 and health.failing_since is None
    assert f"{health.errors} send errors, back after 1.0 s" in r.status_line(clocks.t)
    r.close()


def test_resolving_again_keeps_the_last_address_of_a_name_that_is_gone(monkeypatch):
    def getaddrinfo(name, *args):
        if name == "gone.invalid":
            raise OSError("no such name")
        return [(None, None, None, "", ({"a": "10.0.0.7", "b": "10.0.0.7"}.get(name, name), 0))]

    monkeypatch.setattr(net.socket, "getaddrinfo", getaddrinfo)
    assert net.resolve(("a", "gone.invalid", "b", "10.0.0.9"), ("10.0.0.1", "10.0.0.2", "10.0.0.3")) == (
        "10.0.0.7",
        "10.0.0.2",
        "10.0.0.9",
    )


# ---- the same with a real interface, taken down and up during a run ------------------------

RECEIVER = """
import socket, struct, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 5568))
if sys.argv[1] == "multicast":
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                 socket.inet_aton("239.255.0.1") + socket.inet_aton(sys.argv[2]))
print("ready", flush=True)
while True:
    s.recv(2048)
    print(time.monotonic(), flush=True)
"""

DRIVER = """
import json, socket, subprocess, sys, threading, time
from kinetra_live import runner, showfile
show_path, peer, mode, peer_address, receiver = sys.argv[1:6]
rx = subprocess.Popen(["ip", "netns", "exec", peer, sys.executable, "-c", receiver, mode, peer_address],
                      stdout=subprocess.PIPE, text=True)
assert rx.stdout.readline().strip() == "ready"
osc = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
osc.bind(("127.0.0.1", 9000))
osc.settimeout(0.1)
osc_times, events, samples = [], {}, []
stop = threading.Event()
def osc_rx():
    while not stop.is_set():
        try:
            osc.recv(2048)
            osc_times.append(time.monotonic())
        except TimeoutError:
            pass
r = runner.Runner(showfile.load(show_path))
def unplug():
    time.sleep(1.0)
    subprocess.run(["ip", "link", "set", "kl0", "down"], check=True)
    events["down"] = time.monotonic()
    for _ in range(30):
        time.sleep(0.05)
        samples.append(r.status_line(time.monotonic()))
    subprocess.run(["ip", "link", "set", "kl0", "up"], check=True)
    events["up"] = time.monotonic()
threads = [threading.Thread(target=f, daemon=True) for f in (osc_rx, unplug)]
for t in threads:
    t.start()
summary = r.run(4.5)
stop.set()
threads[1].join()
time.sleep(0.2)
rx.terminate()
sacn_times = [float(x) for x in rx.communicate()[0].split()]
print(json.dumps({"summary": summary, "events": events, "osc": osc_times, "sacn": sacn_times,
                  "samples": samples, "end": r.status_line(time.monotonic()),
                  "health": vars(r.senders["stage"].health) | {"repair": None, "clock": None, "_thread": None}}))
"""


@pytest.mark.skipif(netns.why_not() is not None, reason=str(netns.why_not()))
@pytest.mark.parametrize("mode", ["unicast", "multicast"])
def test_an_interface_taken_down_and_up_during_a_run(tmp_path, mode):
    text = make_show(heads=2, port=5568, osc_port=9000)
    if mode == "unicast":
        text = text.replace('destination = "127.0.0.1"', 'destination = "192.0.2.2"')
    else:
        text = text.replace('destination = "127.0.0.1"', 'multicast = true\ninterface = "192.0.2.1"')
    show = write(tmp_path, text)
    with netns.peer_namespaces("klnet", "192.0.2.1", "192.0.2.2") as (ours, peer):
        proc = subprocess.run(
            ["ip", "netns", "exec", ours, sys.executable, "-c", DRIVER, show, peer, mode, "192.0.2.2", RECEIVER],
            capture_output=True,
            text=True,
            timeout=60,
        )
    assert proc.returncode == 0, proc.stderr[-3000:]
    out = json.loads(proc.stdout)
    down, up = out["events"]["down"], out["events"]["up"]
    sacn, osc = out["sacn"], out["osc"]
    assert sum(1 for t in sacn if t < down) >= 20  # sent before
    assert not [t for t in sacn if down + 0.1 < t < up]  # nothing while the interface is down
    assert sum(1 for t in sacn if t > up + 0.5) >= 30  # and back by itself, without a restart
    # the OSC output on loopback went on frame after frame all the while
    assert sum(1 for t in osc if down < t < up) >= 0.7 * 40 * (up - down)
    assert out["health"]["errors"] > 0 and out["summary"]["errors"] == out["health"]["errors"]
    assert any("failing for" in s for s in out["samples"])
    assert "back after" in out["end"]
    assert out["summary"]["frames"] >= 0.8 * 40 * 4.5
    assert "Traceback" not in proc.stderr


def test_the_remote_is_told_of_a_resumed_state_and_of_a_failing_output(tmp_path):
    import time

    from kinetra_live import showfile
    from test_web import until, ws

    path = write(tmp_path, make_show(heads=2, visual=False))
    state = tmp_path / "show.state.json"
    first = runner.Runner(showfile.load(path), open_socket=FakeSocket, state_file=str(state))
    first.frame(first.now())
    first.close()
    sock = Unplugged()
    sock.down = True
    r = runner.Runner(
        showfile.load(path), web=("127.0.0.1", 0), open_socket=lambda settings: sock, state_file=str(state)
    )
    try:
        with ws(r.web) as c:
            assert until(lambda: r.web.wanted())
            seen = {}
            end = time.monotonic() + 5
            while time.monotonic() < end and not (seen.get("resumed") and seen.get("faults")):
                r.frame(r.now())
                time.sleep(0.04)
                seen = json.loads(c.recv(timeout=1))["state"]
        assert seen["resumed"].startswith("resumed ")
        assert seen["faults"].startswith("stage: ") and "failing for" in seen["faults"]
    finally:
        r.close()
