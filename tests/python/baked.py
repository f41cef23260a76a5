"""The baked catalogue for the tests: evaluated once per test run and shared by the session
fixture and the family tests whose parameter lists come from the tables (the entries are
immutable)."""

import functools

from patterngen import emit


@functools.cache
def entries():
    return tuple(emit.collect())


def built(*families):
    """{family: its patterns in registry order} for the given families."""
    return {f: [e.pattern for e in entries() if e.family == f] for f in families}


def patterns(*families):
    """{name: pattern} of the members of the given families."""
    return {p.name: p for members in built(*families).values() for p in members}
