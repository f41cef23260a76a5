"""Test music: the beat matrix's drum scores played with real drum samples.

The 68 styles of the pattern generator hold exact onsets (fractions of a sixteenth) per
lane; this module plays them with the GMRockKit samples of Debian's hydrogen-data package
over a tempo map (steady, a ramp or a step), optionally with a break whose kick is muted
and with added noise. Because the rendering places every onset itself, the true beat times
are known exactly. Nothing here is committed as audio: tracks are rendered in the test run.

Needs numpy and soundfile (the `audio` extra) and the hydrogen-data package.
"""

from __future__ import annotations

import dataclasses
import functools
import math
import os
import pathlib
import sys

import numpy as np

TOOLS = pathlib.Path(__file__).resolve().parents[2] / "tools"
if str(TOOLS) not in sys.path:
    sys.path.insert(0, str(TOOLS))

from patterngen.data.beat_scores import STYLES  # noqa: E402
from patterngen.families.beat import lane_events  # noqa: E402

KIT = pathlib.Path(os.environ.get("KINETRA_DRUMKIT", "/usr/share/hydrogen/data/drumkits/GMRockKit"))
RATE = 44100
PIPS_PER_BEAT = 64
PIPS_PER_STEP = 16
BEATS_PER_BAR = 4

# lane -> sample stems (velocity layers Softest..Hardest are picked by velocity); the tom lane
# walks round the three toms. The bass lane is a plain decaying sine, as the scores' notes say.
LANE_SAMPLES = {
    "kick": ("Kick",),
    "snare": ("Snare",),
    "clap": ("HandClap",),
    "rim": ("SideStick",),
    "ohat": ("HatOpen",),
    "chat": ("HatClosed",),
    "shaker": ("HatPedal",),
    "tom": ("Tom1", "Tom2", "TomFloor"),
    "bell": ("Cowbell",),
    "perc": ("SnareRimshot",),
}
LAYERS = ("Softest", "Soft", "Med", "Hard", "Hardest")
BASS_HZ = 55.0
SAMPLE_SECONDS = 0.6  # samples are cut (with a fade) so that a long ride cannot swamp the mix


def kit_missing() -> str | None:
    """Why the kit cannot be used, or None."""
    if not KIT.is_dir():
        return f"drum kit not found at {KIT} (apt-get install hydrogen-data)"
    return None


@functools.cache
def _sample(stem: str, layer: str) -> np.ndarray:
    import soundfile

    path = KIT / f"{stem}-{layer}.wav"
    if not path.exists():
        path = KIT / f"{stem}.wav"
    data, rate = soundfile.read(str(path), dtype="float32", always_2d=True)
    if rate != RATE:
        raise RuntimeError(f"{path}: expected {RATE} Hz, found {rate}")
    mono = data.mean(axis=1)[: int(SAMPLE_SECONDS * RATE)].copy()
    fade = min(len(mono), int(0.05 * RATE))
    mono[len(mono) - fade :] *= np.linspace(1.0, 0.0, fade, dtype=np.float32)
    return mono


@functools.cache
def _bass() -> np.ndarray:
    t = np.arange(int(0.35 * RATE)) / RATE
    return (0.8 * np.sin(2 * np.pi * BASS_HZ * t) * np.exp(-t / 0.12)).astype(np.float32)


def voice(lane: str, velocity: float, index: int) -> np.ndarray:
    if lane == "bass":
        return _bass() * velocity
    stems = LANE_SAMPLES[lane]
    layer = LAYERS[min(len(LAYERS) - 1, int(velocity * len(LAYERS)))]
    return _sample(stems[index % len(stems)], layer) * velocity


# ---- tempo maps -------------------------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class TempoMap:
    """Tempo per beat: `start` BPM, then (beat, bpm) points; between points the tempo
    moves linearly in beats when `ramp`, else it steps at the point."""

    start: float
    points: tuple = ()
    ramp: bool = False

    def bpm_at(self, beat: float) -> float:
        bpm, prev_b, prev_bpm = self.start, 0.0, self.start
        for b, v in self.points:
            if beat < b:
                if self.ramp:
                    return prev_bpm + (v - prev_bpm) * (beat - prev_b) / (b - prev_b)
                return bpm
            bpm, prev_b, prev_bpm = v, b, v
        return bpm

    def times(self, n_beats: int, resolution: int = 64) -> np.ndarray:
        """Time of beat 0..n_beats at `resolution` points a beat (integrated tempo)."""
        grid = np.arange(n_beats * resolution) / resolution
        dt = np.array([60.0 / self.bpm_at(b + 0.5 / resolution) for b in grid]) / resolution
        return np.concatenate(([0.0], np.cumsum(dt)))


