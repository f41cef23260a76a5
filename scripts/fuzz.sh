#!/usr/bin/env bash
# Fuzzing: builds the libFuzzer targets with clang, AddressSanitizer and UBSan (build/fuzz),
# then runs the given target for the given number of seconds (default 60) on a copy of its
# corpus, merging new inputs that add coverage back into tests/fuzz/corpus/<target>/.
#   scripts/fuzz.sh TARGET [SECONDS]    one target: fuzz_lookup, fuzz_sampled_pattern,
#                                        fuzz_pattern_library, fuzz_recording, python_surface,
#                                        show_file
#   scripts/fuzz.sh all [SECONDS]       every target, one after the other
# A crash stops the run; libFuzzer writes the input to build/fuzz/crashes/ and this script
# minimises it there (crash-*.min), ready to be kept as a regression case in the corpus.
# Installs what it needs first; safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

TARGET="${1:?usage: scripts/fuzz.sh TARGET|all [SECONDS]}"
SECONDS_PER_TARGET="${2:-60}"
ensure_fuzz_tools
ensure_venv
BUILD="$ROOT/build/fuzz"
CRASHES="$BUILD/crashes"
CPP_TARGETS=(fuzz_lookup fuzz_sampled_pattern fuzz_pattern_library fuzz_recording)

build_fuzzers() {
    local flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1"
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++-16 "-DCMAKE_CXX_FLAGS=$flags" \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
        -DPython_EXECUTABLE="$VENV_PY" \
        -DKINETRA_BUILD_PYTHON=OFF -DKINETRA_BUILD_SHARED=OFF -DKINETRA_BUILD_TESTS=OFF \
        -DKINETRA_BUILD_FUZZERS=ON >/dev/null
    cmake --build "$BUILD" -j 2 --target "${CPP_TARGETS[@]}" >/dev/null
}

run_cpp() {
    local target="$1" corpus="$ROOT/tests/fuzz/corpus/$1" work="$BUILD/corpus/$1"
    mkdir -p "$work" "$CRASHES"
    cp -n "$corpus"/* "$work"/ 2>/dev/null || true
    say "fuzzing $target for $SECONDS_PER_TARGET s"
    local status=0
    UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" ASAN_OPTIONS="detect_leaks=1" \
        "$BUILD/tests/fuzz/$target" "$work" -max_total_time="$SECONDS_PER_TARGET" \
        -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$CRASHES/$target-" 2>"$BUILD/$target.log" || status=$?
    grep -E "^stat::|^#[0-9]+.*DONE" "$BUILD/$target.log" | sed "s/^/[$target] /" >&2 || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$BUILD/$target.log" >&2
        for crash in "$CRASHES/$target"-crash-* "$CRASHES/$target"-leak-* "$CRASHES/$target"-oom-*; do
            [ -f "$crash" ] && [[ "$crash" != *.min ]] || continue
            "$BUILD/tests/fuzz/$target" -minimize_crash=1 -max_total_time=30 \
                -exact_artifact_path="$crash.min" "$crash" >/dev/null 2>&1 || true
            say "crash kept in $crash (minimised: $crash.min)"
        done
        return "$status"
    fi
    # Keep the corpus small: only inputs that add coverage go back into the repository, beside
    # the regression cases (regression-*), which always stay.
    local merged="$BUILD/merged/$target"
    rm -rf "$merged" && mkdir -p "$merged"
    "$BUILD/tests/fuzz/$target" -merge=1 "$merged" "$corpus" "$work" >/dev/null 2>&1
    find "$corpus" -type f ! -name 'regression-*' -delete && cp -n "$merged"/* "$corpus"/
    say "$target: corpus of $(ls "$corpus" | wc -l) inputs"
}

# The Python targets (atheris): the module's surface, and the live companion's show-file reader.
# Each takes inputs of at most the given length.
declare -A PYTHON_MAX_LEN=([python_surface]=2048 [show_file]=12288)

run_python() {
    local target="$1" corpus="$ROOT/tests/fuzz/corpus/$1" work="$BUILD/corpus/$1"
    mkdir -p "$work" "$CRASHES"
    cp -n "$corpus"/* "$work"/ 2>/dev/null || true
    "$VENV_PY" -c "import kinetra" 2>/dev/null || pip_install_project "$ROOT/build/wheel"
    say "fuzzing $target for $SECONDS_PER_TARGET s"
    local status=0
    PYTHONPATH="$ROOT/python${PYTHONPATH:+:$PYTHONPATH}" \
        "$VENV_PY" "$ROOT/tests/fuzz/$target.py" "$work" -max_total_time="$SECONDS_PER_TARGET" \
        -rss_limit_mb=2048 -timeout=10 -max_len="${PYTHON_MAX_LEN[$target]}" -print_final_stats=1 \
        -artifact_prefix="$CRASHES/$target-" 2>"$BUILD/$target.log" || status=$?
    grep -E "^stat::|DONE" "$BUILD/$target.log" | sed "s/^/[$target] /" >&2 || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$BUILD/$target.log" >&2
        return "$status"
    fi
    # libFuzzer adds to the working corpus only inputs that bring new coverage.
    find "$corpus" -type f ! -name 'regression-*' -delete && cp -n "$work"/* "$corpus"/
    say "$target: corpus of $(ls "$corpus" | wc -l) inputs"
}

case "$TARGET" in
    all) build_fuzzers; for t in "${CPP_TARGETS[@]}"; do run_cpp "$t"; done
         run_python python_surface; run_python show_file ;;
    python_surface|show_file) run_python "$TARGET" ;;
    fuzz_*) build_fuzzers; run_cpp "$TARGET" ;;
    *) say "unknown target: $TARGET"; exit 2 ;;
esac
