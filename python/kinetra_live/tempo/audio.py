"""Tempo from the music itself: an online beat tracker proposes, the clock follows.

Three parts, each usable on its own:

- an audio input: a live device (PortAudio through `sounddevice`) or a WAV/FLAC file fed
  block by block as time goes by. Both hand over (time of the first sample, mono samples);
  the file path is paced by the `now` it is given, so a test or a benchmark can run it
  faster than real time on simulated time;
- `BeatTracker`: the beat tracker of the `aubio` module (the GPL-3 `aubio-ledfx` build,
  an optional extra) turning samples into proposals: (beat time, tempo);
- `Follower`: pure logic on timestamps that moves a clock towards the proposals without
  jumps. It locks once a few proposals agree, then slews the phase by at most
  MAX_SLEW_S per beat, refits the tempo from the proposed beat times, rejects proposals
  off the beat grid, holds the tempo through silence and breaks, folds half and double
  time into the show's `bpm_range` and lets the operator win: tap, resync (the downbeat),
  double, half, lock (freeze the tempo), an explicit tempo and nudges.

All times are music time: the moment a sound is heard. A clock position is
(t - t0) * bpm / 60 at music time t; the clock's output latency is applied by the clock
itself when a frame asks for its pip.
"""

from __future__ import annotations

import collections
import itertools
import math
import os
import queue

from kinetra_common.units import MAX_BPM

from ..clock import MIN_BPM, SNAP_S, catch_up, fit_line
from .base import TempoSource

# Sample rates the input accepts; the tracker's hop is HOP_S long at any of them.
SUPPORTED_RATES = (22050, 32000, 44100, 48000, 88200, 96000)
FILE_FORMATS = ("WAV", "WAVEX", "RF64", "FLAC")
HOP_S = 256 / 44100  # tracker hop (5.8 ms)
WINDOW_HOPS = 4  # analysis window, in hops
ONSET_METHOD = "complex"  # aubio's onset function for the beat tracker (measured best of its eight)
SILENCE_DB = -60.0  # below this the tracker proposes nothing

# The follower's limits.
MAX_SLEW_S = 0.004  # largest phase correction per beat once locked
SLEW_BEATS = 2.0  # a phase error is worked off over about this many beats
ACQUIRE = 5  # proposals that must agree before the first lock
ACQUIRE_HEARD = 4  # ... or this many of the last ACQUIRE_WINDOW, when the onsets mark the same beats
ACQUIRE_WINDOW = 8
SETTLE_S = 2.0  # nothing agreed this long after the first proposal: ...
SETTLE_PROPOSALS = 3  # ... the tempo this many proposals share, at the phase the onsets mark
ACQUIRE_TOLERANCE_S = 0.030  # largest distance of those proposals from their fitted grid
OUTLIER_BEATS = 0.2  # a proposal further than this from the beat grid is off the grid
OUTLIER_S = 0.080  # ... or further than this, whichever is smaller
RELOCK = 6  # half the last RELOCK proposals off the grid: look for another
# Tempo ratios at which a tracker confuses metrical levels; an established grid is not left for
# one at such a ratio (the operator can still tap it, or correct it with x2 and /2).
CONFUSIONS = (2.0, 0.5, 1.5, 2 / 3, 4 / 3, 0.75)
CONFUSION_TOLERANCE = 0.04
ESTABLISHED = 12  # on-grid proposals since the lock that make a grid established
CONFIRMED = 6  # ... that keep it from a metrical confusion (fewer: a false lock)
ACCENT_RATIO = 1.35  # accents this much stronger on the offbeats: move the grid half a beat
# Bands (Hz) whose onsets decide beat against offbeat, with their weights: kick, the body of
# kick, snare and toms, and the snare's crack; the hats above are left out (they sit on offbeats).
ACCENT_BANDS = ((30.0, 120.0, 1.0), (120.0, 400.0, 1.0), (400.0, 2000.0, 0.5))
ACCENT_CLEAR = 4.0  # low onsets this much stronger at one phase than on the beats: the grid goes there
ACCENT_QUIET = 0.5  # the lowest band under this share of its usual level: no decision
BREAK_SECONDS = 4.0  # the kick's level is taken over this long ...
BREAK_QUIET = 0.3  # ... and under this share of its recent best, the music is in a break
BREAK_FORGET_S = 30.0  # the recent best fades over about this long (a long quiet part is followed again)
ACCENT_SPREAD_HOPS = 2  # an onset counts for a beat (or offbeat) this many hops either side
ACCENT_FLOOR = 0.05  # a band's share of its own onsets taken as heard everywhere
ACCENT_SECONDS = 12.0  # how long the accents are kept
ACCENT_MIN_BEATS = 4  # fewer beats heard than this: no decision
ACCENT_EVERY_BEATS = 4  # how often a followed grid is checked against the accents
ACCENT_BEATS = 16  # beats the accents are compared over
ACCENT_VOTES = 2  # consecutive checks that must agree before a followed grid moves
BAR_CLEAR = 1.5  # kicks folded on the bar this much stronger at one place than at any of the other half: decided
# Period ratios (to the tracker's) of the other metrical levels a first lock may take, and how
# much more clearly the onsets must mark one of them.
LEVELS = (4 / 3, 3 / 4, 3 / 2, 2 / 3)
LEVEL_MARGIN = 1.3
LEVEL_SECONDS = 8.0  # the onsets the levels are compared over
SLEW_MAX_BEATS = 0.15  # an established grid corrected by up to this much is slewed, not jumped
SAME_TEMPO = 0.02  # an established grid is not left for one this close in tempo
FIT_BEATS = 24  # beats of history the tempo is fitted over
MAX_TEMPO_STEP = 0.01  # largest tempo change a single proposal may make (relative)
FIT_TOLERANCE_S = 0.025  # on-grid proposals further than this are not fitted (unless ...)
FAST_ADAPT = 4  # this many same-signed residuals beyond FAST_ADAPT_S ...
FAST_ADAPT_S = 0.012  # ... shorten the history to them (the tempo is changing)
GATE = 0.5  # confidence under which the tempo is not updated
# Once locked, each beat of the grid is also looked for among the kick's onsets (the lowest
# band): the strongest within KICK_WINDOW_S of where the grid puts it (narrow: a kick a
# sixteenth off the beat is not the beat). While most beats have their kick, the kicks refit
# the grid (the tracker's tempo lags a ramp) and a tracker that wanders off is not followed.
KICK_WINDOW_S = 0.020
KICK_GATE = 0.3  # weaker than this share of the beats' usual kick: no kick on that beat
KICK_CONFIRM = (5, 8)  # this many of the last beats with their kick: the kicks lead
CONFIDENCE_WINDOW = 8  # proposals the confidence is taken over
HOLD_AFTER_BEATS = 4.0  # without an on-grid proposal for this long, the status says holding
STOPPED_AFTER_S = 0.5  # an input silent for this long (no blocks at all) has stopped
OFFBEAT_PRESS = 0.25  # a resync this far (beats) from the grid's beats moves it half a beat
TAP_GAP_S = 2.0  # a pause longer than this starts a new tap run

