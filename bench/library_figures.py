"""Whole-library figures: clean build time, peak compiler memory, binary sizes, import time and
generator time. Writes a JSON list of rows (see bench/report.py) to --out.

The build itself is run and timed by scripts/bench.sh, which passes its wall time and the log
written by compile_rss.py; everything else is measured here.
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
    return {"group": "Library", "figure": figure, "value": value, "unit": unit,
            "baseline": baseline, "baseline_value": baseline_value, "target": target,
            "note": note}


def compile_peak(log):
    """(peak KiB, output) of the hungriest command in the launcher's log."""
    best = (0, "?")
    with open(log, encoding="utf-8") as f:
        for line in f:
            kib, _, output = line.rstrip("\n").split(" ", 2)
            best = max(best, (int(kib), output))
    return best


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
        done = subprocess.run([python, "-X", "importtime", "-c", "import " + module],
                              env=env, capture_output=True, text=True, check=True)
        cumulative = [int(m.group(2)) for m in map(IMPORT_LINE.match, done.stderr.splitlines())
                      if m and m.group(3) == module]
        if len(cumulative) != 1:
            raise SystemExit("no import time for %s in:\n%s" % (module, done.stderr))
        times.append(cumulative[0] / 1000.0)
    return statistics.median(times[1:])


def generator_seconds(python):
    """Wall time of one generator run that writes every file into an empty directory."""
    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, PYTHONPATH=str(ROOT / "tools"), PYTHONDONTWRITEBYTECODE="1")
        start = time.perf_counter()
        done = subprocess.run([python, "-m", "patterngen", "--out", out], cwd=ROOT / "tools",
                              env=env, capture_output=True, text=True, check=True)
        return time.perf_counter() - start, done.stdout.strip()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the benchmark build tree")
    parser.add_argument("--build-seconds", type=float, required=True)
    parser.add_argument("--compile-log", required=True)
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    build = args.build

    extension = only(os.path.join(build, "kinetra.cpython-*.so"))
    base_extension = only(os.path.join(build, "bench", "kinetra_bench_baseline.cpython-*.so"))
    shared = os.path.realpath(os.path.join(build, "libkinetra.so"))
    peak_kib, peak_output = compile_peak(args.compile_log)
    generated, generator_line = generator_seconds(args.python)
    import_path = os.pathsep.join([build, os.path.join(build, "bench")])

    rows = [
        row("clean build: configure, generate, library and extension (-j2)",
            args.build_seconds, "s", target={"max": 180.0}),
        row("peak compiler memory, one command", peak_kib / 1024.0, "MiB",
            note="largest: " + os.path.basename(peak_output)),
        row("extension module size", os.path.getsize(extension) / MIB, "MiB",
            "bench-only baseline extension", os.path.getsize(base_extension) / MIB,
            target={"max": 32.0}),
        row("extension module size, stripped (as installed)", stripped_size(extension) / MIB,
            "MiB", "bench-only baseline extension, stripped",
            stripped_size(base_extension) / MIB, target={"max": 32.0}),
        row("shared library size", os.path.getsize(shared) / MIB, "MiB"),
        row("shared library size, stripped", stripped_size(shared) / MIB, "MiB"),
        row("import kinetra (python -X importtime, median)",
            import_ms(args.python, "kinetra", import_path), "ms",
            "import of the bench-only baseline extension",
            import_ms(args.python, "kinetra_bench_baseline", import_path),
            target={"max": 15.0}),
        row("pattern generator, all files written", generated, "s", note=generator_line),
    ]
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump(rows, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
