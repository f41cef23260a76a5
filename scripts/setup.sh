# Shared set-up for the project's commands (sourced, not run): finds Python 3.13, creates or
# reuses the project virtual environment and installs what is missing, from Debian and PyPI.
# Every step is safe to repeat.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="${KINETRA_VENV:-$ROOT/.venv}"  # KINETRA_VENV: another environment to create or reuse
VENV_PY="$VENV/bin/python"

say() { printf '[kinetra] %s\n' "$*" >&2; }

is_python313() {
    [ -x "$1" ] && "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1
}

find_python313() {
    local candidate
    for candidate in "$(command -v python3.13 2>/dev/null)" \
                     "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.13*/bin/python3.13 \
                     /usr/local/bin/python3.13 /usr/bin/python3.13; do
        if [ -n "$candidate" ] && is_python313 "$candidate"; then
            printf '%s\n' "$candidate"
            return 0
        fi
    done
    return 1
}

# ensure_apt PACKAGE...: installs the Debian packages that are not installed yet.
ensure_apt() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { say "need root or sudo to install: ${missing[*]}"; return 1; }
        sudo=(sudo)
    fi
    say "installing Debian packages: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# ensure_venv: the project virtual environment with the build and test tools of requirements-dev.txt.
ensure_venv() {
    if ! is_python313 "$VENV_PY"; then
        local python
        if ! python="$(find_python313)"; then
            say "Python 3.13 not found: install python3.13 (on PATH, or under pyenv as 3.13.x) and run again."
            exit 1
        fi
        say "creating $VENV with $python"
        rm -rf "$VENV"
        "$python" -m venv "$VENV"
        "$VENV_PY" -m pip install -q --upgrade pip
    fi
    "$VENV_PY" -m pip install -q --disable-pip-version-check -r "$ROOT/scripts/requirements-dev.txt"
}

# pip_install_project BUILD_DIR [CONFIG_SETTING...]: builds and installs the package into the venv,
# reusing BUILD_DIR so that a repeated run only rebuilds what changed; with EXTRAS=web,midi also
# those extras.
pip_install_project() {
    local build_dir="$1"
    shift
    "$VENV_PY" -m pip install -q --disable-pip-version-check --no-build-isolation \
        -C "build-dir=$build_dir" "$@" "$ROOT${EXTRAS:+[$EXTRAS]}"
}

# build_dev: builds and installs the package from build/dev. The same tree holds the shared
# library and the C++ tests, so the core compiles once.
DEV_BUILD="$ROOT/build/dev"
build_dev() {
    say "building in $DEV_BUILD"
    pip_install_project "$DEV_BUILD" \
        -C cmake.define.KINETRA_BUILD_SHARED=ON \
        -C cmake.define.KINETRA_BUILD_TESTS=ON \
        -C build.verbose=false
}

# ensure_fuzz_tools: clang with its libFuzzer and sanitizer runtimes, and the LLVM coverage tools.
ensure_fuzz_tools() {
    ensure_apt build-essential clang-16 libclang-rt-16-dev llvm-16
}

# The C++ sources under clang-format's check (.clang-format); generated sources are not among them.
cxx_sources() {
    git -C "$ROOT" ls-files 'src/*.cpp' 'src/*.hpp' 'include/*.hpp' 'tests/cpp/*.cpp' 'tests/fuzz/*.cpp' \
        'tests/fuzz/*.hpp' 'bench/*.cpp' 'bench/*.hpp'
}

# lint: ruff (lint and format check, configured in pyproject.toml) and clang-format; fails on the
# first style slip. Needs ensure_venv and ensure_lint_tools first.
lint() {
    say "lint"
    (cd "$ROOT" && "$VENV/bin/ruff" check --quiet . && "$VENV/bin/ruff" format --check --quiet . \
        && cxx_sources | xargs clang-format-16 --dry-run --Werror)
}

ensure_lint_tools() {
    ensure_apt clang-format-16
}
