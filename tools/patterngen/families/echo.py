"""Family `echo`: a decaying call and a differently directed answer.

A call of n decaying gestures is answered by echoes in another direction. The spacing variant
sets the time between the echoes: regular, shrinking, expanding or crossed.
"""

from fractions import Fraction

from ..rhythm import SHORT_PULSE, decaying_run, render
from ..toolkit import pattern

N = 512
ANSWER_START = 256
DECAY = 0.7
CALL = ((-0.31, -0.12, 0.0), (True, False, False))  # lead weights, axes that bounce
ANSWER = ((0.0, 0.24, 0.12), (False, False, True))

SPACINGS = ("regular", "shrinking", "expanding", "crossed")
COUNTS = (3, 4, 5, 6)

DESCRIPTION = "An original decaying call and a differently directed answer; echo spacing is preserved as fractions."


def intervals(spacing, n):
    if spacing == "shrinking":
        return [32 - Fraction(32, 5) * j for j in range(n - 1)]
    if spacing == "expanding":
        return [8 * (j + 1) for j in range(n - 1)]
    return [Fraction(32)] * (n - 1)


def rhythm(spacing, n):
    """The n onset times from 0."""
    times = [Fraction(0)]
    for step in intervals(spacing, n):
        times.append(times[-1] + step)
    return times


def score(spacing, n):
    call, answer = (ANSWER, CALL) if spacing == "crossed" else (CALL, ANSWER)
    times = rhythm(spacing, n)
    onsets = []
    for start, (lead, bounce) in ((0, call), (ANSWER_START, answer)):
        onsets.extend(decaying_run([start + t for t in times], lead, DECAY, bounce))
    return onsets


def build(pack):
    return [
        pattern("echo_%s_%d" % (s, n), DESCRIPTION, render(N, score(s, n), SHORT_PULSE))
        for s in SPACINGS
        for n in COUNTS
    ]
