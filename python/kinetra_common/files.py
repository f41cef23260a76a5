"""Reading the files a user names (regular files only, of bounded size) and writing files
so that they are never half written."""

from __future__ import annotations

import os
import stat
import tempfile


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


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_atomic(path: str, data: bytes, *, mode: int | None = None, exclusive: bool = False) -> bool:
    """Writes `data` to `path` so that the file, after a crash or a kill at any moment, is
    either the old one or the whole new one: a temporary file in the same folder
    (`.NAME.*.tmp`), synced, renamed over `path`, then the folder synced. `mode` gives the
    new file's permissions (by default 0o666 less the umask). With `exclusive` the file is
    linked into place only where `path` does not exist yet: False if it does. Raises
    OSError; the temporary file never stays behind."""
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".tmp", dir=folder)
    try:
        with os.fdopen(fd, "wb") as fh:
            fh.write(data)
            fh.flush()
            os.fsync(fh.fileno())
        os.chmod(tmp, 0o666 & ~_umask() if mode is None else mode)
        if exclusive:
            try:
                os.link(tmp, path)
            except FileExistsError:
                return False
            finally:
                os.unlink(tmp)
        else:
            os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise
    try:
        dfd = os.open(folder, os.O_RDONLY)
        try:
            os.fsync(dfd)
        finally:
            os.close(dfd)
    except OSError:
        pass  # not every file system syncs a folder
    return True
