"""The audio model's evaluation corpus: the beat matrix's scores played with every drum kit of
Debian's hydrogen-data, humanised, swung, with fills, tempo changes and breaks, and mixes with a
synthesised bass line, chords and noise. The truth (every beat and downbeat) is known because
the rendering places every onset itself. Rendered audio is cached under build/ (never committed).

The corpus is split in two halves for cross-validation: styles alternate between the halves
within each family (in the beat matrix's order) and so do the kits (in name order); a track
belongs to the development half when both its style and its kit do, to the held-out half when
neither does, and is left out otherwise.
"""

from __future__ import annotations

import dataclasses
import functools
import hashlib
import pathlib
import re
import sys

import numpy as np

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(ROOT / "tests" / "python"))

import audio_render as ar  # noqa: E402

KITS_DIR = pathlib.Path("/usr/share/hydrogen/data/drumkits")
CACHE = ROOT / "build" / "audio-corpus"
RATE = ar.RATE
SECONDS = 40.0  # length of every rendered track
# Lane -> words naming the kit's instrument for it, best first (the kit's own names).
LANE_WORDS = {
    "kick": ("kick", "bass drum", "bassdrum", "bd", "thump", "djembe1 bass", "dununba"),
    "snare": ("snare", "sd", "slap", "djembe1 slap", "clap"),
    "clap": ("clap", "snap", "snare"),
    "rim": ("stick", "rim", "clave", "woodblock"),
    "ohat": ("open", "op", "hat", "hh", "maraca", "shaker"),
    "chat": ("closed", "hat", "hh", "maraca", "shaker", "tamb"),
    "shaker": ("pedal", "shaker", "tamb", "maraca", "hat"),
    "tom": ("tom", "bongo", "conga", "tone"),
    "bell": ("cowbell", "bell", "ride", "agogo"),
    "perc": ("rimshot", "perc", "conga", "bongo", "clave", "zap"),
}
# Tempos per family, taken in turn (90 to 174 BPM in all).
TEMPOS = {
    "four_floor": (118, 122, 124, 126, 128, 130, 132, 135, 138, 140, 125, 120),
    "breakbeat": (170, 174, 160, 165, 172, 90, 100),
    "swung": (130, 132, 135, 140, 90, 160, 100, 110),
    "half_time": (90, 140, 100, 150),
    "other": (90, 100, 110, 140, 150, 160, 174, 120),
}
# Variants, taken in turn per half: what happens to the plain score.
VARIANTS = ("plain", "mix", "fills", "swing", "mix_noise", "ramp", "break", "step")


def kits() -> list[str]:
    return sorted(p.name for p in KITS_DIR.iterdir() if (p / "drumkit.xml").exists()) if KITS_DIR.is_dir() else []


