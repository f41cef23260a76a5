"""The audio tempo model measured on music it was not tuned on.

    nice -n 10 python bench/live/audio_model_bench.py [--report bench/RESULTS.md] [--tune] [--quick]

Corpus (bench/live/audio_corpus.py): the beat matrix's styles on every hydrogen-data kit,
humanised, with swing, fills, tempo changes, breaks and mixes, split in a development half and a
held-out half (styles and kits apart); recorded music (bench/live/audio_recorded.py) split the
same way. `--tune` chooses the model's parameters on the development half only (a small grid);
the figures are the held-out half's, the development half's apart. Every track starts at 120 BPM
in the show; ranges are generic: [88, 176] and none. F counts from 5 s after the start.

The model runs on each track's features (computed once, as the audio input computes them, and
each hop handed over when its block of 1024 samples has sounded), the clock at 40 frames a
second; aubio's tracker alone is scored on the same tracks as a baseline.
"""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import hashlib
import math
import pathlib
import pickle
import statistics
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(ROOT / "tests" / "python"))

import audio_corpus as corpus  # noqa: E402
import audio_render as ar  # noqa: E402
import numpy as np  # noqa: E402
import sections  # noqa: E402
from kinetra_live.clock import Clock  # noqa: E402
from kinetra_live.tempo import audio  # noqa: E402

TITLE = "Audio tempo model on unseen music"
FPS = 40.0
BLOCK = 1024  # samples per block of the file input
SCORE_FROM_S = 5.0
TOLERANCE = 0.070
GENERIC = (88.0, 176.0)
RANGES = {"[88, 176]": GENERIC, "none": None}
FEATURES = ROOT / "build" / "audio-features"
ROWS = ROOT / "build" / "audio-bench-rows.pkl"  # the last run's rows, for --report-only
# The tuning grid: each entry changes the defaults; the first is the defaults themselves.
GRID = (
    {},
    {"kick": 1.2},
    {"body": 0.5},
    {"threshold": 6.0},
    {"down_body": 1.0},
)


# ---- running ----------------------------------------------------------------------------------


def features(audio_data: np.ndarray, rate: int, key: str):
    """(times, onsets, trust) of every hop, cached."""
    FEATURES.mkdir(parents=True, exist_ok=True)
    made = (audio.HOP_S, audio.WINDOW_S, audio.KICK_BAND, audio.BODY_BAND, audio.LOG_GAIN, audio.LEVEL_S)
    made += (audio.REFERENCE_FORGET_S, audio.FEATURE_LAG_S, audio.BREAK_SHARE, audio.SILENCE_DB, audio.SILENCE_S)
    version = hashlib.sha256(repr(made).encode()).hexdigest()[:8]  # features made otherwise: made again
    path = FEATURES / f"{key}-{version}.npz"
    if path.exists():
        d = np.load(path)
        return d["t"], d["on"], d["trust"]
    f = audio.Features(rate)
    out = []
    for i in range(0, len(audio_data), BLOCK):
        out += f.feed(audio_data[i : i + BLOCK], i / rate)
    t = np.array([o[0] for o in out])
    on = np.array([o[1] for o in out])
    trust = np.array([o[2] for o in out])
    np.savez(path, t=t, on=on, trust=trust)
    return t, on, trust


@dataclasses.dataclass
class Run:
    frames: np.ndarray  # now, bpm, t0
    lock: float | None
    cpu: float


def run_model(feats, rate: int, bpm_range, params=None, frame_s: float = 441 / 44100) -> Run:
    t, on, trust = feats
    # a hop is handed over once the block holding its end has sounded
    hop_end = t + audio.FEATURE_LAG_S
    avail = np.ceil(hop_end * rate / BLOCK - 1e-9) * BLOCK / rate
    f = audio.Follower(120.0, bpm_range, 4, frame_s, params)
    clock = Clock(120.0, 0.0)
    rows = []
    lock = None
    i = 0
    n = len(t)
    c0 = time.process_time()
    end = float(t[-1]) if n else 0.0
    for j in range(int(end * FPS) + 1):
        now = j / FPS
        while i < n and avail[i] <= now:
            f.hear(float(t[i]), on[i], float(trust[i]))
            i += 1
        f.update(clock, now)
        if lock is None and f.locked:
            lock = now
        rows.append((now, clock.bpm, clock.t0))
    cpu = (time.process_time() - c0) / max(1e-9, end)
    return Run(np.array(rows), lock, cpu)


