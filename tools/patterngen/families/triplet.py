"""Family `triplet`: eighth-note-triplet figures with omitted partials.

A figure is a word over the triplet partials of four beats, played, partial by partial, with
the weight of its place in the beat. The second four beats either answer each left-out partial
off the triplet grid (`answer`) or play the figure rotated one partial later, adding depth
(`turnaround`).
"""

from fractions import Fraction

from ..rhythm import SHORT_PULSE, onset, render
from ..toolkit import pattern

N = 512
BEAT = 64
PARTIAL = Fraction(BEAT, 3)
HALF = 4 * BEAT
LEAD = (-0.2945, -0.114)
SHARES = (1.0, -0.56, 0.4)  # per partial place: share of the lead, sign on x
ANSWER = (-0.19, 0.072)  # y, z
DEPTH = 0.072
VARIANTS = ("answer", "turnaround")

# fmt: off
WORDS = (
    "101110101011", "110011101110", "100101110101", "111010110011",
    "101101100111", "110110011010", "100111010101", "111001101100",
)
# fmt: on

DESCRIPTION = "Triplet-grid gestures with deliberate omissions; gaps either answer off-grid or rotate after four beats."


def partial_onset(start, i, depth=0.0):
    share = SHARES[i % 3]
    t = start + PARTIAL * i
    return onset(t, LEAD[0] * share, LEAD[1] * abs(share), depth * abs(share))


def score(word, variant):
    onsets = [partial_onset(0, i) for i, c in enumerate(word) if c == "1"]
    if variant == "answer":
        for i, c in enumerate(word):
            if c == "1":
                onsets.append(partial_onset(HALF, i))
            else:
                onsets.append(onset(HALF + BEAT * (i // 3) + 16 * (i % 3 + 1), 0.0, *ANSWER))
    else:
        onsets.extend(partial_onset(HALF, i, DEPTH) for i in range(12) if word[i - 1] == "1")
    return onsets


def build(pack):
    return [
        pattern("triplet_%02d_%s" % (m + 1, v), DESCRIPTION, render(N, score(w, v), SHORT_PULSE))
        for m, w in enumerate(WORDS)
        for v in VARIANTS
    ]
