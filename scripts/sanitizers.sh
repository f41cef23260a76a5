#!/usr/bin/env bash
# Runs the test suites under the sanitizers; any sanitizer report fails the command.
#   1. AddressSanitizer + UndefinedBehaviorSanitizer (build/asan): every C++ test, then every
#      Python test with the sanitized extension module (the runtime preloaded into Python).
#   2. ThreadSanitizer (build/tsan): the concurrency test, eight threads racing for the
#      catalogue and sampling built-in patterns, a pattern library and a recording at once.
# Installs what it needs first; safe to run again (both trees are reused).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

ensure_apt build-essential libgtest-dev
ensure_venv
export PATH="$VENV/bin:$PATH"
JOBS=2

configure() {
    local dir="$1" flags="$2"
    shift 2
    cmake -S "$ROOT" -B "$dir" -G Ninja \
        -DCMAKE_BUILD_TYPE=Debug \
        "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" \
        "-DCMAKE_CXX_FLAGS=$flags -fno-omit-frame-pointer" \
        "-DCMAKE_EXE_LINKER_FLAGS=$flags" \
        "-DCMAKE_SHARED_LINKER_FLAGS=$flags" \
        "-DCMAKE_MODULE_LINKER_FLAGS=$flags" \
        -DPython_EXECUTABLE="$VENV_PY" \
        "$@" >/dev/null
}

# --- AddressSanitizer + UndefinedBehaviorSanitizer --------------------------------------------
ASAN_BUILD="$ROOT/build/asan"
say "AddressSanitizer + UndefinedBehaviorSanitizer build in $ASAN_BUILD"
configure "$ASAN_BUILD" "-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all" \
    -DKINETRA_BUILD_PYTHON=ON -DKINETRA_BUILD_SHARED=ON -DKINETRA_BUILD_TESTS=ON
cmake --build "$ASAN_BUILD" -j "$JOBS"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
say "C++ tests under ASan + UBSan"
# The installed-package tests build unsanitized consumers against the sanitized library,
# which cannot run without the runtime first in line; it checks packaging, not memory.
ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1" \
    ctest --test-dir "$ASAN_BUILD" --output-on-failure -j "$JOBS" -E '^installed_package_'

say "Python tests under ASan + UBSan"
# CPython is not built with the sanitizer, so its runtime is preloaded; CPython keeps memory
# until exit by design, so leak detection stays off. PYTHONMALLOC=malloc lets ASan see every
# object allocation. The project's pure-Python package comes from the source tree, so that no
# installed build is needed. The runner drops the preload and the sanitized tree from the
# environment of any process that the tests start (browsers, interpreters): those are not
# sanitized. The long checks (marked slow) ran once in scripts/test.sh and are left out here.
# The C++ runtime is preloaded right after it: the sanitizer's interceptor of C++ throws looks
# up the real one when the sanitizer starts, before the extension would have loaded it.
ASAN_RUNTIME="$(c++ -print-file-name=libasan.so)"
CXX_RUNTIME="$(c++ -print-file-name=libstdc++.so)"
[ -f "$ASAN_RUNTIME" ] && [ -f "$CXX_RUNTIME" ] || { say "sanitizer or C++ runtime not found"; exit 1; }
LD_PRELOAD="$ASAN_RUNTIME $CXX_RUNTIME" \
ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:detect_stack_use_after_return=1" \
PYTHONMALLOC=malloc \
PYTHONPATH="$ASAN_BUILD:$ROOT/python${PYTHONPATH:+:$PYTHONPATH}" \
KINETRA_SANITIZED_TREE="$ASAN_BUILD" \
    "$VENV_PY" - "$ROOT/tests/python" <<'EOF'
import os
import sys

tree = os.environ.pop("KINETRA_SANITIZED_TREE")
os.environ.pop("LD_PRELOAD")
os.environ["PYTHONPATH"] = os.pathsep.join(
    p for p in os.environ["PYTHONPATH"].split(os.pathsep) if p != tree)

import kinetra
import pytest

if os.path.dirname(os.path.abspath(kinetra.__file__)) != tree:
    sys.exit("the sanitized module was not the one imported: %s" % kinetra.__file__)
print("testing %s" % kinetra.__file__)
sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", "-m", "not slow", sys.argv[1]]))
EOF

# --- ThreadSanitizer ------------------------------------------------------------------------
TSAN_BUILD="$ROOT/build/tsan"
say "ThreadSanitizer build in $TSAN_BUILD"
configure "$TSAN_BUILD" "-fsanitize=thread" \
    -DKINETRA_BUILD_PYTHON=OFF -DKINETRA_BUILD_SHARED=ON -DKINETRA_BUILD_TESTS=ON
cmake --build "$TSAN_BUILD" -j "$JOBS" --target test_threads
say "concurrency test under TSan"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
    ctest --test-dir "$TSAN_BUILD" --output-on-failure -R '^Threads\.'
