"""The live state kept across a restart: active and queued cues per fixture, the cues that
follow, the masters, and the tempo and beat phase of a source that has its own.

The frame loop only hands a copy of the state to `Keeper.offer` when something changed, at
most WRITE_PERIOD_S apart; a writer thread turns it into JSON and replaces the file
atomically (temporary file in the same folder, fsync, rename), so a kill at any moment
leaves either the old file or the new one. The tempo is kept as the wall-clock time of
beat 0: on the next start the bars carry on where the music is, not where the lights were.

A file that is unreadable, from another show, or from a show whose cues or fixtures have
changed is never fatal: what still matches is resumed, the rest dropped with one warning.
"""

from __future__ import annotations

import hashlib
import json
import logging
import os
import queue
import threading
import time
from fractions import Fraction

from kinetra_common import files

from . import engine as eng
from . import model

logger = logging.getLogger("kinetra_live.state")

FORMAT = "kinetra-live state"
VERSION = 1
# At most this often a new state goes to the writer (a kill loses at most about this much).
WRITE_PERIOD_S = 0.2
# States waiting for a slow disk beyond this many are dropped (and counted).
QUEUE_SIZE = 2
# A tempo moved by less than this is not worth a write of its own.
BPM_EPSILON = 1e-4
T0_EPSILON_S = 1e-4
SUFFIX = ".state.json"
# A file larger than this is not one of ours (a show's state is a few kilobytes).
MAX_BYTES = 4 << 20


def default_path(show_path: str) -> str:
    """The state file beside the show: `show.toml` -> `show.state.json`."""
    root, ext = os.path.splitext(show_path)
    return (root if ext.lower() == ".toml" else show_path) + SUFFIX


def fingerprint(*parts) -> str:
    return hashlib.sha1(repr(parts).encode("utf-8")).hexdigest()[:16]


def _fixture_print(f: model.Fixture) -> str:
    return fingerprint(f.look, f.offset_pips, f.group)


def _look_out(look: model.Look) -> dict:
    return {
        "pattern": look.pattern,
        "scale": list(look.scale),
        "lag_pips": look.lag_pips,
        "speed": str(look.speed),
        "reverse": look.reverse,
        "mirror": list(look.mirror),
        "rotate": look.rotate,
    }


def _look_in(d: dict) -> model.Look:
    scale = tuple(float(v) for v in d["scale"])
    mirror = tuple(bool(v) for v in d["mirror"])
    if len(scale) != 3 or len(mirror) != 3 or not isinstance(d["pattern"], str):
        raise ValueError("look")
    return model.Look(
        pattern=d["pattern"],
        scale=scale,
        lag_pips=int(d["lag_pips"]),
        speed=Fraction(str(d["speed"])),
        reverse=bool(d["reverse"]),
        mirror=mirror,
        rotate=float(d["rotate"]),
    )


def capture(engine: eng.Engine, clock, tempo, now: float, wall: float) -> tuple:
    """A copy of what is kept, cheap enough for the frame loop (no encoding here)."""
    return (
        wall,
        clock.pip_at(now),
        list(engine.active),
        list(engine.queued),
        list(engine.looks),
        list(engine.follows),
        engine.hold,
        engine.size_to,
        engine.home,
        engine.blackout,
        tempo.saved_grid(clock),
        wall - now,  # monotonic -> wall clock
    )


