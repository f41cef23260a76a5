"""Tempo from the music itself: one causal model of where the music is in its bar.

Four parts, each usable on its own:

- an audio input: a live device (PortAudio through `sounddevice`) or a WAV/FLAC file fed
  block by block as time goes by. Both hand over (time of the first sample, mono samples);
  the file path is paced by the `now` it is given, so a test or a benchmark can run it
  faster than real time on simulated time;
- `Features`: samples turned, every HOP_S, into three onset strengths (the kick's band, the
  body of snare and toms, and the broadband spectral flux), each in units of its own recent
  level, and how much the hop can be trusted (silence and breaks without kick: little);
- `BarPointer`: the model. Its state is (tempo, position in the bar), the position counted in
  hops, so beat, offbeat and downbeat are places of one state. Each hop the state moves on
  by one; at each beat the tempo may change a little; the onsets weigh every state by how
  well they fit a beat (and which beat of the bar) there. The forward filter keeps the
  probability of every state; a prior on the tempo (the middle of the show's `bpm_range`,
  or its tempo) settles half against double time. The model's beats (where its most likely
  state starts a beat) are fitted with a line: a grid (downbeat time, period);
- `CatchUp`: moves a clock towards that grid without jumps (the first lock jumps).

The operator acts on the model's state: a tap, a resync, x2 or /2 or an explicit tempo put
the state where the operator says (and the clock with it); lock freezes the tempo.

All times are music time: the moment a sound is heard. A clock position is
(t - t0) * bpm / 60 at music time t; the clock's output latency is applied by the clock
itself when a frame asks for its pip.
"""

from __future__ import annotations

import collections
import dataclasses
import math
import os
import queue

from kinetra_common.units import MAX_BPM

from ..clock import MIN_BPM, SNAP_S, catch_up, fit_line
from .base import TempoSource

# Sample rates the input accepts; the model's hop is about HOP_S long at any of them.
SUPPORTED_RATES = (22050, 32000, 44100, 48000, 88200, 96000)
FILE_FORMATS = ("WAV", "WAVEX", "RF64", "FLAC")
HOP_S = 0.010  # one feature frame and one filter step
WINDOW_S = 0.046  # analysis window (the next power of two in samples)
SILENCE_DB = -60.0  # music quieter than this (over SILENCE_S) tells the model nothing
SILENCE_S = 0.5

# Onset features: (low Hz, high Hz) of the kick's band and the body band (their magnitudes'
# rise), and the log-magnitude flux over the whole spectrum; each in units of its recent level.
KICK_BAND = (30.0, 90.0)
BODY_BAND = (180.0, 500.0)
LOG_GAIN = 100.0  # log(1 + LOG_GAIN * |X|): the flux is a ratio of levels, not a difference
LEVEL_S = 3.0  # the recent level of each feature is averaged over about this long ...
REFERENCE_FORGET_S = 20.0  # ... and its best level fades over this long (a long quiet part is followed again)
FEATURE_LAG_S = 0.028  # an attack is seen this long after it sounds (window and hop)
BREAK_SHARE = 0.5  # the kick's level under this share of its best: the hop counts for less

# The model. Tempo is a period in steps of 1/SUBSTEPS hop; positions per bar = period * beats per bar.
SUBSTEPS = 2
DEFAULT_RANGE = (70.0, 200.0)  # tempos the model considers without a show range
MODEL_LOWEST_BPM = 40.0  # and with one, none slower than this
PRIOR_WIDTH = 0.55  # tempo prior: log-normal around the middle of the range, this wide (ln units)
PRIOR_WEIGHT = 0.004  # the prior's weight per hop
TEMPO_CHANGE = 100.0  # at a beat the tempo moves from p to q with weight exp(-TEMPO_CHANGE * |q/p - 1|)
CHANGE_HAZARD = 2e-6  # per hop, the share of the probability spread over every state (a new track) ...
HAZARD_EVERY = 10  # ... spread every this many hops
BEAT_WIDTH_HOPS = 1.5  # an onset counts for a beat this close (Gaussian, in hops)
# Observation weights: a beat is (KICK, BODY, FLUX) . onsets - THRESHOLD; the downbeat also gains
# BAR * (kick - DOWN_BODY * body) and the backbeats BAR * (body - kick): the kick
# marks the one and the snare two and four, while the body band on the one (a crash, a chord, the
# bass) says nothing against it.
KICK_WEIGHT = 1.5
BODY_WEIGHT = 0.7
FLUX_WEIGHT = 0.3
THRESHOLD = 5.0
BAR_WEIGHT = 0.5
DOWN_BODY = 0.0
OBSERVATION_GAIN = 0.3  # all of it scaled by this (smaller: the model weighs more beats before it moves)

