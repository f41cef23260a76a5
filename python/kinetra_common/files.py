"""Reading the files a user names: regular files only, of bounded size."""

from __future__ import annotations

import os
import stat


class FileProblem(Exception):
    """Why a file cannot be read; the message is meant for the user."""


def read_bounded(path: str, limit: int, too_large: str) -> bytes:
    """The bytes of a regular file of at most `limit` bytes. It is opened without blocking,
    so that a FIFO is refused instead of waited on; `too_large` is the message for a
    larger file."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    except OSError as exc:
        raise FileProblem(f"cannot read: {exc.strerror or exc}") from None
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode):
            raise FileProblem("not a regular file")
        if info.st_size > limit:
            raise FileProblem(too_large)
        with os.fdopen(fd, "rb", closefd=False) as fh:
            raw = fh.read(limit + 1)
    except OSError as exc:
        raise FileProblem(f"cannot read: {exc.strerror or exc}") from None
    finally:
        os.close(fd)
    if len(raw) > limit:
        raise FileProblem(too_large)
    return raw
