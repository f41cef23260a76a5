"""The frame loop: time to pips, pips to DMX and OSC, at a steady frame rate."""

from __future__ import annotations

import json
import math
import os
import select
import signal
import sys
import time

from . import e131, mapping
from .clock import Clock, LinkSource, MidiClock, TapTempo, open_midi
from .show import OscOutput, Show

INT32 = 1 << 32
NUDGE_S = 0.010
KEYS_HELP = "space: tap  , .: nudge -/+10 ms  - +: tempo -/+0.1  q: quit"


def wrap32(pip: int) -> int:
    """Pips beyond the 32-bit range fold back into it (after months at any sane tempo)."""
    return (pip + (INT32 >> 1)) % INT32 - (INT32 >> 1)


class Stop(Exception):
    pass


def _on_term(signum, frame):
    raise Stop()


class OscSender:
    def __init__(self, output: OscOutput):
        from pythonosc.udp_client import SimpleUDPClient
        self.client = SimpleUDPClient(output.host, output.port)
        self.errors = 0
        self.last_error = ""

    def send(self, address: str, values) -> None:
        try:
            self.client.send_message(address, [float(v) for v in values])
        except OSError as exc:
            self.errors += 1
            self.last_error = f"{exc.strerror or exc}"

    def close(self) -> None:
        self.client._sock.close()


class Keys:
    """Single key presses from the terminal, without echo, while the show runs."""

    def __init__(self, stream):
        import termios
        import tty
        self.fd = stream.fileno()
        self.saved = termios.tcgetattr(self.fd)
        tty.setcbreak(self.fd)

    def wait(self, timeout: float) -> str:
        ready, _, _ = select.select([self.fd], [], [], max(0.0, timeout))
        return os.read(self.fd, 16).decode("utf-8", "replace") if ready else ""

    def close(self) -> None:
        import termios
        termios.tcsetattr(self.fd, termios.TCSADRAIN, self.saved)


