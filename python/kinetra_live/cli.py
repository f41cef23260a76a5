"""Command line: `kinetra-live SHOW.toml` (or `python -m kinetra_live SHOW.toml`)."""

from __future__ import annotations

import argparse
import sys

from . import runner, show as showfile

PROG = "kinetra-live"


def _positive(text: str) -> float:
    try:
        v = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (v > 0 and v < 1e9):
        raise argparse.ArgumentTypeError("must be above 0")
    return v


def _bpm(text: str) -> float:
    v = _positive(text)
    if v > 999:
        raise argparse.ArgumentTypeError("BPM must be above 0 and at most 999")
    return v


def build_parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog=PROG,
        description="Drive moving lights (E1.31 / sACN) and visuals (OSC) with kinetra patterns, "
                    "in time with the music. " + runner.KEYS_HELP + " (in a terminal).")
    p.add_argument("show", metavar="SHOW.toml", help="the show file")
    p.add_argument("--bpm", type=_bpm, help="tempo to start with, instead of the show's")
    p.add_argument("--duration", type=_positive, metavar="SECONDS", help="stop after this long")
    p.add_argument("--frame-log", metavar="FILE.jsonl",
                   help="write every frame sent as a JSON line (time, pip per fixture, values, packets)")
    p.add_argument("--check", action="store_true", help="check the show file, print its patch, send nothing")
    p.add_argument("--status", action=argparse.BooleanOptionalAction, default=None,
                   help="status line on stderr (default: when stderr is a terminal)")
    return p


def describe(s: showfile.Show) -> str:
    lines = [f"{s.name}: {len(s.fixtures)} fixtures, {s.tempo.bpm:g} BPM ({s.tempo.source}), {s.fps} fps"]
    for out in s.outputs.values():
        if isinstance(out, showfile.SacnOutput):
            to = "multicast" if out.multicast else ", ".join(out.destinations)
            lines.append(f"  output {out.name}: sACN to {to} port {out.port}, universes "
                         f"{', '.join(map(str, s.universes(out.name))) or '-'}, priority {out.priority}")
        else:
            lines.append(f"  output {out.name}: OSC to {out.host} port {out.port}")
    for f in s.fixtures:
        where = (f"universe {f.dmx.universe} channels {f.dmx.address}-{f.dmx.address + f.dmx.footprint - 1}"
                 if f.dmx else f"OSC {f.osc_address}")
        lines.append(f"  {f.name}: {f.pattern} +{f.offset_pips} pips, {where}")
    return "\n".join(lines) + "\n"


def main(argv=None) -> int:
    args = build_parser().parse_args(argv)
    try:
        s = showfile.load(args.show)
    except showfile.ShowError as exc:
        print(f"{PROG}: error: {exc}", file=sys.stderr)
        return 1
    if args.check:
        sys.stdout.write(describe(s))
        return 0
    log = None
    keys = None
    status = sys.stderr if (args.status if args.status is not None else sys.stderr.isatty()) else None
    try:
        if args.frame_log:
            log = open(args.frame_log, "w", encoding="utf-8")
        if sys.stdin.isatty():
            keys = runner.Keys(sys.stdin)
            if status is not None:
                print(runner.KEYS_HELP, file=sys.stderr)
        r = runner.Runner(s, bpm=args.bpm, frame_log=log, status=status, keys=keys)
        summary = r.run(args.duration)
    except (OSError, RuntimeError) as exc:
        print(f"{PROG}: error: {exc}", file=sys.stderr)
        return 1
    finally:
        if keys is not None:
            keys.close()
        if log is not None:
            log.close()
    if status is not None:
        status.write("\n")
    print(f"{PROG}: {summary['frames']} frames in {summary['seconds']:.1f} s ({summary['fps']:.2f} fps), "
          f"{summary['late']} late, CPU {100 * summary['cpu']:.1f}%, {summary['errors']} send errors",
          file=sys.stderr)
    return 0
