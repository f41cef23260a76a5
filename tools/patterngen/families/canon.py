"""Family `canon`: a lateral motif imitated, altered, on the depth lane.

The first half plays a motif of notes on the lateral lane; the second half answers with an
altered imitation on the depth lane only. Each motif comes twice: `close`, whose answer enters
four beats after it, and `late`, whose answer enters half a beat later still.
"""

from fractions import Fraction as F

from ..rhythm import CONTINUUM_PULSE, beats, onset, render
from ..toolkit import pattern

N = 512
MOTIF_Y = -0.1
TRAILS = (("close", 256), ("late", 288))

# Motif m: (beat, x) notes.
MOTIFS = (
    ((F(0), 0.28), (F(3, 4), -0.22), (F(4, 3), 0.24), (F(2), -0.20), (F(5, 2), 0.26)),
    ((F(0), -0.28), (F(2, 3), 0.20), (F(3, 2), -0.24), (F(9, 4), 0.22)),
    ((F(0), 0.28), (F(1, 2), 0.20), (F(5, 4), -0.26), (F(5, 3), -0.20), (F(5, 2), 0.22)),
    ((F(0), -0.28), (F(6, 5), 0.24), (F(2), -0.22), (F(8, 3), 0.20)),
    ((F(0), 0.28), (F(1, 3), -0.20), (F(1), 0.24), (F(7, 4), -0.26), (F(7, 3), 0.20)),
    ((F(0), -0.28), (F(5, 6), 0.26), (F(3, 2), -0.20), (F(2), 0.22), (F(11, 4), -0.24)),
    ((F(0), 0.28), (F(3, 4), -0.24), (F(3, 2), 0.20), (F(9, 4), -0.22), (F(8, 3), 0.26)),
    ((F(0), -0.28), (F(2, 5), 0.20), (F(6, 5), -0.24), (F(2), 0.22), (F(12, 5), -0.20)),
)

# Response m: (beat after its entry, z) notes.
RESPONSES = (
    # last note a sixth of a beat later
    ((F(0), 0.192), (F(3, 4), -0.151), (F(4, 3), 0.165), (F(2), -0.137), (F(8, 3), 0.178)),
    # last note a quarter beat earlier
    ((F(0), -0.192), (F(2, 3), 0.137), (F(3, 2), -0.165), (F(2), 0.151)),
    # second note left out
    ((F(0), 0.192), (F(5, 4), -0.178), (F(5, 3), -0.137), (F(5, 2), 0.151)),
    # a passing note added at 3/5 beat, leaning like the note after it
    ((F(0), -0.192), (F(3, 5), 0.110), (F(6, 5), 0.165), (F(2), -0.151), (F(8, 3), 0.137)),
    # weights of the third and fourth notes traded
    ((F(0), 0.192), (F(1, 3), -0.137), (F(1), 0.178), (F(7, 4), -0.165), (F(7, 3), 0.137)),
    # third note turned to the other side
    ((F(0), -0.192), (F(5, 6), 0.178), (F(3, 2), 0.137), (F(2), 0.151), (F(11, 4), -0.165)),
    # last note left out
    ((F(0), 0.192), (F(3, 4), -0.165), (F(3, 2), 0.137), (F(9, 4), -0.151)),
    # fourth note two fifths of a beat earlier
    ((F(0), -0.192), (F(2, 5), 0.137), (F(6, 5), -0.165), (F(8, 5), 0.151), (F(12, 5), -0.137)),
)

DESCRIPTION = "A rational-beat motif passes between lateral and depth lanes, with an altered second-half response."


def score(m, entry):
    onsets = [onset(beats(b), x, MOTIF_Y) for b, x in MOTIFS[m]]
    onsets.extend(onset(entry + beats(b), z=z) for b, z in RESPONSES[m])
    return onsets


def build(pack):
    return [
        pattern("canon_%02d_%s" % (m + 1, trail), DESCRIPTION, render(N, score(m, entry), CONTINUUM_PULSE))
        for m in range(len(MOTIFS))
        for trail, entry in TRAILS
    ]