def encode(show: model.Show, cues_print: dict, snap: tuple) -> dict:
    wall, pip, active, queued, looks, follows, hold, size, home, blackout, grid, to_wall = snap
    fixtures = {}
    for f, a, q, look in zip(show.fixtures, active, queued, looks):
        fixtures[f.name] = {
            "fixture": _fixture_print(f),
            "active": None
            if a is None
            else {
                "cue": a.cue.name,
                "boundary": a.boundary,
                "cue_print": cues_print[a.cue.name],
                "look": _look_out(look),
            },
            "queued": None
            if q is None
            else {"cue": q.cue.name, "boundary": q.boundary, "cue_print": cues_print[q.cue.name]},
        }
    return {
        "format": FORMAT,
        "version": VERSION,
        "show": show.name,
        "saved_at": wall,
        "pip": pip,
        "tempo": None if grid is None else {"source": show.tempo.source, "bpm": grid[0], "beat0_at": grid[1] + to_wall},
        "masters": {
            "hold": None if hold is None else [list(o) for o in hold],
            "size": size,
            "home": home,
            "blackout": blackout,
        },
        "fixtures": fixtures,
        "follows": [
            {"due": due, "next": nxt, "after_cue": origin.cue.name, "after_boundary": origin.boundary}
            for due, nxt, origin in follows
        ],
    }


