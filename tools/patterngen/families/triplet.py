"""Family `triplet`: eighth-note-triplet figures with omitted partials.

triplet_01 ... triplet_08, each as triplet_<m>_answer then triplet_<m>_turnaround; 512 pips
(eight beats, 24 triplet partials of 64/3 pips), dimensions 3. Every gesture is the
family's short one (rise 0.15 beat, fall 0.10 beat).

A figure is a 12-partial word over four beats (WORDS, beat 1 first; "1" plays the partial,
"0" leaves it out). A played partial takes the weights of its place in the beat:
- partial 0 (on the beat), the lead: x -0.2945, y -0.114;
- partial 1: 0.56 of the lead, to the other side: x +0.16492, y -0.06384;
- partial 2: 0.4 of the lead, on the lead's side: x -0.1178, y -0.0456.
Beats 1-4 play the figure as it stands in both members. Beats 5-8:
- `answer` plays the figure again and answers each left-out partial off the triplet grid,
  at the straight sixteenth inside its gap (16, 32 or 48 pips into the beat for partial 0,
  1 or 2): y -0.19, z +0.072;
- `turnaround` plays the figure rotated one partial later (partial i plays when partial
  i - 1 of the word does, cyclically), every gesture of it adding depth z +0.072 times its
  place's share (1, 0.56, 0.4).
Every word plays beat 1's lead, so the largest stored coordinate is 0.2945 at pip 0. An
answer 16 pips into a beat meets the rise of partial 1 (5.3 pips later) and stores y up to
-0.2164; the other answers stand alone at -0.19.
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

WORDS = (
    "101110101011", "110011101110", "100101110101", "111010110011",
    "101101100111", "110110011010", "100111010101", "111001101100",
)

DESCRIPTION = ("Triplet-grid gestures with deliberate omissions; gaps either answer off-grid or "
               "rotate after four beats.")


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
    return [pattern("triplet_%02d_%s" % (m + 1, v), DESCRIPTION,
                    render(N, score(w, v), SHORT_PULSE))
            for m, w in enumerate(WORDS) for v in VARIANTS]
