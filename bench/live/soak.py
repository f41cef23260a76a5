"""All night in an hour: the example show in real time with a cue every beat, three web
clients (one of them stalled), OSC input at 100 messages a second, a frame log and the
state file, while the player's RSS, open descriptors, threads, CPU and frame gaps are
sampled every minute.

    python bench/live/soak.py [--minutes 60] [--report bench/RESULTS.md] [--out DIR]

Needs the installed project with the web extra and psutil. Everything talks to 127.0.0.1
only (ephemeral ports). Writes (or prints) the report's "Soak" section; with --out the
per-minute rows also go to DIR/soak.jsonl as they are taken.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import pathlib
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(ROOT / "tests" / "python"))

from inputs_fakes import stalled_client  # noqa: E402

EXAMPLE = ROOT / "examples" / "four-heads.toml"
OSC_RATE = 100.0  # messages a second, the cues among them
READING_CLIENTS = 2  # plus one that stops reading
# Targets (see the closing note in bench/RESULTS.md)
RSS_GROWTH_MIB = 5.0
SETTLE_MINUTES = 5
P99_MS = 30.0


def free_port(kind=socket.SOCK_DGRAM) -> int:
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def example_show(folder: pathlib.Path, sacn_port: int, osc_port: int) -> tuple:
    """The example show on this run's ports, without its pad controller (no MIDI here)."""
    text = EXAMPLE.read_text(encoding="utf-8")
    text = text.split("\n[midi]", 1)[0]
    text = text.replace('destination = "127.0.0.1"', f'destination = "127.0.0.1"\nport = {sacn_port}', 1)
    text = text.replace("port = 9000", f"port = {osc_port}", 1)
    text = text.replace("port = 8080", "port = 0", 1).replace("port = 9001", f"port = {free_port()}", 1)
    path = folder / "show.toml"
    path.write_text(text, encoding="utf-8")
    from kinetra_live import showfile

    show = showfile.load(str(path))
    return path, list(show.cues), show.tempo.bpm, show.osc_in.port


class Feeder(threading.Thread):
    """OSC commands at OSC_RATE: a cue on every beat, the size master in between."""

    def __init__(self, port: int, cues: list[str], bpm: float):
        super().__init__(daemon=True)
        from pythonosc.udp_client import SimpleUDPClient

        self.client = SimpleUDPClient("127.0.0.1", port)
        self.cues, self.beat = cues, 60.0 / bpm
        self.stop = threading.Event()
        self.sent = 0

    def run(self) -> None:
        start = time.monotonic()
        n, beats = 0, 0
        while not self.stop.is_set():
            due = start + n / OSC_RATE
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            if time.monotonic() - start >= beats * self.beat:
                self.client.send_message("/kinetra/cue", self.cues[beats % len(self.cues)])
                beats += 1
            else:
                self.client.send_message("/kinetra/size", 1.0)
            self.sent += 1
            n += 1


class Reader(threading.Thread):
    """A web client that reads every state it is sent."""

    def __init__(self, port: int):
        super().__init__(daemon=True)
        self.port, self.received, self.error = port, 0, ""
        self.stop = threading.Event()

    def run(self) -> None:
        from websockets.sync.client import connect

        try:
            with connect(f"ws://127.0.0.1:{self.port}/ws", origin=f"http://127.0.0.1:{self.port}") as ws:
                while not self.stop.is_set():
                    try:
                        ws.recv(timeout=1.0)
                        self.received += 1
                    except TimeoutError:
                        continue
        except Exception as exc:  # noqa: BLE001 - reported in the figures
            if not self.stop.is_set():  # the player closing the connection at the end is no error
                self.error = str(exc)[:200]


class Gaps:
    """Frame gaps from the frame log, read on as it grows."""

    def __init__(self, path: pathlib.Path):
        self.path, self.offset, self.last = path, 0, None

    def take(self) -> list[float]:
        gaps = []
        try:
            with open(self.path, "rb") as fh:
                fh.seek(self.offset)
                data = fh.read()
        except FileNotFoundError:
            return gaps
        end = data.rfind(b"\n") + 1
        self.offset += end
        for line in data[:end].splitlines():
            try:
                rec = json.loads(line)
            except ValueError:
                continue
            t = rec.get("t") if "frame" in rec else None
            if t is None:
                continue
            if self.last is not None:
                gaps.append(t - self.last)
            self.last = t
        return gaps