def steady(bpm: float) -> TempoMap:
    return TempoMap(bpm)


def ramp(bpm_from: float, bpm_to: float, at_beat: int, beats: int) -> TempoMap:
    return TempoMap(bpm_from, ((at_beat, bpm_from), (at_beat + beats, bpm_to)), ramp=True)


def step(bpm_from: float, bpm_to: float, at_beat: int) -> TempoMap:
    return TempoMap(bpm_from, ((at_beat, bpm_to),))


# ---- rendering -------------------------------------------------------------------------------


@dataclasses.dataclass
class Track:
    audio: np.ndarray  # float32 mono at RATE
    rate: int
    beats: np.ndarray  # true time of every beat (seconds from the first sample)
    bpm: np.ndarray  # tempo at every beat
    style: str
    break_span: tuple | None  # (first beat, end beat) of the break, or None

    @property
    def downbeats(self) -> np.ndarray:
        return self.beats[::BEATS_PER_BAR]


def style_named(stem: str) -> dict:
    for s in STYLES:
        if s["stem"] == stem:
            return s
    raise KeyError(stem)


def score(stem: str) -> tuple[int, list]:
    """(period in pips, [(pip as Fraction, lane, velocity)]) of a style."""
    s = style_named(stem)
    events = []
    for lane, (velocity, steps) in s["lanes"].items():
        for pip, v in lane_events(steps, velocity):
            events.append((pip, lane, v))
    return s["bars"] * BEATS_PER_BAR * PIPS_PER_BEAT, sorted(events)


def render(
    stem: str,
    tempo: TempoMap | float,
    bars: int,
    *,
    lead_in: float = 0.25,
    break_bars: tuple[int, int] | None = None,
    snr_db: float | None = None,
    seed: int = 1,
) -> Track:
    """Plays `bars` bars of a style. `break_bars` = (first bar, number of bars) without kick
    (and bass); `snr_db` adds white noise that far below the music's RMS. The first beat
    sounds `lead_in` seconds after the start."""
    if not isinstance(tempo, TempoMap):
        tempo = steady(float(tempo))
    period, events = score(stem)
    n_beats = bars * BEATS_PER_BAR
    res = 64
    grid = tempo.times(n_beats, res) + lead_in

    def time_of(pip) -> float:
        pos = float(pip) / PIPS_PER_BEAT * res
        i = min(int(pos), len(grid) - 2)
        return grid[i] + (grid[i + 1] - grid[i]) * (pos - i)

    total = int((grid[-1] + 1.0) * RATE)
    audio = np.zeros(total, dtype=np.float32)
    br = None
    if break_bars is not None:
        br = (break_bars[0] * BEATS_PER_BAR, (break_bars[0] + break_bars[1]) * BEATS_PER_BAR)
    counts: dict = {}
    for rep in range(0, n_beats * PIPS_PER_BEAT, period):
        for pip, lane, v in events:
            p = rep + pip
            if p >= n_beats * PIPS_PER_BEAT:
                continue
            if br and lane in ("kick", "bass") and br[0] * PIPS_PER_BEAT <= p < br[1] * PIPS_PER_BEAT:
                continue
            k = counts[lane] = counts.get(lane, -1) + 1
            sound = voice(lane, v, k)
            at = int(round(time_of(p) * RATE))
            end = min(total, at + len(sound))
            audio[at:end] += sound[: end - at]
    peak = float(np.max(np.abs(audio))) or 1.0
    audio *= 0.7 / peak
    if snr_db is not None:
        rms = float(np.sqrt(np.mean(audio**2)))
        noise = np.random.default_rng(seed).standard_normal(total).astype(np.float32)
        audio += noise * rms * 10 ** (-snr_db / 20)
        audio *= 0.9 / float(np.max(np.abs(audio)))
    beats_t = grid[::res][:n_beats]
    bpm = np.array([tempo.bpm_at(b) for b in range(n_beats)])
    return Track(audio, RATE, beats_t, bpm, stem, br)


def write(track: Track, path: str, subtype: str = "PCM_16") -> str:
    import soundfile

    soundfile.write(path, track.audio, track.rate, subtype=subtype)
    return path


# ---- style families ---------------------------------------------------------------------------


