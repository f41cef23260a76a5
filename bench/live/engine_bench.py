"""Frame cost of the live player: engine plus encoding per frame, for 16, 128 and 512
fixtures, with a cue landing on every beat and a crossfade always running; and the
frame loop's gaps in real time while cues change. Nothing here is a test.

    python bench/live/engine_bench.py [--report bench/RESULTS.md] [--baseline-rev REV]

The baseline is the player before cues (the frame loop of revision REV), at 16 fixtures,
run in its own process from a copy of that revision's package.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE))

FPS = 44
BPM = 128.0
PER_UNIVERSE = 16  # 512 fixtures over 32 universes


def show_text(n: int, cues: bool = True, port: int = 5568) -> str:
    text = f"""[show]
name = "bench"
fps = {FPS}
{'quantize = "beat"' if cues else ""}

[tempo]
bpm = {BPM}

[outputs.stage]
type = "sacn"
destination = "127.0.0.1"
port = {port}

[groups.left]
spread_beats = 0.125

[groups.right]
spread_beats = 0.125
"""
    for i in range(n):
        u, slot = divmod(i, PER_UNIVERSE)
        group = "left" if i % 2 == 0 else "right"
        text += f"""
[[fixtures]]
name = "h{i}"
output = "stage"
group = "{group}"
pattern = "circle"
universe = {u + 1}
address = {1 + slot * 32}
channels = {{ pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4, z = 5 }}
set = {{ 6 = 255 }}
"""
    if cues:
        text += """
[[cues]]
name = "a"
transition = 2
curve = "smooth"
set.left = { pattern = "figure_eight", speed = "3/2", spread_beats = 0.25, order = "centre-out" }
set.right = { pattern = "helix", mirror = ["x"], rotate = 20 }