@functools.cache
def kit_voices(kit: str) -> dict:
    """lane -> list of mono float32 samples (one per instrument found), from the kit's names."""

    root = KITS_DIR / kit
    xml = (root / "drumkit.xml").read_text(encoding="utf-8", errors="replace")
    instruments = []
    for block in re.findall(r"<instrument>(.*?)</instrument>", xml, re.S):
        name = re.search(r"<name>([^<]*)</name>", block)
        files = re.findall(r"<filename>([^<]+)</filename>", block)
        if name and files:
            instruments.append((name.group(1).strip().lower(), files[len(files) * 2 // 3]))
    voices: dict = {}
    for lane, words in LANE_WORDS.items():
        for word in words:
            found = [f for n, f in instruments if re.search(rf"(^|[^a-z]){re.escape(word)}", n)]
            if found:
                voices[lane] = [_load(root / f) for f in found[:3]]
                break
    for lane in LANE_WORDS:  # a lane the kit has nothing for: the kit's first instrument quietly
        if lane not in voices or not any(len(v) for v in voices[lane]):
            voices[lane] = [0.4 * _load(root / instruments[0][1])]
    return voices


def _load(path: pathlib.Path) -> np.ndarray:
    import soundfile

    try:
        data, rate = soundfile.read(str(path), dtype="float32", always_2d=True)
    except Exception:
        return np.zeros(1, dtype=np.float32)
    mono = data.mean(axis=1)
    if rate != RATE:
        n = int(len(mono) * RATE / rate)
        mono = np.interp(np.arange(n) * rate / RATE, np.arange(len(mono)), mono).astype(np.float32)
    mono = mono[: int(ar.SAMPLE_SECONDS * RATE)].copy()
    fade = min(len(mono), int(0.05 * RATE))
    if fade:
        mono[len(mono) - fade :] *= np.linspace(1.0, 0.0, fade, dtype=np.float32)
    peak = float(np.abs(mono).max()) or 1.0
    return mono / peak


@dataclasses.dataclass(frozen=True)
class TrackPlan:
    style: str
    kit: str
    bpm: float
    variant: str
    half: str  # "dev" or "held"

    @property
    def family(self) -> str:
        return ar.family(self.style)

    @property
    def name(self) -> str:
        return f"{self.style}@{self.kit}:{self.variant}:{self.bpm:g}"

    def seed(self) -> int:
        return int(hashlib.sha256(self.name.encode()).hexdigest()[:8], 16)


def tracks(half: str, per_style: int = 2) -> list[TrackPlan]:
    """The corpus's tracks of one half: each of its styles with `per_style` variants, its kits
    taken in turn."""
    all_kits = kits()
    want = 0 if half == "dev" else 1
    half_kits = [k for i, k in enumerate(all_kits) if i % 2 == want]
    by_family: dict = {}
    for stem in ar.stems():
        by_family.setdefault(ar.family(stem), []).append(stem)
    out = []
    n = 0
    for fam, stems in by_family.items():
        for i, stem in enumerate(stems):
            if i % 2 != want:
                continue
            for j in range(per_style):
                bpm = float(TEMPOS[fam][(i + 3 * j) % len(TEMPOS[fam])])
                variant = VARIANTS[n % len(VARIANTS)]
                out.append(TrackPlan(stem, half_kits[n % len(half_kits)], bpm, variant, half))
                n += 1
    return out


@dataclasses.dataclass
class Rendered:
    plan: TrackPlan
    audio: np.ndarray
    beats: np.ndarray  # true beat times (s from the first sample)
    downbeats: np.ndarray
    bpm: np.ndarray  # tempo at each beat
    break_span: tuple | None  # (first beat, end beat) without kick

    @property
    def steady(self) -> bool:
        return self.plan.variant not in ("ramp", "step")


def _tempo_map(plan: TrackPlan) -> ar.TempoMap:
    if plan.variant == "ramp":
        return ar.ramp(plan.bpm, plan.bpm * 1.06, 32, 32)
    if plan.variant == "step":
        return ar.step(plan.bpm, plan.bpm * 1.05, 48)
    return ar.steady(plan.bpm)


def render(plan: TrackPlan) -> Rendered:
    """Renders (or reads from the cache) one track."""
    CACHE.mkdir(parents=True, exist_ok=True)
    key = hashlib.sha256(plan.name.encode()).hexdigest()[:16]
    cached = CACHE / f"{key}.npz"
    if cached.exists():
        d = np.load(cached, allow_pickle=False)
        span = tuple(int(x) for x in d["span"]) if len(d["span"]) else None
        return Rendered(plan, d["audio"], d["beats"], d["downbeats"], d["bpm"], span)
    r = _render(plan)
    np.savez(
        cached,
        audio=r.audio,
        beats=r.beats,
        downbeats=r.downbeats,
        bpm=r.bpm,
        span=np.array(r.break_span if r.break_span else [], dtype=np.int64),
    )
    return r


def _render(plan: TrackPlan) -> Rendered:
    rng = np.random.default_rng(plan.seed())
    tempo = _tempo_map(plan)
    period, events = ar.score(plan.style)
    lead_in = 0.25
    n_beats = int(SECONDS * plan.bpm / 60.0 * 1.08) + 4
    res = 64
    grid = tempo.times(n_beats, res) + lead_in

    def time_of(pip: float) -> float:
        pos = pip / ar.PIPS_PER_BEAT * res
        i = min(int(pos), len(grid) - 2)
        return grid[i] + (grid[i + 1] - grid[i]) * (pos - i)

    total = int((SECONDS + 0.5) * RATE)
    audio = np.zeros(total, dtype=np.float32)
    voices = kit_voices(plan.kit)
    swing = 0.0
    if plan.variant == "swing":
        swing = 0.08 + 0.2 * rng.random()  # the second sixteenth of each eighth this much of an eighth late
    jitter_s = 0.004 + 0.008 * rng.random()  # humanised timing (Gaussian, s)
    br = (32, 48) if plan.variant == "break" else None
    fills = plan.variant == "fills"
    counts: dict = {}
    notes = []
    for rep in range(0, n_beats * ar.PIPS_PER_BEAT, period):
        for pip, lane, v in events:
            p = float(rep + pip)
            beat = p / ar.PIPS_PER_BEAT
            if beat >= n_beats:
                continue
            if br and lane in ("kick", "bass") and br[0] <= beat < br[1]:
                continue
            if fills and int(beat) % 32 >= 30 and lane not in ("kick",):
                continue  # the last two beats of every eight bars: a fill instead
            notes.append((p, lane, v))
    if fills:
        for b0 in range(30, n_beats, 32):
            for s in range(8):  # sixteenths on the toms and snare
                lane = "tom" if s < 6 else "snare"
                notes.append(((b0 + s / 4) * ar.PIPS_PER_BEAT, lane, 0.6 + 0.05 * s))
    for p, lane, v in sorted(notes):
        step16 = (p / ar.PIPS_PER_STEP) % 2
        if swing and abs(step16 - 1.0) < 1e-6:
            p += swing * 2 * ar.PIPS_PER_STEP
        t = time_of(p) + rng.normal(0.0, jitter_s)
        vel = float(np.clip(v * (1.0 + rng.normal(0.0, 0.12)), 0.05, 1.0))
        if lane == "bass":
            sound = ar._bass() * vel
        else:
            k = counts[lane] = counts.get(lane, -1) + 1
            options = voices[lane]
            sound = options[k % len(options)] * vel
        at = int(round(max(0.0, t) * RATE))
        if at >= total:
            continue
        end = min(total, at + len(sound))
        audio[at:end] += sound[: end - at]
    beats = grid[::res][:n_beats]
    keep = beats < SECONDS
    beats = beats[keep]
    if plan.variant in ("mix", "mix_noise"):
        audio += _backing(beats, rng, total) * float(np.sqrt(np.mean(audio**2)) / 0.1)
    peak = float(np.max(np.abs(audio))) or 1.0
    audio *= 0.7 / peak
    if plan.variant == "mix_noise":
        rms = float(np.sqrt(np.mean(audio**2)))
        audio += rng.standard_normal(total).astype(np.float32) * rms * 10 ** (-10 / 20)
        audio *= 0.9 / float(np.max(np.abs(audio)))
    bpm = np.array([tempo.bpm_at(b) for b in range(len(beats))])
    return Rendered(plan, audio.astype(np.float32), beats, beats[:: ar.BEATS_PER_BAR], bpm, br)


def _backing(beats: np.ndarray, rng, total: int) -> np.ndarray:
    """A bass line (a root per bar, eighths with some offbeat pushes), chords changing at each bar
    line (a soft saw pad) and a few arpeggio notes: about RMS 0.1."""
    out = np.zeros(total, dtype=np.float64)
    roots = (0, 5, 7, 3, 8, 10)
    progression = [roots[int(rng.integers(len(roots)))] for _ in range(4)]
    base = 55.0 * 2 ** (int(rng.integers(0, 5)) / 12)
    for i in range(0, len(beats) - 1, ar.BEATS_PER_BAR):
        bar_end = beats[min(i + ar.BEATS_PER_BAR, len(beats) - 1)]
        root = base * 2 ** (progression[(i // ar.BEATS_PER_BAR) % 4] / 12)
        # chord: root, third, fifth an octave up, through the bar
        a, b = int(beats[i] * RATE), int(bar_end * RATE)
        t = np.arange(b - a) / RATE
        env = np.minimum(1.0, t / 0.05) * np.exp(-t / 3.0)
        pad = sum(np.sin(2 * np.pi * root * 4 * 2 ** (s / 12) * t + k) for k, s in enumerate((0, 4, 7)))
        out[a:b] += 0.05 * env * pad
        for j in range(ar.BEATS_PER_BAR):
            if i + j + 1 >= len(beats):
                break
            p = beats[i + j + 1] - beats[i + j]
            for half in (0.0, 0.5):
                if half and rng.random() < 0.5:
                    continue
                start = beats[i + j] + half * p
                n = int(0.4 * p * RATE)
                s0 = int(start * RATE)
                t = np.arange(min(n, total - s0)) / RATE
                if not len(t):
                    continue
                note = np.sin(2 * np.pi * root * t) * np.exp(-t / 0.15) * np.minimum(1.0, t / 0.01)
                out[s0 : s0 + len(t)] += 0.25 * note
    return out.astype(np.float32)


def all_tracks() -> list[TrackPlan]:
    return tracks("dev") + tracks("held")


def family_label(fam: str) -> str:
    return {
        "four_floor": "four-on-the-floor",
        "breakbeat": "breakbeat",
        "swung": "swung",
        "half_time": "half-time",
        "other": "other syncopated",
    }[fam]


def target_group(plan: TrackPlan) -> str | None:
    """Which target a track counts for: "straight" (four-on-the-floor; F >= 0.95), "swung"
    (swung and breakbeat; F >= 0.90) or None (the mean only)."""
    if plan.variant == "swing" or plan.family in ("swung", "breakbeat"):
        return "swung"
    if plan.family == "four_floor":
        return "straight"
    return None
