"""Reading a caller's pattern from a CSV file of x,y,z rows.

One row per pip, three plain decimal numbers each, with an optional header
row (a first row in which no field is a number, such as "x,y,z"). Blank lines
are ignored. Only regular files of at most MAX_FILE_BYTES bytes are read. The
rows are handed to `kinetra.SampledPattern`, which validates them; its message
is reported with the file name and, where one row is at fault, that row's line
number.
"""

from __future__ import annotations

import csv
import functools
import io
import math
import os
import re

from . import files

VALUE_RULE_MESSAGE = "Pattern samples must be finite and within [-1, 1]"

# The largest pattern file read: room for 65535 rows of three long numbers and more.
MAX_FILE_BYTES = 8 * 1024 * 1024


class PatternFileError(ValueError):
    """A pattern file that cannot be used; the message names file and line."""

    def __init__(self, path: str, line: int | None, message: str):
        self.path = path
        self.line = line
        self.message = message
        where = f"{path}:{line}" if line is not None else path
        super().__init__(f"{where}: {message}")


# Plain decimal numbers in ASCII ("-0.5", "+1", ".25", "1e-3"), and the words nan and inf
# (infinity), which the library's value rule then refuses with its own message. float() alone
# would also take "0_5", blanks inside and digits of other scripts.
_NUMBER = re.compile(r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|nan|inf(?:inity)?)", re.IGNORECASE)


def _is_number(text: str) -> bool:
    return _NUMBER.fullmatch(text) is not None


def _value_ok(v: float) -> bool:
    # The library's own rule: finite and within [-1, 1], both ends included.
    return math.isfinite(v) and -1.0 <= v <= 1.0


def name_from_path(path: str) -> str:
    """Pattern name suggested by a file name: its stem, lower-cased, with
    hyphens, blanks and dots turned into underscores ("Side-Step.csv" gives
    "side_step"). Whether the result is a valid name is the library's call."""
    stem = os.path.splitext(os.path.basename(path))[0]
    return re.sub(r"[-\s.]", "_", stem.lower())


@functools.cache
def row_limit() -> tuple[int, str]:
    """The most rows a pattern may have and the library's message for a count outside
    1..limit: the library's own rule, as its refusal of an empty pattern states it."""
    import kinetra

    try:
        kinetra.SampledPattern("empty", "", [])
    except ValueError as exc:
        m = re.search(r"requires 1\.\.([0-9]+) samples", str(exc))
        if m:
            return int(m.group(1)), str(exc)
    raise RuntimeError("kinetra states no limit on the samples of a pattern")


def _read_text(path: str) -> str:
    """The file's text: a regular file of at most MAX_FILE_BYTES bytes, UTF-8 (an initial BOM
    is dropped). Opened without blocking, so a FIFO is refused instead of waited on."""
    try:
        data = files.read_bounded(path, MAX_FILE_BYTES, f"larger than {MAX_FILE_BYTES} bytes")
    except files.FileProblem as exc:
        raise PatternFileError(path, None, str(exc)) from None
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as exc:
        line = data.count(b"\n", 0, exc.start) + 1
        raise PatternFileError(path, line, "not UTF-8 text") from None


def read_rows(path: str) -> list[tuple[int, tuple[float, float, float]]]:
    """(line number, (x, y, z)) for every data row of the file.

    Raises PatternFileError for a file that is not a readable regular file of at most
    MAX_FILE_BYTES bytes of UTF-8 text, malformed CSV, a row without exactly three fields,
    or a field that is not a plain decimal number. Reading stops at the first row past the most
    a pattern may have, which gets the library's message for too many rows.
    """
    text = _read_text(path)
    limit, too_many = row_limit()
    rows: list[tuple[int, tuple[float, float, float]]] = []
    reader = csv.reader(io.StringIO(text, newline=""), strict=True)
    first = True
    while True:
        start = reader.line_num + 1  # the line on which the next record begins
        try:
            fields = next(reader)
        except StopIteration:
            break
        except csv.Error as exc:
            reason = str(exc)
            if "field limit" in reason:
                message = f"a field is longer than {csv.field_size_limit()} characters"
            elif "end of data" in reason or "EOF" in reason:
                message = "a quoted field is not closed"
            else:
                message = f"malformed CSV: {reason}"
            raise PatternFileError(path, start, message) from None
        line_no = start
        fields = [f.strip() for f in fields]
        if not fields or all(f == "" for f in fields):
            continue
        if first:
            first = False
            if not any(_is_number(f) for f in fields):
                if len(fields) != 3:
                    raise PatternFileError(
                        path, line_no, f"expected a header of 3 columns (x,y,z), found {len(fields)}"
                    )
                continue  # header row
        if len(rows) == limit:
            raise PatternFileError(path, line_no, too_many)
        if len(fields) != 3:
            raise PatternFileError(path, line_no, f"expected 3 values (x,y,z), found {len(fields)}")
        values = []
        for axis, f in zip("xyz", fields):
            if not _is_number(f):
                shown = f if len(f) <= 40 else f[:37] + "..."
                raise PatternFileError(path, line_no, f"{axis} value {shown!r} is not a number")
            values.append(float(f))
        rows.append((line_no, (values[0], values[1], values[2])))
    return rows


def load_pattern(
    path: str, name: str | None = None, description: str | None = None, advice: str = "choose one with --name"
):
    """A `kinetra.SampledPattern` built from the file.

    The name defaults to `name_from_path(path)` and the description to
    "User pattern from <file name>". Validation is the library's; a failure
    becomes PatternFileError carrying the library's message unchanged. `advice`
    follows an invalid name: how the caller's user picks another.
    """
    import kinetra

    rows = read_rows(path)
    if name is None:
        name = name_from_path(path)
    if description is None:
        description = f"User pattern from {os.path.basename(path)}"
    try:
        return kinetra.SampledPattern(name, description, [r for _, r in rows])
    except ValueError as exc:
        message = str(exc)
        line = None
        if message == VALUE_RULE_MESSAGE:
            # The library stops at the first bad value, testing rows in order
            # and x, y, z within a row; find that row the same way.
            line = next((ln for ln, r in rows if not all(_value_ok(v) for v in r)), None)
        elif message == "Invalid pattern name":
            message = f"{message} ({name!r}; {advice})"
        raise PatternFileError(path, line, message) from None


def load_library(paths, name: str | None = None):
    """A `kinetra.PatternLibrary` holding the patterns of the given files.

    `name` may only be given with a single file. Returns the library and the
    number of built-in catalogue rows (the library's own rows follow them).
    Library failures (a name given twice, a changed copy of a built-in
    pattern, the pack limits) are reported with the file they concern.
    """
    import kinetra

    paths = list(paths)
    if name is not None and len(paths) != 1:
        raise ValueError("--name needs exactly one --pattern-file")
    patterns = [load_pattern(p, name) for p in paths]
    try:
        library = kinetra.PatternLibrary(patterns)
    except ValueError as exc:
        message = str(exc)
        culprit = None
        for prefix in ("Duplicate pattern name: ", "Cannot override default pattern: "):
            if message.startswith(prefix):
                bad = message[len(prefix) :]
                owners = [p for p, pat in zip(paths, patterns) if pat.name == bad]
                if owners:
                    culprit = owners[-1] if prefix.startswith("Duplicate") else owners[0]
        if culprit is None:
            culprit = ", ".join(paths)
        raise PatternFileError(culprit, None, message) from None
    return library, len(kinetra.catalogue())
