"""Where a key of a TOML document is written.

Only asked when something is wrong, for the one key at fault: the document is
scanned once, line by line, in linear time. Lines inside multi-line strings are
never taken for keys or headers.
"""

from __future__ import annotations

import json
import re

_BARE = r"[A-Za-z0-9_-]+"
_QUOTED = r"\"(?:[^\"\\]|\\.)*\"|'[^']*'"
_KEY = rf"(?:{_BARE}|{_QUOTED})(?:[ \t]*\.[ \t]*(?:{_BARE}|{_QUOTED}))*"
_KEYLINE = re.compile(rf"[ \t]*({_KEY})[ \t]*=")
_HEADER = re.compile(rf"[ \t]*(\[\[?)[ \t]*({_KEY})[ \t]*\]")
_PART = re.compile(rf"{_QUOTED}|{_BARE}")
# What can open or close a string or an array on a line, in the order it is met.
_TOKEN = re.compile(r"\"\"\"|'''|\"(?:[^\"\\\n]|\\.)*\"|'[^'\n]*'|#|[\[\]{}]")


def split_key(text: str) -> tuple[str, ...]:
    parts = _PART.findall(text)
    return tuple(_unquote(p) for p in parts)


def _unquote(part: str) -> str:
    if part[:1] == "'":
        return part[1:-1]
    if part[:1] == '"':
        try:
            return json.loads(part)
        except ValueError:
            return part[1:-1]
    return part


def _code_lines(text: str):
    """(line number, line) of every line that starts outside a multi-line string and
    outside any array (where a line such as `[1],` is no table header)."""
    inside = None  # the delimiter of the multi-line string we are in
    depth = 0  # brackets and braces open
    for no, line in enumerate(text.split("\n"), 1):
        starts_inside = inside is not None or depth > 0
        pos = 0
        if inside is not None:
            end = line.find(inside)
            if end < 0:
                continue
            pos = end + 3
            inside = None
        while True:
            m = _TOKEN.search(line, pos)
            if m is None or m.group() == "#":
                break
            tok = m.group()
            pos = m.end()
            if tok in ("[", "{"):
                depth += 1
            elif tok in ("]", "}"):
                depth = max(0, depth - 1)
            elif tok in ('"""', "'''"):
                end = line.find(tok, pos)
                if end < 0:
                    inside = tok
                    break
                pos = end + 3
        if not starts_inside:
            yield no, line


def line_of(text: str, path: tuple) -> int | None:
    """Line of the table header or key at `path` (array-of-table indices included, as
    in ("fixtures", 2, "address")), or of the nearest enclosing one written in the file."""
    best_len, best_line = 0, None
    counts: dict = {}
    table: tuple = ()
    for no, line in _code_lines(text):
        h = _HEADER.match(line)
        if h and not _KEYLINE.match(line):
            parts = split_key(h.group(2))
            here: tuple = ()
            for i, part in enumerate(parts):
                here += (part,)
                if here in counts and (i < len(parts) - 1 or h.group(1) != "[["):
                    here += (counts[here] - 1,)
            if h.group(1) == "[[":
                counts[here] = counts.get(here, 0) + 1
                here += (counts[here] - 1,)
            table = here
        elif path[: len(table)] != table:
            continue  # a key under a table off the path cannot name it
        else:
            k = _KEYLINE.match(line)
            if not k:
                continue
            here = table + split_key(k.group(1))
        n = _common(here, path)
        if n > best_len:
            best_len, best_line = n, no
            if n == len(path):
                return no
    return best_line


def _common(here: tuple, path: tuple) -> int:
    """How much of `path` the line at `here` names: its whole length when `here` is a
    prefix of `path`, else 0."""
    if len(here) > len(path) or path[: len(here)] != here:
        return 0
    return len(here)


def headers(text: str) -> list[tuple[int, bool, tuple]]:
    """(line number, True for [[array]] headers, key parts) of every table header."""
    out = []
    for no, line in _code_lines(text):
        h = _HEADER.match(line)
        if h and not _KEYLINE.match(line):
            out.append((no, h.group(1) == "[[", split_key(h.group(2))))
    return out


def code_line_numbers(text: str) -> set[int]:
    """Numbers of the lines that start outside multi-line strings and arrays."""
    return {no for no, _ in _code_lines(text)}


def key_line(line: str) -> tuple[tuple, int] | None:
    """(key parts, where its value starts) of a `key = value` line, else None."""
    m = _KEYLINE.match(line)
    if m is None or _HEADER.match(line) and not m:
        return None
    return split_key(m.group(1)), m.end()


def comment_start(text: str) -> int | None:
    """Where a comment starts in the rest of a line (strings skipped), None if it has none."""
    pos = 0
    while True:
        m = _TOKEN.search(text, pos)
        if m is None:
            return None
        if m.group() == "#":
            return m.start()
        pos = m.end()
