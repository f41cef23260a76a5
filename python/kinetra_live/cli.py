"""Command line: `kinetra-live SHOW.toml` (or `python -m kinetra_live SHOW.toml`)."""

from __future__ import annotations

import argparse
import signal
import sys

from kinetra_common import units

from . import artnet, model, outputs, runner, showfile, speed
from . import state as saved

PROG = "kinetra-live"
DISCOVER_TIMEOUT_S = 3.0
MAX_DURATION_S = 1e9


class Interrupted(BaseException):
    """A stop signal outside the frame loop (while the show loads, or after it ended)."""

    def __init__(self, signum: int):
        super().__init__(signum)
        self.signum = signum


def _raise_interrupted(signum, frame):
    raise Interrupted(signum)


def _duration(text: str) -> float:
    try:
        v = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not 0 < v <= MAX_DURATION_S:
        raise argparse.ArgumentTypeError(f"must be above 0 and at most {MAX_DURATION_S:g} seconds")
    return v


def _listen(text: str) -> tuple[str, int]:
    from .inputs import web

    try:
        return web.parse_listen(text)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None


def build_parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog=PROG,
        description="Drive moving lights (E1.31 / sACN, Art-Net) and visuals (OSC) with kinetra patterns, "
        "in time with the music. Keys (in a terminal): "
        + runner.KEYS_HELP
        + ", and the keys the show binds to its cues.",
    )
    p.add_argument("show", metavar="SHOW.toml", nargs="?", help="the show file")
    p.add_argument(
        "--discover",
        metavar="ADDRESS",
        help="send one ArtPoll to ADDRESS (an Art-Net node, or a subnet's broadcast address), "
        "list the nodes that answer, and exit",
    )
    p.add_argument(
        "--fixtures",
        metavar="SEARCH",
        help="list the fixtures of the bundled library whose maker or model holds every word of SEARCH "
        '("" for all), with their modes, for profile = "ofl:MAKER/MODEL", and exit',
    )
    p.add_argument("--bpm", type=units.bpm_argument, help="tempo to start with, instead of the show's")
    p.add_argument("--duration", type=_duration, metavar="SECONDS", help="stop after this long")
    p.add_argument(
        "--frame-log",
        metavar="FILE.jsonl",
        help="write every frame sent as a JSON line (time, pip per fixture, values, packets)",
    )
    p.add_argument(
        "--audio-file",
        metavar="FILE",
        help='with [tempo] source = "audio": follow a WAV or FLAC file played in real time '
        "instead of the audio input (rehearsal, tests)",
    )
    p.add_argument(
        "--web",
        type=_listen,
        metavar="[HOST:]PORT",
        help="serve the web remote (cue grid, tempo, masters, rig view) here; off 127.0.0.1 "
        "it asks for the token printed with its address (overrides the show's [web])",
    )
    p.add_argument(
        "--read-only",
        action="store_true",
        help="serve the web remote without its edit mode (by default the page can edit the show and "
        "save it back to SHOW.toml; editing always asks for the token printed with the address)",
    )
    p.add_argument(
        "--state",
        metavar="FILE",
        help="where the live state (cues, masters, tempo and phase) is kept and resumed from "
        "(default: SHOW.state.json beside the show)",
    )
    p.add_argument("--fresh", action="store_true", help="start from the show's first look, ignoring the kept state")
    p.add_argument("--check", action="store_true", help="check the show file, print its patch, send nothing")
    p.add_argument(
        "--status",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="status line on stderr (default: when stderr is a terminal)",
    )
    return p


def describe(s: model.Show) -> str:
    safe = showfile.printable
    lines = [f"{safe(s.name)}: {len(s.fixtures)} fixtures, {s.tempo.bpm:g} BPM ({s.tempo.source}), {s.fps} fps"]
    for out in s.outputs.values():
        lines.append(f"  output {safe(out.name)}: {outputs.KINDS[out.kind].describe(out, s)}")
    for f in s.fixtures:
        p = f.patch
        universe = (
            f"port-address {artnet.format_port_address(p.universe)}"
            if f.kind == "artnet"
            else f"universe {getattr(p, 'universe', '')}"
        )
        where = (
            f"{universe} channels {p.address}-{p.address + p.footprint - 1}"
            if hasattr(p, "universe")
            else f"OSC {safe(p.address)}"
        )
        lag = f" (spread {-f.look.lag_pips:+d})" if f.look.lag_pips else ""
        lines.append(f"  {safe(f.name)}: {f.look.pattern} +{f.offset_pips} pips{lag}, {where}")
    for c in s.cues.values():
        key = f" [{c.key}]" if c.key else ""
        lines.append(f"  cue {safe(c.name)}{key}: " + ", ".join(safe(t.name) for t in c.targets))
    if s.web is not None:
        lines.append(f"  web remote on {s.web.host}:{s.web.port}")
    if s.osc_in is not None:
        lines.append(f"  OSC input on {s.osc_in.host}:{s.osc_in.port}")
    if s.midi is not None:
        lines.append(
            f"  MIDI input {safe(s.midi.input)}, layout {s.midi.layout}"
            + (f", lights to {safe(s.midi.output)}" if s.midi.output else "")
        )
    lines += [f"  warning: {safe(w)}" for w in speed.show_warnings(s)]
    return "\n".join(lines) + "\n"


