#!/usr/bin/env bash
# Builds everything (pattern packs, shared library, extension module, C++ tests) and runs every
# C++ and Python test. Installs what it needs first; safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

ensure_apt build-essential libgtest-dev chromium pkgconf ola iproute2 procps  # olad, and the namespaces the network tests make
ensure_fuzz_tools  # the fuzz targets' corpus replay needs clang's FuzzedDataProvider.h
ensure_lint_tools
ensure_apt hydrogen-data libportaudio2   # drum samples and PortAudio for the audio tempo tests
ensure_venv
# the optional extra "audio" (its list is written once, in pyproject.toml)
"$VENV_PY" -m pip install -q --disable-pip-version-check $("$VENV_PY" -c 'import tomllib
print(" ".join(tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["audio"]))')
lint  # first, so that a style slip fails in seconds

build_dev

say "C++ tests"
ctest --test-dir "$DEV_BUILD" --output-on-failure -j2

say "Python tests"
cd "$ROOT"
"$VENV_PY" -m pytest -q tests/python

say "source distribution round trip"
"$ROOT/scripts/sdist_check.sh"