def percentile(sorted_values: list[float], q: float) -> float:
    return sorted_values[int(q * (len(sorted_values) - 1))] if sorted_values else float("nan")


def soak(minutes: float, sample_s: float = 60.0, out: pathlib.Path | None = None, say=print) -> dict:
    import psutil

    with tempfile.TemporaryDirectory(prefix="kinetra-soak-") as tmp:
        folder = pathlib.Path(out) if out else pathlib.Path(tmp)
        folder.mkdir(parents=True, exist_ok=True)
        sinks = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2)]
        for s in sinks:
            s.bind(("127.0.0.1", 0))
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # never read: the kernel drops
        show, cues, bpm, osc_in = example_show(folder, *(s.getsockname()[1] for s in sinks))
        fps = 40
        log = folder / "frames.jsonl"
        web_port = free_port(socket.SOCK_STREAM)
        err = open(folder / "player.err", "w+", encoding="utf-8")
        proc = subprocess.Popen(
            [
                sys.executable,
                "-m",
                "kinetra_live",
                str(show),
                "--web",
                f"127.0.0.1:{web_port}",
                "--read-only",  # the remote as played at a show, no token asked on loopback
                "--frame-log",
                str(log),
                "--state",
                str(folder / "state.json"),
                "--fresh",
                "--duration",
                str(minutes * 60 + 120),
            ],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=err,
            text=True,
        )
        rows, readers, feeder, stalled = [], [], None, None
        rows_file = open(folder / "soak.jsonl", "w", encoding="utf-8") if out else None
        try:
            deadline = time.monotonic() + 20
            while "web remote at" not in pathlib.Path(err.name).read_text() and time.monotonic() < deadline:
                if proc.poll() is not None:
                    raise RuntimeError(pathlib.Path(err.name).read_text())
                time.sleep(0.1)
            p = psutil.Process(proc.pid)
            readers = [Reader(web_port) for _ in range(READING_CLIENTS)]
            for r in readers:
                r.start()
            stalled = stalled_client(web_port)
            feeder = Feeder(osc_in, cues, bpm)
            feeder.start()
            gaps = Gaps(log)
            gaps.take()
            cpu0, t0 = p.cpu_times(), time.monotonic()
            start = t0
            k = 0
            while k < math.ceil(minutes * 60 / sample_s):
                k += 1
                time.sleep(max(0.0, start + k * sample_s - time.monotonic()))
                if proc.poll() is not None:
                    raise RuntimeError("the player stopped: " + pathlib.Path(err.name).read_text()[-2000:])
                cpu1, t1 = p.cpu_times(), time.monotonic()
                g = sorted(gaps.take())
                row = {
                    "minute": round(k * sample_s / 60.0, 2),
                    "rss_mib": p.memory_info().rss / 2**20,
                    "fds": p.num_fds(),
                    "threads": p.num_threads(),
                    "cpu_pct": ((cpu1.user + cpu1.system) - (cpu0.user + cpu0.system)) / (t1 - t0) * 100,
                    "p99_ms": percentile(g, 0.99) * 1000,
                    "max_ms": (g[-1] if g else float("nan")) * 1000,
                    "late": sum(1 for x in g if x > 1.5 / fps),
                    "frames": len(g),
                    "load1": os.getloadavg()[0],
                    "web_states": sum(r.received for r in readers),
                    "osc_sent": feeder.sent,
                }
                cpu0, t0 = cpu1, t1
                rows.append(row)
                if rows_file:
                    rows_file.write(json.dumps(row) + "\n")
                    rows_file.flush()
                say(
                    f"minute {row['minute']:5.1f}: RSS {row['rss_mib']:.1f} MiB, {row['fds']} fds, "
                    f"{row['threads']} threads, CPU {row['cpu_pct']:.1f} %, p99 {row['p99_ms']:.1f} ms, "
                    f"max {row['max_ms']:.1f} ms, {row['late']} late, load {row['load1']:.2f}"
                )
        finally:
            if feeder is not None:
                feeder.stop.set()
            for r in readers:
                r.stop.set()
            for r in readers:
                r.join(3.0)
            if stalled is not None:
                stalled.close()
            if proc.poll() is None:
                proc.send_signal(signal.SIGINT)
            try:
                proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                proc.kill()
            for s in sinks:
                s.close()
            if rows_file:
                rows_file.close()
            err.close()
        text = pathlib.Path(err.name).read_text()
        summary = re.search(r"(\d+) frames in ([\d.]+) s \(([\d.]+) fps\), (\d+) late", text)
        state_ok = _state_ok(folder / "state.json")
        return {
            "rows": rows,
            "returncode": proc.returncode,
            "summary": summary.group(0) if summary else text[-500:],
            "late_total": int(summary.group(4)) if summary else None,
            "state_ok": state_ok,
            "reader_errors": [r.error for r in readers if r.error],
            "stderr": text,
        }


