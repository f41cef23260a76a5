#!/usr/bin/env bash
# Installs the package and runs the demo. Installs what it needs first; safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

ensure_apt build-essential
ensure_venv
pip_install_project "$ROOT/build/wheel"
"$VENV_PY" "$ROOT/examples/demo.py" "$@"