EXTRA_HINT = "pip install 'kinetra[audio]'"


def _require(module: str, what: str):
    try:
        return __import__(module)
    except ImportError:
        raise RuntimeError(f"tempo source 'audio' needs {what}: {EXTRA_HINT}") from None
    except OSError as exc:  # sounddevice without the PortAudio library
        raise RuntimeError(
            f"tempo source 'audio' needs the PortAudio library ({exc}): apt-get install libportaudio2"
        ) from None


def fold(bpm: float, bpm_range: tuple[float, float] | None) -> float | None:
    """`bpm` doubled or halved into [lo, hi]; None when no octave of it fits."""
    if bpm is None or not bpm > 0 or not math.isfinite(bpm):
        return None
    if bpm_range is None:
        return bpm
    lo, hi = bpm_range
    while bpm < lo:
        bpm *= 2.0
    while bpm > hi:
        bpm /= 2.0
    return bpm if lo <= bpm <= hi else None


# ---- the follower ----------------------------------------------------------------------------


class Follower:
    """Steers a clock (anything with bpm, t0, latency_s, set_tempo and nudge) towards the
    beats proposed by a tracker. Feed it `propose(t, bpm)` as proposals come in and call
    `update(clock, now)` once per frame; times are seconds on one monotonic scale."""

    def __init__(
        self,
        bpm: float,
        bpm_range: tuple[float, float] | None = None,
        beats_per_bar: int = 4,
        accent=None,
        comb=None,
        quiet=None,
        onset=None,
    ):
        self.default_bpm = float(bpm)
        self.bpm_range = tuple(bpm_range) if bpm_range else None
        self.beats_per_bar = beats_per_bar
        self.factor = 1.0  # operator's x2 and /2 on top of what the tracker hears
        self.tempo_locked = False  # operator's lock: tempo frozen, phase still followed
        self.locked = False  # a beat grid is being followed
        self.ta = 0.0  # target grid: clock beat k sounds at ta + k * period
        self.period = 60.0 / self.default_bpm
        self.offset = 0.0  # operator's nudges (lights ahead of the grid)
        self.history: collections.deque = collections.deque(maxlen=FIT_BEATS)  # (k, t) on the grid
        self.raw: collections.deque = collections.deque(maxlen=max(RELOCK, ACQUIRE_WINDOW))  # latest (t, bpm)
        self.latest: collections.deque = collections.deque(maxlen=FAST_ADAPT)  # (k, t, residual)
        self.missed: collections.deque = collections.deque(maxlen=RELOCK)  # 1: off the grid
        self.halves: collections.deque = collections.deque(maxlen=RELOCK)  # 1: half a beat off
        self.votes = 0  # consecutive accent checks saying the grid is on the offbeats
        self.shift = 0.0  # beats the proposals are moved by (0.5: the tracker hears offbeats)
        self.accent = accent  # accent(ta, period, t) -> (offset in beats, strength ratio) or None
        self.accent_checked = float("-inf")
        self.comb = comb  # comb(period, t) -> (beat strength, time of a beat) or None
        self.quiet = quiet  # quiet(t) -> True in a break (no kick): the grid is held as it is
        self.onset = onset  # onset(t_from, t_to) -> (time, strength) or (None, 0.0); None: not heard yet
        self.observed_until = float("-inf")  # the grid's beats up to this music time were listened for
        self.kick_level = 0.0  # usual strength of the beats' kicks
        self.kicks: collections.deque = collections.deque(maxlen=KICK_CONFIRM[1])  # 1: the beat had its kick
        self.recent: collections.deque = collections.deque(maxlen=CONFIDENCE_WINDOW)  # 1 on grid, 0 off
        self.last_on_grid: float | None = None
        self.first_proposal: float | None = None
        self.last_time: float | None = None
        self.pending_snap = False  # a (re)lock renumbers the grid on the next update
        self.catching = False  # the clock is catching up with a new grid
        self.followed = False  # the clock has followed a grid (the first lock jumps; later ones catch up)
        self.taps: list[tuple[int, float]] = []
        self.locks = 0  # number of (re)locks, for status and benchmarks
        self.hits = 0  # on-grid proposals since the last (re)lock
        self.operator_phase = False  # the phase comes from the operator (tap, resync)

    # -- proposals ----------------------------------------------------------------------------

    @property
    def confidence(self) -> float:
        """The share of the last proposals on the grid, or of the last beats with their kick,
        whichever is higher."""
        proposed = sum(self.recent) / len(self.recent) if self.recent else 0.0
        kicked = sum(self.kicks) / len(self.kicks) if self.kicks else 0.0
        return max(proposed, kicked)

    def _range(self):
        if self.bpm_range is None:
            return None
        return (self.bpm_range[0] * self.factor, self.bpm_range[1] * self.factor)

    def propose(self, t: float, bpm: float) -> bool:
        """A tracked beat at music time `t` with the tracker's tempo; True when it was taken
        as on the beat grid."""
        raw = bpm
        bpm = fold(bpm * self.factor, self._range())
        if bpm is None:
            self.recent.append(0)
            return False
        if not self.locked:
            if self.first_proposal is None:
                self.first_proposal = t
            self.raw.append((t, bpm))
            self._acquire(t)
            return self.locked
        if self.quiet is not None and self.quiet(t):
            # a break: whatever the tracker hears now says nothing about the beat; the grid
            # and its tempo are held until the kick is back
            self.missed.clear()
            self.halves.clear()
            return False
        t += self.shift * self.period  # the tracker follows the offbeat: shifted onto the beat
        self.raw.append((t, bpm))
        if (
            len(self.raw) >= RELOCK
            and all(abs(b * self.period / 60.0 - 1) > SAME_TEMPO for _, b in list(self.raw)[-RELOCK:])
            and not self._kicked()
        ):
            # the tracker hears another tempo, whichever of the grid's phases its beats meet
            if self._acquire(t):
                return True
        k = round((t - self.ta) / self.period)
        r = t - (self.ta + k * self.period)
        tol = min(OUTLIER_BEATS * self.period, OUTLIER_S)
        if abs(r) > tol:
            # a tracker running at double time proposes every offbeat too: not a miss
            double = abs(raw * self.factor * self.period / 120.0 - 1.0) < 0.06
            halfway = abs(abs(r) - self.period / 2) < tol
            if (double or self.operator_phase) and halfway:
                return False  # offbeats: the tracker's, not the operator's, mistake
            if halfway and (self.hits >= ESTABLISHED or self._kicked()):
                # the tracker moved to the other half of the beat; the grid's phase stays
                # with the accents, the proposals are shifted to it
                self.halves.append(1)
                if sum(self.halves) == RELOCK:
                    self.shift = (self.shift + 0.5) % 1.0
                    self.halves.clear()
                return False
            self.recent.append(0)
            self.missed.append(1)
            if sum(self.missed) >= RELOCK // 2 and not self._kicked():
                self._acquire(t)  # the music may have moved to another grid
            return False
        self.missed.append(0)
        self.halves.append(0)
        self.hits += 1
        self.recent.append(1)
        self.last_on_grid = t
        if not self._kicked():
            self._fit(k, t, r)
        self._check_accent(t)
        return True

    def _fit(self, k: int, t: float, r: float) -> None:
        """Beat k of the grid heard at t, r from where the grid put it: the grid is refitted."""
        self.latest.append((k, t, r))
        res = [x for _, _, x in self.latest]
        if len(res) == FAST_ADAPT and (all(x > FAST_ADAPT_S for x in res) or all(x < -FAST_ADAPT_S for x in res)):
            # the tempo is changing: fit from the latest beats on
            self.history = collections.deque(((kk, tt) for kk, tt, _ in self.latest), maxlen=FIT_BEATS)
        elif abs(r) <= FIT_TOLERANCE_S:
            self.history.append((k, t))
        self._refit()

    def _kicked(self) -> bool:
        """Most of the last beats had their kick: the kicks lead the grid."""
        return sum(self.kicks) >= KICK_CONFIRM[0]

    def _listen(self) -> None:
        """Listens for the kicks of the grid's beats heard since the last call."""
        if self.onset is None:
            return
        if self.observed_until == float("-inf"):
            self.observed_until = self.last_on_grid if self.last_on_grid is not None else self.ta
        while True:
            k = math.floor((self.observed_until + KICK_WINDOW_S - self.ta) / self.period) + 1
            predicted = self.ta + k * self.period
            found = self.onset(predicted - KICK_WINDOW_S, predicted + KICK_WINDOW_S)
            if found is None:
                return  # not heard yet
            self.observed_until = predicted + KICK_WINDOW_S
            t, strength = found
            if t is None or strength < KICK_GATE * self.kick_level:
                self.kicks.append(0)
                continue
            self.kick_level = strength if not self.kick_level else 0.9 * self.kick_level + 0.1 * strength
            r = t - predicted
            self.kicks.append(int(abs(r) <= FIT_TOLERANCE_S))
            if self._kicked():
                self.last_on_grid = max(self.last_on_grid or t, t)
                self._fit(k, t, r)

    def _refit(self) -> None:
        pts = list(self.history)
        if self.tempo_locked or len({k for k, _ in pts}) < 3 or self.confidence < GATE:
            # tempo stays; the grid's phase follows the proposals
            self.ta = sum(t - k * self.period for k, t in pts) / len(pts) if pts else self.ta
            return
        a, b = fit_line(pts)
        bpm = 60.0 / b if b > 0 else None
        if bpm is None or fold(bpm, self._range()) != bpm:
            return
        # the music speeds up or slows down gradually; faster changes come through a relock
        lo, hi = self.period * (1 - MAX_TEMPO_STEP), self.period * (1 + MAX_TEMPO_STEP)
        if not lo <= b <= hi:
            b = min(hi, max(lo, b))
            a = sum(t - k * b for k, t in pts) / len(pts)
        self.ta, self.period = a, b

    @staticmethod
    def _grid(points, halves: bool = False) -> tuple[float, float, float] | None:
        """(ta, period, largest residual) of proposals (t, bpm) on one grid, or None. Beats are
        numbered by the intervals between proposals (the tracker may skip some), so a stale
        tempo from the tracker does not spoil the fit."""
        ts = [t for t, _ in points]
        p_bpm = 60.0 / sorted(b for _, b in points)[len(points) // 2]
        gaps = sorted(b - a for a, b in zip(ts, ts[1:]))
        gap = gaps[len(gaps) // 2]
        if gap <= 0:
            return None
        period = gap / max(1, round(gap / p_bpm))
        bpms = [b for _, b in points]
        steady = max(bpms) <= min(bpms) * (1 + SAME_TEMPO)
        best = None
        for step in (1, 2) if halves and steady else (1,):
            # step 2: a tracker hopping between beats and offbeats at a steady tempo; numbered
            # in half beats from the latest proposal, whose half the grid takes (the accents
            # may move it)
            ks = [round((t - ts[-1]) / (period / step)) for t in ts]
            if len(set(ks)) != len(ks):
                continue
            a, b = fit_line(list(zip(ks, ts)))
            if b <= 0 or abs(b * step / period - 1) > 0.04:
                continue
            worst = max(abs(t - (a + k * b)) for k, t in zip(ks, ts))
            if best is None or worst < best[2]:
                best = (a, b * step, worst)
            if worst <= ACQUIRE_TOLERANCE_S:
                break
        return best

    def _acquire(self, t: float) -> bool:
        """Locks onto (or, when locked, moves to) the grid of the last ACQUIRE proposals when
        they agree on one; True when the grid changed."""
        pts = list(self.raw)[-(RELOCK if self.locked else ACQUIRE) :]
        g = self._grid(pts, halves=not self.locked) if len(pts) >= ACQUIRE else None
        if (g is None or g[2] > ACQUIRE_TOLERANCE_S) and not self.locked:
            # fewer proposals do when the onsets put the beats where they do: any ACQUIRE_HEARD
            # of the latest (a tracker trying another phase in between), the latest first
            g = None
            latest = list(self.raw)[-ACQUIRE_WINDOW:]
            for keep in itertools.combinations(range(len(latest) - 1, -1, -1), ACQUIRE_HEARD):
                some = [latest[i] for i in sorted(keep)]
                found = self._grid(some)
                if found is not None and found[2] <= ACQUIRE_TOLERANCE_S and self._heard(found[0], found[1], t):
                    g, pts = found, some
                    break
            if g is None:
                g, pts = self._settle(t), []
        if g is None or g[2] > ACQUIRE_TOLERANCE_S:
            return False
        a, b, _ = g
        folded = fold(60.0 / b, self._range())
        if folded is None:
            return False
        b *= (60.0 / b) / folded  # a tracker an octave off: the grid at the show's octave
        chosen = False
        if not self.locked or self.hits < CONFIRMED:
            a, level = self._level(a, b, t)
            chosen, b = level != b, level
        move = self._accent_offset(a, b, t)
        a += move * b
        if (
            self.locked
            and self.hits >= CONFIRMED
            and any(abs(b / self.period * r - 1) < CONFUSION_TOLERANCE for r in CONFUSIONS)
        ):
            # the tracker counting another metrical level: not new music (a grid hit only a
            # few times since its lock may be left: that lock was a false one)
            return False
        slew, flip = False, 0.0
        if self.locked and self.hits >= ESTABLISHED and abs(b / self.period - 1) < SAME_TEMPO:
            # an established grid and the same tempo: the tracker changed its mind, not the
            # music. Half a beat off: it moved to the offbeats, which are shifted back (the
            # beat is the accents' decision); a little off: the grid is corrected by slewing
            k = round((t - self.ta) / self.period)
            delta = (a + k * b) - (self.ta + k * self.period)
            a -= round(delta / b) * b
            delta -= round(delta / b) * b
            if abs(abs(delta) - b / 2) < min(OUTLIER_BEATS * b, OUTLIER_S):
                flip = -math.copysign(0.5, delta)
                a += flip * b
                delta += flip * b
            slew = abs(delta) <= SLEW_MAX_BEATS * b
        if self.locked and not self.tempo_locked:
            k = round((t - self.ta) / self.period)
            moved = abs((a + round((t - a) / b) * b) - (self.ta + k * self.period))
            if moved <= FAST_ADAPT_S and abs(b / self.period - 1) < 0.005:
                return False  # the same grid: nothing to do
        if self.tempo_locked:
            b = self.period
        self.shift = (self.shift + move + flip) % 1.0
        self.ta, self.period = a, b
        self.history = collections.deque(maxlen=FIT_BEATS)
        for tt, _ in pts:
            tt += (move + flip) * b
            k = round((tt - a) / b)
            if abs(tt - a - k * b) <= ACQUIRE_TOLERANCE_S:  # offbeats of a double-time tracker
                self.history.append((k, tt))
        self.locked = True
        if not slew:  # a new grid: the clock is moved to it at once
            self.pending_snap = True
            self.locks += 1
            self.hits = ESTABLISHED if chosen else 0  # the onsets vouch for a level they chose
            self.operator_phase = False
        self.last_on_grid = t
        for _ in pts:
            self.recent.append(1)
        self.raw.clear()
        self.missed.clear()
        self.halves.clear()
        self.votes = 0
        self.accent_checked = t
        return True

    def _settle(self, t: float):
        """Past SETTLE_S since the first proposal and still nothing agreed: the grid of the
        tempo the last SETTLE_PROPOSALS proposals share, at the phase the onsets mark best
        ((ta, period, 0.0)), or None."""
        if self.comb is None or self.first_proposal is None or t - self.first_proposal < SETTLE_S:
            return None
        bpms = [b for _, b in list(self.raw)[-SETTLE_PROPOSALS:]]
        if len(bpms) < SETTLE_PROPOSALS or max(bpms) > min(bpms) * (1 + SAME_TEMPO):
            return None
        period = 60.0 / sorted(bpms)[len(bpms) // 2]
        found = self.comb(period, t)
        return None if found is None else (found[1], period, 0.0)

    def _heard(self, ta: float, period: float, t: float) -> bool:
        """The onsets mark this grid's beats (at the show's octave) best at its own phase
        (needs the comb hook)."""
        folded = fold(60.0 / period, self._range())
        if self.comb is None or folded is None:
            return False
        period = 60.0 / folded
        found = self.comb(period, t)
        if found is None:
            return False
        d = (found[1] - ta) / period
        return abs(d - round(d)) * period <= ACQUIRE_TOLERANCE_S

    def _level(self, ta: float, period: float, t: float) -> tuple[float, float]:
        """The metrical level to lock on: the tracker's grid, or one at a confusable ratio
        within the show's range whose beats the onsets mark clearly better (a tracker counting
        dotted eighths or triplets). Needs the tracker's comb hook and a show range."""
        if self.comb is None or self.bpm_range is None:
            return ta, period
        found = self.comb(period, t)
        if found is None:
            return ta, period
        best, best_ta, best_period = found[0] * LEVEL_MARGIN, ta, period
        for r in LEVELS:
            bpm = 60.0 / (period * r)
            if fold(bpm, self._range()) != bpm:
                continue
            found = self.comb(period * r, t)
            if found is not None and found[0] > best:
                best, best_ta, best_period = found[0], found[1], period * r
        return best_ta, best_period

    def _accent_offset(self, ta: float, period: float, t: float) -> float:
        """Where the grid's beats should move (in beats, -0.5..0.5) so that they fall on the
        accents (kick and snare) rather than between them: 0 unless the accents are clearly
        elsewhere. Needs the tracker's accent hook; without it, always 0."""
        if self.accent is None:
            return 0.0
        found = self.accent(ta, period, t)
        if found is None:
            return 0.0
        offset, ratio = found
        if ratio < ACCENT_RATIO or abs(offset) * period <= min(OUTLIER_BEATS * period, OUTLIER_S) / 2:
            return 0.0
        return offset

    def _check_accent(self, t: float) -> None:
        if t - self.accent_checked < ACCENT_EVERY_BEATS * self.period:
            return
        self.accent_checked = t
        move = self._accent_offset(self.ta, self.period, t)
        self.votes = self.votes + 1 if move else 0
        if move and self.votes >= ACCENT_VOTES:
            self.votes = 0
            self.shift = (self.shift + move) % 1.0
            self.ta += move * self.period
            # the proposals so far move with the grid: the tempo fit keeps its history
            moved = move * self.period
            self.history = collections.deque(((k, t + moved) for k, t in self.history), maxlen=FIT_BEATS)
            self.latest.clear()
            self.raw.clear()
            self.halves.clear()
            self.pending_snap = True
            self.locks += 1

    # -- the clock ----------------------------------------------------------------------------

    def _renumber(self, clock, now: float) -> None:
        """Numbers the grid's beats after the clock's, so a lock keeps bar and beat count."""
        t = now
        k_grid = (t - self.ta) / self.period
        k_clock = (t - clock.t0) * clock.bpm / 60.0
        shift = round(k_clock - k_grid)
        self.ta -= shift * self.period
        self.history = collections.deque(((k + shift, tt) for k, tt in self.history), maxlen=FIT_BEATS)

    def update(self, clock, now: float) -> None:
        """Once per frame: the clock's tempo becomes the grid's, its phase moves towards the
        grid by at most MAX_SLEW_S a beat (at once on a lock)."""
        dt = 0.0 if self.last_time is None else min(0.1, max(0.0, now - self.last_time))
        self.last_time = now
        if not self.locked:
            return
        self._listen()
        bpm = 60.0 / self.period
        if self.pending_snap:
            # a new grid, renumbered after the clock's beats. The first is jumped to (nothing
            # was followed yet); a later one is caught up with, the clock running a little
            # fast or slow, so the lights never jump
            self.pending_snap = False
            self._renumber(clock, now)
            target = (now - (self.ta - self.offset)) / self.period
            actual = (now - clock.t0) * clock.bpm / 60.0
            if abs(target - actual) * self.period > SNAP_S:
                if not self.followed:
                    clock.bpm = bpm
                    clock.t0 = self.ta - self.offset
                    self.followed = True
                    return
                self.catching = True
        self.followed = True
        if abs(clock.bpm - bpm) > 1e-9:
            clock.set_tempo(bpm, now)
        # position error at `now`, in seconds: positive when the clock is behind the grid
        target = (now - (self.ta - self.offset)) / self.period
        actual = (now - clock.t0) * clock.bpm / 60.0
        err = (target - actual) * self.period
        if self.catching:
            step, self.catching = catch_up(err, dt)
        else:
            limit = MAX_SLEW_S * dt / self.period
            step = max(-limit, min(limit, err * min(1.0, dt / (SLEW_BEATS * self.period))))
        if step:
            clock.nudge(step)

    def holding(self, now: float) -> bool:
        return (
            self.locked and self.last_on_grid is not None and now - self.last_on_grid > HOLD_AFTER_BEATS * self.period
        )

    # -- the operator -------------------------------------------------------------------------

    def _set_grid(self, clock, ta: float, period: float) -> None:
        self.ta, self.period = ta, period
        self.history.clear()
        self.raw.clear()
        self.locked = True
        self.hits = ESTABLISHED  # the operator's grid: not left for a metrical confusion
        self.operator_phase = True
        self.pending_snap = False
        clock.bpm = 60.0 / period
        clock.t0 = ta - self.offset

    def tap(self, clock, now: float) -> None:
        """A tap on the beat: from the second tap of a run on, tempo and phase follow the
        taps at once; the tracker goes on refining from there."""
        if self.taps and now - self.taps[-1][1] > TAP_GAP_S:
            self.taps = []
        self.taps.append((len(self.taps), now))
        self.taps = self.taps[-16:]
        if len(self.taps) < 2:
            return
        a, b = fit_line([(i - self.taps[0][0], t) for i, t in self.taps])
        if not b > 0 or not MIN_BPM <= 60.0 / b <= MAX_BPM:
            return
        # keep the clock's beat count: the first tap of the run is the beat nearest it
        k0 = round((self.taps[0][1] - clock.t0) * clock.bpm / 60.0)
        self._set_grid(clock, a - k0 * b, b)

    def resync(self, clock, now: float) -> None:
        """`now` is a downbeat: renumbers the beats (the phase stays with the music when a
        grid is followed); without one, a beat starts now. A press nearer the followed grid's
        offbeats than its beats means the tracker hears the offbeats: the grid moves there."""
        if not self.locked:
            clock.t0 = now
            return
        position = (now - (self.ta - self.offset)) / self.period
        if abs(position - round(position)) > OFFBEAT_PRESS:
            half = self.period / 2
            self.shift = (self.shift + 0.5) % 1.0
            self.ta += half
            self.history = collections.deque(((kk, t + half) for kk, t in self.history), maxlen=FIT_BEATS)
            self.latest.clear()
            self.raw.clear()
            clock.t0 += 30.0 / clock.bpm  # half a beat of the clock
            self.hits = ESTABLISHED
        self.operator_phase = True
        k = round((now - (self.ta - self.offset)) / self.period)
        shift = k % self.beats_per_bar
        if shift > self.beats_per_bar / 2:
            shift -= self.beats_per_bar
        self.ta += shift * self.period
        self.history = collections.deque(((kk - shift, t) for kk, t in self.history), maxlen=FIT_BEATS)
        clock.t0 += shift * 60.0 / clock.bpm

    def scale(self, clock, now: float, ratio: float) -> None:
        """x2 (ratio 2) or /2 (ratio 0.5): the operator corrects the tracker's octave. The
        clock's beats stay on the music's (x2 adds the offbeats, /2 keeps every other beat)
        and its beat count stays within a beat of where it was."""
        bpm = clock.bpm * ratio
        if not MIN_BPM <= bpm <= MAX_BPM:
            return
        self.factor *= ratio
        p = 60.0 / clock.bpm
        position = (now - clock.t0) / p
        clock.t0 += round(position * (1.0 - 1.0 / ratio)) * p
        clock.bpm = bpm
        self.period = 60.0 / bpm
        if self.locked:
            self.ta = clock.t0 + self.offset
            self.history.clear()
            self.latest.clear()
            self.raw.clear()

    def set_bpm(self, clock, now: float, bpm: float) -> None:
        """An explicit tempo from the operator: freezes it (the phase still follows)."""
        if not MIN_BPM <= bpm <= MAX_BPM:
            return
        clock.set_tempo(bpm, now)
        if self.locked:
            k_now = (now - self.ta) / self.period
            self.period = 60.0 / bpm
            self.ta = now - k_now * self.period
            self.history.clear()
        else:
            self.period = 60.0 / bpm
        self.tempo_locked = True

    def nudge(self, clock, seconds: float) -> None:
        self.offset += seconds
        clock.nudge(seconds)

    def lock(self, on: bool | None = None) -> bool:
        """Freezes the tempo (True), frees it (False) or toggles (None)."""
        self.tempo_locked = (not self.tempo_locked) if on is None else bool(on)
        return self.tempo_locked


# ---- the tracker -----------------------------------------------------------------------------


class BeatTracker:
    """aubio's online beat tracker, fed blocks of mono float32 samples with the music time
    of their first sample; returns proposals (beat time, bpm)."""

    def __init__(self, rate: int, beats_per_bar: int = 4):
        self.np = _require("numpy", "numpy")
        aubio = _require("aubio", "the aubio module (package aubio-ledfx, GPL-3)")
        self.rate = rate
        self.hop = max(64, round(HOP_S * rate))
        self.tempo = aubio.tempo(ONSET_METHOD, self.hop * WINDOW_HOPS, self.hop, rate)
        self.tempo.set_silence(SILENCE_DB)
        # accents: onset strength per band and hop, for the beat/offbeat decision
        np = self.np
        size = self.hop * WINDOW_HOPS
        self.window = np.hanning(size).astype(np.float32)
        freqs = np.fft.rfftfreq(size, 1.0 / rate)
        self.bands = [(freqs >= lo) & (freqs < hi) for lo, hi, _ in ACCENT_BANDS]
        self.weights = np.array([w for _, _, w in ACCENT_BANDS])
        self.ring = np.zeros(size, dtype=np.float32)
        n = int(ACCENT_SECONDS * rate / self.hop)
        self.flux = np.zeros((n, len(ACCENT_BANDS)), dtype=np.float64)
        self.flux_t = np.full(n, -np.inf)
        self.flux_i = 0
        self.band_prev = np.zeros(len(ACCENT_BANDS))
        self.kick_level = 0.0  # the lowest band's largest mean onset strength so far
        self.break_ref = 0.0  # the kick's recent best level (BREAK_SECONDS means)
        self.break_t: float | None = None
        self.pending = self.np.zeros(0, dtype=self.np.float32)
        self.pending_t = 0.0  # music time of pending[0]
        self.fed = 0  # samples handed to aubio
        self.beats_per_bar = beats_per_bar

    def feed(self, samples, t_first: float) -> list[tuple[float, float]]:
        np = self.np
        samples = np.asarray(samples, dtype=np.float32).reshape(-1)
        if not len(self.pending):
            self.pending_t = t_first
        self.pending = np.concatenate((self.pending, samples)) if len(self.pending) else samples
        out = []
        hop = self.hop
        n = len(self.pending) // hop
        for i in range(n):
            block = self.pending[i * hop : (i + 1) * hop]
            t_block = self.pending_t + i * hop / self.rate
            # aubio counts time in samples fed; map its count onto the blocks' music time
            origin = t_block - self.fed / self.rate
            self.fed += hop
            self._accent(block, t_block)
            if self.tempo(block)[0]:
                bpm = float(self.tempo.get_bpm())
                out.append((origin + float(self.tempo.get_last_s()), bpm))
        if n:
            self.pending = self.pending[n * hop :].copy()
            self.pending_t += n * hop / self.rate
        return out

    def _accent(self, block, t_block: float) -> None:
        np = self.np
        ring = self.ring
        ring[: -len(block)] = ring[len(block) :]
        ring[-len(block) :] = block
        spectrum = np.abs(np.fft.rfft(ring * self.window))
        level = np.array([float(spectrum[b].sum()) for b in self.bands])
        i = self.flux_i % len(self.flux_t)
        self.flux[i] = np.maximum(0.0, level - self.band_prev)
        # the window's attack is heard around its middle
        self.flux_t[i] = t_block + len(block) / self.rate - len(ring) / (2 * self.rate)
        self.flux_i += 1
        self.band_prev = level

    def accent(self, ta: float, period: float, until: float):
        """Where the accents of the last ACCENT_BEATS beats before `until` fall on a grid
        (beat k at ta + k * period): (offset in beats, -0.5..0.5, how much stronger they are
        there than on the grid's beats), or None with too little heard or no kick. When the low
        onsets gather clearly (ACCENT_CLEAR) at one phase, that phase; otherwise beat against
        offbeat (offset 0.5): per band, the strongest onset near each beat is summed against the
        same near each offbeat, and the bands' ratios are combined as a weighted geometric mean,
        so a band quiet on both says nothing."""
        np = self.np
        sel = (self.flux_t > until - ACCENT_BEATS * period) & (self.flux_t <= until)
        if sel.sum() * self.hop / self.rate < ACCENT_MIN_BEATS * period:
            return None
        flux = self.flux[sel]
        # a break without kick says nothing about where the beat is: no decision while the
        # lowest band is much quieter than it has been
        kick = float(flux[:, 0].mean())
        self.kick_level = max(self.kick_level, kick)
        if kick < ACCENT_QUIET * self.kick_level:
            return None
        halves = np.array_split(flux[np.argsort(self.flux_t[sel]), 0], 2)
        if min(float(h.mean()) for h in halves) < ACCENT_QUIET * max(float(h.mean()) for h in halves):
            return None  # part of it a break: the accents are not comparable
        fine = self._strongest(flux[:, :2].sum(axis=1), self.flux_t[sel], ta, period)
        if fine is not None and fine[1] >= ACCENT_CLEAR:
            return fine
        bar = self._downbeat(flux[:, 0], self.flux_t[sel], ta, period)
        if bar is not None and bar[1] >= BAR_CLEAR:
            return bar  # the downbeat is on the grid's beats (stay) or on its offbeats (move)
        half = (self.flux_t[sel] - ta) / (period / 2)  # in half beats
        slot = np.round(half).astype(np.int64)
        near = np.abs(half - slot) * (period / 2) <= ACCENT_SPREAD_HOPS * self.hop / self.rate
        if not near.any():
            return None
        slot, flux = slot[near], flux[near]
        slot -= slot.min()
        peaks = np.zeros((int(slot.max()) + 1, flux.shape[1]))
        np.maximum.at(peaks, slot, flux)
        on = peaks[(np.arange(len(peaks)) + int(np.round(half[near].min()))) % 2 == 0].sum(axis=0)
        off = peaks.sum(axis=0) - on
        floor = ACCENT_FLOOR * (on + off) + 1e-12
        score = float(np.sum(self.weights * np.log((off + floor) / (on + floor))) / self.weights.sum())
        return 0.5, math.exp(score)

    def onset(self, t_from: float, t_to: float):
        """The strongest kick onset (the lowest band, in units of its mean) between t_from and
        t_to: (its time, its strength), or (None, 0.0) when there is none; None while that
        stretch is not yet all heard."""
        np = self.np
        n = len(self.flux_t)
        if self.flux_i == 0 or self.flux_t[(self.flux_i - 1) % n] < t_to:
            return None
        hop_s = self.hop / self.rate
        sel = np.flatnonzero((self.flux_t >= t_from - 1.5 * hop_s) & (self.flux_t <= t_to + 1.5 * hop_s))
        sel = sel[np.argsort(self.flux_t[sel])]
        times, kick = self.flux_t[sel], self.flux[sel, 0]
        # a peak, not the rising tail of an earlier kick at the stretch's edge
        peak = np.zeros(len(kick), dtype=bool)
        peak[1:-1] = (kick[1:-1] > 0) & (kick[1:-1] >= kick[:-2]) & (kick[1:-1] >= kick[2:])
        peak &= (times >= t_from) & (times <= t_to)
        if not peak.any():
            return None, 0.0
        i = int(np.flatnonzero(peak)[np.argmax(kick[peak])])
        mean = float(self.flux[self.flux_t > -np.inf, 0].mean())
        return float(times[i]), float(kick[i]) / (mean + 1e-12)

    def quiet(self, until: float) -> bool:
        """True in a break: the kick's level over the last BREAK_SECONDS is under BREAK_QUIET
        of its recent best."""
        sel = (self.flux_t > until - BREAK_SECONDS) & (self.flux_t <= until)
        if not sel.any():
            return False
        level = float(self.flux[sel, 0].mean())
        if self.break_t is not None:
            self.break_ref *= math.exp(-max(0.0, until - self.break_t) / BREAK_FORGET_S)
        self.break_t = until
        if sel.sum() * self.hop / self.rate >= BREAK_SECONDS * 0.9:
            self.break_ref = max(self.break_ref, level)
        return level < BREAK_QUIET * self.break_ref

    def _folded(self, flux, times, ta: float, span: float, bins: int):
        """Onset strengths folded on `span` seconds from `ta` into `bins` places, each spread
        over a place either side (an attack straddles two hops)."""
        np = self.np
        phase = ((times - ta) / span) % 1.0
        hist = np.bincount((phase * bins).astype(int) % bins, weights=flux, minlength=bins)
        return hist + np.roll(hist, 1) + np.roll(hist, -1)

    def _strongest(self, flux, times, ta: float, period: float):
        """The phase (beats, -0.5..0.5 from the grid's beats) where the low onsets are
        strongest, and their strength over that at the grid's beats; None if silent."""
        np = self.np
        bins = max(8, int(period * self.rate / self.hop))
        smooth = self._folded(flux, times, ta, period, bins)
        best = int(np.argmax(smooth))
        at_grid = float(max(smooth[0], smooth[1], smooth[-1]))
        if smooth[best] <= 0:
            return None
        offset = best / bins
        if offset >= 0.5:
            offset -= 1.0
        return offset, float(smooth[best]) / at_grid if at_grid > 0 else float("inf")

    def _downbeat(self, flux, times, ta: float, period: float):
        """Kicks folded on the bar: a syncopated kick line still comes back to the same place
        every bar (the downbeat). When that place is one of the grid's beats or offbeats:
        (0.0 or 0.5, how much stronger it is than any place of the other kind); else None."""
        np = self.np
        per_beat = max(4, int(period * self.rate / self.hop))
        bins = per_beat * self.beats_per_bar
        smooth = self._folded(flux, times, ta, period * self.beats_per_bar, bins)
        best = int(np.argmax(smooth))
        if smooth[best] <= 0:
            return None
        within = (best % per_beat) / per_beat
        if min(within, 1.0 - within) <= 0.125:
            at, other = 0.0, per_beat // 2
        elif abs(within - 0.5) <= 0.125:
            at, other = 0.5, 0
        else:
            return None
        places = [(j * per_beat + other + d) % bins for j in range(self.beats_per_bar) for d in (-1, 0, 1)]
        rival = float(smooth[places].max())
        return at, float(smooth[best]) / rival if rival > 0 else float("inf")

    def comb(self, period: float, until: float):
        """How clearly the onsets of the last LEVEL_SECONDS before `until` mark a grid of this
        period at its best phase: (mean onset strength on its beats, each band in units of
        its own mean, time of one of those beats), or None with too little heard."""
        np = self.np
        sel = (self.flux_t > until - LEVEL_SECONDS) & (self.flux_t <= until)
        hop_s = self.hop / self.rate
        if sel.sum() * hop_s < ACCENT_MIN_BEATS * period:
            return None
        order = np.argsort(self.flux_t[sel])
        times, flux = self.flux_t[sel][order], self.flux[sel][order]
        env = (flux / (flux.mean(axis=0) + 1e-12)) @ self.weights
        near = env.copy()
        for d in range(1, ACCENT_SPREAD_HOPS + 1):
            near[d:] = np.maximum(near[d:], env[:-d])
            near[:-d] = np.maximum(near[:-d], env[d:])
        step = period / hop_s
        beats = np.arange(int((len(near) - 1) / step) + 1) * step
        phases = np.arange(int(step) + 1)
        idx = np.round(phases[:, None] + beats[None, :]).astype(np.int64)
        score = np.where(idx < len(near), near[np.minimum(idx, len(near) - 1)], np.nan)
        means = np.nanmean(score, axis=1)
        best = int(np.nanargmax(means))
        return float(means[best]), float(times[0] + phases[best] * hop_s)


# ---- audio inputs ----------------------------------------------------------------------------


def _mono(np, data):
    return data.mean(axis=1, dtype=np.float32) if data.ndim == 2 else data.astype(np.float32)


class FileInput:
    """A WAV or FLAC file played against the clock: `read(now)` returns the blocks whose
    samples have sounded by `now` (the first sample sounds at `start`)."""

    BLOCK = 1024

    def __init__(self, path: str, start: float):
        soundfile = _require("soundfile", "the soundfile module")
        self.np = _require("numpy", "numpy")
        if not os.path.exists(path):
            raise RuntimeError(f"audio file {path}: not found")
        if os.path.isdir(path):
            raise RuntimeError(f"audio file {path}: is a folder, not a WAV or FLAC file")
        try:
            self.file = soundfile.SoundFile(path)
        except Exception as exc:  # libsndfile's errors name no common base with OSError
            reason = str(exc).split(": ", 1)[-1].strip() or type(exc).__name__
            raise RuntimeError(f"audio file {path}: not a WAV or FLAC file ({reason})") from None
        try:
            if self.file.format not in FILE_FORMATS:
                raise RuntimeError(f"audio file {path}: is {self.file.format}; give a WAV or FLAC file")
            if self.file.frames <= 0:
                raise RuntimeError(f"audio file {path}: has no audio frames")
            if self.file.samplerate not in SUPPORTED_RATES:
                raise RuntimeError(
                    f"audio file {path}: sample rate {self.file.samplerate} Hz is not "
                    f"supported (use {', '.join(map(str, SUPPORTED_RATES))})"
                )
        except RuntimeError:
            self.file.close()
            raise
        self.path = path
        self.rate = self.file.samplerate
        self.start = start
        self.done = 0
        self.ended = False

    @property
    def stopped(self) -> bool:
        return self.ended

    def stop_reason(self) -> str:
        return "audio file ended"

    def read(self, now: float) -> list:
        due = min(self.file.frames, int((now - self.start) * self.rate))
        blocks = []
        while self.done < due:
            n = min(self.BLOCK, due - self.done)
            data = self.file.read(n, dtype="float32", always_2d=True)
            if not len(data):
                break
            blocks.append((self.start + self.done / self.rate, _mono(self.np, data)))
            self.done += len(data)
        if self.done >= self.file.frames:
            self.ended = True
        return blocks

    def close(self) -> None:
        self.file.close()


class DeviceInput:
    """A live input through PortAudio. The callback stamps each block on arrival; the time
    of sample n is the earliest `arrival - n / rate` seen (arrivals only come late), let
    creep forward slowly so that the sound card's and the computer's clocks may differ."""

    CREEP_S = 2e-5  # per block: how fast the mapping may move later

    def __init__(self, device: str | None, now, stream_factory=None):
        self.np = _require("numpy", "numpy")
        self.now = now
        self.blocks: queue.SimpleQueue = queue.SimpleQueue()
        self.count = 0
        self.origin: float | None = None
        self.last_arrival: float | None = None
        self.failed = ""
        if stream_factory is None:
            sd = _require("sounddevice", "the sounddevice module")
            try:
                info = sd.query_devices(device, "input")
            except (ValueError, sd.PortAudioError) as exc:
                names = []
                try:
                    names = [d["name"] for d in sd.query_devices() if d["max_input_channels"] > 0]
                except sd.PortAudioError:
                    pass
                raise RuntimeError(
                    f"no audio input {device or '(default)'}: {exc}; inputs here: " + (", ".join(names) or "none")
                ) from None
            rate = int(info["default_samplerate"])
            if rate not in SUPPORTED_RATES:
                rate = 44100
            self.rate = rate
            try:
                self.stream = sd.InputStream(
                    device=device,
                    channels=1,
                    samplerate=rate,
                    dtype="float32",
                    blocksize=max(64, round(HOP_S * rate)),
                    callback=self._callback,
                    finished_callback=self._finished,
                )
                self.stream.start()
            except sd.PortAudioError as exc:
                raise RuntimeError(f"cannot open audio input {device or '(default)'}: {exc}") from None
        else:
            self.stream, self.rate = stream_factory(self._callback, self._finished)
        self.started = now()

    def _callback(self, indata, frames, time_info, status) -> None:
        arrival = self.now()
        self.last_arrival = arrival
        first = arrival - (self.count + frames) / self.rate
        self.origin = first if self.origin is None else min(self.origin + self.CREEP_S, first)
        self.blocks.put((self.origin + self.count / self.rate, _mono(self.np, indata).copy()))
        self.count += frames

    def _finished(self) -> None:
        self.failed = self.failed or "audio input stopped"

    @property
    def stopped(self) -> bool:
        if self.failed:
            return True
        last = self.started if self.last_arrival is None else self.last_arrival
        return self.now() - last > STOPPED_AFTER_S

    def stop_reason(self) -> str:
        return self.failed or "audio input stopped"

    def read(self, now: float) -> list:
        out = []
        while True:
            try:
                out.append(self.blocks.get_nowait())
            except queue.Empty:
                return out

    def close(self) -> None:
        try:
            self.stream.stop()
            self.stream.close()
        except Exception:  # a device that vanished cannot be stopped twice
            pass


# ---- the tempo source ------------------------------------------------------------------------


class AudioTempo(TempoSource):
    """Tempo source "audio": `[tempo] source = "audio"`, from `audio_device` (None: the
    default input) or, with options["audio_file"], from a WAV/FLAC file in real time."""

    name = "audio"

    def __init__(self, tempo, clock, now, options: dict | None = None, *, input=None):
        options = options or {}
        super().__init__(tempo, clock, now, options)
        self.now = now
        if input is not None:
            self.input = input
        elif options.get("audio_file"):
            self.input = FileInput(options["audio_file"], now())
        else:
            self.input = DeviceInput(getattr(tempo, "audio_device", None), now)
        try:
            self.tracker = BeatTracker(self.input.rate, tempo.beats_per_bar)
        except RuntimeError:
            self.input.close()
            raise
        self.follower = Follower(
            tempo.bpm,
            getattr(tempo, "bpm_range", None),
            tempo.beats_per_bar,
            accent=self.tracker.accent,
            comb=self.tracker.comb,
            quiet=self.tracker.quiet,
            onset=self.tracker.onset,
        )
        self.proposals = 0

    def update(self, clock, now: float) -> None:
        for t_first, block in self.input.read(now):
            for t, bpm in self.tracker.feed(block, t_first):
                self.proposals += 1
                self.follower.propose(t, bpm)
        self.follower.update(clock, now)

    def command(self, name: str, arg, clock, now: float) -> bool:
        f = self.follower
        if name == "tap":
            f.tap(clock, now)
        elif name == "resync":
            f.resync(clock, now)
        elif name == "double":
            f.scale(clock, now, 2.0)
        elif name == "half":
            f.scale(clock, now, 0.5)
        elif name == "lock":
            f.lock(arg)
        elif name == "bpm":
            f.set_bpm(clock, now, float(arg))
        elif name == "tempo":
            f.set_bpm(clock, now, clock.bpm + float(arg))
        elif name == "nudge":
            f.nudge(clock, float(arg))
        else:
            return False
        return True

    def status(self) -> str:
        f = self.follower
        now = self.now()
        if f.locked:
            text = f"audio {60.0 / f.period:.1f} BPM conf {f.confidence:.2f}"
        else:
            text = "audio listening"
        if f.tempo_locked:
            text += " tempo locked"
        if self.input.stopped:
            text += f"; {self.input.stop_reason()}: holding the tempo"
        elif f.holding(now):
            text += " holding"
        return text

    def close(self) -> None:
        self.input.close()