def aubio_beats(audio_data: np.ndarray, rate: int) -> np.ndarray:
    """aubio's online tracker alone (its "complex" onset function, hop 5.8 ms): its beats."""
    import aubio

    hop = 256
    tr = aubio.tempo("complex", hop * 4, hop, rate)
    out = []
    x = np.ascontiguousarray(audio_data, dtype=np.float32)
    for i in range(0, len(x) - hop, hop):
        if tr(x[i : i + hop])[0]:
            out.append(float(tr.get_last_s()))
    return np.array(out)


# ---- scoring ----------------------------------------------------------------------------------


def clock_lines(frames: np.ndarray, after: float, every: int = 1) -> np.ndarray:
    out = []
    prev = None
    for now, bpm, t0 in frames:
        p = (now - t0) * bpm / 60.0
        if prev is not None and now >= after:
            for k in range(math.floor(prev) + 1, math.floor(p) + 1):
                if k % every == 0:
                    out.append(t0 + k * 60.0 / bpm)
        prev = p
    return np.array(out)


def any_level_f(found: np.ndarray, beats: np.ndarray) -> float:
    """The best F over the truth's other metrical levels: itself, double, half (both phases) and
    the offbeats."""
    mid = (beats[:-1] + beats[1:]) / 2
    double = np.sort(np.concatenate((beats, mid)))
    levels = [beats, double, beats[::2], beats[1::2], mid]
    return max(ar.f_measure(found, lv, TOLERANCE) for lv in levels)


def flips(found: np.ndarray, beats: np.ndarray, lock: float | None) -> int:
    """Moves of the clock from the beats to the offbeats after its lock: runs of at least four
    beats on the offbeats after at least four on the beats."""
    if lock is None or len(found) < 8:
        return 0
    truth = beats[beats >= lock]
    if len(truth) < 8:
        return 0
    period = np.diff(beats).mean()
    off = ar.offsets(found, truth)
    state = np.where(np.abs(off) <= TOLERANCE, 1, np.where(np.abs(np.abs(off) - period / 2) <= TOLERANCE, -1, 0))
    n, run, cur, was_on = 0, 0, 0, False
    for s in state:
        run = run + 1 if s == cur else 1
        cur = s
        if run == 4:
            if cur == 1:
                was_on = True
            elif cur == -1 and was_on:
                n += 1
                was_on = False
    return n


def score(run: Run, beats: np.ndarray, downbeats: np.ndarray, bpm_true: float) -> dict:
    after = SCORE_FROM_S
    last = beats[-1] + TOLERANCE
    found = clock_lines(run.frames, after)
    found = found[found <= last]
    truth = beats[beats >= after]
    bars = clock_lines(run.frames, after, 4)
    bars = bars[bars <= last]
    late = run.frames[run.frames[:, 0] >= max(10.0, beats[-1] - 10.0)]
    tempo = float(np.median(late[:, 1])) if len(late) else math.nan
    ratio = tempo / bpm_true if bpm_true else math.nan
    octave = any(abs(ratio / r - 1) < 0.04 for r in (2.0, 0.5))
    on = found[(found >= beats[0]) & (found <= last)]
    off = ar.offsets(on, truth) if len(on) else np.array([])
    return dict(
        f=ar.f_measure(found, truth, TOLERANCE),
        f_any=any_level_f(found, truth),
        bar_f=ar.f_measure(bars, downbeats[downbeats >= after], TOLERANCE),
        lock=(run.lock - beats[0]) if run.lock is not None else math.inf,
        flips=flips(found, beats, run.lock),
        octave=octave,
        offbeat=ar.f_measure(found, (truth[:-1] + truth[1:]) / 2, TOLERANCE) > 0.8,
        latency=float(np.median(off[np.abs(off) < TOLERANCE])) if np.any(np.abs(off) < TOLERANCE) else math.nan,
        cpu=run.cpu,
    )


