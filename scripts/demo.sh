#!/usr/bin/env bash
# The main job: installs the package with the extras the example show needs (web), writes the
# pattern gallery (one self-contained HTML page with every catalogue pattern), then plays
# examples/four-heads.toml on this machine alone (sACN and OSC to 127.0.0.1, no lights needed)
# with the web remote and the stage view, and prints both addresses. Runs until Ctrl-C, or for
# S seconds with --duration S. Other arguments go to the gallery command (e.g. --pattern-file
# walk.csv). Installs what it needs first; safe to run again. KINETRA_VENV and
# KINETRA_BUILD_DIR choose another environment and build tree to create or reuse.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$ROOT"

duration=()
gallery=()
while [ $# -gt 0 ]; do
    case "$1" in
        --duration) duration=(--duration "${2:?--duration needs seconds}"); shift 2 ;;
        --duration=*) duration=(--duration "${1#*=}"); shift ;;
        *) gallery+=("$1"); shift ;;
    esac
done

ensure_apt build-essential
ensure_venv
EXTRAS=web pip_install_project "${KINETRA_BUILD_DIR:-$ROOT/build/wheel}"
"$VENV_PY" -m kinetra_preview gallery --out "$ROOT/kinetra-gallery.html" ${gallery[@]+"${gallery[@]}"}
say "playing examples/four-heads.toml (sACN and OSC to 127.0.0.1); Ctrl-C stops it"
exec "$VENV/bin/kinetra-live" examples/four-heads.toml ${duration[@]+"${duration[@]}"}
