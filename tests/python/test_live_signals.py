"""Stop signals against the running player: whatever arrives, in whatever order and however
close together, the stream ends with three stream-terminated packets per universe and the
player exits with status 0.

Every child gets a known signal disposition (stop signals unblocked and at their defaults, or
SIGINT ignored where a case asks for it) from a small launcher that sets them and then execs
the player: the suite must not depend on how it was started (a background job of a
non-interactive shell inherits SIGINT ignored). The cases run a few players at a time."""

import signal
import subprocess
import sys
import time

import pytest
from test_live_e2e import SacnCapture, e2e_show, free_port

UNIVERSES = (1, 2)
GAPS_MS = (0, 1, 5, 20)
PAIRS = [
    (signal.SIGINT, signal.SIGTERM),
    (signal.SIGTERM, signal.SIGINT),
    (signal.SIGINT, signal.SIGINT),
    (signal.SIGTERM, signal.SIGTERM),
]
# (id, signals sent, gap between them in ms, signals the child starts with ignored)
CASES = [(f"{a.name}-{b.name}-{gap}ms", (a, b), gap, ()) for a, b in PAIRS for gap in GAPS_MS] + [
    ("SIGHUP", (signal.SIGHUP,), 0, ()),
    ("SIGHUP-SIGTERM-1ms", (signal.SIGHUP, signal.SIGTERM), 1, ()),
    ("SIGINT-to-a-child-started-with-SIGINT-ignored", (signal.SIGINT,), 0, (signal.SIGINT,)),
    (
        "SIGINT-SIGINT-5ms-to-a-child-started-with-SIGINT-SIGTERM-ignored",
        (signal.SIGINT, signal.SIGINT),
        5,
        (signal.SIGINT, signal.SIGTERM),
    ),
]
AT_ONCE = 4
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

LAUNCHER = """\
import os, signal, sys
stop = [int(s) for s in sys.argv[1].split(",")]
ignored = [int(s) for s in sys.argv[2].split(",") if s]
signal.pthread_sigmask(signal.SIG_UNBLOCK, stop)
for s in stop:
    signal.signal(s, signal.SIG_IGN if s in ignored else signal.SIG_DFL)
os.execv(sys.executable, [sys.executable, *sys.argv[3:]])
"""


def start_player(args, ignored=()):
    """The player with every stop signal unblocked and at its default, except `ignored`."""
    return subprocess.Popen(
        [
            sys.executable,
            "-c",
            LAUNCHER,
            ",".join(str(int(s)) for s in STOP_SIGNALS),
            ",".join(str(int(s)) for s in ignored),
            "-m",
            "kinetra_live",
            *args,
        ],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )


def streaming(rx):
    """True once data (not yet a termination) has arrived on every universe."""
    seen = {p.universe for _, p in list(rx.packets) if not p.option_StreamTerminated}
    return seen >= set(UNIVERSES)


def ending(rx) -> dict:
    """Per universe: the stream-terminated flags of the last four packets, and how many
    stream-terminated packets arrived in all."""
    out = {}
    for u in UNIVERSES:
        ours = [p for _, p in rx.packets if p.universe == u]
        out[u] = ([p.option_StreamTerminated for p in ours[-4:]], sum(p.option_StreamTerminated for p in ours))
    return out


def play_and_stop(tmp_path, cases):
    """Starts one player per case, sends each its signals once its stream runs, and returns
    {case id: (exit status, stderr, ending)}."""
    running = []
    try:
        for case_id, signals, gap_ms, ignored in cases:
            folder = tmp_path / case_id
            folder.mkdir()
            port = free_port()
            rx = SacnCapture(port)
            running.append((case_id, signals, gap_ms, rx, start_player([e2e_show(folder, port, free_port())], ignored)))
        deadline = time.monotonic() + 30
        waiting = list(running)
        while waiting and time.monotonic() < deadline:
            for item in list(waiting):
                case_id, signals, gap_ms, rx, proc = item
                if streaming(rx) or proc.poll() is not None:
                    waiting.remove(item)
                    for k, s in enumerate(signals):
                        if k:
                            time.sleep(gap_ms / 1000.0)
                        if proc.poll() is None:
                            proc.send_signal(s)
            time.sleep(0.01)
        results = {}
        for case_id, _, _, rx, proc in running:
            try:
                _, err = proc.communicate(timeout=20)
            except subprocess.TimeoutExpired:
                proc.kill()
                _, err = proc.communicate()
                err = "(still running 20 s after the signals)\n" + err
            results[case_id] = (proc.returncode, err, None)
        time.sleep(0.3)
        for case_id, _, _, rx, _ in running:
            status, err, _ = results[case_id]
            results[case_id] = (status, err, ending(rx))
        return results
    finally:
        for _, _, _, rx, proc in running:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            rx.stop()


@pytest.fixture(scope="module")
def stopped(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("signals")
    results = {}
    for i in range(0, len(CASES), AT_ONCE):
        results.update(play_and_stop(tmp, CASES[i : i + AT_ONCE]))
    return results


@pytest.mark.parametrize("case_id", [c[0] for c in CASES])
def test_stop_signals_end_every_stream_and_exit_cleanly(stopped, case_id):
    status, err, end = stopped[case_id]
    assert status == 0, err[-2000:]
    assert "Traceback" not in err, err[-2000:]
    for u in UNIVERSES:
        assert end[u] == ([False, True, True, True], 3), (u, err[-2000:])


def test_a_frame_log_that_cannot_be_written_still_ends_the_streams(tmp_path):
    port = free_port()
    rx = SacnCapture(port)
    try:
        proc = start_player([e2e_show(tmp_path, port, free_port()), "--frame-log", "/dev/full", "--duration", "10"])
        _, err = proc.communicate(timeout=30)
        time.sleep(0.3)
    finally:
        rx.stop()
    assert proc.returncode == 1
    assert err.count("kinetra-live: error: frame log: No space left on device") == 1, err
    assert "Traceback" not in err, err
    for u in UNIVERSES:
        assert ending(rx)[u] == ([False, True, True, True], 3)