def score_aubio(beats_found: np.ndarray, beats: np.ndarray) -> dict:
    found = beats_found[beats_found >= SCORE_FROM_S]
    truth = beats[beats >= SCORE_FROM_S]
    return dict(f=ar.f_measure(found, truth, TOLERANCE), f_any=any_level_f(found, truth))


# ---- the corpus -------------------------------------------------------------------------------


def drum_case(plan: corpus.TrackPlan):
    r = corpus.render(plan)
    key = hashlib.sha256(plan.name.encode()).hexdigest()[:16]
    return r, features(r.audio, corpus.RATE, key)


def run_drums(plans, params=None, ranges=RANGES, with_aubio=True, log=print) -> list[dict]:
    rows = []
    for i, plan in enumerate(plans):
        r, feats = drum_case(plan)
        row = dict(plan=plan, group=corpus.target_group(plan), family=plan.family)
        for label, rng in ranges.items():
            row[label] = score(run_model(feats, corpus.RATE, rng, params), r.beats, r.downbeats, plan.bpm)
        if with_aubio:
            row["aubio"] = score_aubio(aubio_beats(r.audio, corpus.RATE), r.beats)
        rows.append(row)
        if log:
            g = row["[88, 176]"]
            log(f"  {i + 1}/{len(plans)} {plan.name:55s} F {g['f']:.3f} bar {g['bar_f']:.2f} lock {g['lock']:.1f}")
    return rows


def run_recorded(tracks, params=None, log=print) -> list[dict]:
    import soundfile

    rows = []
    for i, tr in enumerate(tracks):
        data, rate = soundfile.read(tr["path"], dtype="float32")
        key = "rec-" + hashlib.sha256(tr["name"].encode()).hexdigest()[:16]
        feats = features(data, rate, key)
        row = dict(name=tr["name"], bpm=tr["bpm"], half=tr["half"])
        for label, rng in RANGES.items():
            row[label] = score(run_model(feats, rate, rng, params), tr["beats"], tr["downbeats"], tr["bpm"])
        row["aubio"] = score_aubio(aubio_beats(data, rate), tr["beats"])
        rows.append(row)
        if log:
            g = row["[88, 176]"]
            log(
                f"  rec {i + 1}/{len(tracks)} {tr['bpm']:5.1f} F {g['f']:.3f} any {g['f_any']:.2f} bar {g['bar_f']:.2f}"
            )
    return rows


# ---- tuning -------------------------------------------------------------------------------------


def objective(rows) -> float:
    fs = [r["[88, 176]"]["f"] for r in rows] + [r["none"]["f"] for r in rows if "none" in r]
    bars = [r["[88, 176]"]["bar_f"] for r in rows if r["group"] == "straight"]
    return statistics.mean(fs) + 0.5 * min(fs) + 0.2 * (statistics.mean(bars) if bars else 0.0)


def tune(plans, log=print):
    """The grid's best on the development half (both ranges)."""
    results = []
    for change in GRID:
        params = dataclasses.replace(audio.Params(), **change)
        rows = run_drums(plans, params, with_aubio=False, log=None)
        value = objective(rows)
        results.append((value, change))
        mean = statistics.mean(r["[88, 176]"]["f"] for r in rows)
        log(f"tune {change or 'defaults'}: {value:.4f} (mean F {mean:.3f})")
    best = max(results, key=lambda x: x[0])
    return dataclasses.replace(audio.Params(), **best[1]), results


# ---- the report ---------------------------------------------------------------------------------


def fmt(x, digits=3):
    if x is None or (isinstance(x, float) and (math.isnan(x) or math.isinf(x))):
        return "-"
    return f"{x:.{digits}f}"


