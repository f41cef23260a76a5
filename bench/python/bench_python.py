"""Per-call times of the kinetra module against baselines measured in the same run, timed
with pyperf.

The baselines come from the bench-only extension kinetra_bench_baseline (functions and methods
with the same signatures and argument rules that only build a new result) and, for
catalogue(), from a pure-Python comprehension that builds the same dicts from cached tuples.
For the random mix of all names there is a second baseline, the floor of that mix: the same
no-op binding plus one read of a random row from one block as large as all baked tables.

Every figure loops over a prepared batch of arguments; the same loop with an empty body is a
benchmark of its own, and its mean is subtracted, so a figure is the cost of the call alone.
pyperf calibrates the loop count and runs every benchmark in several worker processes; a
figure is the mean over all their values, with its standard deviation. A ratio's spread comes
from the spreads of both sides (and of the empty loop subtracted from each).

    python bench_python.py --rows FILE [pyperf options, e.g. -o suite.json, --fast]

Writes a JSON list of rows (see bench/report.py) to FILE. pyperf starts the worker processes
with a clean environment: pass --inherit-environ PYTHONPATH when the modules come from it.
"""

import json
import math
import random
import sys
import time

import kinetra
import kinetra_bench_baseline as baseline
import pyperf

BATCH = 4096
PROCESSES = 8
VALUES = 5


class Figures:
    """Registers every benchmark with the runner and, in the main process, keeps the results
    (worker processes run one benchmark each and keep nothing)."""

    def __init__(self, runner):
        self.runner = runner
        self.results = {}

    def measure(self, name, loop, calls):
        """loop() makes `calls` calls; it is built lazily, since a worker runs one benchmark."""
        made = []

        def time_func(loops):
            if not made:
                made.append(loop())
            body = made[0]
            start = time.perf_counter()
            for _ in range(loops):
                body()
            return time.perf_counter() - start

        bench = self.runner.bench_time_func(name, time_func, inner_loops=calls)
        if bench is not None and not self.runner.args.worker:
            values = bench.get_values()
            self.results[name] = (sum(values) / len(values), bench.stdev() if len(values) > 1 else 0.0)

    def net(self, name, empty):
        """(mean, standard deviation) of a benchmark net of its empty loop, in ns per call."""
        if name not in self.results or empty not in self.results:
            return None, None
        (m, s), (me, se) = self.results[name], self.results[empty]
        return max(m - me, 0.0) * 1e9, math.hypot(s, se) * 1e9


def compare(figures, figure, key, baselines, target=None, note=""):
    """Rows of a figure measured as benchmark key against each (baseline key, label); every
    benchmark's empty loop is key + ":empty"."""
    value, sd = figures.net(key, key + ":empty")
    rows = []
    for base_key, label, base_target in baselines:
        base, base_sd = figures.net(base_key, key + ":empty")
        rows.append(
            {
                "group": "Python",
                "figure": figure,
                "value": value,
                "sd": sd,
                "unit": "ns",
                "baseline": label,
                "baseline_value": base,
                "baseline_sd": base_sd,
                "target": base_target,
                "note": note,
            }
        )
    return rows


def absent(figure, what):
    return {
        "group": "Python",
        "figure": figure,
        "value": None,
        "unit": "ns",
        "baseline": None,
        "baseline_value": None,
        "target": None,
        "note": "%s is not in this build of the module" % what,
    }


def name_calls(names, seed):
    rng = random.Random(seed)
    return [(rng.choice(names), rng.randrange(-(1 << 20), 1 << 20)) for _ in range(BATCH)]


def pair_loop(fn, pairs):
    def run():
        for name, pip in pairs:
            fn(name, pip)

    return run


def empty_pair_loop(pairs):
    def run():
        for name, pip in pairs:
            pass

    return run


def pip_loop(fn, pips):
    def run():
        for pip in pips:
            fn(pip)

    return run


def empty_pip_loop(pips):
    def run():
        for pip in pips:
            pass

    return run


def bench_sample(figures, names, baked_rows):
    pairs = name_calls(names, 1)

    def floor():
        baseline.set_rows(baked_rows)
        return pair_loop(baseline.sample_row, pairs)

    key = "sample_mix"
    figures.measure(key, lambda: pair_loop(kinetra.sample, pairs), BATCH)
    figures.measure(key + ":baseline", lambda: pair_loop(baseline.sample, pairs), BATCH)
    figures.measure(key + ":floor", floor, BATCH)
    figures.measure(key + ":empty", lambda: empty_pair_loop(pairs), BATCH)
    return compare(
        figures,
        "kinetra.sample(name, pip), random mix of all %d names" % len(names),
        key,
        [
            (key + ":baseline", "baseline sample(name, pip_count)", {"ratio": 1.3}),
            (
                key + ":floor",
                "baseline sample(name, pip_count) plus one read of a "
                "random row of %d (all baked rows, one block)" % baked_rows,
                None,
            ),
        ],
    )


def bench_sample_one_name(figures, name):
    pairs = [(name, p) for _, p in name_calls([name], 2)]
    key = "sample_one"
    figures.measure(key, lambda: pair_loop(kinetra.sample, pairs), BATCH)
    figures.measure(key + ":baseline", lambda: pair_loop(baseline.sample, pairs), BATCH)
    figures.measure(key + ":empty", lambda: empty_pair_loop(pairs), BATCH)
    return compare(
        figures,
        "kinetra.sample(name, pip), one name (%s)" % name,
        key,
        [(key + ":baseline", "baseline sample(name, pip_count)", {"ratio": 1.3})],
    )


