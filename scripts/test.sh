#!/usr/bin/env bash
# Builds everything (pattern packs, shared library, extension module, C++ tests) and runs every
# C++ and Python test. Installs what it needs first; safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

ensure_apt build-essential libgtest-dev chromium pkgconf ola
ensure_fuzz_tools  # the fuzz targets' corpus replay needs clang's FuzzedDataProvider.h
ensure_lint_tools
ensure_venv
lint  # first, so that a style slip fails in seconds

# One build tree serves both: pip builds and installs the module from it, and the same tree
# holds the shared library and the C++ tests, so the core compiles once.
BUILD="$ROOT/build/dev"
say "building in $BUILD"
pip_install_project "$BUILD" \
    -C cmake.define.KINETRA_BUILD_SHARED=ON \
    -C cmake.define.KINETRA_BUILD_TESTS=ON \
    -C build.verbose=false

say "C++ tests"
ctest --test-dir "$BUILD" --output-on-failure -j2

say "Python tests"
cd "$ROOT"
"$VENV_PY" -m pytest -q tests/python

say "source distribution round trip"
"$ROOT/scripts/sdist_check.sh"
