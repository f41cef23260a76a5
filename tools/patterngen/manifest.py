"""The manifest of the baked tables: one line per pattern in registry order, with its name,
period, dimensions and the SHA-256 of its rows as written into the pack header. A committed copy
(manifest.tsv beside this module) pins every table, so a change to shared code that moves any
stored value shows up as a changed line."""

import hashlib
import pathlib
from typing import Sequence

from .model import Pattern

COMMITTED = pathlib.Path(__file__).with_name("manifest.tsv")
HEADER = "# name\tperiod_pips\tdimensions\tsha256 of the rows as %.12f literals\n"


def table_hash(p: Pattern) -> str:
    digest = hashlib.sha256()
    for r in p.rows:
        digest.update(b"%.12f, %.12f, %.12f\n" % r)
    return digest.hexdigest()


def render(patterns: Sequence[Pattern]) -> str:
    return HEADER + "".join("%s\t%d\t%d\t%s\n" % (p.name, p.period, p.dimensions, table_hash(p)) for p in patterns)
