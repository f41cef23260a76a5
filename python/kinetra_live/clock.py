"""Musical time from a monotonic clock.

The pip of a frame is never accumulated frame by frame: it is computed from
the frame's time, so a slow frame costs nothing later on:

    pip = floor((t - t0) * bpm / 60 * 64)    with t = monotonic time + output latency

Tempo sources (the `tempo` package) move `bpm` and `t0` (the time of beat 0, a
downbeat). The logic here works on timestamps given to it, so that it can be
checked on made-up times.
"""

from __future__ import annotations

import math
import threading

from kinetra_common.units import MAX_BPM, PIPS_PER_BEAT

MIDI_TICKS_PER_BEAT = 24
# Tempos found from taps or ticks below this are taken for a pause.
MIN_BPM = 20.0
# A clock following a beat grid from elsewhere (the music, DJ players) moves to a new grid
# without a jump: the first grid further than SNAP_S from the clock is jumped to, a later one
# is caught up with by running at most CATCH_UP fast or slow.
SNAP_S = 0.020
CATCH_UP = 0.2


class Clock:
    def __init__(self, bpm: float, t0: float, latency_s: float = 0.0):
        self.bpm = float(bpm)
        self.t0 = float(t0)
        self.latency_s = float(latency_s)

    def pip_at(self, now: float) -> int:
        return math.floor((now + self.latency_s - self.t0) * self.bpm / 60.0 * PIPS_PER_BEAT)

    def beats_at(self, now: float) -> float:
        return (now + self.latency_s - self.t0) * self.bpm / 60.0

    def set_tempo(self, bpm: float, now: float) -> None:
        """New tempo from `now` on, without a jump in position."""
        beats = self.beats_at(now)
        self.bpm = float(bpm)
        self.t0 = now + self.latency_s - beats * 60.0 / self.bpm

    def nudge(self, seconds: float) -> None:
        """Moves the lights `seconds` ahead of the music (behind when negative)."""
        self.t0 -= seconds


def catch_up(err: float, dt: float) -> tuple[float, bool]:
    """One frame (`dt` seconds) of catching up with a grid `err` seconds ahead of the clock
    (behind when negative): the nudge for this frame, and whether the clock is still behind."""
    limit = CATCH_UP * dt
    return max(-limit, min(limit, err)), abs(err) > limit


def fit_line(points) -> tuple[float, float]:
    """Least-squares t = a + b * i over (i, t) points; returns (a, b)."""
    n = len(points)
    mi = sum(i for i, _ in points) / n
    mt = sum(t for _, t in points) / n
    sii = sum((i - mi) ** 2 for i, _ in points)
    b = sum((i - mi) * (t - mt) for i, t in points) / sii
    return mt - b * mi, b


class TapTempo:
    """Taps on the beat. The first tap of a run marks a downbeat; from the second on,
    the tempo and the downbeat follow the line fitted through the taps. A pause longer
    than `max_gap` seconds starts a new run."""

    def __init__(self, max_gap: float = 2.0, window: int = 16):
        self.max_gap = max_gap
        self.window = window
        self.taps: list[tuple[int, float]] = []  # (beat index in the run, time)
        self.count = 0

    def tap(self, t: float) -> tuple[float | None, float]:
        """Returns (bpm or None, time of the run's first beat)."""
        if self.taps and t - self.taps[-1][1] > self.max_gap:
            self.taps, self.count = [], 0
        self.taps.append((self.count, t))
        self.count += 1
        self.taps = self.taps[-self.window :]
        if len(self.taps) < 2:
            return None, t
        a, b = fit_line(self.taps)
        bpm = 60.0 / b if b > 0 else None
        if bpm is None or not MIN_BPM <= bpm <= MAX_BPM:
            return None, t
        return bpm, a

    def apply(self, clock: Clock, t: float) -> None:
        bpm, downbeat = self.tap(t)
        if bpm is not None:
            clock.bpm = bpm
        # beat 0 at the downbeat, wherever the output latency puts the frame times
        clock.t0 = downbeat


class MidiClock:
    """MIDI beat clock (24 ticks a beat) with Start, Continue, Stop and Song Position.

    Start makes the next tick beat 0; Song Position (in sixteenths) sets where
    Continue resumes. Tempo and phase are the line fitted through the last two
    beats of ticks, so single late ticks do not shake the lights. Before any
    Start the tempo follows the ticks and the phase is where counting began.
    """

    def __init__(self, window: int = 2 * MIDI_TICKS_PER_BEAT):
        self.window = window
        self.history: list[tuple[int, float]] = []
        self.next_tick = 0
        self.running = False
        self.lock = threading.Lock()

    def feed(self, t: float, kind: str, value: int = 0) -> None:
        with self.lock:
            if kind == "start":
                self.running, self.next_tick, self.history = True, 0, []
            elif kind == "continue":
                self.running, self.history = True, []
            elif kind == "stop":
                self.running = False
            elif kind == "songpos":
                self.next_tick, self.history = value * 6, []
            elif kind == "clock":
                self.history.append((self.next_tick, t))
                self.history = self.history[-self.window :]
                self.next_tick += 1

    def estimate(self) -> tuple[float, float] | None:
        """(bpm, time of beat 0), once six ticks have come in."""
        with self.lock:
            if len(self.history) < 6:
                return None
            a, b = fit_line(self.history)
        if b <= 0:
            return None
        bpm = 60.0 / (b * MIDI_TICKS_PER_BEAT)
        return (bpm, a) if MIN_BPM <= bpm <= MAX_BPM else None

    def apply(self, clock: Clock) -> None:
        est = self.estimate()
        if est is not None:
            clock.bpm, clock.t0 = est

    def feed_message(self, t: float, message) -> None:
        """A `mido` message, as an input port's callback hands it over."""
        kind = {"clock": "clock", "start": "start", "continue": "continue", "stop": "stop", "songpos": "songpos"}.get(
            message.type
        )
        if kind:
            self.feed(t, kind, getattr(message, "pos", 0))
