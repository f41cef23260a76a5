"""Family `groove`: two two-bar funk excerpts as kick, snare and hat gestures.

groove_a_played, groove_a_grid, groove_b_played, groove_b_grid; 512 pips, dimensions 2. The
scores are in data/groove.py: per lane (kick, snare, hat) the hits as (sixteenth, played
offset in pips, velocity), and per excerpt the lane gains. A hit at velocity v adds a Hann
pulse of its lane's half-width (kick 16, snare 12, hat 6 pips) with weights v * gain on x and y:
the kick pushes down (+y), the snare moves right and lifts (+x, -y), the hat ticks left and up
(-x, -y). The `played` members place every hit at 16 * sixteenth + offset (the performed
microtiming, off the sixteenth grid), the `grid` members the same hits at 16 * sixteenth.

Measured on the stored tables:
- groove_a_played: largest |x| 0.674 at pips 68 and 452 (the full-strength backbeats, 4 pips
  behind beats 2 and 8, nothing else reaching them: their hats play 7 pips ahead), largest
  |y| 0.424081 at pip 0 (the downbeat kick, 1 pip ahead, less the hat 2 pips ahead);
- groove_a_grid: largest |x| 0.649 at pips 64 and 448 (the same backbeats less their
  softened hat, 0.674 - 0.1 * 0.25), largest |y| 0.418 at pip 0 (kick 0.46 less the hat);
- groove_b_played and groove_b_grid: largest |x| exactly 1.0 (the beat-4 backbeats at
  pips 195 and 451, resp. 192 and 448: no hat under them, the nearest ghost notes 32 pips
  away), largest |y| 0.47 (the bar-start kick, alone).
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
    return [pattern("groove_%s_%s" % (key, timing),
                    DESCRIPTION.format(key.upper(), beats, phrase),
                    render(N, score(excerpt, timing == "played")))
            for key, excerpt, beats in MEMBERS for timing, phrase in TIMINGS]
