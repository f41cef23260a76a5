#!/usr/bin/env bash
# The main job: installs the package, writes the pattern gallery (one self-contained HTML page
# with every catalogue pattern) and prints where it is. Extra arguments go to the gallery
# command (e.g. --pattern-file walk.csv). Installs what it needs first; safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

ensure_apt build-essential
ensure_venv
pip_install_project "$ROOT/build/wheel"
"$VENV_PY" -m kinetra_preview gallery --out "$ROOT/kinetra-gallery.html" "$@"