def _state_ok(path: pathlib.Path) -> bool:
    try:
        return json.loads(path.read_text())["format"] == "kinetra-live state"
    except (OSError, ValueError, KeyError):
        return False


def verdict(result: dict) -> dict:
    rows = result["rows"]
    settled = [r for r in rows if r["minute"] >= SETTLE_MINUTES] or rows[-1:]
    after = rows[1:] or rows
    return {
        "rss_growth_mib": max(r["rss_mib"] for r in settled) - settled[0]["rss_mib"],
        "fds": sorted({r["fds"] for r in after}),
        "threads": sorted({r["threads"] for r in after}),
        "worst_p99_ms": max(r["p99_ms"] for r in rows),
        "minutes_over_p99": sum(1 for r in rows if r["p99_ms"] >= P99_MS),
        "late": sum(r["late"] for r in rows),
    }


def report(result: dict, minutes: float) -> str:
    v = verdict(result)
    rows = result["rows"]
    out = [
        f"Measured by `bench/live/soak.py --minutes {minutes:g}` ending "
        f"{time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}: the example show (5 fixtures, 40 fps, "
        "sACN and OSC out to 127.0.0.1), a cue every beat and the size master between them over OSC at "
        f"{OSC_RATE:g} messages a second, {READING_CLIENTS} WebSocket clients reading and one that stopped "
        "reading, the frame log and the state file on /tmp. One row a minute; CPU is the player process "
        "(% of one core); load is the machine's 1-minute load average (two cores shared by five developers).",
        "",
        "| Minute | RSS | fds | threads | CPU | gap p99 | largest gap | late frames | load |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        out.append(
            f"| {r['minute']:g} | {r['rss_mib']:.1f} MiB | {r['fds']} | {r['threads']} | {r['cpu_pct']:.1f} % "
            f"| {r['p99_ms']:.1f} ms | {r['max_ms']:.1f} ms | {r['late']} | {r['load1']:.2f} |"
        )
    out += [
        "",
        f"Targets: RSS growth after minute {SETTLE_MINUTES} {v['rss_growth_mib']:.2f} MiB (target < "
        f"{RSS_GROWTH_MIB:g}); descriptors {v['fds']} and threads {v['threads']} after the first minute "
        f"(target: one value each; a sample may catch the state writer with its temporary file and folder "
        f"open); worst minute's gap p99 {v['worst_p99_ms']:.1f} ms, minutes at or over "
        f"{P99_MS:g} ms: {v['minutes_over_p99']}; late frames {v['late']} (gaps over 1.5 frame periods). "
        f"Player: {result['summary']}; exit status {result['returncode']}; state file readable at the end: "
        f"{result['state_ok']}.",
    ]
    return "\n".join(out) + "\n"


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--minutes", type=float, default=60.0)
    ap.add_argument("--sample", type=float, default=60.0, help="seconds between samples")
    ap.add_argument("--report", help="the report whose section to replace (else: print it)")
    ap.add_argument("--out", help="keep the run's files (show, frame log, rows) in this folder")
    args = ap.parse_args()
    result = soak(args.minutes, args.sample, pathlib.Path(args.out) if args.out else None)
    body = report(result, args.minutes)
    if args.out:
        (pathlib.Path(args.out) / "soak.md").write_text(body, encoding="utf-8")
    import sections

    sections.publish(args.report, "Soak", body)
    return 0 if result["returncode"] == 0 else 1


if __name__ == "__main__":
    raise SystemExit(main())