def family(stem: str) -> str:
    """four_floor (a kick on every beat), breakbeat, swung (thirds of a step), half_time or
    other: the groups the accuracy targets are given for."""
    s = style_named(stem)
    lanes = s["lanes"]
    kick = {p for p, _ in lane_events(lanes["kick"][1], 1.0)} if "kick" in lanes else set()
    period = s["bars"] * BEATS_PER_BAR * PIPS_PER_BEAT
    if all(b * PIPS_PER_BEAT in kick for b in range(period // PIPS_PER_BEAT)):
        return "four_floor"
    if any(w in stem for w in ("amen", "jungle", "dnb", "breaks", "broken")):
        return "breakbeat"
    swung = any(p.denominator != 1 for _, st in lanes.values() for p, _ in lane_events(st, 1.0))
    if swung:
        return "swung"
    back = {p for lane in ("snare", "clap", "rim") if lane in lanes for p, _ in lane_events(lanes[lane][1], 1.0)}
    if (
        back
        and all(p % (2 * PIPS_PER_BEAT) == 0 and p % (4 * PIPS_PER_BEAT) != 0 for p in back if p % PIPS_PER_BEAT == 0)
        and len(kick) <= s["bars"] * 2
    ):
        return "half_time"
    return "other"


def stems() -> list[str]:
    return [s["stem"] for s in STYLES]


# ---- playing a track through a tempo source on simulated time ----------------------------------


@dataclasses.dataclass
class Run:
    frames: np.ndarray  # rows: now, bpm, t0 (the clock after the frame's update)
    lock_time: float | None  # music time of the first lock (None: never)
    reports: list  # (now when heard, music time of the frame)
    source: object


def simulate(source_factory, track: Track, fps: float = 40.0, start: float = 100.0, events=()) -> Run:
    """Frames at `fps` on simulated time through a tempo source built by
    `source_factory(clock, now)`; the track's first sample sounds at `start`.
    `events`: (time from the start, callable(source, clock, now)) run before that frame."""
    from kinetra_live.clock import Clock

    sim = {"now": start}
    clock = Clock(120.0, start)
    src = source_factory(clock, lambda: sim["now"])
    rows = []
    lock_time = None
    pending = sorted(events, key=lambda e: e[0])
    reports = []
    feed = src.follower.hear

    def spy(t, onsets, trust):
        reports.append((sim["now"], t))
        return feed(t, onsets, trust)

    src.follower.hear = spy
    n = int(len(track.audio) / track.rate * fps)
    for i in range(n + 1):
        now = start + i / fps
        sim["now"] = now
        while pending and start + pending[0][0] <= now:
            pending.pop(0)[1](src, clock, now)
        src.update(clock, now)
        if lock_time is None and src.follower.locked:
            lock_time = now
        rows.append((now, clock.bpm, clock.t0))
    return Run(np.array(rows), lock_time, reports, src)


def clock_beats(frames: np.ndarray, after: float) -> np.ndarray:
    """Music times at which the clock passed a whole beat, from frame `after` on: each beat
    is placed with the tempo and t0 of the first frame at or past it."""
    out = []
    prev = None
    for now, bpm, t0 in frames:
        p = (now - t0) * bpm / 60.0
        if prev is not None and now >= after:
            for k in range(math.floor(prev) + 1, math.floor(p) + 1):
                out.append(t0 + k * 60.0 / bpm)
        prev = p
    return np.array(out)


def f_measure(found: np.ndarray, truth: np.ndarray, tolerance: float = 0.070) -> float:
    """Beat F-measure: each true beat matches at most one found beat within `tolerance`."""
    if not len(found) or not len(truth):
        return 0.0
    used = np.zeros(len(found), dtype=bool)
    hits = 0
    for t in truth:
        d = np.abs(found - t)
        d[used] = np.inf
        j = int(np.argmin(d))
        if d[j] <= tolerance:
            used[j] = True
            hits += 1
    precision, recall = hits / len(found), hits / len(truth)
    return 2 * precision * recall / (precision + recall) if hits else 0.0


def phase_jumps(frames: np.ndarray, after: float) -> np.ndarray:
    """Per frame after `after`: how far (seconds of music) the clock's position moved
    beyond what its previous tempo carried it."""
    out = []
    for (n0, b0, t00), (n1, b1, t01) in zip(frames[:-1], frames[1:]):
        if n0 < after:
            continue
        moved = (n1 - t01) * b1 / 60.0 - (n0 - t00) * b0 / 60.0
        expected = (n1 - n0) * b0 / 60.0
        out.append((moved - expected) * 60.0 / b1)
    return np.abs(np.array(out))


def offsets(found: np.ndarray, truth: np.ndarray) -> np.ndarray:
    """Signed distance of each true beat to the nearest found beat (found - truth)."""
    if not len(found):
        return np.full(len(truth), np.inf)
    idx = np.clip(np.searchsorted(found, truth), 1, len(found) - 1)
    left, right = found[idx - 1], found[idx]
    return np.where(np.abs(left - truth) < np.abs(right - truth), left - truth, right - truth)
