"""Construction and lookup costs of the caller-supplied data classes.

Run against a build tree, for example:
    PYTHONPATH=build/r .venv/bin/python bench/python/bench_user_data.py library
    PYTHONPATH=build/r .venv/bin/python bench/python/bench_user_data.py recording

Each mode runs in its own process so that the peak resident size it reports is its own.
"""

import resource
import sys
import time
import timeit

import kinetra


def peak_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def bench_library():
    rows = [(0.25, -0.5, 0.0)] * 1024
    start = time.perf_counter()
    patterns = [kinetra.SampledPattern(f"user_pattern_{i}", "desc", rows) for i in range(1024)]
    print(f"1024 SampledPattern of 1024 rows: {(time.perf_counter() - start) * 1e3:.1f} ms")
    times = []
    for _ in range(5):
        start = time.perf_counter()
        library = kinetra.PatternLibrary(patterns)
        times.append(time.perf_counter() - start)
    print(f"PatternLibrary(1024 patterns, 1,048,576 samples): best {min(times) * 1e3:.2f} ms of {len(times)}")
    for name in ("user_pattern_0", "user_pattern_1023", "lfo_breathe", "bounce"):
        n = 200_000
        best = min(timeit.repeat(lambda: library.sample(name, 77), number=n, repeat=3))
        print(f"PatternLibrary.sample({name!r}, 77): {best / n * 1e9:.0f} ns/call")
    n = 200_000
    best = min(timeit.repeat(lambda: kinetra.sample("lfo_breathe", 77), number=n, repeat=3))
    print(f"kinetra.sample('lfo_breathe', 77) for comparison: {best / n * 1e9:.0f} ns/call")


def bench_recording():
    before = peak_mib()
    start = time.perf_counter()
    rows = [[0.5] for _ in range(8_388_608)]
    built = time.perf_counter() - start
    after_rows = peak_mib()
    start = time.perf_counter()
    recording = kinetra.SampledRecording("rec", ["x"], rows, 120.0)
    constructed = time.perf_counter() - start
    print(f"input list of 8,388,608 one-value rows: {built * 1e3:.0f} ms")
    print(f"SampledRecording construction: {constructed * 1e3:.0f} ms (sample_count {recording.sample_count})")
    print(
        f"peak RSS: {before:.0f} MiB at start, {after_rows:.0f} MiB with the input list, "
        f"{peak_mib():.0f} MiB after construction"
    )


if __name__ == "__main__":
    {"library": bench_library, "recording": bench_recording}[sys.argv[1]]()
