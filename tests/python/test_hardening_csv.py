"""The pattern file reader on hostile files: each read runs in its own interpreter with a
time limit, so a hang or a crash fails the test."""

import os
import subprocess
import sys

import pytest

READ = """
import sys
from kinetra_common import patternfile
try:
    patternfile.load_pattern(sys.argv[1])
    print("accepted")
except patternfile.PatternFileError as e:
    print(e)
"""


def read(path):
    done = subprocess.run([sys.executable, "-c", READ, str(path)], capture_output=True, text=True, timeout=30)
    assert done.returncode == 0, done.stderr[-2000:]
    return done.stdout.strip()


@pytest.mark.parametrize(
    "text, line, message",
    [
        ("0,0," + "1" * 140000 + "\n", 1, "a field is longer than 131072 characters"),
        ('x,y,z\n0,"0,0\n0,0,0\n', 2, "a quoted field is not closed"),
        ("0_5,0,0\n", 1, "x value '0_5' is not a number"),
        ("0,\u0663,0\n", 1, "y value '\u0663' is not a number"),
        ("0,0,1 0\n", 1, "z value '1 0' is not a number"),
        ("0,0,0x1\n", 1, "z value '0x1' is not a number"),
        ("0,0,0\n0,0,0\n\udcff\n", 3, "not UTF-8 text"),
    ],
)
def test_malformed_files_are_reported_with_their_line(tmp_path, text, line, message):
    path = tmp_path / "walk.csv"
    path.write_bytes(text.encode("utf-8", "surrogateescape"))
    assert read(path) == f"{path}:{line}: {message}"


def test_files_that_are_not_regular_or_too_large_are_refused(tmp_path):
    fifo = tmp_path / "pipe.csv"
    os.mkfifo(fifo)
    large = tmp_path / "large.csv"
    with open(large, "wb") as fh:
        fh.truncate(8 * 1024 * 1024 + 1)
    assert read(fifo) == f"{fifo}: not a regular file"
    assert read("/dev/zero") == "/dev/zero: not a regular file"
    assert read(tmp_path) == f"{tmp_path}: not a regular file"
    assert read(large) == f"{large}: larger than 8388608 bytes"


def test_plain_decimal_numbers_are_read(tmp_path):
    path = tmp_path / "walk.csv"
    path.write_text("x,y,z\n-0.5,+1,.25\n1e-3,-1E0,0.\n", encoding="utf-8")
    assert read(path) == "accepted"
