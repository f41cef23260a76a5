"""Whole-library figures: clean build and one-pack rebuild times, peak compiler memory, binary
sizes, import time, generator time and whether the generator's output is the same from run to
run. Writes a JSON list of rows (see bench/report.py) to --out.

The builds themselves are run and timed by scripts/bench.sh, which passes their wall times and
the log written by compile_rss.py; everything else is measured here.
"""

import argparse
import glob
import json
import os
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
IMPORT_RUNS = 21
MIB = 1024.0 * 1024.0


def row(figure, value, unit, baseline=None, baseline_value=None, target=None, note=""):
    return {
        "group": "Library",
        "figure": figure,
        "value": value,
        "unit": unit,
        "baseline": baseline,
        "baseline_value": baseline_value,
        "target": target,
        "note": note,
    }


def compile_log(log):
    """(peak KiB, seconds, output) of every command in the launcher's log."""
    out = []
    with open(log, encoding="utf-8") as f:
        for line in f:
            kib, seconds, output = line.rstrip("\n").split(" ", 2)
            out.append((int(kib), float(seconds), output))
    return out


def stripped_size(path):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "stripped.so")
        subprocess.run(["strip", "--strip-unneeded", "-o", out, path], check=True)
        return os.path.getsize(out)


def only(pattern):
    found = sorted(glob.glob(pattern))
    if len(found) != 1:
        raise SystemExit("expected one file for %s, found %s" % (pattern, found))
    return found[0]


IMPORT_LINE = re.compile(r"import time:\s+(\d+) \|\s+(\d+) \|\s*(\S+)\s*$")


def import_ms(python, module, path):
    """Median over IMPORT_RUNS fresh interpreters of the cumulative import time of module, as
    python -X importtime reports it; the first run (cold file cache) is not counted."""
    env = dict(os.environ, PYTHONPATH=path, PYTHONDONTWRITEBYTECODE="1")
    times = []
    for _ in range(IMPORT_RUNS + 1):
        done = subprocess.run(
            [python, "-X", "importtime", "-c", "import " + module], env=env, capture_output=True, text=True, check=True
        )
        cumulative = [
            int(m.group(2)) for m in map(IMPORT_LINE.match, done.stderr.splitlines()) if m and m.group(3) == module
        ]
        if len(cumulative) != 1:
            raise SystemExit("no import time for %s in:\n%s" % (module, done.stderr))
        times.append(cumulative[0] / 1000.0)
    return statistics.median(times[1:])


def generator_runs(python, command, runs=2):
    """Wall time of the first of `runs` generator runs, each writing every file into an empty
    directory, its summary line, and how many files differ between the runs' outputs."""
    env = dict(os.environ, PYTHONPATH=str(ROOT / "tools"), PYTHONDONTWRITEBYTECODE="1")
    with tempfile.TemporaryDirectory() as tmp:
        outs, seconds, line = [], None, ""
        for k in range(runs):
            out = os.path.join(tmp, "run%d" % k)
            start = time.perf_counter()
            done = subprocess.run(
                [python] + command + ["--out", out],
                cwd=ROOT / "tools",
                env=env,
                capture_output=True,
                text=True,
                check=True,
            )
            if seconds is None:
                seconds, line = time.perf_counter() - start, done.stdout.strip()
            outs.append(pathlib.Path(out))
        files = sorted({p.relative_to(o) for o in outs for p in o.rglob("*") if p.is_file()})
        differing = sum(
            len({(o / rel).read_bytes() if (o / rel).exists() else None for o in outs}) > 1 for rel in files
        )
        return seconds, line, differing


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the benchmark build tree")
    parser.add_argument("--build-seconds", type=float, required=True)
    parser.add_argument("--rebuild-seconds", type=float, help="wall time of the rebuild after one family changed")
    parser.add_argument("--rebuild-note", default="")
    parser.add_argument("--compile-log", required=True)
    parser.add_argument("--synthetic", action="store_true", help="the build holds the synthetic full-size catalogue")
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    build = args.build

    extension = only(os.path.join(build, "kinetra.cpython-*.so"))
    base_extension = only(os.path.join(build, "bench", "kinetra_bench_baseline.cpython-*.so"))
    shared = os.path.realpath(os.path.join(build, "libkinetra.so"))
    commands = compile_log(args.compile_log)
    peak_kib, _, peak_output = max(commands)
    slow_seconds, slow_output = max((s, o) for _, s, o in commands)
    import_path = os.pathsep.join([build, os.path.join(build, "bench")])

    rows = [
        row(
            "clean build: configure, generate, library and extension (-j2)",
            args.build_seconds,
            "s",
            target={"max": 180.0},
        ),
    ]
    if args.rebuild_seconds is not None:
        rows.append(
            row(
                "rebuild after one family changed: generate, recompile, relink (-j2)",
                args.rebuild_seconds,
                "s",
                target={"max": 90.0},
                note=args.rebuild_note,
            )
        )
    rows += [
        row(
            "peak compiler memory, one command",
            peak_kib / 1024.0,
            "MiB",
            target={"max": 2048.0},
            note="largest: " + os.path.basename(peak_output),
        ),
        row("slowest compile or link command", slow_seconds, "s", note="slowest: " + os.path.basename(slow_output)),
        row(
            "extension module size",
            os.path.getsize(extension) / MIB,
            "MiB",
            "bench-only baseline extension",
            os.path.getsize(base_extension) / MIB,
            target={"max": 32.0},
        ),
        row(
            "extension module size, stripped (as installed)",
            stripped_size(extension) / MIB,
            "MiB",
            "bench-only baseline extension, stripped",
            stripped_size(base_extension) / MIB,
            target={"max": 32.0},
        ),
        row("shared library size", os.path.getsize(shared) / MIB, "MiB"),
        row("shared library size, stripped", stripped_size(shared) / MIB, "MiB"),
        row(
            "import kinetra (python -X importtime, median)",
            import_ms(args.python, "kinetra", import_path),
            "ms",
            "import of the bench-only baseline extension",
            import_ms(args.python, "kinetra_bench_baseline", import_path),
            target={"max": 15.0},
        ),
    ]
    generators = [("pattern generator, the families in this tree", ["-m", "patterngen"])]
    if args.synthetic:
        generators.append(
            ("pattern generator, synthetic full-size catalogue", [str(ROOT / "bench" / "synthetic_catalogue.py")])
        )
    for label, command in generators:
        seconds, line, differing = generator_runs(args.python, command)
        rows.append(row(label + ", all files written", seconds, "s", target={"max": 30.0}, note=line))
        rows.append(row(label + ", files differing between two runs", differing, "files", target={"equal": 0}))
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump(rows, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
