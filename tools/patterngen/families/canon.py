"""Family `canon`: a lateral motif imitated, altered, on the depth lane.

canon_01 ... canon_08, each as canon_<m>_close then canon_<m>_late; 512 pips, dimensions
3, the continuum pulse (rise 0.15 beat, fall 0.225 beat).
- The motif (first half): notes at the rational beat times of MOTIFS, from pip 0, each on
  the lateral lane with its signed x (|x| 0.2 ... 0.28, the first note 0.28) and y -0.1.
- The response (second half): the altered imitation of RESPONSES, on the depth lane only,
  z signed like the motif note it imitates, |z| = 0.192 * |x| / 0.28 rounded to three
  decimals (the first note 0.192); each response alters its motif once (see the comment
  beside it).
- `close`: the response enters exactly four beats after the motif (pip 256); `late`: four
  and a half beats after it (pip 288).
Notes are at least a third of a beat (21.3 pips) apart, so a rise never reaches the peak
before it; the largest stored coordinate is the motif's first note, 0.28 at pip 0.
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

DESCRIPTION = ("A rational-beat motif passes between lateral and depth lanes, with an altered "
               "second-half response.")


def score(m, entry):
    onsets = [onset(beats(b), x, MOTIF_Y) for b, x in MOTIFS[m]]
    onsets.extend(onset(entry + beats(b), z=z) for b, z in RESPONSES[m])
    return onsets


def build(pack):
    return [pattern("canon_%02d_%s" % (m + 1, trail), DESCRIPTION,
                    render(N, score(m, entry), CONTINUUM_PULSE))
            for m in range(len(MOTIFS)) for trail, entry in TRAILS]
