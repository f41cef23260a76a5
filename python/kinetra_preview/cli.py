"""Command line: `python -m kinetra_preview gallery|show ...`."""

from __future__ import annotations

import argparse
import os
import signal
import sys
import time

from kinetra_common import patternfile, units

from . import model, page, render_svg, textview

DEFAULT_GALLERY = "kinetra-gallery.html"


def build_parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog="python -m kinetra_preview",
        description="See kinetra patterns move: a browsable gallery of the whole catalogue, "
        "or the large view of one pattern.",
    )
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def common(sp):
        sp.add_argument(
            "--pattern-file",
            metavar="FILE",
            action="append",
            default=[],
            help="CSV of x,y,z rows, one per pip (optional header); shown beside the "
            "built-in patterns; may be given more than once",
        )
        sp.add_argument("--name", help="pattern name for a single --pattern-file (default: the file name's stem)")
        sp.add_argument("--bpm", type=units.bpm_argument, default=120.0, help="tempo in beats per minute (default 120)")

    g = sub.add_parser("gallery", help="write one self-contained HTML page with every pattern")
    g.add_argument(
        "--out", metavar="FILE.html", default=DEFAULT_GALLERY, help=f"output file (default {DEFAULT_GALLERY})"
    )
    common(g)

    s = sub.add_parser("show", help="one pattern: a text view, or an SVG or HTML file with --out")
    s.add_argument("pattern", metavar="NAME", help="a built-in pattern, or one from --pattern-file")
    s.add_argument(
        "--out",
        metavar="FILE.svg|FILE.html",
        help="write the large view to this file instead of printing the text view",
    )
    common(s)
    return p


def _source(args):
    library, builtin_count = patternfile.load_library(args.pattern_file, args.name)
    if not args.pattern_file:
        builtin_count = None  # every row is built in
    rows = model.rows_from_catalogue(library.catalogue(), builtin_count)
    return library, rows


def cmd_gallery(args, out=None) -> int:
    out = out or sys.stdout
    if not args.out.lower().endswith((".html", ".htm")):
        raise SystemExit("kinetra_preview: error: the gallery is written as .html")
    start = time.perf_counter()
    library, rows = _source(args)
    pm = model.build_page_model(rows, library.sample, bpm=args.bpm)
    size = page.write_atomic(args.out, page.render_page(pm))
    elapsed = time.perf_counter() - start
    users = sum(1 for r in rows if r.user)
    extra = f" ({users} from pattern files)" if users else ""
    print(f"Wrote {os.path.abspath(args.out)}: {len(rows)} patterns{extra}, {size} bytes, in {elapsed:.2f} s", file=out)
    return 0


def cmd_show(args, out=None) -> int:
    out = out or sys.stdout
    library, rows = _source(args)
    found = [r for r in rows if r.name == args.pattern]
    if not found:
        library.sample(args.pattern, 0)  # the library's own message for an unknown name
        raise ValueError(f"Unknown dance rudiment: {args.pattern}")
    row = found[-1]
    table = model.sample_table(library.sample, row.name, row.period_pips)
    if args.out is None:
        out.write(textview.render_text(row, table, args.bpm))
        return 0
    lower = args.out.lower()
    if lower.endswith(".svg"):
        text = render_svg.render_svg(row, table, args.bpm)
    elif lower.endswith((".html", ".htm")):
        pm = model.build_page_model([row], library.sample, bpm=args.bpm, mode="single", selected=row.name)
        text = page.render_page(pm)
    else:
        raise SystemExit("kinetra_preview: error: --out must end in .svg or .html")
    size = page.write_atomic(args.out, text)
    print(f"Wrote {os.path.abspath(args.out)}: {row.name}, {size} bytes", file=out)
    return 0


def main(argv=None) -> int:
    args = build_parser().parse_args(argv)
    try:
        if args.command == "gallery":
            return cmd_gallery(args)
        return cmd_show(args)
    except (ValueError, OSError) as exc:
        print(f"kinetra_preview: error: {exc}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        # Ctrl-C: stop quietly (a page is written whole or not at all); run as the program, the
        # process ends next, and a second Ctrl-C changes nothing
        if argv is None:
            signal.signal(signal.SIGINT, signal.SIG_IGN)
        return 130