# The grid from the model's beats.
BEAT_SEEN_HOPS = 4  # a beat is taken this many hops after the model puts it (its onset seen)
FIT_BEATS = 16  # beats the grid is fitted over
GRID_TOLERANCE = 0.16  # (beats) a model beat further than this from the grid: off it ...
GRID_MISSES = 3  # ... this many in a row: the model has moved, the grid starts again from its beats
BAR_SWITCH = 3.0  # the downbeat moves to a place this many times likelier than its own ...
BAR_VOTES = 4  # ... on this many beats in a row
LOCK_BEATS = 4  # beats on one grid before the first lock ...
LOCK_CONFIDENCE = 0.3  # ... with the model this sure
GATE = 0.2  # under this confidence (or with the hop not trusted) the grid is held
CONFIDENCE_HOPS = 2  # confidence: probability within this many hops of the model's next beat ...
CONFIDENCE_TEMPO = 0.05  # ... and this close in tempo

# The clock's catch-up.
MAX_SLEW_S = 0.004  # largest phase correction per beat once locked
SLEW_BEATS = 2.0  # a phase error is worked off over about this many beats

HOLD_AFTER_BEATS = 4.0  # no beat taken for this long: the status says holding
STOPPED_AFTER_S = 0.5  # an input silent for this long (no blocks at all) has stopped
OFFBEAT_PRESS = 0.25  # a resync this far (beats) from the grid's beats moves it half a beat
TAP_GAP_S = 2.0  # a pause longer than this starts a new tap run
IMPOSE_TEMPO = 0.01  # the operator's tempo, as a spread of the model's state (relative) ...
IMPOSE_HOPS = 1.5  # ... and phase (hops)

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


# ---- features --------------------------------------------------------------------------------


