"""Family `swing`: eight-beat scores with swung offbeats.

Each score (push, answer, skip, shuffle) is played at several swing ratios: the offbeat of each
beat sits at the ratio's exact rational time.
"""

from fractions import Fraction

from ..rhythm import Hann, alternating, beats, onset, render
from ..toolkit import pattern

N = 512
BEAT = 64
PULSE = Hann(beats("0.2"))  # 12.8 pips
RATIOS = ((3, 5), (2, 3), (5, 7), (3, 4))
SCORES = ("push", "answer", "skip", "shuffle")
BAR_STARTS = (0, 4)
DESCRIPTION = "Eight-beat {} score with offbeats at {}/{} of each beat; peaks follow the score."


def beat_sides():
    """Side (+1 / -1) of each of the eight beat gestures."""
    others = iter(alternating(8 - len(BAR_STARTS), -1))
    return [1 if b in BAR_STARTS else next(others) for b in range(8)]


def score(kind, p, q):
    side = beat_sides()
    offbeat = Fraction(BEAT * p, q)
    out = []
    for b in range(8):
        if not (kind == "skip" and b in (2, 6)):
            if b in BAR_STARTS:
                out.append(onset(BEAT * b, 0.585, -0.216))
            else:
                out.append(onset(BEAT * b, side[b] * 0.4225, -0.156))
        t = BEAT * b + offbeat
        if kind in ("push", "skip"):
            out.append(onset(t, 0.0747, -0.1494, 0.0896))
        elif kind == "shuffle" or (kind == "answer" and b >= 4):
            out.append(onset(t, side[(b + 1) % 8] * 0.3245, -0.1198))
        if kind == "shuffle" and b in (3, 7):
            out.append(onset(BEAT * b + offbeat / 2, 0.052, -0.105, 0.063))
    return out


def build(pack):
    return [
        pattern("swing_%s_%d_%d" % (kind, p, q), DESCRIPTION.format(kind, p, q), render(N, score(kind, p, q), PULSE))
        for p, q in RATIOS
        for kind in SCORES
    ]
