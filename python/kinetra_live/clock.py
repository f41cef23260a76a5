"""Musical time from a monotonic clock.

The pip of a frame is never accumulated frame by frame: it is computed from
the frame's time, so a slow frame costs nothing later on:

    pip = floor((t - t0) * bpm / 60 * 64)    with t = monotonic time + output latency

Tempo sources (the `tempo` package) move `bpm` and `t0` (the time of beat 0, a
downbeat). The logic here works on timestamps given to it, so that it can be
checked on made-up times.
"""

from __future__ import annotations

import collections
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


# A beat reported more than this many beats after the last one starts the grid's history again.
GRID_GAP_BEATS = 8.0
# Reported tempos this close (relative) are the same; a larger change starts the fit again.
SAME_TEMPO = 0.002


class BeatGrid:
    """A beat grid that another machine reports beat by beat (DJ players, DJ software): beat k
    sounds at ta + k * period, and k is a multiple of the bar at the downbeats. With `window`
    above 1 the phase and tempo are the line fitted through the last beats (network jitter
    averaged out) while the reported tempo holds; with 1 each beat is taken as it comes."""

    def __init__(self, window: int = 1):
        self.beats: collections.deque = collections.deque(maxlen=max(1, window))  # (k, t)
        self.ta: float | None = None
        self.period = 0.5
        self.reported = 0.5  # the beat's length at the reported tempo
        self.last: float | None = None  # time of the last beat
        self.k = 0  # its number

    def beat(self, t: float, bpm: float, place: int | None = None, cycle: int = 0, new: bool = False) -> None:
        """A beat at time `t` at `bpm`; with `cycle`, its number is `place` modulo `cycle` (its
        place in the bar). `new`: the grid is another one (a jump in the track, a new track)."""
        period = 60.0 / bpm
        if self.last is None or new:
            k = 0
            self.beats.clear()
        else:
            gap = (t - self.last) / period
            k = self.k + max(1, round(gap))
            # a beat too soon or too late (a jump in the track, a pause), or at another tempo
            if not 0.5 <= gap <= GRID_GAP_BEATS or abs(period / self.reported - 1.0) > SAME_TEMPO:
                self.beats.clear()
        if cycle:
            shift = (place - k) % cycle
            if shift > cycle / 2:
                shift -= cycle
            k += shift
            self.beats = collections.deque(((kk + shift, tt) for kk, tt in self.beats), maxlen=self.beats.maxlen)
        self.beats.append((k, t))
        self.k, self.last, self.reported, self.period = k, t, period, period
        self.ta = t - k * period
        if len(self.beats) >= 3:
            a, b = fit_line(self.beats)
            if abs(b / period - 1.0) <= SAME_TEMPO:
                self.ta, self.period = a, b

    def retempo(self, t: float, bpm: float) -> None:
        """A new tempo between beats (a pitch move): the grid's position at `t` is kept."""
        period = 60.0 / bpm
        if self.ta is None or abs(period / self.period - 1.0) < 1e-9:
            return
        position = (t - self.ta) / self.period
        self.ta, self.period, self.reported = t - position * period, period, period
        self.beats.clear()

    def target(self) -> tuple[float, float] | None:
        """(ta, period), once a beat came."""
        return None if self.ta is None else (self.ta, self.period)


class GridFollower:
    """Steers a clock to a beat grid given each frame as (ta, period): the clock takes the
    grid's tempo at once; the first grid is jumped to, later ones (a correction, another
    player leading) are caught up with (`catch_up`), so the lights never jump. The count of
    beats within the bar follows the grid's at once, by whole beats, as a resync does. The
    operator's nudges and resyncs stay on top of the grid."""

    def __init__(self, beats_per_bar: int):
        self.beats_per_bar = beats_per_bar
        self.followed = False
        self.last_time: float | None = None
        self.offset = 0.0  # nudges, seconds (lights ahead of the grid)
        self.shift = 0  # resyncs, beats added to the grid's numbering
        self.error = 0.0  # the phase error left after the last frame, seconds

    def _error(self, clock: Clock, now: float, ta: float, period: float) -> float:
        """The grid's position minus the clock's at `now`, in beats, within half a bar."""
        target = (now - (ta - self.offset)) / period + self.shift
        e = target - (now - clock.t0) * clock.bpm / 60.0
        return e - self.beats_per_bar * round(e / self.beats_per_bar)

    def update(self, clock: Clock, now: float, grid: tuple[float, float] | None) -> None:
        dt = 0.0 if self.last_time is None else min(0.1, max(0.0, now - self.last_time))
        self.last_time = now
        if grid is None:
            return
        ta, period = grid
        bpm = 60.0 / period
        if abs(clock.bpm - bpm) > 1e-9:
            clock.set_tempo(bpm, now)
        e = self._error(clock, now, ta, period)
        if not self.followed:
            clock.t0 -= e * period
            self.followed = True
            self.error = 0.0
            return
        whole = round(e)
        if whole:
            clock.t0 -= whole * period
            e -= whole
        step, _ = catch_up(e * period, dt)
        if step:
            clock.nudge(step)
        self.error = e * period - step

    def nudge(self, clock: Clock, seconds: float) -> None:
        self.offset += seconds
        clock.nudge(seconds)

    def resync(self, clock: Clock, now: float, grid: tuple[float, float] | None) -> None:
        """`now` is a downbeat: the grid's beats are numbered again from the nearest one."""
        if grid is None:
            clock.t0 = now
            return
        ta, period = grid
        k = round((now - (ta - self.offset)) / period + self.shift)
        d = k % self.beats_per_bar
        if d > self.beats_per_bar / 2:
            d -= self.beats_per_bar
        self.shift -= d
        clock.t0 += d * period
