#!/usr/bin/env bash
# Runs every benchmark and writes the report (default bench/RESULTS.md; another path may be
# given as the last argument). Installs what it needs first; safe to run again.
#
#   scripts/bench.sh [--full-size] [REPORT]
#
# --full-size builds the synthetic catalogue of the final size (bench/synthetic_catalogue.py:
# made-up rows with the periods and dimensions of the manifest, in the real pack split) instead of
# the families in the tree.
#
# Steps, all in build/bench, which is rebuilt from scratch on every run so that the build
# figures are those of a clean build:
#   1. clean build of the library and the extension module, timed, with each compiler
#      command's peak memory logged;
#   2. rebuild after one family changed: the largest pack's header is regenerated (a new seed
#      of the synthetic pack, or the family module and the header touched), timed;
#   3. the C++ benchmarks (Google Benchmark) and the bench-only Python baseline extension;
#   4. C++ benchmarks, Python per-call benchmarks (pyperf), whole-library figures;
#   5. the markdown report.
# Nothing here is a test: no figure fails the command.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

FULL_SIZE=OFF
if [ "${1:-}" = "--full-size" ]; then
    FULL_SIZE=ON
    shift
fi
REPORT="$(realpath -m "${1:-$ROOT/bench/RESULTS.md}")"
ensure_apt build-essential binutils libbenchmark-dev
ensure_venv
export PATH="$VENV/bin:$PATH"

BUILD="$ROOT/build/bench"
RESULTS="$BUILD/results"
JOBS=2

seconds_since() {
    awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'
}

say "clean build in $BUILD (full-size synthetic catalogue: $FULL_SIZE)"
rm -rf "$BUILD"
mkdir -p "$RESULTS"
LAUNCHER="$VENV_PY;$ROOT/bench/compile_rss.py;$RESULTS/compile.log"
start=$(date +%s.%N)
cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DPython_EXECUTABLE="$VENV_PY" \
    -DKINETRA_BUILD_PYTHON=ON -DKINETRA_BUILD_SHARED=ON \
    -DKINETRA_BUILD_TESTS=OFF -DKINETRA_BUILD_BENCH=ON \
    -DKINETRA_SYNTHETIC_CATALOGUE="$FULL_SIZE" \
    "-DCMAKE_CXX_COMPILER_LAUNCHER=$LAUNCHER" "-DCMAKE_CXX_LINKER_LAUNCHER=$LAUNCHER" >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target kinetra kinetra_python >/dev/null
BUILD_SECONDS=$(seconds_since "$start")
say "clean build took $BUILD_SECONDS s"

# The pack with the largest header stands for the family that changed.
PACK=$(cd "$BUILD/generated/include/kinetra/packs" && ls -S | head -1)
PACK=${PACK%.hpp}
say "rebuild after a change of pack $PACK"
start=$(date +%s.%N)
if [ "$FULL_SIZE" = ON ]; then
    echo "$PACK $(date +%s)" >"$BUILD/synthetic-seeds.txt"
else
    touch "$ROOT/tools/patterngen/families/beat.py" "$BUILD/generated/include/kinetra/packs/$PACK.hpp"
fi
cmake --build "$BUILD" -j "$JOBS" --target kinetra kinetra_python >"$RESULTS/rebuild.out"
REBUILD_SECONDS=$(seconds_since "$start")
REBUILD_NOTE="pack $PACK; $(grep -c 'Building CXX' "$RESULTS/rebuild.out" || true) unit(s) recompiled: $(grep 'Building CXX' "$RESULTS/rebuild.out" | sed 's|.*/||' | tr '\n' ' ')"
say "rebuild took $REBUILD_SECONDS s ($REBUILD_NOTE)"
cp "$RESULTS/compile.log" "$RESULTS/library-compile.log"

say "building the benchmarks"
cmake --build "$BUILD" -j "$JOBS" --target kinetra_bench kinetra_bench_baseline >/dev/null

say "C++ benchmarks"
"$BUILD/bench/kinetra_bench" \
    --benchmark_min_time=0.2 --benchmark_repetitions=5 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_out="$RESULTS/cpp.json" --benchmark_out_format=json

say "Python benchmarks (pyperf)"
PYTHONPATH="$BUILD:$BUILD/bench" "$VENV_PY" "$ROOT/bench/python/bench_python.py" \
    --inherit-environ PYTHONPATH --quiet -o "$RESULTS/python-pyperf.json" \
    --rows "$RESULTS/python.json"

say "whole-library figures"
SYNTHETIC=()
[ "$FULL_SIZE" = ON ] && SYNTHETIC=(--synthetic)
"$VENV_PY" "$ROOT/bench/library_figures.py" --build "$BUILD" --build-seconds "$BUILD_SECONDS" \
    --rebuild-seconds "$REBUILD_SECONDS" --rebuild-note "$REBUILD_NOTE" "${SYNTHETIC[@]}" \
    --compile-log "$RESULTS/library-compile.log" --python "$VENV_PY" --out "$RESULTS/library.json"

"$VENV_PY" "$ROOT/bench/report.py" --cpp "$RESULTS/cpp.json" \
    --rows "$RESULTS/python.json" "$RESULTS/library.json" \
    --notes "$ROOT/bench/NOTES.md" --out "$REPORT" \
    --catalogue "$([ "$FULL_SIZE" = ON ] && echo "synthetic, of the final size (scripts/bench.sh --full-size)" || echo "the families in this tree")"
say "report written to $REPORT"

# The companions' benchmarks keep sections of their own in the report (bench/live/sections.py).
for script in "$ROOT"/bench/live/*_bench.py; do
    say "companion benchmark $(basename "$script")"
    PYTHONPATH="$BUILD:$ROOT/python" "$VENV_PY" "$script" --report "$REPORT"
done
