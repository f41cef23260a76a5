"""Family `necklace`: binary accent words on the eighth-note grid.

Each member is a word of accent and complement steps: an accent moves left, a complement right,
and a rising accent (one after a complement, cyclically) adds a gesture in depth.
"""

from ..rhythm import CONTINUUM_PULSE, onset, render
from ..toolkit import pattern

N = 512
STEP = 32
ACCENT = (-0.248, -0.096)
COMPLEMENT = (0.1015, -0.0525)
DEPTH = 0.159
DEPTH_DELAY = 11

# fmt: off
WORDS = (
    "1001011000101100", "1010001101010010", "1100100100011010", "1011010001001001",
    "1000110101100010", "1101000100101010", "1010010011100010", "1110001001010010",
    "1001100010100101", "1100010100100110", "1010100011001001", "1001001111010010",
    "1100101000101001", "1011000100010110", "1001010010011100", "1110010001010100",
)
# fmt: on

DESCRIPTION = "A hand-authored binary accent word; its complement moves the other side and rising accents add depth."


def rising_accents(word):
    """Steps that are accents following a non-accent step (cyclically)."""
    return [i for i, c in enumerate(word) if c == "1" and word[i - 1] == "0"]


def score(word):
    onsets = []
    for i, c in enumerate(word):
        x, y = ACCENT if c == "1" else COMPLEMENT
        onsets.append(onset(STEP * i, x, y))
    onsets.extend(onset(STEP * i + DEPTH_DELAY, z=DEPTH) for i in rising_accents(word))
    return onsets


def build(pack):
    return [
        pattern("necklace_%02d" % (m + 1), DESCRIPTION, render(N, score(w), CONTINUUM_PULSE))
        for m, w in enumerate(WORDS)
    ]
