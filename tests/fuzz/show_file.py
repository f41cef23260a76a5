"""Fuzz target over the show-file reader of the live companion (atheris).

The fuzz data is the show file, byte for byte. Reading it must give a show or one ShowError
whose text is "file:line: key: reason" (line and key where known) on one line without control
characters; any other exception is a crash. Host names never reach a resolver: only
"localhost" resolves, to 127.0.0.1.

    python tests/fuzz/show_file.py CORPUS_DIR -max_total_time=60   # fuzz
    python tests/fuzz/show_file.py FILE...                          # replay inputs
"""

import os
import re
import socket
import sys
import tempfile

import atheris

with atheris.instrument_imports(include=["kinetra_live", "kinetra_common", "tomllib"]):
    import tomllib  # noqa: F401  (instrumented for coverage)

    from kinetra_live import showfile
    from kinetra_live.model import ShowError

CONTROL = re.compile(r"[\x00-\x1f\x7f-\x9f]")
FOLDER = tempfile.mkdtemp(prefix="kinetra-show-fuzz-")
PATH = os.path.join(FOLDER, "show.toml")
WHERE = re.compile(re.escape(PATH) + r"(:[0-9]+)?: [^ ]")


def no_lookups(host, *args, **kwargs):
    if host == "localhost":
        return [(socket.AF_INET, socket.SOCK_DGRAM, 17, "", ("127.0.0.1", 0))]
    raise socket.gaierror(socket.EAI_NONAME, "Name or service not known")


socket.getaddrinfo = no_lookups


def TestOneInput(data):
    with open(PATH, "wb") as fh:
        fh.write(data)
    try:
        showfile.load(PATH)
    except ShowError as exc:
        text = str(exc)
        if not WHERE.match(text) or CONTROL.search(text):
            raise AssertionError(f"not one clear error: {text!r}") from None


if __name__ == "__main__":
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()