def summary(rows, label) -> dict:
    s = [r[label] for r in rows]
    fs = [x["f"] for x in s]
    locks = [x["lock"] for x in s]
    return dict(
        n=len(s),
        mean=statistics.mean(fs) if fs else math.nan,
        min=min(fs) if fs else math.nan,
        any=statistics.mean(x["f_any"] for x in s) if s else math.nan,
        bar=statistics.mean(x["bar_f"] for x in s) if s else math.nan,
        lock_med=statistics.median(locks) if locks else math.nan,
        lock_max=max(locks) if locks else math.nan,
        flips=sum(x["flips"] for x in s),
        octave=sum(x["octave"] for x in s),
        offbeat=sum(x["offbeat"] for x in s),
        under95=sum(f < 0.95 for f in fs),
        under90=sum(f < 0.90 for f in fs),
        worst=min(zip(fs, range(len(fs))))[1] if fs else None,
    )


def table_drums(rows, half_label) -> list[str]:
    out = [
        f"Drum tracks, {half_label}:",
        "",
        "| Group (tracks) | range | F mean | F min | F under 0.95 / 0.90 | F any level | bar-line F "
        "| lock median (largest) | offbeat flips | octave errors | aubio alone F mean (min) | model >= aubio |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    groups = [
        ("straight", "four-on-the-floor"),
        ("swung", "swung and breakbeat"),
        (None, "other (half-time, syncopated)"),
    ]
    for key, name in groups + [("all", "all")]:
        sel = [r for r in rows if key == "all" or r["group"] == key]
        if not sel:
            continue
        au = [r["aubio"]["f"] for r in sel]
        for label in RANGES:
            s = summary(sel, label)
            better = sum(r[label]["f"] >= r["aubio"]["f"] - 1e-9 for r in sel)
            out.append(
                f"| {name} ({s['n']}) | {label} | {fmt(s['mean'])} | {fmt(s['min'])} | {s['under95']} / {s['under90']} "
                f"| {fmt(s['any'])} | {fmt(s['bar'], 2)} | {fmt(s['lock_med'], 1)} s ({fmt(s['lock_max'], 1)} s) "
                f"| {s['flips']} | {s['octave']} | {fmt(statistics.mean(au))} ({fmt(min(au))}) | {better} of {s['n']} |"
            )
    return out


def lowest(rows, label, n=6) -> str:
    worst = sorted(rows, key=lambda r: r[label]["f"])[:n]
    return ", ".join(f"{r['plan'].name} {r[label]['f']:.3f}" for r in worst)


READING = (
    "Reading: the model locks fast (median 2.4 s) and puts the clock on the sound within a millisecond; on "
    "recorded music it is on the beat of every kept track (none on the offbeat) with a mean F above its target, "
    "and without a range it makes no octave error on tracks with a kick on every beat. The downbeat is weighed by "
    "the kick on the one and the snare on two and four (what else lands on the one does not count against it), "
    "which puts the bar right on most four-on-the-floor tracks; where 1 and 3 sound alike it stays a guess. It "
    "does not meet the accuracy targets on the held-out drums: a few four-on-the-floor mixes and steps drop to "
    "0.83-0.95, and the worst swung, breakbeat and syncopated tracks (electro, amen and jungle chops, footwork "
    "triplets, dubstep skip) are followed at the right tempo on the wrong phase or at another metrical level (see "
    "F at any level); a few of them take over 6 s to lock. aubio's tracker alone is mostly at the right tempo on "
    "the offbeats (F at any level near 0.85, F at the beat's level near 0.4); the model is as good or better on "
    "most held-out tracks, not on all. The beat matrix has no rock or pop family: the four-on-the-floor target is "
    "taken on four-on-the-floor styles. On the development half a lighter kick (1.2) scored a little higher "
    "(1.0115 against 1.0089) but made the model hear fast tempos at half time and a slow one at double on the "
    "tests' rendered beats; the default (1.5) is kept and measured here."
)
STEADY_DRUMS = ("plain", "mix", "swing", "mix_noise", "ramp")  # variants whose drums do not change


