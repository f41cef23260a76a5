"""Per-call times of the kinetra module against baselines measured in the same run.

The baselines come from the bench-only extension kinetra_bench_baseline (functions and methods
with the same signatures and argument rules that only build a new result) and, for
catalogue(), from a pure-Python comprehension that builds the same dicts from cached tuples.

Every figure loops over a prepared batch of arguments; the time of the same loop with an empty
body is measured too and subtracted, so a figure is the cost of the call alone. Candidate and
baseline are measured alternately, round after round, and the fastest round of each counts.

Writes a JSON list of rows (see bench/report.py) to the file given by --out.
"""

import argparse
import json
import random
import sys
import timeit

import kinetra
import kinetra_bench_baseline as baseline

BATCH = 4096
ROUNDS = 9
ROUND_SECONDS = 0.02


def calibrate(fn):
    """Calls of fn per timing so that one timing lasts about ROUND_SECONDS."""
    number = 1
    while True:
        t = timeit.timeit(fn, number=number)
        if t >= ROUND_SECONDS / 4 or number >= 1 << 20:
            return max(1, int(number * ROUND_SECONDS / max(t, 1e-9)))
        number *= 4


def fastest(fns):
    """The fastest time per call of fn() for each (name, fn), measured alternately."""
    numbers = {name: calibrate(fn) for name, fn in fns.items()}
    best = {name: float("inf") for name in fns}
    for _ in range(ROUNDS):
        for name, fn in fns.items():
            best[name] = min(best[name], timeit.timeit(fn, number=numbers[name]) / numbers[name])
    return best


def compare(figure, run, base, calls, empty, baseline_label, target=None, note=""):
    """run, base and empty each make `calls` calls (empty: the bare loop)."""
    times = fastest({"run": run, "base": base, "empty": empty})
    loop = times["empty"]
    return {
        "group": "Python",
        "figure": figure,
        "value": max(times["run"] - loop, 0.0) / calls * 1e9,
        "unit": "ns",
        "baseline": baseline_label,
        "baseline_value": max(times["base"] - loop, 0.0) / calls * 1e9,
        "target": target,
        "note": note,
    }


def absent(figure, what):
    return {"group": "Python", "figure": figure, "value": None, "unit": "ns",
            "baseline": None, "baseline_value": None, "target": None,
            "note": "%s is not in this build of the module" % what}


def name_calls(names, seed):
    rng = random.Random(seed)
    return [(rng.choice(names), rng.randrange(-(1 << 20), 1 << 20)) for _ in range(BATCH)]


def bench_sample(names):
    pairs = name_calls(names, 1)
    sample, base = kinetra.sample, baseline.sample

    def run():
        for name, pip in pairs:
            sample(name, pip)

    def run_base():
        for name, pip in pairs:
            base(name, pip)

    def empty():
        for name, pip in pairs:
            pass

    return compare("kinetra.sample(name, pip), random mix of all %d names" % len(names),
                   run, run_base, BATCH, empty, "baseline sample(name, pip_count)",
                   target={"ratio": 1.3})


def bench_sample_one_name():
    pips = [p for _, p in name_calls(["lfo_breathe"], 2)]
    sample, base = kinetra.sample, baseline.sample

    def run():
        for pip in pips:
            sample("lfo_breathe", pip)

    def run_base():
        for pip in pips:
            base("lfo_breathe", pip)

    def empty():
        for pip in pips:
            pass

    return compare("kinetra.sample(name, pip), one name", run, run_base, BATCH, empty,
                   "baseline sample(name, pip_count)", target={"ratio": 1.3})


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


def bench_bounce():
    pips = [p for _, p in name_calls(["bounce"], 3)]
    return compare("kinetra.bounce(pip)", pip_loop(kinetra.bounce, pips),
                   pip_loop(baseline.bounce, pips), BATCH, empty_pip_loop(pips),
                   "baseline bounce(pip)", target={"ratio": 1.2})


def bench_catalogue():
    rows = kinetra.catalogue()
    cached = [(r["name"], r["description"], r["period_pips"], r["dimensions"]) for r in rows]

    def comprehension():
        return [{"name": n, "description": d, "period_pips": p, "dimensions": k}
                for n, d, p, k in cached]

    assert comprehension() == rows
    return compare("kinetra.catalogue(), %d rows" % len(rows), kinetra.catalogue,
                   comprehension, 1, lambda: None,
                   "Python comprehension of the same dicts from cached tuples",
                   target={"ratio": 3.0})


def smooth_rows(count, seed):
    import math
    return [(0.5 * math.sin(6.283185307179586 * i / count + seed),
             0.25 * math.cos(6.283185307179586 * i / count + seed), 0.0) for i in range(count)]


def bench_sampled_pattern():
    if not hasattr(kinetra, "SampledPattern"):
        return absent("SampledPattern.sample(pip)", "SampledPattern")
    pattern = kinetra.SampledPattern("user_wave", "A user wave", smooth_rows(512, 0))
    pips = [p for _, p in name_calls(["x"], 4)]
    return compare("SampledPattern.sample(pip), 512 rows", pip_loop(pattern.sample, pips),
                   pip_loop(baseline.Pattern().sample, pips), BATCH, empty_pip_loop(pips),
                   "baseline method sample(pip_count)")


def bench_pattern_library(size=64):
    if not hasattr(kinetra, "PatternLibrary"):
        return absent("PatternLibrary.sample(name, pip)", "PatternLibrary")
    names = ["user_pattern_%03d" % i for i in range(size)]
    library = kinetra.PatternLibrary(
        [kinetra.SampledPattern(n, "A user pattern", smooth_rows(256, i))
         for i, n in enumerate(names)])
    pairs = name_calls(names, 5)
    sample, base = library.sample, baseline.Library().sample

    def run():
        for name, pip in pairs:
            sample(name, pip)

    def run_base():
        for name, pip in pairs:
            base(name, pip)

    def empty():
        for name, pip in pairs:
            pass

    return compare("PatternLibrary.sample(name, pip), own names of %d patterns" % size,
                   run, run_base, BATCH, empty, "baseline method sample(name, pip_count)")


def bench_sampled_recording():
    if not hasattr(kinetra, "SampledRecording"):
        return absent("SampledRecording.sample(pip)", "SampledRecording")
    rows = [[0.5 * ((r * 7 + a) % 100) / 100.0 for a in range(3)] for r in range(4096)]
    recording = kinetra.SampledRecording("take", ["pan", "tilt", "zoom"], rows, 120.0, 0.0, -1000)
    rng = random.Random(6)
    pips = [-1000 + rng.randrange(4096) for _ in range(BATCH)]
    return compare("SampledRecording.sample(pip), 3 axes", pip_loop(recording.sample, pips),
                   pip_loop(baseline.Recording(3).sample, pips), BATCH, empty_pip_loop(pips),
                   "baseline method sample(pip) returning 3 floats")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    names = [row["name"] for row in kinetra.catalogue()]
    rows = [
        bench_sample(names),
        bench_sample_one_name(),
        bench_bounce(),
        bench_catalogue(),
        bench_sampled_pattern(),
        bench_pattern_library(),
        bench_sampled_recording(),
    ]
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump(rows, f, indent=1)
    for row in rows:
        print("%-70s %10s" % (row["figure"], "-" if row["value"] is None else
                              "%.1f %s" % (row["value"], row["unit"])), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
