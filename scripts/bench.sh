#!/usr/bin/env bash
# Runs every benchmark and writes the report (default bench/RESULTS.md; another path may be
# given as the only argument). Installs what it needs first; safe to run again.
#
# Steps, all in build/bench, which is rebuilt from scratch on every run so that the build
# figures are those of a clean build:
#   1. clean build of the library and the extension module, timed, with each compiler
#      command's peak memory logged;
#   2. the C++ benchmarks (Google Benchmark) and the bench-only Python baseline extension;
#   3. C++ benchmarks, Python per-call benchmarks, whole-library figures;
#   4. the markdown report.
# Nothing here is a test: no figure fails the command.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

REPORT="$(realpath -m "${1:-$ROOT/bench/RESULTS.md}")"
ensure_apt build-essential binutils libbenchmark-dev
ensure_venv
export PATH="$VENV/bin:$PATH"

BUILD="$ROOT/build/bench"
RESULTS="$BUILD/results"
JOBS=2

say "clean build in $BUILD"
rm -rf "$BUILD"
mkdir -p "$RESULTS"
LAUNCHER="$VENV_PY;$ROOT/bench/compile_rss.py;$RESULTS/compile.log"
start=$(date +%s.%N)
cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DPython_EXECUTABLE="$VENV_PY" \
    -DKINETRA_BUILD_PYTHON=ON -DKINETRA_BUILD_SHARED=ON \
    -DKINETRA_BUILD_TESTS=OFF -DKINETRA_BUILD_BENCH=ON \
    "-DCMAKE_CXX_COMPILER_LAUNCHER=$LAUNCHER" "-DCMAKE_CXX_LINKER_LAUNCHER=$LAUNCHER" >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target kinetra kinetra_python >/dev/null
end=$(date +%s.%N)
BUILD_SECONDS=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
say "clean build took $BUILD_SECONDS s"
cp "$RESULTS/compile.log" "$RESULTS/library-compile.log"

say "building the benchmarks"
cmake --build "$BUILD" -j "$JOBS" --target kinetra_bench kinetra_bench_baseline >/dev/null

say "C++ benchmarks"
"$BUILD/bench/kinetra_bench" \
    --benchmark_min_time=0.2 --benchmark_repetitions=5 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_out="$RESULTS/cpp.json" --benchmark_out_format=json

say "Python benchmarks"
PYTHONPATH="$BUILD:$BUILD/bench" "$VENV_PY" "$ROOT/bench/python/bench_python.py" \
    --out "$RESULTS/python.json"

say "whole-library figures"
"$VENV_PY" "$ROOT/bench/library_figures.py" --build "$BUILD" --build-seconds "$BUILD_SECONDS" \
    --compile-log "$RESULTS/library-compile.log" --python "$VENV_PY" --out "$RESULTS/library.json"

"$VENV_PY" "$ROOT/bench/report.py" --cpp "$RESULTS/cpp.json" \
    --rows "$RESULTS/python.json" "$RESULTS/library.json" \
    --notes "$ROOT/bench/NOTES.md" --out "$REPORT"
say "report written to $REPORT"