def cpu_whole() -> tuple[float, float]:
    """Features and model together per second of audio at 44.1 kHz (a 128 BPM house track):
    with the generic range and with none."""
    track = ar.render("house_classic", 128.0, 32)
    out = []
    for rng in (GENERIC, None):
        feats = audio.Features(track.rate)
        f = audio.Follower(120.0, rng, 4, feats.frame_s)
        c0 = time.process_time()
        for i in range(0, len(track.audio), BLOCK):
            for t, on, trust in feats.feed(track.audio[i : i + BLOCK], i / track.rate):
                f.hear(t, on, trust)
        out.append((time.process_time() - c0) / (len(track.audio) / track.rate))
    return out[0], out[1]


def targets(rows, rec) -> list[str]:
    """The issue's targets on the held-out half (generic range, start at 120 BPM)."""
    g = "[88, 176]"
    straight = [r for r in rows if r["group"] == "straight"]
    swung = [r for r in rows if r["group"] == "swung"]
    locks = [r[g]["lock"] for r in rows]
    steady = [r for r in rows if r["plan"].variant in STEADY_DRUMS]
    kick_on_beat = [r for r in rows if r["family"] == "four_floor" and 90 <= r["plan"].bpm <= 180]
    cpu_range, cpu_none = cpu_whole()
    lat = [r[g]["latency"] for r in rows if not math.isnan(r[g]["latency"])]
    lines = [
        "Targets (held-out half, range [88, 176], every track starting at 120 BPM):",
        "",
        "| Target | Measured | Met |",
        "|---|---|---|",
    ]

    def row(name, measured, ok):
        lines.append(f"| {name} | {measured} | {'met' if ok else 'not met'} |")

    fs = [r[g]["f"] for r in straight]
    if fs:
        row(
            "F >= 0.95 on every four-on-the-floor track",
            f"min {min(fs):.3f}, {sum(f < 0.95 for f in fs)} of {len(fs)} under",
            min(fs) >= 0.95,
        )
    fs = [r[g]["f"] for r in swung]
    if fs:
        row(
            "F >= 0.90 on every swung and breakbeat track",
            f"min {min(fs):.3f}, {sum(f < 0.90 for f in fs)} of {len(fs)} under",
            min(fs) >= 0.90,
        )
    fs = [r[g]["f"] for r in rows]
    row(
        "mean F >= 0.97 (all held-out tracks)",
        f"{statistics.mean(fs):.3f} ({len(fs)} tracks)",
        statistics.mean(fs) >= 0.97,
    )
    bars = [r[g]["bar_f"] for r in straight]
    if bars:
        row(
            "bar-line F >= 0.90 on four-on-the-floor tracks",
            f"mean {statistics.mean(bars):.2f}, min {min(bars):.2f}, {sum(b < 0.9 for b in bars)} of {len(bars)} under",
            min(bars) >= 0.90,
        )
    row("time to lock: median <= 3 s", f"{statistics.median(locks):.1f} s", statistics.median(locks) <= 3.0)
    row("time to lock: largest <= 6 s", f"{max(locks):.1f} s", max(locks) <= 6.0)
    flips_n = sum(r[g]["flips"] for r in steady)
    row("offbeat flips after the lock, drums that do not change", f"{flips_n} on {len(steady)} tracks", flips_n == 0)
    octs = sum(r["none"]["octave"] for r in kick_on_beat)
    row("no range: octave errors, kick on every beat, 90-180 BPM", f"{octs} of {len(kick_on_beat)}", octs == 0)
    row(
        "features and model CPU at 44.1 kHz, share of one core",
        f"{100 * cpu_range:.2f} % (no range: {100 * cpu_none:.2f} %)",
        max(cpu_range, cpu_none) < 0.05,
    )
    row(
        "sound to clock: median (clock's beat - true beat)",
        f"{1000 * statistics.median(lat):.1f} ms",
        abs(statistics.median(lat)) < 0.020,
    )
    if rec:
        fs = [r[g]["f"] for r in rec]
        anyf = [r[g]["f_any"] for r in rec]
        off = sum(r[g]["offbeat"] for r in rec)
        bars = [r[g]["bar_f"] for r in rec]
        row(
            "recorded music: mean F >= 0.85 at the truth's level",
            f"{statistics.mean(fs):.3f} ({len(fs)} tracks)",
            statistics.mean(fs) >= 0.85,
        )
        row(
            "recorded music: mean F >= 0.92 at any level", f"{statistics.mean(anyf):.3f}", statistics.mean(anyf) >= 0.92
        )
        row("recorded music: no track on the offbeat", f"{off}", off == 0)
        row("recorded music: bar-line F >= 0.75", f"mean {statistics.mean(bars):.2f}", statistics.mean(bars) >= 0.75)
    both = rows + rec
    better = sum(r[g]["f"] >= r["aubio"]["f"] - 1e-9 for r in both)
    row(
        "at least as good as aubio's tracker alone on every track",
        f"{better} of {len(both)} tracks",
        better == len(both),
    )
    return lines