class Features:
    """Mono float32 samples in, one frame per hop out: (music time, onsets, trust) with onsets
    = (kick, body, flux), each a compressed ratio to its recent level."""

    def __init__(self, rate: int):
        self.np = np = _require("numpy", "numpy")
        self.rate = rate
        self.hop = max(64, round(HOP_S * rate))
        self.frame_s = self.hop / rate
        size = 1 << math.ceil(math.log2(WINDOW_S * rate))
        self.window = np.hanning(size).astype(np.float32)
        freqs = np.fft.rfftfreq(size, 1.0 / rate)
        self.kick = (freqs >= KICK_BAND[0]) & (freqs < KICK_BAND[1])
        self.body = (freqs >= BODY_BAND[0]) & (freqs < BODY_BAND[1])
        self.ring = np.zeros(size, dtype=np.float32)
        self.prev = np.zeros(len(freqs))
        self.prev_log = np.zeros(len(freqs))
        self.level = np.zeros(3)  # recent mean of each onset feature
        self.best = np.zeros(3)  # its best recent level, fading
        self.mean_a = self.frame_s / LEVEL_S
        self.fade = math.exp(-self.frame_s / REFERENCE_FORGET_S)
        self.silence = 10 ** (SILENCE_DB / 10)  # in power
        self.power = 0.0  # mean power over about SILENCE_S
        self.power_a = self.frame_s / SILENCE_S
        self.pending = np.zeros(0, dtype=np.float32)
        self.pending_t = 0.0  # music time of pending[0]

    def feed(self, samples, t_first: float) -> list:
        np = self.np
        samples = np.asarray(samples, dtype=np.float32).reshape(-1)
        if not len(self.pending):
            self.pending_t = t_first
        self.pending = np.concatenate((self.pending, samples)) if len(self.pending) else samples
        hop = self.hop
        n = len(self.pending) // hop
        out = [
            self._frame(self.pending[i * hop : (i + 1) * hop], self.pending_t + (i + 1) * self.frame_s)
            for i in range(n)
        ]
        if n:
            self.pending = self.pending[n * hop :].copy()
            self.pending_t += n * self.frame_s
        return out

    def _frame(self, block, t_end: float):
        np = self.np
        ring = self.ring
        ring[: -len(block)] = ring[len(block) :]
        ring[-len(block) :] = block
        mag = np.abs(np.fft.rfft(ring * self.window))
        rise = np.maximum(0.0, mag - self.prev)  # the bands: their level rising
        log_mag = np.log1p(LOG_GAIN * mag)
        log_rise = np.maximum(0.0, log_mag - self.prev_log)  # the whole spectrum: any attack
        self.prev, self.prev_log = mag, log_mag
        raw = np.array((rise[self.kick].sum(), rise[self.body].sum(), log_rise.mean()))
        self.power += self.power_a * (float(np.mean(block.astype(np.float64) ** 2)) - self.power)
        loud = self.power > self.silence
        if loud:
            self.level += self.mean_a * (raw - self.level)
        self.best = np.maximum(self.level, self.best * self.fade)
        onsets = np.log1p(raw / (self.level + 1e-3 * self.best + 1e-9)) if loud else np.zeros(3)
        trust = min(1.0, self.level[0] / (BREAK_SHARE * self.best[0] + 1e-12)) if loud else 0.0
        return t_end - FEATURE_LAG_S, onsets, trust


# ---- the model -------------------------------------------------------------------------------


@dataclasses.dataclass
class Params:
    """The model's weights (see the constants); the benchmark's cross-validation varies them."""

    kick: float = KICK_WEIGHT
    body: float = BODY_WEIGHT
    flux: float = FLUX_WEIGHT
    threshold: float = THRESHOLD
    bar: float = BAR_WEIGHT
    down_body: float = DOWN_BODY
    prior_width: float = PRIOR_WIDTH
    prior_weight: float = PRIOR_WEIGHT
    tempo_change: float = TEMPO_CHANGE
    beat_width: float = BEAT_WIDTH_HOPS
    gain: float = OBSERVATION_GAIN


