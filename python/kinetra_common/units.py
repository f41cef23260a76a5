"""Musical time as the companions count it, and the tempo limits both command lines apply."""

from __future__ import annotations

import math

import kinetra

PIPS_PER_BEAT: int = kinetra.PIPS_PER_BEAT
# A tempo is above 0 and at most this many beats per minute.
MAX_BPM = 999.0


def bpm_problem(value: float) -> str | None:
    """Why `value` is not a tempo, or None when it is one."""
    if not (math.isfinite(value) and 0.0 < value <= MAX_BPM):
        return f"BPM must be above 0 and at most {MAX_BPM:g}"
    return None


def parse_bpm(text: str) -> float:
    """A tempo given on a command line; ValueError with the reason otherwise."""
    try:
        value = float(text)
    except ValueError:
        raise ValueError(f"not a number: {text!r}") from None
    problem = bpm_problem(value)
    if problem:
        raise ValueError(problem)
    return value


def bpm_argument(text: str) -> float:
    """`parse_bpm` as an argparse type."""
    import argparse

    try:
        return parse_bpm(text)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None
