"""Builds the fixture index shipped with kinetra_live from a copy of the Open Fixture Library.

    PYTHONPATH=python python tools/fixtureindex/build.py ../shared/data/ofl-library

writes python/kinetra_live/fixtures/ofl-index.json.gz (and the library's licence beside it).
Reads only the folder it is given; the same folder gives the same bytes. An index whose
content is already current is left as it is.
"""

from __future__ import annotations

import argparse
import gzip
import pathlib
import shutil
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))

from kinetra_live import fixturelib  # noqa: E402

OUT = ROOT / "python" / "kinetra_live" / "fixtures"


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("library", help="the library's folder (holds fixtures/ and LICENSE)")
    p.add_argument("--out", default=str(OUT), help="folder to write the index to")
    p.add_argument("--check", action="store_true", help="only say whether the index is current (exit 1 if not)")
    args = p.parse_args(argv)
    data = fixturelib.build(args.library)
    out = pathlib.Path(args.out)
    target = out / fixturelib.INDEX_FILE
    current = target.is_file() and gzip.decompress(target.read_bytes()) == gzip.decompress(data)
    if args.check:
        print(f"{target}: {'current' if current else 'out of date'}")
        return 0 if current else 1
    out.mkdir(parents=True, exist_ok=True)
    if not current:
        target.write_bytes(data)
    shutil.copyfile(pathlib.Path(args.library) / "LICENSE", out / fixturelib.LICENSE_FILE)
    print(f"{target}: {len(data)} bytes" + ("" if not current else " (unchanged)"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