class BarPointer:
    """The forward filter on (tempo, position in the bar). Positions are counted in steps of
    1/SUBSTEPS hop (so a period need not be a whole number of hops); each hop the state moves on
    SUBSTEPS steps. `step(onsets, trust)` once per hop; `best()` is the most likely state:
    (period in hops, hops since its last beat, that beat's number in the bar)."""

    def __init__(self, frame_s: float, bpm_range, centre_bpm: float, beats_per_bar: int = 4, params=None):
        self.np = np = _require("numpy", "numpy")
        self.params = p = params or Params()
        self.frame_s = frame_s
        sub = SUBSTEPS
        unit = frame_s / sub
        self.beats_per_bar = nb = max(1, int(beats_per_bar))
        lo, hi = bpm_range
        periods = np.arange(max(2 * sub, math.floor(60.0 / (hi * unit))), math.ceil(60.0 / (lo * unit)) + 1)
        self.periods = periods
        sizes = periods * nb
        self.starts = np.concatenate(([0], np.cumsum(sizes)[:-1]))
        n = int(sizes.sum())
        self.tempo = np.repeat(np.arange(len(periods)), sizes)  # tempo index of each state
        pos = np.arange(n) - np.repeat(self.starts, sizes)  # position in the bar (steps)
        per = periods[self.tempo]
        self.per = per
        self.within = pos % per  # steps since the state's last beat
        self.beat = pos // per  # that beat's number in the bar
        dist = np.minimum(self.within, per - self.within) / sub  # hops to the nearest beat
        nearest = np.where(self.within <= per / 2, self.beat, (self.beat + 1) % nb)
        kernel = np.exp(-0.5 * (dist / p.beat_width) ** 2)
        self.kernel = kernel
        self.kernel_down = kernel * (nearest == 0)
        self.kernel_back = kernel * ((nearest % 2 == 1) & (nearest != 0))
        self.at_beat = (self.within < sub).astype(float)  # where a beat pays its cost (once a beat)
        b = np.arange(nb)[:, None]
        start = self.starts[None, :] + b * periods[None, :]
        # a state in the last `sub` steps of a beat moves into the next beat (maybe at another tempo)
        self.ends = [start + periods[None, :] - sub + r for r in range(sub)]
        self.nexts = [np.roll(start, -1, axis=0) + r for r in range(sub)]
        bpm = 60.0 / (periods * unit)
        self.bpm = bpm
        self.log_prior = -0.5 * (np.log(bpm / centre_bpm) / p.prior_width) ** 2
        ratio = periods[None, :] / periods[:, None]
        self.change = np.exp(-p.tempo_change * np.abs(ratio - 1.0))
        self.change /= self.change.sum(axis=1, keepdims=True)
        self.frozen = False
        prior = np.exp(self.log_prior) / sizes
        self.spread = (prior / prior.sum())[self.tempo]
        self.log_prior_hop = p.prior_weight * self.log_prior[self.tempo]
        self.prior_hop = np.exp(self.log_prior_hop)
        self.hops = 0
        f32 = np.float32  # single precision: half the memory traffic, and plenty for probabilities
        names = ("kernel", "kernel_down", "kernel_back", "at_beat", "spread", "prior_hop", "log_prior_hop", "change")
        for name in names:
            setattr(self, name, getattr(self, name).astype(f32))
        self.alpha = self.spread.copy()

    def freeze(self, on: bool) -> None:
        """Tempo frozen (the operator's lock): the state keeps its tempo at every beat."""
        self.frozen = bool(on)

    def step(self, onsets, trust: float) -> None:
        np = self.np
        a = self.alpha
        sub = SUBSTEPS
        new = np.empty_like(a)
        new[sub:] = a[:-sub]  # every state one hop on (the beats' first steps are filled below)
        for ends, nexts in zip(self.ends, self.nexts):
            e = a[ends]
            new[nexts] = e if self.frozen else e @ self.change
        p = self.params
        kick, body, flux = (float(x) for x in onsets)
        if trust > 0.0:
            g = p.kick * kick + p.body * body + p.flux * flux
            down = p.bar * (kick - p.down_body * body)
            back = p.bar * (body - kick)
            w = trust * p.gain
            log_l = self.kernel * (w * g)
            log_l += self.kernel_down * (w * down)
            log_l += self.kernel_back * (w * back)
            log_l -= self.at_beat * (w * p.threshold)
            log_l += self.log_prior_hop
            new *= np.exp(log_l, out=log_l)
        else:
            new *= self.prior_hop
        total = new.sum()
        if not total > 0 or not math.isfinite(total):
            new = self.spread.copy()
            total = 1.0
        self.hops += 1
        if self.hops % HAZARD_EVERY:
            self.alpha = new * (1.0 / total)
        else:  # every HAZARD_EVERY hops, that many hops' share of the probability is spread out
            h = CHANGE_HAZARD * HAZARD_EVERY
            self.alpha = new * ((1.0 - h) / total) + h * self.spread

    def best(self) -> tuple[float, float, int]:
        s = int(self.alpha.argmax())
        return float(self.per[s]) / SUBSTEPS, float(self.within[s]) / SUBSTEPS, int(self.beat[s])

    def confidence(self):
        """(confidence, bar, since, period) around the most likely state: the probability of
        the states whose next beat is within CONFIDENCE_HOPS of its, at a tempo within
        CONFIDENCE_TEMPO of it; how that splits over the number in the bar of their last
        beat; and their mean hops since that beat and mean period in hops."""
        np = self.np
        s = int(self.alpha.argmax())
        per, until = self.per[s], self.per[s] - self.within[s]
        near = np.flatnonzero(
            (np.abs((self.per - self.within) - until) <= CONFIDENCE_HOPS * SUBSTEPS)
            & (np.abs(self.per / per - 1.0) <= CONFIDENCE_TEMPO)
        )
        w = self.alpha[near]
        total = float(w.sum())
        bar = np.bincount(self.beat[near], weights=w, minlength=self.beats_per_bar)
        if not total > 0:
            return 0.0, bar, float(self.within[s]) / SUBSTEPS, float(per) / SUBSTEPS
        period = float(w @ self.per[near]) / total
        since = period - float(w @ (self.per[near] - self.within[near])) / total
        return total, bar, since / SUBSTEPS, period / SUBSTEPS

    def impose(self, since: float, period_s: float, beat: int) -> None:
        """The operator's grid: a beat numbered `beat` in the bar `since` seconds ago, one every
        `period_s`; the state is put there (a little spread in tempo and phase)."""
        np = self.np
        unit = self.frame_s / SUBSTEPS
        steps = since / unit
        per = self.per * unit
        k = np.floor(steps / self.per)  # whole beats of each state's tempo since then
        beat_now = (beat + k.astype(np.int64)) % self.beats_per_bar
        within = steps - k * self.per
        off = ((self.within - within + self.per / 2) % self.per - self.per / 2) / SUBSTEPS
        w = np.exp(-0.5 * (np.log(per / period_s) / IMPOSE_TEMPO) ** 2 - 0.5 * (off / IMPOSE_HOPS) ** 2)
        w *= self.beat == beat_now
        total = w.sum()
        if total > 0:
            self.alpha = (0.999 * w / total + 0.001 * self.spread).astype(np.float32)


