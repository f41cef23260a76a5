"""A synthetic catalogue of the final size, for build and benchmark figures (never for tests).

Writes the generator's outputs (pack headers, pack units, registry) for made-up patterns with
the periods and dimensions of the real ones, pack by pack and family by family as the registry
orders them, read from the committed manifest (tools/patterngen/manifest.tsv). The rows are
smooth closed loops written as 12-decimal literals, like the real tables.

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

from patterngen import emit, manifest, registry  # noqa: E402
from patterngen.toolkit import pattern  # noqa: E402

# The real first registry entry (period 256), kept so that benchmarks of one named pattern run
# on both catalogues.
FIRST_NAME = "lfo_breathe"


def family_table():
    """(pack, family, [(period, dimensions) per member]) in registry order. The manifest lists
    the patterns in registry order; a family listed for two neighbouring packs (beat) is split
    where its first pack's members end, counted by building that pack."""
    lines = manifest.COMMITTED.read_text(encoding="utf-8").splitlines()[1:]
    rows = [line.split("\t") for line in lines]
    table = []
    start = 0
    for k, (pack, family) in enumerate(registry.FAMILIES):
        end = start
        following = registry.FAMILIES[k + 1 : k + 2]
        if following and following[0][1] == family:
            end += len(registry.family(family).build(pack))
        else:
            while end < len(rows) and rows[end][0].startswith(family + "_"):
                end += 1
        table.append((pack, family, [(int(r[1]), int(r[2])) for r in rows[start:end]]))
        start = end
    return table


def rows(period, dimensions, serial, seed):
    """A smooth closed loop: one to three turns per axis, the unused axes 0."""
    turns = (1 + serial % 3, 1 + (serial // 3) % 3, 1 + (serial // 9) % 3)
    phase = (serial * 0.37 + seed * 0.011) % (2.0 * math.pi)
    step = 2.0 * math.pi / period
    out = []
    for i in range(period):
        t = i * step
        out.append(tuple(0.82 * math.sin(turns[a] * t + phase + a) if a < dimensions else 0.0 for a in range(3)))
    return out


def entries(seeds=None):
    seeds = seeds or {}
    out = []
    serial = {}
    for pack, family, members in family_table():
        for period, dimensions in members:
            n = serial.get(family, 0)
            serial[family] = n + 1
            dash = "\u2014" if family == "beat" else "-"
            description = (
                "Synthetic %s pattern %d %s a %d-pip loop in %d dimensions, "
                "standing in for the real table in build and benchmark figures" % (family, n, dash, period, dimensions)
            )
            # The first keeps the real first name, which the benchmarks sample by name.
            name = FIRST_NAME if not out else "%s_synthetic_%04d" % (family, n)
            p = pattern(name, description, rows(period, dimensions, len(out), seeds.get(pack, 0)))
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
