"""Command line: python3 -m patterngen --out DIR [--stamp FILE], --list-packs, or --manifest
FILE (run from tools/)."""

import argparse
import pathlib
import sys

from . import manifest, registry
from .emit import GenerationError, check, collect, generate


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m patterngen", description="Generate the baked pattern pack headers and the pattern registry."
    )
    parser.add_argument(
        "--list-packs", action="store_true", help="print the pack names in registry order, separated by ';', and exit"
    )
    parser.add_argument(
        "--manifest",
        type=pathlib.Path,
        metavar="FILE",
        help="write the table manifest (name, period, dimensions, table hash) "
        "to FILE and exit; the committed one is patterngen/manifest.tsv",
    )
    parser.add_argument(
        "--out", type=pathlib.Path, help="output root; receives include/kinetra/packs/ and src/catalogue/"
    )
    parser.add_argument("--stamp", type=pathlib.Path, help="file touched after a successful run")
    args = parser.parse_args(argv)
    if args.list_packs:
        print(";".join(registry.PACKS))
        return 0
    if args.manifest is None and args.out is None:
        parser.error("one of --out, --manifest or --list-packs is required")
    try:
        if args.manifest is not None:
            entries = collect()
            check(entries)
            args.manifest.write_text(manifest.render([e.pattern for e in entries]), encoding="utf-8")
            return 0
        summary = generate(args.out)
    except GenerationError as e:
        print("patterngen: invariant violated:\n%s" % e, file=sys.stderr)
        return 1
    if args.stamp is not None:
        args.stamp.parent.mkdir(parents=True, exist_ok=True)
        args.stamp.touch()
    print(summary.line())
    return 0


if __name__ == "__main__":
    sys.exit(main())