# ---- the grid from the model's beats ------------------------------------------------------------


class BeatGrid:
    """The model's beats fitted with a line: beat k at a + k * period; beat `down` (and every
    beats_per_bar-th from it) is a downbeat."""

    def __init__(self):
        self.beats: collections.deque = collections.deque(maxlen=FIT_BEATS)  # (k, t)
        self.a = 0.0
        self.period = 0.5
        self.down: int | None = None
        self.voted = 0  # the downbeat (mod the bar) the latest beats vote for ...
        self.votes = 0  # ... and how many in a row
        self.misses = 0
        self.frozen = False
        self.last: float | None = None  # music time of the latest beat taken

    def clear(self) -> None:
        self.beats.clear()
        self.misses = 0
        self.down = None

    def add(self, t: float, period: float) -> bool:
        """A beat of the model at t (its period then); True when it lies on the grid."""
        if self.beats and not self.frozen and abs(period / self.period - 1.0) > GRID_TOLERANCE:
            self.clear()  # the model hears another tempo
        if self.beats:
            k_last, t_last = self.beats[-1]
            step = max(1, round((t - t_last) / self.period))
            k = k_last + step
            if len(self.beats) >= 3:
                r = (t - (self.a + k * self.period)) / self.period
                if abs(r) > GRID_TOLERANCE:
                    self.misses += 1
                    if self.misses < GRID_MISSES:
                        return False
                    self.clear()  # the model moved: a grid from its latest beats
            elif abs((t - t_last) / step / period - 1.0) > GRID_TOLERANCE:
                self.clear()
        if not self.beats:
            k = 0
            if not self.frozen:
                self.period = period
        self.misses = 0
        self.beats.append((k, t))
        self.last = t
        self._fit()
        return True

    def place_bar(self, bar, beats_per_bar: int) -> None:
        """The model's probability of the latest beat being each number in the bar: the
        downbeat moves where it is clearly more likely (BAR_SWITCH times) than where it is, on
        BAR_VOTES beats in a row (moving the bar costs the lights a catch-up)."""
        k = self.beats[-1][0]
        best = int(bar.argmax())
        if self.down is None:
            self.down = k - best
            return
        if bar[best] > BAR_SWITCH * bar[(k - self.down) % beats_per_bar]:
            down = (k - best) % beats_per_bar
            self.votes = self.votes + 1 if down == self.voted else 1
            self.voted = down
            if self.votes >= BAR_VOTES:
                self.down = k - best
                self.votes = 0
        else:
            self.votes = 0

    def _fit(self) -> None:
        pts = list(self.beats)
        if len(pts) >= 3 and not self.frozen:
            a, b = fit_line(pts)
            if b > 0:
                self.a, self.period = a, b
                return
        self.a = sum(t - k * self.period for k, t in pts) / len(pts)

    @property
    def count(self) -> int:
        return len(self.beats)

    def downbeat(self) -> float:
        """Music time of a downbeat of the grid."""
        return self.a + (self.down or 0) * self.period


