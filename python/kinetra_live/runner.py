"""The frame loop: transport and timing around the engine.

Each frame: take in the commands that arrived, let the tempo source move the
clock, read the frame's pip from the clock, let the engine land what is due and
give every fixture's offset, hand those to the outputs and send. Stop signals
(SIGINT, SIGTERM, SIGHUP) only ask the loop to end; the outputs always end
their streams on the way out, whatever ends the loop.
"""

from __future__ import annotations

import dataclasses
import json
import logging
import math
import signal
import time

from . import commands as cmds
from . import faults, outputs, stage, tempo
from . import state as saved
from .clock import Clock
from .engine import Engine
from .inputs import keys as keyboard
from .model import Show

logger = logging.getLogger("kinetra_live")
STOP_SIGNALS = tuple(s for s in (signal.SIGINT, signal.SIGTERM, getattr(signal, "SIGHUP", None)) if s)
KEYS_HELP = keyboard.HELP


def cue_columns(show: Show) -> list[tuple[str, str]]:
    """(cue, group) in show order: the group a cue's first setting names ("" for a fixture),
    which is the column it gets on a pad grid and the row on the web remote."""
    return [
        (c.name, c.targets[0].name if c.targets and c.targets[0].name in show.groups else "")
        for c in show.cues.values()
    ]


def web_config(show: Show) -> dict:
    """The web page's settings for `show` (inline with the page, and again with each edit)."""
    return {
        "title": show.name,
        "beats_per_bar": show.tempo.beats_per_bar,
        "bar_base": 1,
        "steps": {"nudge_s": keyboard.NUDGE_S, "tempo_bpm": keyboard.TEMPO_STEP},
        "cue_groups": dict(cue_columns(show)),
        "blackout": show.blackout_allowed,
        "stage": stage.view_config(show),
    }


class _PadsOff:
    """Closing the MIDI input: pad lights off, then the port let go."""

    def __init__(self, pads, port):
        self.pads, self.port = pads, port

    def status(self) -> str:
        return self.pads.status()

    def close(self) -> None:
        try:
            self.pads.clear()
        finally:
            self.port.close()