def main(argv=None) -> int:
    state = {"played": False, "stopped": False}

    def stop(signum, frame):
        # Only the first stop, and only before the streams have ended, interrupts: a second
        # one must not break into the way out of the first.
        if not (state["played"] or state["stopped"]):
            state["stopped"] = True
            _raise_interrupted(signum, frame)

    saved = {s: signal.signal(s, stop) for s in runner.STOP_SIGNALS}
    try:
        return _main(argv, state)
    except Interrupted as stop:
        # a stop while the show loads ends quietly; one after the streams ended is no failure
        return 0 if state["played"] else 128 + stop.signum
    finally:
        # Run as the program (no argv), the process ends next and its streams have ended: a stop
        # signal from here on must not turn a clean exit into a death by signal.
        for s, handler in saved.items():
            signal.signal(s, handler if argv is not None else signal.SIG_IGN)


def discover(address: str) -> int:
    try:
        replies = artnet.discover(address, DISCOVER_TIMEOUT_S)
    except (OSError, ValueError) as exc:
        print(f"{PROG}: error: --discover: {exc}", file=sys.stderr)
        return 1
    for sender, reply in replies:
        print(showfile.printable(reply.describe(sender)))
    print(f"{PROG}: {len(replies)} Art-Net node(s) answered {address} within {DISCOVER_TIMEOUT_S:g} s", file=sys.stderr)
    return 0


def list_fixtures(text: str) -> int:
    from . import fixturelib

    try:
        found = fixturelib.search(text)
    except fixturelib.LibraryError as exc:
        print(f"{PROG}: error: {exc}", file=sys.stderr)
        return 1
    for ref, entry in found:
        for line in fixturelib.describe(ref, entry).split("\n"):
            print(showfile.printable(line))
    more = " (the first ones)" if len(found) == fixturelib.MAX_MATCHES else ""
    print(f"{PROG}: {len(found)} fixture(s) match {showfile.printable(repr(text))}{more}", file=sys.stderr)
    return 0 if found else 1


def _editor(path: str):
    """(the show editor, None) or (None, why editing is off)."""
    try:
        import tomlkit  # noqa: F401
    except ImportError:
        return None, "the show editor needs the tomlkit package (pip install kinetra[web]); serving read-only"
    from . import showedit

    return showedit.Editor(path), None


def _main(argv, state: dict) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.discover is not None:
        if args.show is not None:
            parser.error("--discover takes no show file")
        return discover(args.discover)
    if args.fixtures is not None:
        if args.show is not None:
            parser.error("--fixtures takes no show file")
        return list_fixtures(args.fixtures)
    if args.show is None:
        parser.error("the show file is required")
    editor = None
    editing = not (args.read_only or args.check)
    try:
        if args.web is not None and editing:
            # a show being built in the page may have no fixture yet, or no file at all
            editor, warning = _editor(args.show)
            s = editor.show if editor is not None else showfile.load(args.show)
        else:
            s = showfile.load(args.show)
            warning = None
            if s.web is not None and editing:
                editor, warning = _editor(args.show)
                s = editor.show if editor is not None else s
        if warning:
            print(f"{PROG}: warning: {warning}", file=sys.stderr)
    except model.ShowError as exc:
        print(f"{PROG}: error: {exc}", file=sys.stderr)
        return 1
    if args.audio_file is not None and s.tempo.source != "audio":
        print(
            f'{PROG}: error: --audio-file needs [tempo] source = "audio" (the show has "{s.tempo.source}")',
            file=sys.stderr,
        )
        return 1
    if args.check:
        sys.stdout.write(describe(s))
        return 0
    log = None
    keys = None
    failed = False
    status = sys.stderr if (args.status if args.status is not None else sys.stderr.isatty()) else None
    try:
        if args.frame_log:
            log = open(args.frame_log, "w", encoding="utf-8")
        if sys.stdin.isatty():
            keys = runner.keyboard.Keys(sys.stdin)
            if status is not None:
                print(runner.KEYS_HELP, file=sys.stderr)
        r = runner.Runner(
            s,
            bpm=args.bpm,
            frame_log=log,
            status=status,
            keys=keys,
            web=args.web,
            editor=editor,
            options={"audio_file": args.audio_file},
            state_file=args.state or saved.default_path(args.show),
            fresh=args.fresh,
        )
        if r.web is not None:
            print(f"{PROG}: web remote at {r.web.url}", file=sys.stderr, flush=True)
            print(f"{PROG}: stage view at {r.web.stage_url}", file=sys.stderr, flush=True)
            if editor is not None:
                print(f"{PROG}: the page can edit and save {editor.path} (--read-only: it cannot)", file=sys.stderr)
        for warning in r.warnings:
            print(f"{PROG}: warning: {warning}", file=sys.stderr, flush=True)
        try:
            summary = r.run(args.duration)
        finally:
            state["played"] = True
    except (OSError, RuntimeError, ValueError) as exc:
        print(f"{PROG}: error: {exc}", file=sys.stderr)
        failed = True
    finally:
        if keys is not None:
            keys.close()
        if log is not None:
            try:
                log.close()
            except OSError as exc:
                if not failed:  # a frame log that failed on the way is reported once
                    print(f"{PROG}: error: frame log: {exc.strerror or exc}", file=sys.stderr)
                failed = True
    if failed:
        return 1
    if status is not None:
        status.write("\n")
    print(
        f"{PROG}: {summary['frames']} frames in {summary['seconds']:.1f} s ({summary['fps']:.2f} fps), "
        f"{summary['late']} late, CPU {100 * summary['cpu']:.1f}%, {summary['errors']} send errors",
        file=sys.stderr,
    )
    return 0
