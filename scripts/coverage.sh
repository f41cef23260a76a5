#!/usr/bin/env bash
# Line coverage of src/ by each fuzz target's corpus (tests/fuzz/corpus/<target>/): builds the
# targets with clang's source-based coverage (build/coverage), runs each once over its corpus
# and prints the llvm-cov summary of the files under src/ (and of the public headers, where
# SampledRecording lives), with a TOTAL line per target. Installs what it needs first; safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

ensure_fuzz_tools
ensure_venv
BUILD="$ROOT/build/coverage"
TARGETS=(fuzz_lookup fuzz_sampled_pattern fuzz_pattern_library fuzz_recording)
flags="-fprofile-instr-generate -fcoverage-mapping -fsanitize=fuzzer-no-link -O1 -g"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-16 "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate" -DPython_EXECUTABLE="$VENV_PY" \
    -DKINETRA_BUILD_PYTHON=OFF -DKINETRA_BUILD_SHARED=OFF -DKINETRA_BUILD_TESTS=OFF \
    -DKINETRA_BUILD_FUZZERS=ON >/dev/null
cmake --build "$BUILD" -j 2 --target "${TARGETS[@]}" >/dev/null

for target in "${TARGETS[@]}"; do
    binary="$BUILD/tests/fuzz/$target"
    rm -f "$BUILD/$target".profraw
    LLVM_PROFILE_FILE="$BUILD/$target.profraw" "$binary" -runs=0 "$ROOT/tests/fuzz/corpus/$target" >/dev/null 2>&1
    llvm-profdata-16 merge -sparse "$BUILD/$target.profraw" -o "$BUILD/$target.profdata"
    echo "== $target: $(ls "$ROOT/tests/fuzz/corpus/$target" | wc -l) inputs"
    for part in src include/kinetra; do
        echo "-- $part"
        llvm-cov-16 report "$binary" -instr-profile="$BUILD/$target.profdata" "$ROOT/$part" \
            | awk '{ print $1, "lines", $8, "missed", $9, $10 }' | grep -v "^-"
    done
done
