#!/usr/bin/env bash
# The source distribution round trip: builds the sdist, checks what it carries (the generator and
# its data travel, nothing generated or built does), builds a wheel from that sdist in a fresh
# virtual environment, installs it there and runs the Python tests of the unpacked sdist against
# it. Prints the sizes of both archives. Called by scripts/test.sh; safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

ensure_venv
WORK="$ROOT/build/sdist-check"
rm -rf "$WORK"
mkdir -p "$WORK/dist"

say "sdist: building"
"$VENV_PY" -m build --sdist --no-isolation --outdir "$WORK/dist" "$ROOT" >"$WORK/sdist.log" 2>&1 \
    || { cat "$WORK/sdist.log"; exit 1; }
sdist="$(ls "$WORK"/dist/kinetra-*.tar.gz)"

say "sdist: checking its contents"
"$VENV_PY" - "$sdist" <<'PY'
import sys, tarfile
names = tarfile.open(sys.argv[1]).getnames()
top = names[0].split("/")[0]
rel = {n[len(top) + 1:] for n in names if n.startswith(top + "/")}
need = ["CMakeLists.txt", "pyproject.toml", "tools/patterngen/__main__.py", "tools/patterngen/registry.py",
        "tools/patterngen/data/akwf/SOURCE.md", "python/kinetra-stubs/__init__.pyi",
        "tests/python/conftest.py", "src/catalogue/lookup.cpp"]
missing = [n for n in need if n not in rel]
generated = sorted(n for n in rel if n.startswith(("build/", ".venv/", "generated/"))
                   or "/packs/" in n or n.endswith(("registry_data.cpp", ".so", ".pyc")))
if missing or generated:
    sys.exit("sdist: missing %s; must not carry %s" % (missing, generated[:10]))
PY

say "sdist: fresh virtual environment"
python="$(find_python313)"
"$python" -m venv "$WORK/venv"
fresh="$WORK/venv/bin/python"
"$fresh" -m pip install -q --disable-pip-version-check -r "$ROOT/scripts/requirements-dev.txt"

say "sdist: building a wheel from the sdist"
"$fresh" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps \
    -w "$WORK/dist" "$sdist"
wheel="$(ls "$WORK"/dist/kinetra-*.whl)"
# with the optional extra the tests cover (the others' packages are test requirements)
"$fresh" -m pip install -q --disable-pip-version-check "$wheel[audio]"

say "sdist: Python tests of the unpacked sdist against the installed wheel"
mkdir -p "$WORK/src"
tar -xzf "$sdist" -C "$WORK/src"
cd "$WORK/src"/kinetra-*/
# the long checks (marked slow) ran once in the main run
"$fresh" -m pytest -q -p no:cacheprovider -m "not slow" tests/python

say "sdist $(du -k "$sdist" | cut -f1) KiB, wheel $(du -k "$wheel" | cut -f1) KiB"