[[cues]]
name = "b"
transition = 2
set.left = { pattern = "sway", speed = "1/2" }
set.right = { pattern = "lfo_breathe", reverse = true }
"""
    return text


class NullSocket:
    def __init__(self, settings=None):
        self.bytes = 0

    def sendto(self, data, addr):
        self.bytes += len(data)

    def close(self):
        pass


def frame_cost(n: int, seconds: float) -> dict:
    """CPU per frame on a virtual clock at FPS, a cue launched on every beat."""
    from kinetra_live import commands, runner, showfile

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "show.toml")
        pathlib.Path(path).write_text(show_text(n), encoding="utf-8")
        show = showfile.load(path)
    t = [1000.0]
    r = runner.Runner(show, now=lambda: t[0], open_socket=NullSocket)
    frames = int(seconds * FPS)
    beat_s = 60.0 / BPM
    next_beat, which = 1000.0, 0
    cpu = []
    for k in range(frames):
        t[0] = 1000.0 + k / FPS
        if t[0] >= next_beat:
            r.commands.put(commands.Command("cue", "ab"[which]))
            which ^= 1
            next_beat += beat_s
        c0 = time.process_time_ns()
        r.frame(t[0])
        cpu.append(time.process_time_ns() - c0)
    r.close()
    return cost_row(n, cpu)


def cost_row(n: int, cpu: list) -> dict:
    cpu = sorted(cpu)
    mean = statistics.fmean(cpu) / 1e9
    return {
        "fixtures": n,
        "frames": len(cpu),
        "mean_ms": mean * 1e3,
        "p99_ms": cpu[int(0.99 * (len(cpu) - 1))] / 1e6,
        "core_share": mean * FPS,
    }


def baseline_cost(n: int, seconds: float) -> dict:
    """The same frames through the player before cues (no cue changes there)."""
    from kinetra_live import runner
    from kinetra_live import show as showfile

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "show.toml")
        pathlib.Path(path).write_text(show_text(n, cues=False), encoding="utf-8")
        show = showfile.load(path)
    t = [1000.0]
    r = runner.Runner(show, now=lambda: t[0])
    for s in r.senders.values():
        s.sock.close()
        s.sock = NullSocket()
    frames = int(seconds * FPS)
    cpu = []
    for k in range(frames):
        t[0] = 1000.0 + k / FPS
        c0 = time.process_time_ns()
        r.frame(t[0])
        cpu.append(time.process_time_ns() - c0)
    return cost_row(n, cpu)


def loop_gaps(n: int, seconds: float) -> dict:
    """The real frame loop for `seconds`, a cue launched on every beat from another thread."""
    from kinetra_live import commands, runner, showfile

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "show.toml")
        pathlib.Path(path).write_text(show_text(n), encoding="utf-8")
        show = showfile.load(path)
    r = runner.Runner(show, open_socket=NullSocket)
    times = []
    frame = r.frame

    def timed(now):
        times.append(time.monotonic())
        frame(now)

    r.frame = timed
    stop = threading.Event()

    def launcher():
        which = 0
        while not stop.wait(60.0 / BPM):
            r.commands.put(commands.Command("cue", "ab"[which]))
            which ^= 1

    th = threading.Thread(target=launcher, daemon=True)
    th.start()
    summary = r.run(seconds)
    stop.set()
    gaps = sorted(b - a for a, b in zip(times, times[1:]))
    return {
        "fixtures": n,
        "p99_gap_ms": gaps[int(0.99 * (len(gaps) - 1))] * 1e3,
        "max_gap_ms": gaps[-1] * 1e3,
        "cpu": summary["cpu"],
        "late": summary["late"],
    }


def run_baseline(rev: str, n: int, seconds: float) -> dict:
    with tempfile.TemporaryDirectory() as tmp:
        archive = subprocess.run(
            ["git", "-C", str(ROOT), "archive", rev, "python/kinetra_live", "python/kinetra_preview"],
            check=True,
            capture_output=True,
        ).stdout
        subprocess.run(["tar", "-x", "-C", tmp], input=archive, check=True)
        env = dict(os.environ, PYTHONPATH=os.path.join(tmp, "python"))
        out = subprocess.run(
            [sys.executable, __file__, "--internal-baseline", str(n), str(seconds)],
            env=env,
            check=True,
            capture_output=True,
            text=True,
        ).stdout
    return json.loads(out)


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--report", default=None)
    ap.add_argument("--baseline-rev", default="daed696")
    ap.add_argument("--seconds", type=float, default=30.0)
    ap.add_argument("--internal-baseline", nargs=2, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.internal_baseline:
        print(json.dumps(baseline_cost(int(args.internal_baseline[0]), float(args.internal_baseline[1]))))
        return
    rows = [frame_cost(n, args.seconds) for n in (16, 128, 512)]
    base = run_baseline(args.baseline_rev, 16, args.seconds)
    gaps = loop_gaps(512, 20.0)
    lines = ["| Figure | Measured | Baseline | Target | Met |", "|---|---|---|---|---|"]
    for row in rows:
        target = "< 25 % of a core" if row["fixtures"] == 512 else "-"
        met = ("met" if row["core_share"] < 0.25 else "**not met**") if row["fixtures"] == 512 else "-"
        b = (
            f"{base['mean_ms']:.3f} ms per frame ({100 * base['core_share']:.1f} % of a core), the player "
            f"before cues, no cue changes"
            if row["fixtures"] == 16
            else "-"
        )
        lines.append(
            f"| engine + encoding, {row['fixtures']} fixtures, cue on every beat, crossfade running | "
            f"{row['mean_ms']:.3f} ms per frame (p99 {row['p99_ms']:.3f} ms), "
            f"{100 * row['core_share']:.1f} % of a core at {FPS} fps | {b} | {target} | {met} |"
        )
    lines.append(
        f"| frame loop in real time, 512 fixtures, cue on every beat: p99 gap between frames | "
        f"{gaps['p99_gap_ms']:.1f} ms (largest {gaps['max_gap_ms']:.1f} ms, {gaps['late']} late, "
        f"CPU {100 * gaps['cpu']:.1f} %) | - | < 30 ms | "
        f"{'met' if gaps['p99_gap_ms'] < 30 else '**not met**'} |"
    )
    text = "\n".join(lines)
    print(text)
    if args.report:
        import sections

        sections.replace(
            args.report,
            "Live player: engine and frame loop",
            f"Measured by `bench/live/engine_bench.py` on {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}"
            f" ({args.seconds:g} s of show time per row, virtual clock; the loop row in real time).\n\n" + text,
        )


if __name__ == "__main__":
    main()
