"""What users of the installed package rely on beyond the API: the type stubs, the console
commands, one version everywhere, and the CMake configure behaviour of a plain C++ build."""

import importlib.metadata
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
TYPED_EXAMPLE = ROOT / "examples" / "typed_use.py"
ALLOWLIST = pathlib.Path(__file__).with_name("typing") / "stubtest-allowlist.txt"
BIN = pathlib.Path(sys.executable).parent


def run(*args, cwd=None):
    return subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, text=True, timeout=300)


def test_stubs_match_the_module():
    result = run(sys.executable, "-m", "mypy.stubtest", "kinetra", "--allowlist", ALLOWLIST)
    assert result.returncode == 0, result.stdout + result.stderr


CHECKERS = {
    "mypy": lambda path: run(sys.executable, "-m", "mypy", "--strict", "--no-incremental", path),
    "pyright": lambda path: run(BIN / "pyright", "--pythonpath", sys.executable, path),
}

# Misuses the stubs must catch: a keyword for a positional-only pip, a float where only an
# int (or an index) is accepted, a str pip, and a wrong result type.
MISUSES = """\
import kinetra

kinetra.bounce(pip=3)
kinetra.SampledPattern("walk", "", [(0.0, 0.0, 0.0)] * 64).sample(1.5)
kinetra.sample("circle", "16")
name: int = kinetra.catalogue()[0]["name"]
"""


@pytest.mark.parametrize("checker", sorted(CHECKERS))
def test_typed_example_is_accepted(checker):
    result = CHECKERS[checker](TYPED_EXAMPLE)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("checker", sorted(CHECKERS))
def test_misuses_are_reported(checker, tmp_path):
    path = tmp_path / "misuse.py"
    path.write_text(MISUSES)
    result = CHECKERS[checker](path)
    lines = {int(m) for m in re.findall(r"misuse\.py:(\d+)", result.stdout)}
    assert result.returncode != 0
    assert lines >= {3, 4, 5, 6}, result.stdout


def test_one_version_everywhere():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    version = re.search(r"project\(kinetra VERSION ([0-9.]+)", cmake).group(1)
    assert importlib.metadata.version("kinetra") == version


def console_commands():
    return sorted(
        ep.name for ep in importlib.metadata.distribution("kinetra").entry_points if ep.group == "console_scripts"
    )


def test_console_commands_are_installed():
    assert "kinetra-preview" in console_commands()


@pytest.mark.parametrize("command", console_commands())
def test_console_command_runs(command):
    result = run(BIN / command, "--help")
    assert result.returncode == 0 and "usage" in result.stdout.lower(), result.stderr


CMAKE = shutil.which("cmake", path=str(BIN)) or shutil.which("cmake")


@pytest.mark.skipif(CMAKE is None, reason="cmake not installed")
@pytest.mark.parametrize(
    "args, ok, text",
    [
        # A plain configure without GoogleTest builds the library and says how to get the tests.
        ([], True, "GoogleTest was not found: install it"),
        # Tests asked for explicitly: stop, saying how to get GoogleTest or switch the tests off.
        (["-DKINETRA_BUILD_TESTS=ON"], False, "-DKINETRA_BUILD_TESTS=OFF"),
        (["-DKINETRA_BUILD_TESTS=OFF"], True, "Build files have been written"),
    ],
)
def test_plain_configure_without_googletest(tmp_path, args, ok, text):
    result = run(
        CMAKE,
        "-S",
        ROOT,
        "-B",
        tmp_path / "build",
        "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON",
        f"-DPython_EXECUTABLE={sys.executable}",
        *args,
    )
    output = result.stdout + result.stderr
    assert (result.returncode == 0) == ok, output
    assert text in " ".join(output.split()), output
