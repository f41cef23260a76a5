"""Family `groove`: two two-bar funk excerpts as kick, snare and hat gestures.

The scores of data/groove.py give each hit's sixteenth, its performed offset and velocity: the
kick pushes down, the snare moves right and lifts, the hat ticks left and up. The `played`
members place every hit at its performed microtiming, the `grid` members on the sixteenths.
"""

from ..data.groove import A, B
from ..rhythm import Hann, onset, render
from ..toolkit import pattern

N = 512
SIXTEENTH = 16
PULSES = {"kick": Hann(16), "snare": Hann(12), "hat": Hann(6)}
LANES = ("kick", "snare", "hat")
DESCRIPTION = "Two-bar funk excerpt {} ({} source beats), {}."
MEMBERS = (
    ("a", A, "4\u201312"),
    ("b", B, "36\u201344"),
)
TIMINGS = (
    ("played", "performed microtiming"),
    ("grid", "same hits quantised to sixteenths"),
)


def score(excerpt, played):
    out = []
    for lane in LANES:
        gx, gy = excerpt["gains"][lane]
        for step, offset, v in excerpt[lane]:
            t = (SIXTEENTH * step + (offset if played else 0)) % N
            out.append(onset(t, v * gx, v * gy, 0.0, PULSES[lane]))
    return out


def build(pack):
    return [
        pattern(
            "groove_%s_%s" % (key, timing),
            DESCRIPTION.format(key.upper(), beats, phrase),
            render(N, score(excerpt, timing == "played")),
        )
        for key, excerpt, beats in MEMBERS
        for timing, phrase in TIMINGS
    ]