def bench_bounce(figures):
    pips = [p for _, p in name_calls(["bounce"], 3)]
    key = "bounce"
    figures.measure(key, lambda: pip_loop(kinetra.bounce, pips), BATCH)
    figures.measure(key + ":baseline", lambda: pip_loop(baseline.bounce, pips), BATCH)
    figures.measure(key + ":empty", lambda: empty_pip_loop(pips), BATCH)
    return compare(figures, "kinetra.bounce(pip)", key, [(key + ":baseline", "baseline bounce(pip)", {"ratio": 1.2})])


def bench_catalogue(figures):
    rows = kinetra.catalogue()

    def comprehension():
        cached = [(r["name"], r["description"], r["period_pips"], r["dimensions"]) for r in kinetra.catalogue()]

        def build():
            return [{"name": n, "description": d, "period_pips": p, "dimensions": k} for n, d, p, k in cached]

        assert build() == kinetra.catalogue()
        return build

    key = "catalogue"
    figures.measure(key, lambda: kinetra.catalogue, 1)
    figures.measure(key + ":baseline", comprehension, 1)
    figures.measure(key + ":empty", lambda: lambda: None, 1)
    return compare(
        figures,
        "kinetra.catalogue(), %d rows" % len(rows),
        key,
        [(key + ":baseline", "Python comprehension of the same dicts from cached tuples", {"ratio": 3.0})],
    )


def smooth_rows(count, seed):
    return [
        (
            0.5 * math.sin(6.283185307179586 * i / count + seed),
            0.25 * math.cos(6.283185307179586 * i / count + seed),
            0.0,
        )
        for i in range(count)
    ]


def bench_sampled_pattern(figures):
    if not hasattr(kinetra, "SampledPattern"):
        return [absent("SampledPattern.sample(pip)", "SampledPattern")]
    pips = [p for _, p in name_calls(["x"], 4)]

    def run():
        pattern = kinetra.SampledPattern("user_wave", "A user wave", smooth_rows(512, 0))
        return pip_loop(pattern.sample, pips)

    key = "sampled_pattern"
    figures.measure(key, run, BATCH)
    figures.measure(key + ":baseline", lambda: pip_loop(baseline.Pattern().sample, pips), BATCH)
    figures.measure(key + ":empty", lambda: empty_pip_loop(pips), BATCH)
    return compare(
        figures,
        "SampledPattern.sample(pip), 512 rows",
        key,
        [(key + ":baseline", "baseline method sample(pip_count)", None)],
    )


def bench_pattern_library(figures, size=64):
    if not hasattr(kinetra, "PatternLibrary"):
        return [absent("PatternLibrary.sample(name, pip)", "PatternLibrary")]
    names = ["user_pattern_%03d" % i for i in range(size)]
    pairs = name_calls(names, 5)

    def run():
        library = kinetra.PatternLibrary(
            [kinetra.SampledPattern(n, "A user pattern", smooth_rows(256, i)) for i, n in enumerate(names)]
        )
        return pair_loop(library.sample, pairs)

    key = "pattern_library"
    figures.measure(key, run, BATCH)
    figures.measure(key + ":baseline", lambda: pair_loop(baseline.Library().sample, pairs), BATCH)
    figures.measure(key + ":empty", lambda: empty_pair_loop(pairs), BATCH)
    return compare(
        figures,
        "PatternLibrary.sample(name, pip), own names of %d patterns" % size,
        key,
        [(key + ":baseline", "baseline method sample(name, pip_count)", None)],
    )


def bench_sampled_recording(figures):
    if not hasattr(kinetra, "SampledRecording"):
        return [absent("SampledRecording.sample(pip)", "SampledRecording")]
    rng = random.Random(6)
    pips = [-1000 + rng.randrange(4096) for _ in range(BATCH)]

    def run():
        rows = [[0.5 * ((r * 7 + a) % 100) / 100.0 for a in range(3)] for r in range(4096)]
        recording = kinetra.SampledRecording("take", ["pan", "tilt", "zoom"], rows, 120.0, 0.0, -1000)
        return pip_loop(recording.sample, pips)

    key = "sampled_recording"
    figures.measure(key, run, BATCH)
    figures.measure(key + ":baseline", lambda: pip_loop(baseline.Recording(3).sample, pips), BATCH)
    figures.measure(key + ":empty", lambda: empty_pip_loop(pips), BATCH)
    return compare(
        figures,
        "SampledRecording.sample(pip), 3 axes",
        key,
        [(key + ":baseline", "baseline method sample(pip) returning 3 floats", None)],
    )


def main():
    runner = pyperf.Runner(processes=PROCESSES, values=VALUES)
    runner.argparser.add_argument("--rows", help="where the main process writes the rows")
    args = runner.parse_args()
    figures = Figures(runner)
    catalogue = kinetra.catalogue()
    names = [row["name"] for row in catalogue]
    procedural = 15
    baked_rows = sum(row["period_pips"] for row in catalogue[procedural:])
    rows = (
        bench_sample(figures, names, baked_rows)
        + bench_sample_one_name(figures, names[procedural])
        + bench_bounce(figures)
        + bench_catalogue(figures)
        + bench_sampled_pattern(figures)
        + bench_pattern_library(figures)
        + bench_sampled_recording(figures)
    )
    if args.worker:
        return 0
    if args.rows:
        with open(args.rows, "w", encoding="utf-8") as f:
            json.dump(rows, f, indent=1)
    for row in rows:
        if row["value"] is None:
            continue
        ratio = row["value"] / row["baseline_value"] if row["baseline_value"] else float("nan")
        print(
            "%-64s %8.1f ns +- %5.1f  %5.2fx  (%s)"
            % (row["figure"][:64], row["value"], row["sd"], ratio, row["baseline"][:40]),
            file=sys.stderr,
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