# ---- the clock follows --------------------------------------------------------------------------


class CatchUp:
    """Moves a clock (anything with bpm, t0, set_tempo and nudge) towards a grid whose downbeat
    sounds at `ta` (one every `beats_per_bar` beats of `period` seconds): the first grid is
    jumped to; after that the clock never jumps. A difference over SNAP_S is caught up with by
    running at most CATCH_UP fast or slow; a smaller one is slewed by at most MAX_SLEW_S a beat.
    The bar counts: a grid a beat later in the bar is caught up with as well."""

    def __init__(self):
        self.followed = False
        self.catching = False

    def step(self, clock, ta: float, period: float, beats_per_bar: int, now: float, dt: float) -> None:
        bpm = 60.0 / period
        target = (now - ta) / period
        actual = (now - clock.t0) * clock.bpm / 60.0
        bar = beats_per_bar
        err_beats = (target - actual + bar / 2) % bar - bar / 2
        if not self.followed:
            self.followed = True
            if abs(err_beats) * period > SNAP_S:
                clock.bpm = bpm
                clock.t0 = now - (actual + err_beats) * period
                return
        if abs(clock.bpm - bpm) > 1e-9:
            clock.set_tempo(bpm, now)
            actual = (now - clock.t0) * clock.bpm / 60.0
            err_beats = (target - actual + bar / 2) % bar - bar / 2
        err = err_beats * period  # seconds: positive when the clock is behind the grid
        if abs(err) > SNAP_S:
            self.catching = True
        if self.catching:
            step, self.catching = catch_up(err, dt)
        else:
            limit = MAX_SLEW_S * dt / period
            step = max(-limit, min(limit, err * min(1.0, dt / (SLEW_BEATS * period))))
        if step:
            clock.nudge(step)


def model_range(lo: float, hi: float) -> tuple[float, float]:
    """The tempos the model considers for a show range: none under MODEL_LOWEST_BPM (slow tempos
    are long periods, and a range as low as a show may write would make the state space too
    large to follow in real time); a range below it is moved up by octaves."""
    while hi < 2 * MODEL_LOWEST_BPM:
        lo, hi = lo * 2, hi * 2
    return max(lo, MODEL_LOWEST_BPM), min(hi, float(MAX_BPM))


# ---- the follower: model, grid and clock ----------------------------------------------------------


