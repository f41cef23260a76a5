"""Family `stick`: original R/L sticking studies and their hand-swapped answers.

Each member plays its study, then the same study with the hands swapped; right strokes move
right, left strokes left, and the group leads are accented.
"""

from ..rhythm import Hann, render, sticking_onsets, swap_hands
from ..toolkit import pattern

N = 512
STEP = 32
PULSE = Hann(12)
ACCENT = (0.74, -0.34)
PLAIN = (0.407, -0.187)
# fmt: off
STUDIES = ("RlrrLrll", "RrlrLlrl", "RllrLrrl", "RrllRlrl", "RlrlRrll", "RrrlLlrl",
           "RlllRrrl", "RrlrRlll", "RlrrLlrl", "RrllRllr", "RlrlLrrl", "RrrlRlll",
           "RrrrLrll", "RrllLrrl", "RlrrRlll", "RrlrLllr")
# fmt: on
DESCRIPTION = (
    "Original R/L movement study with accented group leads, followed by its "
    "hand-swapped answer. Not an official rudiment transcription."
)


def build(pack):
    out = []
    for j, study in enumerate(STUDIES, 1):
        sticking = study + swap_hands(study)
        onsets = sticking_onsets(sticking, [STEP * i for i in range(16)], ACCENT, PLAIN)
        out.append(pattern("stick_study_%02d" % j, DESCRIPTION, render(N, onsets, PULSE)))
    return out