def main(argv=None):
    ap = argparse.ArgumentParser()
    ap.add_argument("--report", help="write the section into this RESULTS.md")
    ap.add_argument("--tune", action="store_true", help="choose the parameters on the development half")
    ap.add_argument("--quick", action="store_true", help="one variant per style (half the tracks)")
    ap.add_argument("--no-recorded", action="store_true")
    ap.add_argument("--recorded-limit", type=int, default=None)
    ap.add_argument("--limit", type=int, default=None, help="at most this many drum tracks per half (a smoke run)")
    ap.add_argument("--report-only", action="store_true", help="the report again from the last run's rows")
    args = ap.parse_args(argv)
    if args.report_only:
        saved = pickle.loads(ROWS.read_bytes())
        text = "\n".join(report(**saved))
        print(text)
        if args.report:
            sections.replace(args.report, TITLE, text)
        return
    started = time.time()
    per_style = 1 if args.quick else 2
    dev, held = corpus.tracks("dev", per_style)[: args.limit], corpus.tracks("held", per_style)[: args.limit]
    print(f"{len(dev)} development tracks, {len(held)} held-out tracks; kits {', '.join(corpus.kits())}", flush=True)
    params = audio.Params()
    tuning = []
    if args.tune:
        params, tuning = tune(corpus.tracks("dev", 1))  # one variant per style: the grid stays bounded
        print(f"chosen: {params}", flush=True)
    held_rows = run_drums(held, params)
    dev_rows = run_drums(dev, params)
    rec_rows, rec_total, rec_kept = [], 0, 0
    if not args.no_recorded:
        import audio_recorded

        tracks = audio_recorded.prepare(args.recorded_limit)
        rec_total = tracks[0]["total"] if tracks else 0
        rec_kept = len(tracks)
        rec_rows = run_recorded(tracks, params)
    saved = dict(
        params=params,
        tuning=tuning,
        dev_rows=dev_rows,
        held_rows=held_rows,
        rec_rows=rec_rows,
        rec_total=rec_total,
        rec_kept=rec_kept,
        seconds=time.time() - started,
    )
    ROWS.parent.mkdir(parents=True, exist_ok=True)
    ROWS.write_bytes(pickle.dumps(saved))
    lines = report(**saved)
    text = "\n".join(lines)
    print(text)
    if args.report:
        sections.replace(args.report, TITLE, text)