class Runner:
    def __init__(
        self,
        show: Show,
        *,
        bpm: float | None = None,
        frame_log=None,
        status=None,
        keys=None,
        now=time.monotonic,
        wall=time.time,
        options: dict | None = None,
        open_socket=None,
        web: tuple[str, int] | None = None,
        state_file: str | None = None,
        fresh: bool = False,
        editor=None,
    ):
        self.show = show
        self.now = now
        self.wall = wall  # wall-clock time, for the state kept across a restart
        self.open_socket = open_socket
        self.editor = editor  # showedit.Editor: the web page may edit the show
        self.closed = False
        self.senders: dict = {}
        self.inputs: list = []  # started inputs, each with close()
        self.tempo = None
        self.frame_log = frame_log
        self.log = None if frame_log is None else faults.FrameLog(frame_log)
        self.keeper = None  # the state file, when one is kept
        self.status = status
        self.keys = keys
        self.clock = Clock(bpm or show.tempo.bpm, now(), show.tempo.latency_ms / 1000.0)
        self.engine = Engine(show)
        self.commands = cmds.CommandQueue(now)
        self.web = None  # the web remote, when served
        self.pads = None  # the MIDI controller, when the show has one
        self.last_state = float("-inf")
        self.state_errors = 0
        self.warnings: list[str] = []  # inputs that could not start; the show plays on
        try:
            source = tempo.SOURCES[show.tempo.source]
            self.tempo = faults.GuardedTempo(
                lambda: source(show.tempo, self.clock, now, options or {}), show.tempo, self.clock, now()
            )
            for name, settings in show.outputs.items():
                if any(f.output == name for f in show.fixtures):
                    kind = outputs.KINDS[settings.kind]
                    sock = (open_socket or kind.open_socket)(settings)
                    self.senders[name] = kind.Sender(settings, show, sock)
            self._start_inputs(web, options or {})
        except BaseException:
            self.close()
            raise
        self._bind()
        self.frames = 0
        self.landed: list = []  # cues landed in the last frame
        self.late = 0
        self.recent: list[float] = []
        self.stop_requested = False
        self.closed = False
        if state_file is not None:
            self._keep_state(state_file, fresh)

    def _keep_state(self, path: str, fresh: bool) -> None:
        """The state file: resumed before the first frame (unless `fresh`), then kept."""
        self.keeper = saved.Keeper(path, self.show, wall=self.wall)
        if fresh:
            return
        try:
            warning = self.keeper.restore(self.engine, self.clock, self.tempo, self.now())
        except Exception as exc:  # noqa: BLE001 - a state that cannot be resumed never stops the show
            logger.exception("resuming the state failed")
            self.engine = Engine(self.show)
            self.keeper.resumed_from = None
            warning = f"state file {path}: cannot be resumed ({exc}); starting fresh"
        if warning:
            self.warnings.append(warning)

    def _bind(self) -> None:
        """What each frame reads per fixture, worked out once per show."""
        show = self.show
        self.by_output = [self.senders[f.output] for f in show.fixtures]
        # an output's latency and a head's own response time: both sampled that much ahead
        self.latencies = [show.latency_s.get(f.output, 0.0) + f.body.lag_ms / 1000.0 for f in show.fixtures]
        self.sent: list = [()] * len(show.fixtures)  # the values each fixture was last sent
        self.latency_set = set(self.latencies)

    # ---- the show edited while it plays -------------------------------------------------------

    def _edit(self, change, t: float) -> None:
        """An accepted edit (showedit.Change): the edited show from this frame on, the engine
        going on from where it was, the programmed look landed or let go at once."""
        pip = self.clock.pip_at(t)
        if change.show is not self.show:
            self._swap(change.show, t)
        show, engine = self.show, self.engine
        targets = set(show.groups) | set(engine.index)
        for name in change.release:
            if name in targets:
                engine.release(name, pip)
        if change.live is not None:
            engine.launch_cue(change.live, pip)
        for name in change.relaunch:
            cue = show.cues.get(name)
            if cue is not None and any(a is not None and a.cue.name == name for a in engine.active):
                engine.launch_cue(dataclasses.replace(cue, quantize_beats=None, retrigger=True, phase="keep"), pip)

    def _swap(self, show: Show, now: float) -> None:
        """Plays `show` from now on: each output's sender rebuilt on its socket, going on from
        the old one's sequence numbers; an output whose settings changed or that has no
        fixture left ends its streams; a new one is opened."""
        used = {f.output for f in show.fixtures}
        packets = []
        for name, sender in list(self.senders.items()):
            if show.outputs.get(name) != sender.settings or name not in used:
                try:
                    packets += sender.close(now)
                except OSError:
                    pass
                del self.senders[name]
        for name, settings in show.outputs.items():
            if name not in used:
                continue
            kind = outputs.KINDS[settings.kind]
            old = self.senders.get(name)
            if old is None:
                self.senders[name] = kind.Sender(settings, show, (self.open_socket or kind.open_socket)(settings))
                continue
            sender = kind.Sender(settings, show, old.sock)
            if hasattr(sender, "adopt"):
                packets += sender.adopt(old, now)
            self.senders[name] = sender
        self.show = show
        self.engine = self.engine.rebased(show)
        self._bind()
        if self.keeper is not None:
            self.keeper.rebind(show)
        if packets and self.frame_log is not None:
            self.frame_log.write(json.dumps({"t": now, "terminated": packets}) + "\n")

    # ---- remote inputs ----------------------------------------------------------------------

    def _start_inputs(self, web_listen, options: dict) -> None:
        """The show's [web], [osc_in] and [midi] inputs (and --web); each feeds the command
        queue from its own thread through the same check as the keys."""
        show = self.show

        def make(name, arg, source):
            return cmds.check(cmds.Command(name, arg, source), self.show)  # the show as edited

        self.tempo.attach(self.commands, make)
        self.warnings.extend(self.tempo.warnings)
        columns = cue_columns(show)
        if web_listen is None and show.web is not None:
            web_listen = (show.web.host, show.web.port)
        if web_listen is not None:
            from .inputs import web

            self.web = web.WebRemote(
                self.commands,
                make,
                host=web_listen[0],
                port=web_listen[1],
                config=web_config(show),
                editor=self.editor,
                configure=web_config,
            )
            self.inputs.append(self.web)
            self.web.start()
        if show.osc_in is not None:
            from .inputs import osc

            self.inputs.append(osc.OscInput(self.commands, make, host=show.osc_in.host, port=show.osc_in.port))
        if show.midi is not None:
            from .inputs import midi

            m = show.midi
            pads = midi.MidiController(
                self.commands, make, midi.LAYOUTS[m.layout], cues=columns, notes=m.notes, controls=m.controls
            )
            try:
                port = midi.share(
                    m.input,
                    pads.receive,
                    output_pattern=m.output,
                    on_output=pads.attach,
                    backend=options.get("midi_backend"),
                )
            except RuntimeError as exc:
                # a controller is hardware that may be missing at a rehearsal: the lights go on
                self.warnings.append(f"MIDI input off: {exc}")
            else:
                self.pads = pads
                self.inputs.append(_PadsOff(pads, port))
                if port.ports.inp is None:
                    self.warnings.append(f"MIDI input {m.input!r} is not connected; it is opened when it appears")

    def _share_state(self, now: float, pip: int, offsets, urgent: bool) -> None:
        """The engine's state for the pad lights (every frame) and the web remote (at its rate,
        at once after a command, while a browser is connected). Neither waits: the lights go out
        through the MIDI driver's queue, the web remote only keeps the newest state."""
        web_due = (
            self.web is not None and (urgent or now - self.last_state >= self.web.frame_period) and self.web.wanted()
        )
        if not web_due and self.pads is None:
            return
        state = self.engine.snapshot(pip, offsets)
        state["bpm"] = self.clock.bpm
        state["tempo_status"] = self.tempo.status()
        state["warnings"] = self.engine.speed_warnings(self.clock.bpm)
        state["resumed"] = self.keeper.status() if self.keeper is not None else ""
        state["faults"] = self.faults(now)
        if web_due:
            state["heads"] = stage.heads(self.show, self.sent, self.engine.blackout)
        if self.pads is not None:
            self.pads.update(state)
        if web_due:
            self.last_state = now
            self.web.publish(state, urgent)

    # ---- commands ---------------------------------------------------------------------------

    def handle(self, cmd: cmds.Command, t: float) -> None:
        """One checked command, given at time `t`."""
        name = cmd.name
        if name == "quit":
            self.stop_requested = True
        elif name == cmds.EDIT:
            self._edit(cmd.arg, t)
        elif name in cmds.TEMPO_COMMANDS:
            self.tempo.command(name, cmd.arg, self.clock, t)
        else:
            self.engine.apply(name, cmd.arg, self.clock.pip_at(t))

    def key(self, text: str) -> None:
        for cmd in keyboard.commands_for(text, self.show.keys, self.engine.size_to):
            self.commands.put(cmd)

    # ---- one frame --------------------------------------------------------------------------

    def frame(self, now: float) -> None:
        taken = self.commands.drain()
        for t, cmd in taken:
            self.handle(cmd, t)
        self.tempo.update(self.clock, now)
        pip = self.clock.pip_at(now)
        engine = self.engine
        engine.advance(pip)
        # an output with a latency is sampled that much ahead of (or behind) the clock
        by_latency = {lat: pip if not lat else self.clock.pip_at(now + lat) for lat in self.latency_set}
        pips = [by_latency[lat] for lat in self.latencies]
        offsets = {p: engine.offsets(p) for p in set(pips)}
        blackout = engine.blackout
        log = self.frame_log is not None
        record = {} if log else None
        for i, (fx, sender, p) in enumerate(zip(self.show.fixtures, self.by_output, pips)):
            values = sender.set(fx, *offsets[p][i], blackout)
            self.sent[i] = values
            if log:
                record[fx.name] = {"values": values}
        packets = []
        for sender in self.senders.values():
            packets.extend(sender.flush(now))
        if self.web is not None or self.pads is not None:
            try:
                # the state as the show's clock has it (outputs with a latency are sampled apart)
                self._share_state(now, pip, offsets.get(pip), bool(taken))
            except Exception:  # noqa: BLE001 - the remotes must never stop the lights
                self.state_errors += 1
                if self.state_errors == 1:
                    logger.exception("sharing the state with the remote inputs failed; the show goes on")
        self.frames += 1
        self.landed = engine.take_events()
        if self.keeper is not None:
            self.keeper.offer(now, bool(taken or self.landed), engine, self.clock, self.tempo)
        if log:
            pattern_pips = {p: engine.pattern_pips(p) for p in offsets}
            for i, (fx, p) in enumerate(zip(self.show.fixtures, pips)):
                record[fx.name]["pip"] = pattern_pips[p][i]
            entry = {
                "t": now,
                "frame": self.frames,
                "pip": pip,
                "bpm": self.clock.bpm,
                "t0": self.clock.t0,
                "latency_s": self.clock.latency_s,
                "fixtures": record,
                "packets": packets,
            }
            if self.landed:
                entry["landed"] = self.landed
            self.log.write(json.dumps(entry, separators=(",", ":")) + "\n")
            if self.log.error is not None:
                raise RuntimeError(f"frame log: {self.log.error.strerror or self.log.error}")

    # ---- status -------------------------------------------------------------------------------

    def errors(self) -> tuple[int, str]:
        senders = list(self.senders.values())
        return sum(s.errors for s in senders), next((s.last_error for s in senders if s.last_error), "")

    def faults(self, now: float) -> str:
        """What is going wrong, or went wrong, with the outputs and the files (for the remote)."""
        parts = [s.health.status(now) for s in self.senders.values() if getattr(s, "health", None) is not None]
        if self.log is not None and self.log.dropped:
            parts.append(f"frame log: {self.log.dropped} lines dropped (slow disk)")
        return "  ".join(p for p in parts if p)

    def status_line(self, now: float) -> str:
        beats = math.floor(self.clock.beats_at(now))
        per_bar = self.show.tempo.beats_per_bar
        window = [t for t in self.recent if now - t <= 1.0]
        fps = (len(window) - 1) / (window[-1] - window[0]) if len(window) > 1 and window[-1] > window[0] else 0.0
        line = (
            f"{self.clock.bpm:6.1f} BPM {self.show.tempo.source}  bar {beats // per_bar + 1:>4} "
            f"beat {beats % per_bar + 1}  {fps:4.1f} fps  late {self.late}"
        )
        extra = self.tempo.status()
        if extra:
            line += f"  {extra}"
        for part in self.inputs:
            try:
                said = part.status()
            except Exception:  # noqa: BLE001 - a broken input says nothing; the show goes on
                said = ""
            if said:
                line += f"  {said}"
        if self.show.cues:
            for group, st in self.engine.groups_state(self.clock.pip_at(now)).items():
                line += f"  {group}: {st['active'] or '-'}"
                if st["queued"]:
                    line += f" > {st['queued']} in {st['beats_left']:.1f}"
        warnings = self.engine.speed_warnings(self.clock.bpm)
        if warnings:
            line += f"  {warnings[0]}" + (f" (+{len(warnings) - 1})" if len(warnings) > 1 else "")
        said = self.faults(now)
        if said:
            line += f"  {said}"
        if self.keeper is not None:
            said = self.keeper.status()
            if said:
                line += f"  {said}"
        return line

    # ---- the loop -----------------------------------------------------------------------------

    def _on_stop_signal(self, signum, frame) -> None:
        self.stop_requested = True

    def run(self, duration: float | None = None) -> dict:
        """Plays until `duration` seconds have passed, `q`, or a stop signal; the outputs'
        streams are ended on every way out, an error included."""
        period = 1.0 / self.show.fps
        start = self.now()
        end = None if duration is None else start + duration
        cpu0 = time.process_time()
        saved = {}
        try:
            for s in STOP_SIGNALS:
                saved[s] = signal.signal(s, self._on_stop_signal)
            self._loop(start, end, period)
        finally:
            try:
                self.close()
            finally:
                for s, handler in saved.items():
                    signal.signal(s, handler)
        elapsed = self.now() - start
        return {
            "frames": self.frames,
            "seconds": elapsed,
            "late": self.late,
            "fps": self.frames / elapsed if elapsed > 0 else 0.0,
            "cpu": (time.process_time() - cpu0) / elapsed if elapsed > 0 else 0.0,
            "errors": self.errors()[0],
        }

    def _loop(self, start: float, end: float | None, period: float) -> None:
        n = 0
        last_status = float("-inf")
        while not self.stop_requested:
            due = start + n * period
            now = self.now()
            while now < due and not self.stop_requested:
                if self.keys is not None:
                    text = self.keys.wait(due - now)
                    if text:
                        self.key(text)
                else:
                    time.sleep(min(due - now, period))
                now = self.now()
            if self.stop_requested or (end is not None and now >= end):
                return
            if now - due > period / 2:
                self.late += 1
            self.frame(now)
            if self.stop_requested:
                return
            self.recent.append(now)
            if len(self.recent) > 64:
                del self.recent[:16]
            if self.status is not None and now - last_status >= 0.25:
                last_status = now
                self.status.write("\r" + self.status_line(now) + "\x1b[K")
                self.status.flush()
            # the next frame still due; frames that could only be sent late are skipped
            n += 1
            after = self.now()
            if after > start + n * period + period:
                skipped = math.floor((after - start) / period) - n
                self.late += skipped
                n += skipped

    def close(self) -> None:
        """Ends every output's stream (sACN: three stream-terminated packets per universe),
        then stops the inputs and the tempo source. Safe to call twice."""
        if self.closed:
            return
        self.closed = True
        now = self.now()
        for sender in self.senders.values():
            try:
                packets = sender.close(now)
            except OSError:
                continue
            if packets and self.log is not None:
                self.log.write(json.dumps({"t": now, "terminated": packets}) + "\n")
        if self.keeper is not None:
            self.keeper.close(self.engine, self.clock, self.tempo, now)
        for part in [*self.inputs, self.tempo]:
            if part is None:
                continue
            try:
                part.close()
            except Exception:  # noqa: BLE001 - one part failing to stop must not keep the rest running
                pass
        if self.log is not None:
            self.log.flush()
            self.log.close()
