"""The frame loop: transport and timing around the engine.

Each frame: take in the commands that arrived, let the tempo source move the
clock, read the frame's pip from the clock, let the engine land what is due and
give every fixture's offset, hand those to the outputs and send. Stop signals
(SIGINT, SIGTERM, SIGHUP) only ask the loop to end; the outputs always end
their streams on the way out, whatever ends the loop.
"""

from __future__ import annotations

import json
import logging
import math
import signal
import time

from . import commands as cmds
from . import outputs, tempo
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
        options: dict | None = None,
        open_socket=None,
        web: tuple[str, int] | None = None,
    ):
        self.show = show
        self.now = now
        self.closed = False
        self.senders: dict = {}
        self.inputs: list = []  # started inputs, each with close()
        self.tempo = None
        self.frame_log = frame_log
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
            self.tempo = tempo.SOURCES[show.tempo.source](show.tempo, self.clock, now, options or {})
            for name, settings in show.outputs.items():
                if any(f.output == name for f in show.fixtures):
                    kind = outputs.KINDS[settings.kind]
                    sock = (open_socket or kind.open_socket)(settings)
                    self.senders[name] = kind.Sender(settings, show, sock)
            self._start_inputs(web, options or {})
        except BaseException:
            self.close()
            raise
        self.by_output = [self.senders[f.output] for f in show.fixtures]
        self.latencies = [show.latency_s.get(f.output, 0.0) for f in show.fixtures]
        self.latency_set = set(self.latencies)
        self.frames = 0
        self.landed: list = []  # cues landed in the last frame
        self.late = 0
        self.recent: list[float] = []
        self.stop_requested = False
        self.closed = False

    # ---- remote inputs ----------------------------------------------------------------------

    def _start_inputs(self, web_listen, options: dict) -> None:
        """The show's [web], [osc_in] and [midi] inputs (and --web); each feeds the command
        queue from its own thread through the same check as the keys."""
        show = self.show

        def make(name, arg, source):
            return cmds.check(cmds.Command(name, arg, source), show)

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
                config={
                    "title": show.name,
                    "beats_per_bar": show.tempo.beats_per_bar,
                    "bar_base": 1,
                    "steps": {"nudge_s": keyboard.NUDGE_S, "tempo_bpm": keyboard.TEMPO_STEP},
                    "cue_groups": dict(columns),
                    "blackout": show.blackout_allowed,
                },
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
            try:
                self.frame_log.write(json.dumps(entry, separators=(",", ":")) + "\n")
            except OSError as exc:
                raise RuntimeError(f"frame log: {exc.strerror or exc}") from None

    # ---- status -------------------------------------------------------------------------------

    def errors(self) -> tuple[int, str]:
        senders = list(self.senders.values())
        return sum(s.errors for s in senders), next((s.last_error for s in senders if s.last_error), "")

    def status_line(self, now: float) -> str:
        beats = math.floor(self.clock.beats_at(now))
        per_bar = self.show.tempo.beats_per_bar
        window = [t for t in self.recent if now - t <= 1.0]
        fps = (len(window) - 1) / (window[-1] - window[0]) if len(window) > 1 and window[-1] > window[0] else 0.0
        errors, last = self.errors()
        line = (
            f"{self.clock.bpm:6.1f} BPM {self.show.tempo.source}  bar {beats // per_bar + 1:>4} "
            f"beat {beats % per_bar + 1}  {fps:4.1f} fps  late {self.late}"
        )
        extra = self.tempo.status()
        if extra:
            line += f"  {extra}"
        for part in self.inputs:
            said = part.status()
            if said:
                line += f"  {said}"
        if self.show.cues:
            for group, st in self.engine.groups_state(self.clock.pip_at(now)).items():
                line += f"  {group}: {st['active'] or '-'}"
                if st["queued"]:
                    line += f" > {st['queued']} in {st['beats_left']:.1f}"
        if errors:
            line += f"  send errors {errors} ({last})"
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
            if packets and self.frame_log is not None:
                try:
                    self.frame_log.write(json.dumps({"t": now, "terminated": packets}) + "\n")
                except (OSError, ValueError):
                    pass
        for part in [*self.inputs, self.tempo]:
            if part is None:
                continue
            try:
                part.close()
            except Exception:  # noqa: BLE001 - one part failing to stop must not keep the rest running
                pass
        if self.frame_log is not None:
            try:
                self.frame_log.flush()
            except (OSError, ValueError):
                pass