class Follower:
    """The model heard frame by frame (`hear`), its grid followed by a clock (`update`, once
    per frame) and the operator's keys. Times are seconds on one monotonic scale."""

    def __init__(self, bpm: float, bpm_range=None, beats_per_bar: int = 4, frame_s: float = HOP_S, params=None):
        self.default_bpm = float(bpm)
        self.beats_per_bar = max(1, int(beats_per_bar))
        self.frame_s = frame_s
        self.params = params or Params()
        if bpm_range:
            self.range = model_range(float(bpm_range[0]), float(bpm_range[1]))
            self.centre = math.sqrt(self.range[0] * self.range[1])
        else:
            self.range = DEFAULT_RANGE
            self.centre = min(DEFAULT_RANGE[1], max(DEFAULT_RANGE[0], self.default_bpm))
        self.model = BarPointer(frame_s, self.range, self.centre, self.beats_per_bar, self.params)
        self.grid = BeatGrid()
        self.catch = CatchUp()
        self.tempo_locked = False  # operator's lock: tempo frozen, phase still followed
        self.locked = False  # a grid is being followed
        self.locks = 0
        self.target: tuple[float, float] | None = None  # (music time of a downbeat, period)
        self.offset = 0.0  # operator's nudges (lights ahead of the grid)
        self.conf = 0.0
        self.heard_until: float | None = None  # music time of the latest frame
        self.model_beat: float | None = None  # the model's latest beat (taken or not)
        self.last_time: float | None = None
        self.taps: list[tuple[int, float]] = []

    @property
    def period(self) -> float:
        return self.target[1] if self.target else 60.0 / self.default_bpm

    @property
    def confidence(self) -> float:
        return self.conf

    def hear(self, t: float, onsets, trust: float) -> None:
        """One frame of features: the music at time t."""
        m = self.model
        m.step(onsets, trust)
        self.heard_until = t
        per, within, _ = m.best()
        if within < BEAT_SEEN_HOPS:
            return
        if self.model_beat is not None and t - within * self.frame_s - self.model_beat < 0.5 * per * self.frame_s:
            return
        conf, bar, since, per = m.confidence()
        t_beat = t - since * self.frame_s
        period = per * self.frame_s
        self.model_beat = t_beat
        self.conf = conf * trust
        if self.conf < GATE:
            return  # the grid is held: the model is not sure, or the music is in a break
        if not self.grid.add(t_beat, period):
            return
        self.grid.place_bar(bar, self.beats_per_bar)
        if not self.locked and (self.grid.count < LOCK_BEATS or self.conf < LOCK_CONFIDENCE):
            return
        if not self.locked:
            self.locked = True
            self.locks += 1
        self.target = (self.grid.downbeat(), self.grid.period)

    def update(self, clock, now: float) -> None:
        dt = 0.0 if self.last_time is None else min(0.1, max(0.0, now - self.last_time))
        self.last_time = now
        if self.locked and self.target:
            ta, period = self.target
            self.catch.step(clock, ta - self.offset, period, self.beats_per_bar, now, dt)

    def holding(self, now: float) -> bool:
        return self.locked and (self.grid.last is None or now - self.grid.last > HOLD_AFTER_BEATS * self.period)

    # -- the operator -------------------------------------------------------------------------

    def _from_clock(self, clock) -> None:
        """The clock is where the operator put it: so are the model's state and the grid."""
        period = 60.0 / clock.bpm
        t0 = clock.t0 + self.offset  # music time of the clock's beat 0
        t = self.heard_until if self.heard_until is not None else t0
        k = math.floor((t - t0) / period)
        self.model.impose(t - (t0 + k * period), period, k % self.beats_per_bar)
        self.grid.clear()
        self.grid.period = period
        self.target = (t0, period)
        self.locked = True
        self.catch.followed = True
        self.catch.catching = False
        self.model_beat = None

    def _rebuild(self, lo: float, hi: float) -> None:
        self.range = model_range(lo, hi)
        self.model = BarPointer(self.frame_s, self.range, self.centre, self.beats_per_bar, self.params)
        self.model.freeze(self.tempo_locked)

    def tap(self, clock, now: float) -> None:
        """A tap on the beat: from the second tap of a run on, tempo and phase follow the
        taps at once; the model goes on from there."""
        if self.taps and now - self.taps[-1][1] > TAP_GAP_S:
            self.taps = []
        self.taps.append((len(self.taps), now))
        self.taps = self.taps[-16:]
        if len(self.taps) < 2:
            return
        a, b = fit_line([(i - self.taps[0][0], t) for i, t in self.taps])
        if not b > 0 or not MIN_BPM <= 60.0 / b <= MAX_BPM:
            return
        bpm = 60.0 / b
        if not self.range[0] <= bpm <= self.range[1]:
            self._fit_range(bpm)
        # keep the clock's beat count: the first tap of the run is the beat nearest it
        k0 = round((self.taps[0][1] - clock.t0) * clock.bpm / 60.0)
        clock.bpm = bpm
        clock.t0 = a - k0 * b - self.offset
        self._from_clock(clock)

    def resync(self, clock, now: float) -> None:
        """`now` is a downbeat: renumbers the beats (the phase stays with the music when a
        grid is followed); without one, a beat starts now. A press nearer the followed grid's
        offbeats than its beats: the model heard the offbeats; the grid moves there."""
        if not self.locked:
            clock.t0 = now
            return
        position = (now - clock.t0) * clock.bpm / 60.0
        if abs(position - round(position)) > OFFBEAT_PRESS:
            clock.t0 += 30.0 / clock.bpm  # half a beat
            position -= 0.5
        k = round(position)
        shift = k % self.beats_per_bar
        if shift > self.beats_per_bar / 2:
            shift -= self.beats_per_bar
        clock.t0 += shift * 60.0 / clock.bpm
        self._from_clock(clock)

    def _fit_range(self, bpm: float) -> None:
        lo, hi = self.range
        while bpm < lo:
            lo, hi = lo / 2, hi / 2
            self.centre /= 2
        while bpm > hi:
            lo, hi = lo * 2, hi * 2
            self.centre *= 2
        self._rebuild(lo, hi)

    def scale(self, clock, now: float, ratio: float) -> None:
        """x2 (ratio 2) or /2 (ratio 0.5): the operator corrects the octave for the rest of the
        night (the model's tempos move with it). The clock's beats stay on the music's (x2 adds
        the offbeats, /2 keeps every other beat); its beat count stays within a beat."""
        bpm = clock.bpm * ratio
        if not MIN_BPM <= bpm <= MAX_BPM:
            return
        p = 60.0 / clock.bpm
        position = (now - clock.t0) / p
        clock.t0 += round(position * (1.0 - 1.0 / ratio)) * p
        clock.bpm = bpm
        self.centre *= ratio
        self._rebuild(self.range[0] * ratio, self.range[1] * ratio)
        if self.locked:
            self._from_clock(clock)

    def set_bpm(self, clock, now: float, bpm: float) -> None:
        """An explicit tempo from the operator: freezes it (the phase still follows)."""
        if not MIN_BPM <= bpm <= MAX_BPM:
            return
        clock.set_tempo(bpm, now)
        self.tempo_locked = True
        if not self.range[0] <= bpm <= self.range[1]:
            self._fit_range(bpm)
        self.lock(True)
        if self.locked:
            self._from_clock(clock)

    def nudge(self, clock, seconds: float) -> None:
        self.offset += seconds
        clock.nudge(seconds)

    def lock(self, on: bool | None = None) -> bool:
        """Freezes the tempo (True), frees it (False) or toggles (None)."""
        self.tempo_locked = (not self.tempo_locked) if on is None else bool(on)
        self.model.freeze(self.tempo_locked)
        self.grid.frozen = self.tempo_locked
        return self.tempo_locked


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

    def __init__(self, tempo, clock, now, options: dict | None = None, *, input=None, params=None):
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
            self.features = Features(self.input.rate)
        except RuntimeError:
            self.input.close()
            raise
        self.follower = Follower(
            tempo.bpm, getattr(tempo, "bpm_range", None), tempo.beats_per_bar, self.features.frame_s, params
        )

    def update(self, clock, now: float) -> None:
        hear = self.follower.hear
        for t_first, block in self.input.read(now):
            for t, onsets, trust in self.features.feed(block, t_first):
                hear(t, onsets, trust)
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