class Keeper:
    """The state file of one run: `restore` once before the first frame, `offer` from the
    frame loop, `close` at the end (one last write, waited for briefly)."""

    def __init__(self, path: str, show: model.Show, *, wall=time.time):
        self.path = os.path.abspath(path)
        self.show = show
        self.wall = wall
        self.cues_print = {name: fingerprint(c) for name, c in show.cues.items()}
        self.resumed_from: float | None = None  # wall time of the state resumed
        self.writes = 0
        self.dropped = 0
        self.errors = 0
        self.last_error = ""
        self.last_offer = float("-inf")
        self.pending = False  # a change not yet handed to the writer
        self.seen: tuple | None = None  # the tempo grid last handed over
        self.queue: queue.Queue = queue.Queue(QUEUE_SIZE)
        self._sweep()
        self.thread = threading.Thread(target=self._run, name="kinetra-state", daemon=True)
        self.thread.start()

    # ---- the frame loop's side ------------------------------------------------------------

    def offer(self, now: float, changed: bool, engine, clock, tempo) -> None:
        """Hands the state to the writer when it changed (commands, landed cues, the tempo),
        at most every WRITE_PERIOD_S; never waits."""
        if changed:
            self.pending = True
        if now - self.last_offer < WRITE_PERIOD_S:
            return
        if not self.pending:
            grid = tempo.saved_grid(clock)
            seen = self.seen
            if grid is None or (
                seen is not None and abs(grid[0] - seen[0]) < BPM_EPSILON and abs(grid[1] - seen[1]) < T0_EPSILON_S
            ):
                return
        self.last_offer = now
        snap = capture(engine, clock, tempo, now, self.wall())
        try:
            self.queue.put_nowait((self.show, self.cues_print, snap))  # the show it was taken from
        except queue.Full:
            self.dropped += 1  # the disk is slow: this one is skipped, the next try comes soon
            return
        self.pending = False
        self.seen = snap[10]

    def status(self) -> str:
        parts = []
        if self.resumed_from is not None:
            parts.append("resumed " + time.strftime("%H:%M:%S", time.localtime(self.resumed_from)))
        if self.errors or self.dropped:
            parts.append(f"state file: {self.errors} errors, {self.dropped} dropped")
        return ", ".join(parts)

    def rebind(self, show: model.Show) -> None:
        """The show as edited while it plays: kept from the next state on."""
        self.show = show
        self.cues_print = {name: fingerprint(c) for name, c in show.cues.items()}
        self.pending = True

    # ---- the writer -----------------------------------------------------------------------

    def _sweep(self) -> None:
        """Temporary files left by a run that was killed halfway through a write."""
        folder, name = os.path.split(self.path)
        prefix = f".{name}."
        try:
            left = [f for f in os.listdir(folder or ".") if f.startswith(prefix) and f.endswith(".tmp")]
        except OSError:
            return
        for f in left:
            try:
                os.unlink(os.path.join(folder, f))
            except OSError:
                pass

    def _run(self) -> None:
        stop = False
        while not stop:
            snap = self.queue.get()
            stop = snap is None
            while not self.queue.empty():  # behind a slow disk only the newest counts
                more = self.queue.get_nowait()
                stop = stop or more is None
                snap = more if more is not None else snap
            if snap is None:
                continue
            try:
                self.write(encode(*snap))
            except Exception as exc:  # noqa: BLE001 - a state file that cannot be written costs no frame
                self.errors += 1
                self.last_error = str(getattr(exc, "strerror", None) or exc)
                if self.errors > 1:
                    continue
                if isinstance(exc, OSError):  # a read-only folder, a full disk: said once, plainly
                    logger.warning("state file %s cannot be written (%s); the show goes on", self.path, self.last_error)
                else:
                    logger.exception("state file %s cannot be written; the show goes on", self.path)

    def write(self, data: dict) -> None:
        files.write_atomic(self.path, json.dumps(data, separators=(",", ":"), allow_nan=False).encode("utf-8"))
        self.writes += 1

    def close(self, engine, clock, tempo, now: float, timeout: float = 2.0) -> None:
        """The last state, then the writer stops (waited for at most `timeout` seconds)."""
        if not self.thread.is_alive():
            return
        for item in ((self.show, self.cues_print, capture(engine, clock, tempo, now, self.wall())), None):
            try:
                self.queue.put(item, timeout=timeout)
            except queue.Full:
                self.dropped += 1
                return
        self.thread.join(timeout)

    # ---- resuming -------------------------------------------------------------------------

    def restore(self, engine: eng.Engine, clock, tempo, now: float) -> str | None:
        """Resumes what the file holds that still fits the show; returns the one warning
        about what was dropped, or None. Never raises on what the file holds."""
        try:
            with open(self.path, "rb") as fh:
                text = fh.read(MAX_BYTES + 1)
        except FileNotFoundError:
            self._rewrite(engine, clock, tempo, now)
            return None
        except OSError as exc:
            self._rewrite(engine, clock, tempo, now)
            return f"state file {self.path}: cannot be read ({exc.strerror or exc}); starting fresh"
        try:
            if len(text) > MAX_BYTES:
                raise ValueError("too large for a state file")
            data = json.loads(text.decode("utf-8"))
            if not isinstance(data, dict) or data.get("format") != FORMAT:
                raise ValueError("not a state file")
            if data.get("version") != VERSION:
                raise ValueError(f"version {data.get('version')!r}, not {VERSION}")
        except (ValueError, RecursionError) as exc:
            self._rewrite(engine, clock, tempo, now)
            return f"state file {self.path}: {str(exc)[:120]}; starting fresh, the file is rewritten"
        if data.get("show") != self.show.name:
            self._rewrite(engine, clock, tempo, now)
            return (
                f"state file {self.path}: from another show ({model.printable(str(data.get('show'))[:60])!r}); "
                "starting fresh, the file is rewritten"
            )
        dropped: list[str] = []
        resumed = self._resume(data, engine, clock, tempo, now, dropped)
        if resumed:
            saved = data.get("saved_at")
            self.resumed_from = float(saved) if isinstance(saved, (int, float)) else self.wall()
        self._rewrite(engine, clock, tempo, now)
        if not dropped:
            return None
        shown = ", ".join(dropped[:6]) + (f" and {len(dropped) - 6} more" if len(dropped) > 6 else "")
        return f"state file {self.path}: resumed what still fits the show; dropped {shown}"

    def _rewrite(self, engine, clock, tempo, now) -> None:
        self.pending = True
        self.last_offer = float("-inf")
        self.offer(now, True, engine, clock, tempo)

    def _resume(self, data: dict, engine: eng.Engine, clock, tempo, now: float, dropped: list) -> bool:
        show = self.show
        resumed = False
        # the tempo first: it decides whether the saved pips still mean the same beats
        shift = None
        t = data.get("tempo")
        try:
            if t is not None:
                bpm, beat0 = float(t["bpm"]), float(t["beat0_at"]) - self.wall() + now
                if t.get("source") != show.tempo.source:
                    dropped.append(f"the tempo (of source {model.printable(str(t.get('source'))[:20])!r})")
                elif not 0 < bpm < 1e4 or not abs(beat0 - now) < 1e10:
                    dropped.append("the tempo (out of range)")
                elif tempo.resume_grid(clock, bpm, beat0, now):
                    shift, resumed = 0, True
        except (KeyError, TypeError, ValueError):
            dropped.append("the tempo (unreadable)")
        if shift is None:
            # the pips start afresh: the saved launches move with them
            try:
                shift = clock.pip_at(now) - int(data["pip"])
            except (KeyError, TypeError, ValueError):
                shift = 0
        m = data.get("masters")
        if isinstance(m, dict):
            try:
                self._masters(m, engine)
                resumed = True
            except (KeyError, TypeError, ValueError):
                dropped.append("the masters (unreadable)")
        fixtures = data.get("fixtures")
        if not isinstance(fixtures, dict):
            fixtures = {}
            dropped.append("the cues (unreadable)")
        queued: dict = {}  # (cue, boundary) -> fixture indices
        active: dict = {}
        bad_cues: dict = {}
        for name, rec in fixtures.items():
            i = engine.index.get(name)
            if i is None:
                dropped.append(f"fixture {model.printable(str(name)[:40])!r} (not in the show)")
                continue
            f = show.fixtures[i]
            if not isinstance(rec, dict) or rec.get("fixture") != _fixture_print(f):
                dropped.append(f"fixture {name!r} (changed)")
                continue
            for kind, into in (("active", active), ("queued", queued)):
                r = rec.get(kind)
                if r is None:
                    continue
                try:
                    cue = show.cues.get(r["cue"]) if isinstance(r["cue"], str) else None
                    if cue is None or r["cue_print"] != self.cues_print[cue.name]:
                        bad_cues[str(r["cue"])[:40]] = "changed" if cue is not None else "not in the show"
                        continue
                    boundary = int(r["boundary"]) + shift
                    look = _look_in(r["look"]) if kind == "active" else None
                    if look is not None:
                        show.library.sample(look.pattern, 0)
                except Exception:  # noqa: BLE001 - whatever the file holds, the show starts
                    dropped.append(f"fixture {name!r} (unreadable {kind} cue)")
                    continue
                into.setdefault((cue.name, boundary), []).append((i, look))
        dropped.extend(f"cue {model.printable(c)!r} ({why})" for c, why in bad_cues.items())
        launches = {}
        for (name, boundary), members in active.items():
            cue = show.cues[name]
            launch = eng.Launch(cue, boundary, tuple(i for i, _ in members))
            launches[(name, boundary)] = launch
            anchor = boundary if cue.phase == "restart" else 0
            for i, look in members:
                engine.active[i] = launch
                engine.looks[i] = look
                engine.nodes[i] = eng.Play(look, anchor, name, show.fixtures[i].offset_pips)
            resumed = True
        for (name, boundary), members in queued.items():
            launch = eng.Launch(show.cues[name], boundary, tuple(i for i, _ in members))
            for i, _ in members:
                engine.queued[i] = launch
            resumed = True
        follows = data.get("follows")
        for fo in follows if isinstance(follows, list) else []:
            try:
                origin = launches.get((fo["after_cue"], int(fo["after_boundary"]) + shift))
                if origin is not None and fo["next"] in show.cues:
                    engine.follows.append((int(fo["due"]) + shift, fo["next"], origin))
            except (KeyError, TypeError, ValueError):
                dropped.append("a cue that follows (unreadable)")
        return resumed

    def _masters(self, m: dict, engine: eng.Engine) -> None:
        size = float(m["size"])
        if not 0.0 <= size <= 1.0:
            raise ValueError("size")
        hold = m.get("hold")
        if hold is not None:
            if len(hold) != len(engine.fixtures):
                raise ValueError("hold")
            hold = tuple(tuple(max(-1.0, min(1.0, float(v))) for v in o[:3]) for o in hold)
            if any(len(o) != 3 for o in hold):
                raise ValueError("hold")
        engine.size_from = engine.size_to = size
        engine.hold = hold
        engine.home = bool(m["home"])
        engine.blackout = bool(m["blackout"]) and engine.show.blackout_allowed
