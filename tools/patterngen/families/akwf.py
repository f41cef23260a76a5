"""Family `akwf`: single-cycle CC0 waveforms from the AKWF collection.

Each member plays one sampled cycle on x, one sample per pip, scaled to a common peak. The
samples are the signed 16-bit values in patterngen/data/akwf/ (provenance in SOURCE.md there).
"""

import pathlib

from ..toolkit import pattern, scale_to

DATA = pathlib.Path(__file__).resolve().parent.parent / "data" / "akwf"
LENGTH = 256

MEMBERS = (
    ("akwf_round_saw", "AKWF_R_asym_saw_05_256"),
    ("akwf_quick_return", "AKWF_R_asym_saw_15_256"),
    ("akwf_multi_lobe", "AKWF_0001_256"),
    ("akwf_plateau", "AKWF_0010_256"),
)


def load(source: str):
    """The source cycle as integers, checked for length and 16-bit range."""
    path = DATA / (source + ".txt")
    values = [int(line) for line in path.read_text(encoding="ascii").split()]
    if len(values) != LENGTH or not all(-32768 <= v <= 32767 for v in values):
        raise ValueError("%s: expected %d signed 16-bit samples" % (path, LENGTH))
    if not any(values):
        raise ValueError("%s: silent cycle" % path)
    return values


def build(pack):
    return [
        pattern(
            name,
            source + ".h: an actual CC0 waveform slowed to a four-beat position loop.",
            scale_to([(float(v),) for v in load(source)], 0.85),
        )
        for name, source in MEMBERS
    ]
