"""Family `echo`: a decaying call and a differently directed answer.

echo_<spacing>_<n> for spacing regular, shrinking, expanding, crossed (in that order), each
with n = 3 ... 6; 512 pips, dimensions 3.

Rhythm: n onsets from pip 0 with the n - 1 intervals of the spacing, kept as exact
fractions of a pip:
- regular and crossed: 32 pips each;
- shrinking: 32, 25.6, 19.2, ... (each 6.4 pips shorter; n = 6 ends on 6.4);
- expanding: 8, 16, 24, ... (each 8 pips longer).
The call plays this rhythm from pip 0, the answer the same rhythm from pip 256.

Gestures: a run decays by 0.7 per onset (onset j carries 0.7**j of its lead). The call
leads with x -0.31, y -0.12 and bounces from side to side (its x sign flips on every
onset, y keeps its sign); the answer leads with y +0.24 and depth z +0.12, keeps its y side
and bounces in depth (its z sign flips on every onset). In `crossed` the two directions
trade places: the call at pip 0 takes the answer's direction and the answer at pip 256 the
call's. Every gesture is the family's short one (rise 0.15 beat, fall 0.10 beat), so each
gesture has fallen back (6.4 pips) by the next onset in every spacing; only a rise may reach
back over a shorter interval, and the side-to-side bounce keeps it from piling up: the
largest stored coordinate is the call's lead, 0.31 (in `expanding` the second gesture
comes 8 pips after the lead, within its 9.6-pip rise: the call's opposite rise pulls the
stored x peak to 0.2997 at pip 511, and the answer's y, on one side, tops out at 0.2544 at
pip 257; in `shrinking` with n = 6 the last gesture's rise, 6.4 pips after the fifth onset,
moves the fifth stored peak from 89.6 to pip 88).
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

DESCRIPTION = ("An original decaying call and a differently directed answer; echo spacing is "
               "preserved as fractions.")


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
    return [pattern("echo_%s_%d" % (s, n), DESCRIPTION, render(N, score(s, n), SHORT_PULSE))
            for s in SPACINGS for n in COUNTS]