class Runner:
    def __init__(self, show: Show, *, bpm: float | None = None, frame_log=None, status=None,
                 keys=None, now=time.monotonic):
        self.show = show
        self.now = now
        self.frame_log = frame_log
        self.status = status
        self.keys = keys
        self.clock = Clock(bpm or show.tempo.bpm, now(), show.tempo.latency_ms / 1000.0)
        self.tap = TapTempo()
        self.midi = None
        self.midi_port = None
        self.link = None
        src = show.tempo.source
        if src == "midi":
            self.midi = MidiClock()
            self.midi_port = open_midi(show.tempo.midi_port, self.midi, now)
        elif src == "link":
            self.link = LinkSource(self.clock.bpm)
        self.senders = {}
        self.osc = {}
        for out in show.sacn_outputs():
            universes = show.universes(out.name)
            if universes:
                self.senders[out.name] = e131.Sender(out, show.cid, {u: 512 for u in universes})
        for out in show.outputs.values():
            if isinstance(out, OscOutput) and any(f.output == out.name for f in show.fixtures):
                self.osc[out.name] = OscSender(out)
        self.frames = 0
        self.late = 0
        self.recent: list[float] = []

    # ---- one frame ------------------------------------------------------------------------

    def frame(self, now: float) -> None:
        if self.midi is not None:
            self.midi.apply(self.clock)
        elif self.link is not None:
            self.link.apply(self.clock, now)
        pip = self.clock.pip_at(now)
        record = {}
        sample = self.show.library.sample
        for fx in self.show.fixtures:
            p = wrap32(pip + fx.offset_pips)
            x, y, z = mapping.scaled(fx, *sample(fx.pattern, p).as_tuple())
            if fx.dmx is not None:
                values = mapping.dmx_values(fx.dmx, x, y, z)
                data = self.senders[fx.output].universes[fx.dmx.universe].data
                for ch, v in values:
                    data[ch - 1] = v
            else:
                values = mapping.osc_values(fx, x, y, z)
                self.osc[fx.output].send(fx.osc_address, values)
            record[fx.name] = {"pip": p, "values": values}
        packets = []
        for name, sender in self.senders.items():
            for u, seq in sender.send_frame(now):
                packets.append({"output": name, "universe": u, "sequence": seq})
        self.frames += 1
        if self.frame_log is not None:
            self.frame_log.write(json.dumps({
                "t": now, "frame": self.frames, "pip": pip, "bpm": self.clock.bpm, "t0": self.clock.t0,
                "latency_s": self.clock.latency_s, "fixtures": record, "packets": packets},
                separators=(",", ":")) + "\n")

    # ---- keys and status ------------------------------------------------------------------

    def key(self, ch: str, t: float) -> bool:
        """Handles one key; False to stop."""
        if ch in "qQ":
            return False
        if ch == " " and self.show.tempo.source in ("fixed", "tap"):
            self.tap.apply(self.clock, t)
        elif ch in ",<":
            self.clock.nudge(-NUDGE_S)
        elif ch in ".>":
            self.clock.nudge(NUDGE_S)
        elif ch in "-_" and self.show.tempo.source in ("fixed", "tap"):
            self.clock.set_tempo(max(1.0, self.clock.bpm - 0.1), t)
        elif ch in "+=" and self.show.tempo.source in ("fixed", "tap"):
            self.clock.set_tempo(min(999.0, self.clock.bpm + 0.1), t)
        return True

    def errors(self) -> tuple[int, str]:
        all_senders = list(self.senders.values()) + list(self.osc.values())
        return sum(s.errors for s in all_senders), next(
            (s.last_error for s in all_senders if s.last_error), "")

    def status_line(self, now: float) -> str:
        beats = math.floor(self.clock.beats_at(now))
        per_bar = self.show.tempo.beats_per_bar
        window = [t for t in self.recent if now - t <= 1.0]
        fps = (len(window) - 1) / (window[-1] - window[0]) if len(window) > 1 and window[-1] > window[0] else 0.0
        errors, last = self.errors()
        line = (f"{self.clock.bpm:6.1f} BPM {self.show.tempo.source}  bar {beats // per_bar + 1:>4} "
                f"beat {beats % per_bar + 1}  {fps:4.1f} fps  late {self.late}")
        if errors:
            line += f"  send errors {errors} ({last})"
        return line

    # ---- the loop -------------------------------------------------------------------------

    def run(self, duration: float | None = None) -> dict:
        period = 1.0 / self.show.fps
        start = self.now()
        end = None if duration is None else start + duration
        n = 0
        last_status = float("-inf")
        cpu0 = time.process_time()
        old_term = signal.signal(signal.SIGTERM, _on_term)
        try:
            while True:
                due = start + n * period
                now = self.now()
                while now < due:
                    if self.keys is not None:
                        ch = self.keys.wait(due - now)
                        t = self.now()
                        for c in ch:
                            if not self.key(c, t):
                                return self._finish(start, cpu0)
                    else:
                        time.sleep(due - now)
                    now = self.now()
                if end is not None and now >= end:
                    break
                if now - due > period / 2:
                    self.late += 1
                self.frame(now)
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
        except (KeyboardInterrupt, Stop):
            pass
        finally:
            signal.signal(signal.SIGTERM, old_term)
        return self._finish(start, cpu0)

    def _finish(self, start: float, cpu0: float) -> dict:
        self.close()
        elapsed = self.now() - start
        return {"frames": self.frames, "seconds": elapsed, "late": self.late,
                "fps": self.frames / elapsed if elapsed > 0 else 0.0,
                "cpu": (time.process_time() - cpu0) / elapsed if elapsed > 0 else 0.0,
                "errors": self.errors()[0]}

    def close(self) -> None:
        """Stream-terminated packets for every universe; survives a second Ctrl-C."""
        old_int = signal.signal(signal.SIGINT, signal.SIG_IGN)
        old_term = signal.signal(signal.SIGTERM, signal.SIG_IGN)
        try:
            now = self.now()
            for name, sender in self.senders.items():
                packets = sender.terminate(now)
                if self.frame_log is not None:
                    self.frame_log.write(json.dumps({"t": now, "terminated": [
                        {"output": name, "universe": u, "sequence": s} for u, s in packets]}) + "\n")
            self.senders = {}
            for o in self.osc.values():
                o.close()
            self.osc = {}
            if self.midi_port is not None:
                self.midi_port.close()
            if self.link is not None:
                self.link.close()
            if self.frame_log is not None:
                self.frame_log.flush()
        finally:
            signal.signal(signal.SIGINT, old_int)
            signal.signal(signal.SIGTERM, old_term)
