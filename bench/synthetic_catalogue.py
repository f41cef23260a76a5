"""A synthetic catalogue of the final size, for build and benchmark figures (never for tests).

Writes the generator's outputs (pack headers, pack units, registry) for 1716 made-up patterns
in the real pack split (initial 28, expansion 24, atlas 256, continuum 320, club 144,
dancefloor 944), family by family as the registry orders them, with the final distribution of
periods (1,022,912 rows in all) and of dimensions. The rows are smooth closed loops written as
12-decimal literals, like the real tables; the real families replace them at merge.

    python bench/synthetic_catalogue.py --out DIR [--seeds FILE]

FILE holds lines "<pack> <integer>": a pack's seed shifts the phases of its rows, so changing
one seed changes that pack's header (and nothing else), as editing one family module would.
CMake runs this in place of the generator when configured with -DKINETRA_SYNTHETIC_CATALOGUE=ON
(scripts/bench.sh --full-size).
"""

import argparse
import math
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tools"))

from patterngen import emit, registry  # noqa: E402
from patterngen.toolkit import pattern  # noqa: E402

# (pack, family, patterns, allowed periods, dimensions), in registry order.
ANY_BEAT = (256, 512, 768, 1024)
FAMILIES = (
    ("initial", "lfo", 8, (256, 512), (1, 2)),
    ("initial", "rhythm", 4, (256,), (2,)),
    ("initial", "rudiment", 4, (256,), (2,)),
    ("initial", "ease", 4, (256,), (1,)),
    ("initial", "akwf", 4, (256,), (1,)),
    ("initial", "groove", 4, (512,), (2,)),
    ("expansion", "lfo", 8, (256, 512, 1024), (1, 2)),
    ("expansion", "path", 8, (256, 512, 1024), (2, 3)),
    ("expansion", "rhythm", 8, (256, 448, 512), (2, 3)),
    ("atlas", "wave", 16, (512,), (1,)),
    ("atlas", "env", 16, (512,), (2,)),
    ("atlas", "seq", 16, (512,), (2,)),
    ("atlas", "noise", 16, (1024,), (2, 3)),
    ("atlas", "orbit", 16, (512,), (2,)),
    ("atlas", "weave", 16, (1024,), (2,)),
    ("atlas", "polar", 16, (1024,), (2,)),
    ("atlas", "spiro", 16, (1024,), (2,)),
    ("atlas", "space", 16, (1024,), (3,)),
    ("atlas", "mech", 16, (512,), (2, 3)),
    ("atlas", "euclid", 16, tuple(range(160, 769, 32)), (2,)),
    ("atlas", "poly", 16, (512,), (3,)),
    ("atlas", "meter", 16, tuple(range(160, 417, 32)), (3,)),
    ("atlas", "swing", 16, (512,), (2, 3)),
    ("atlas", "stick", 16, (512,), (2,)),
    ("atlas", "gesture", 16, (512,), (2, 3)),
) + tuple(
    ("continuum", f, 16, (p,) if p else tuple(range(288, 513, 32)), d) for f, p, d in (
        ("ribbon", 1024, (3,)), ("contour", 1024, (2, 3)), ("silhouette", 1024, (3,)),
        ("spline", 512, (2, 3)), ("tour", 1024, (2, 3)), ("scan", 1024, (2, 3)),
        ("reach", 1024, (2, 3)), ("surface", 1024, (3,)), ("braid", 1024, (3,)),
        ("arm", 1024, (2, 3)), ("dwell", 1024, (3,)), ("packet", 512, (2, 3)),
        ("canon", 512, (3,)), ("echo", 512, (3,)), ("ladder", 512, (3,)),
        ("necklace", 512, (3,)), ("accent", 1024, (3,)), ("triplet", 512, (3,)),
        ("dialogue", None, (3,)), ("burst", 512, (3,)))) + (
    ("club", "beat", 144, ANY_BEAT, (2, 3)),
    ("dancefloor", "beat", 944, ANY_BEAT, (2, 3)),
)

# The real first registry entry (period 256), kept so that benchmarks of one named pattern run
# on both catalogues.
FIRST_NAME = "lfo_breathe"

# The final period distribution: period -> patterns.
PERIODS = {160: 3, 224: 5, 256: 41, 288: 5, 320: 4, 352: 6, 384: 4, 416: 6, 448: 6, 480: 5,
           512: 1304, 544: 1, 608: 1, 640: 1, 768: 17, 1024: 307}


def assign_periods():
    """One period per pattern, per family, using up PERIODS exactly: the rare periods go
    first, each to the family with the fewest choices that still has room."""
    left = dict(PERIODS)
    room = [count for _, _, count, _, _ in FAMILIES]
    periods = [[] for _ in FAMILIES]
    # Families with a single period take theirs.
    for k, (_, _, count, allowed, _) in enumerate(FAMILIES):
        if len(allowed) == 1:
            periods[k] = [allowed[0]] * count
            left[allowed[0]] -= count
            room[k] = 0
    for period in sorted(left, key=lambda p: (left[p], p)):
        while left[period] > 0:
            fits = [k for k, f in enumerate(FAMILIES) if room[k] and period in f[3]]
            if not fits:
                raise SystemExit("synthetic catalogue: no family takes period %d" % period)
            k = min(fits, key=lambda k: (len(FAMILIES[k][3]), -room[k], k))
            periods[k].append(period)
            room[k] -= 1
            left[period] -= 1
    if any(room) or any(left.values()):
        raise SystemExit("synthetic catalogue: periods and family sizes disagree")
    return [sorted(p) for p in periods]


def rows(period, dimensions, serial, seed):
    """A smooth closed loop: one to three turns per axis, the unused axes 0."""
    turns = (1 + serial % 3, 1 + (serial // 3) % 3, 1 + (serial // 9) % 3)
    phase = (serial * 0.37 + seed * 0.011) % (2.0 * math.pi)
    step = 2.0 * math.pi / period
    out = []
    for i in range(period):
        t = i * step
        out.append(tuple(0.82 * math.sin(turns[a] * t + phase + a) if a < dimensions else 0.0
                         for a in range(3)))
    return out


def entries(seeds=None):
    seeds = seeds or {}
    out = []
    serial = {}
    for k, periods in enumerate(assign_periods()):
        pack, family, _, _, dims = FAMILIES[k]
        for j, period in enumerate(periods):
            n = serial.get(family, 0)
            serial[family] = n + 1
            dimensions = dims[j % len(dims)]
            dash = "\u2014" if family == "beat" else "-"
            description = ("Synthetic %s pattern %d %s a %d-pip loop in %d dimensions, "
                           "standing in for the real table in build and benchmark figures"
                           % (family, n, dash, period, dimensions))
            # The first keeps the real first name, which the benchmarks sample by name.
            name = FIRST_NAME if not out else "%s_synthetic_%04d" % (family, n)
            p = pattern(name, description,
                        rows(period, dimensions, len(out), seeds.get(pack, 0)))
            out.append(emit.Entry(pack, family, p))
    return out


def read_seeds(path):
    seeds = {}
    if path is not None and path.exists():
        for line in path.read_text(encoding="utf-8").splitlines():
            if line.strip():
                pack, value = line.split()
                if pack not in registry.PACKS:
                    raise SystemExit("%s: unknown pack %s" % (path, pack))
                seeds[pack] = int(value)
    return seeds


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=pathlib.Path, required=True)
    parser.add_argument("--seeds", type=pathlib.Path)
    args = parser.parse_args(argv)
    summary = emit.generate(args.out, entries=entries(read_seeds(args.seeds)))
    print(summary.line().replace("patterngen:", "patterngen (synthetic):"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
