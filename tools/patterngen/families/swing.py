"""Family `swing`: eight-beat scores with swung offbeats.

swing_<score>_<p>_<q> for the ratios p/q = 3/5, 2/3, 5/7, 3/4 and, within each ratio, the
scores push, answer, skip, shuffle; 512 pips (beats 0..7 at 64*b), dimensions 3 except
`answer` (2). The offbeat of beat b sits at 64*b + 64*p/q, its exact rational time. Every onset
adds a Hann pulse of half-width 12.8 pips (0.2 beat).

Beats, shared by all scores: the bar starts (beats 0 and 4, pips 0 and 256) x +0.585,
y -0.216; the six other beats alternate in order over the loop, starting with -: beats 1, 2, 3,
5, 6, 7 carry x -0.4225, +0.4225, -0.4225, +0.4225, -0.4225, +0.4225, y -0.156.

- push: every beat is followed by a light offbeat, x +0.0747, y -0.1494, z +0.0896.
- skip: as push, with the beat gestures of beats 2 and 6 (pips 128 and 384) left out; the other
  beats keep their signs and every offbeat stays.
- answer: no offbeats in beats 0-3; each offbeat of beats 4-7 answers with x +-0.3245 on the
  side of the beat that follows it (beat 7's offbeat takes the side of beat 0 across the wrap),
  y -0.1198, no depth.
- shuffle: the offbeats of all eight beats as in answer, plus an extra light note x +0.052,
  y -0.105, z +0.063 halfway between beat 3 and its offbeat and halfway between beat 7 and its
  offbeat (pips 192 + 32*p/q and 448 + 32*p/q).
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
    return [pattern("swing_%s_%d_%d" % (kind, p, q), DESCRIPTION.format(kind, p, q),
                    render(N, score(kind, p, q), PULSE))
            for p, q in RATIOS for kind in SCORES]