def report(params, tuning, dev_rows, held_rows, rec_rows, rec_total, rec_kept, seconds) -> list[str]:
    now = datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%d %H:%M UTC")
    kits = corpus.kits()
    out = [
        f"Measured by `bench/live/audio_model_bench.py` on {now}. Drum tracks: the beat matrix's styles on the "
        f"{len(kits)} kits of Debian's hydrogen-data, {corpus.SECONDS:.0f} s each, humanised (timing 4-12 ms, velocity "
        "12 %), variants in turn: plain, a mix (synthesised bass line, chords changing at the bar), fills every eight "
        "bars, swing (8-28 % of an eighth), a mix with noise 10 dB down, a ramp (+6 % over 8 bars), a break (4 bars "
        "without kick), a step (+5 %). Halves: styles alternate within each family and kits alternate by name; the "
        "development half has its own styles and kits, the held-out half the others. Every track starts at 120 BPM "
        "in the show; F (+/-70 ms) counts from 5 s after the start, bar-line F is the clock's bar lines against the "
        "true downbeats; lock time from the first beat; an offbeat flip is a run of 4 beats on the offbeats after a "
        "run of 4 on the beats; an octave error is a clock at twice or half the tempo over the last 10 s. The "
        "model's features are computed as the input computes them and each hop is handed over when its block of "
        "1024 samples has sounded; the clock runs at 40 fps.",
        "",
    ]
    if tuning:
        out.append(
            "Parameters chosen on the development half (one variant per style, both ranges; objective: mean F "
            "+ half the lowest F + a fifth of the four-on-the-floor bar-line F): "
            + "; ".join(f"{c or 'defaults'} {v:.3f}" for v, c in tuning)
            + f". Chosen: { ({k: v for k, v in dataclasses.asdict(params).items()}) }."
        )
        out.append("")
    out += table_drums(held_rows, f"held-out half ({len(held_rows)} tracks)")
    out.append("")
    out += table_drums(dev_rows, f"development half ({len(dev_rows)} tracks, for comparison)")
    out.append("")
    out.append(f"Lowest F, held-out, range [88, 176]: {lowest(held_rows, '[88, 176]')}.")
    out.append(f"Lowest F, held-out, no range: {lowest(held_rows, 'none')}.")
    out.append("")
    if rec_rows:
        out.append(
            f"Recorded music: the soundtracks of {', '.join(__import__('audio_recorded').PACKAGES)} "
            f"(first 60 s of each track); truth from madmom's offline downbeat tracker (evaluation only), kept where "
            f"its beats lie on one constant-tempo grid within 35 ms: {rec_kept} of {rec_total} tracks kept, split "
            "alternately into halves."
        )
        out.append("")
        out.append(
            "| Half (tracks) | range | F mean (min) | F any level mean | tracks on the offbeat | octave errors "
            "| bar-line F | aubio alone F (any level) | model >= aubio |"
        )
        out.append("|---|---|---|---|---|---|---|---|---|")
        for half in ("held", "dev"):
            sel = [r for r in rec_rows if r["half"] == half]
            if not sel:
                continue
            for label in RANGES:
                s = [r[label] for r in sel]
                au = [r["aubio"] for r in sel]
                better = sum(r[label]["f"] >= r["aubio"]["f"] - 1e-9 for r in sel)
                out.append(
                    f"| {'held-out' if half == 'held' else 'development'} ({len(sel)}) | {label} "
                    f"| {fmt(statistics.mean(x['f'] for x in s))} ({fmt(min(x['f'] for x in s))}) "
                    f"| {fmt(statistics.mean(x['f_any'] for x in s))} | {sum(x['offbeat'] for x in s)} "
                    f"| {sum(x['octave'] for x in s)} | {fmt(statistics.mean(x['bar_f'] for x in s), 2)} "
                    f"| {fmt(statistics.mean(a['f'] for a in au))} ({fmt(statistics.mean(a['f_any'] for a in au))}) "
                    f"| {better} of {len(sel)} |"
                )
        out.append("")
    out += targets(held_rows, [r for r in rec_rows if r["half"] == "held"])
    out.append("")
    allrows = held_rows + dev_rows
    cpu = [r["[88, 176]"]["cpu"] for r in allrows] + [r["none"]["cpu"] for r in allrows]
    lat = [r["[88, 176]"]["latency"] for r in allrows if not math.isnan(r["[88, 176]"]["latency"])]
    out.append(
        f"Model CPU (features excluded; the filter, its grid and the clock), share of one core: median "
        f"{100 * statistics.median(cpu):.2f} %, largest {100 * max(cpu):.2f} % (no range is the larger state "
        f"space). Sound to clock: median of (clock's beat - true beat) on the beats within 70 ms: "
        f"{1000 * statistics.median(lat):.1f} ms."
    )
    out.append("")
    out.append(READING)
    out.append("")
    out.append(f"The whole run took {seconds:.0f} s.")
    return out


if __name__ == "__main__":
    main()
