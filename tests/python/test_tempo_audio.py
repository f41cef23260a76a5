"""The audio tempo source: the bar-pointer model on made-up onsets and simulated time, the
whole path on drum tracks rendered from the beat matrix's scores, and bad input."""

import builtins
import math
import random
import re
import types

import pytest
from kinetra_live.clock import CATCH_UP, Clock
from kinetra_live.tempo import audio

np = pytest.importorskip("numpy")
Follower = audio.Follower

FPS = 40.0
HOP = 0.01
CLOSE_S = 0.015  # a clock this close to the music's beat is on it (a hop and a half)
# What the features make of each sound: (kick band, body band, broadband flux)
SOUNDS = {"kick": (3.0, 2.0, 1.3), "snare": (1.2, 3.0, 1.5), "hat": (0.3, 0.9, 1.4)}


def tempo(bpm=120.0, bpm_range=None, device=None):
    return types.SimpleNamespace(
        bpm=bpm, source="audio", beats_per_bar=4, latency_ms=0.0, bpm_range=bpm_range, audio_device=device
    )


def onsets(bpm, until, t0=0.0, start=0.0, kick=(0, 1, 2, 3), snare=(), hats=True, seed=3, jitter=0.003):
    """Feature frames (t, onsets) of a drum line: kicks and snares on the given beats of each bar
    (beat 0 of bar 0 at t0), hats on every offbeat; from `start` to `until`."""
    rng = random.Random(seed)
    n = int(round((until - start) / HOP))
    frames = np.zeros((n, 3))
    p = 60.0 / bpm
    k = math.ceil((start - t0) / (p / 2))
    while t0 + k * p / 2 < until:
        t = t0 + k * p / 2 + rng.gauss(0.0, jitter)
        i = int(round((t - start) / HOP)) - 1  # frame i is heard at start + (i + 1) * HOP
        beat = k // 2 % 4
        sounds = []
        if k % 2 == 0:
            sounds += ["kick"] * (beat in kick) + ["snare"] * (beat in snare)
        elif hats:
            sounds.append("hat")
        if 0 <= i < n:
            for s in sounds:
                frames[i] = np.maximum(frames[i], np.array(SOUNDS[s]) * rng.uniform(0.85, 1.0))
        k += 1
    return [(start + (i + 1) * HOP, frames[i]) for i in range(n)]


class Sim:
    """A follower and a clock driven frame by frame."""

    def __init__(self, follower, start=0.0):
        self.f = follower
        self.clock = Clock(120.0, start)
        self.now = start
        self.positions = []  # (now, clock position, bpm)

    def run(self, until, frames=(), trust=1.0, on_frame=None):
        """Clock frames up to `until`; each feature frame is heard in the first clock frame at
        or after its time."""
        pending = list(frames)
        i = 0
        while self.now < until - 1e-9:
            self.now += 1.0 / FPS
            while i < len(pending) and pending[i][0] <= self.now:
                self.f.hear(pending[i][0], pending[i][1], trust)
                i += 1
            self.f.update(self.clock, self.now)
            self.positions.append((self.now, (self.now - self.clock.t0) * self.clock.bpm / 60.0, self.clock.bpm))
            if on_frame:
                on_frame(self)

    def play(self, until, bpm, **kw):
        self.run(until, onsets(bpm, until, start=self.now, **kw))

    def error_s(self, t0, period):
        """Distance (seconds) of the clock's beat nearest `now` from a grid t0 + k * period."""
        q = 60.0 / self.clock.bpm
        beat = self.clock.t0 + round((self.now - self.clock.t0) / q) * q
        d = ((beat - t0) / period) % 1.0
        return min(d, 1.0 - d) * period

    def bar_error_beats(self, t0, period):
        """Beats (0..bars/2) between the clock's bar line nearest `now` and the music's."""
        beats = (self.now - self.clock.t0) * self.clock.bpm / 60.0
        music = (self.now - t0) / period
        d = (beats - music) % 4
        return min(d, 4 - d)


def frame_jumps(sim):
    """Per frame: how far (seconds) the clock moved beyond what its tempo carried it."""
    return [
        abs((p1 - p0) - (n1 - n0) * b0 / 60.0) * 60.0 / b1
        for (n0, p0, b0), (n1, p1, b1) in zip(sim.positions, sim.positions[1:])
    ]


@pytest.mark.parametrize(
    "bpm,bpm_range,t0", [(90.0, None, 0.013), (128.0, (88.0, 176.0), 0.2), (174.0, (88.0, 176.0), 0.05)]
)
def test_locks_quickly_and_follows_a_steady_beat(bpm, bpm_range, t0):
    s = Sim(Follower(120.0, bpm_range))
    s.play(6.0, bpm, t0=t0)
    assert s.f.locked
    s.play(20.0, bpm, t0=t0)
    assert abs(s.clock.bpm - bpm) < 0.2
    assert s.error_s(t0, 60.0 / bpm) < CLOSE_S


@pytest.mark.parametrize("bpm", [92.0, 100.0, 172.0, 178.0])
def test_no_octave_error_without_a_range_when_the_kick_is_on_the_beat(bpm):
    s = Sim(Follower(120.0))
    s.play(20.0, bpm, snare=(1, 3))
    assert abs(s.clock.bpm / bpm - 1) < 0.01


@pytest.mark.parametrize("kick,snare", [((0, 1, 2, 3), ()), ((0, 2), (1, 3)), ((0,), (2,))])
def test_offbeat_hats_do_not_pull_the_grid_off_the_beat(kick, snare):
    bpm = 126.0
    s = Sim(Follower(120.0, (88.0, 176.0)))
    s.play(30.0, bpm, kick=kick, snare=snare)
    assert s.error_s(0.0, 60.0 / bpm) < CLOSE_S


def test_the_bar_line_goes_where_the_kick_is_and_stays_there():
    """Kick on 1, snare on 2 and 4: the downbeat is the kick's beat, whatever beat the clock
    counted as 1 before."""
    bpm = 120.0
    s = Sim(Follower(120.0, (88.0, 176.0)))
    s.clock.t0 = -0.5  # the clock counts one beat early
    s.play(20.0, bpm, kick=(0,), snare=(1, 3))
    assert s.bar_error_beats(0.0, 0.5) < 0.05
    jumps = []
    s.run(40.0, onsets(bpm, 40.0, start=s.now, kick=(0,), snare=(1, 3)), on_frame=lambda sim: None)
    jumps = frame_jumps(s)
    assert s.bar_error_beats(0.0, 0.5) < 0.05
    assert max(jumps[len(jumps) // 2 :]) <= CATCH_UP / FPS + 1e-6


def test_silence_holds_the_grid_the_confidence_falls_and_the_status_says_so():
    bpm = 128.0
    s = Sim(Follower(120.0, (88.0, 176.0)))
    s.play(12.0, bpm)
    confident = s.f.confidence
    gap = [(t, np.zeros(3)) for t in np.arange(12.0, 12.0 + 32 * 60.0 / bpm, HOP)]
    s.run(12.0 + 32 * 60.0 / bpm, gap, trust=0.0)  # eight bars of nothing
    assert s.f.holding(s.now) and s.f.confidence < confident
    assert s.error_s(0.0, 60.0 / bpm) < 0.015 and abs(s.clock.bpm - bpm) < 0.2
    s.play(s.now + 4.0, bpm)
    assert not s.f.holding(s.now) and s.error_s(0.0, 60.0 / bpm) < CLOSE_S


@pytest.mark.parametrize("t0", [0.0, 0.2])
def test_a_tempo_step_is_followed_and_caught_up_without_a_jump(t0):
    s = Sim(Follower(120.0, (88.0, 176.0)))
    s.play(15.0, 120.0)
    s.positions.clear()
    s.run(45.0, onsets(128.0, 45.0, t0=15.0 + t0, start=15.0))
    assert abs(s.clock.bpm - 128.0) < 0.2 and s.error_s(15.0 + t0, 60.0 / 128.0) < CLOSE_S
    assert max(frame_jumps(s)) <= CATCH_UP / FPS + 1e-6


def test_random_onsets_do_not_lock():
    rng = random.Random(9)
    frames = [(t, np.array(SOUNDS["kick"]) * (rng.random() < 0.04)) for t in np.arange(0.01, 30.0, HOP)]
    s = Sim(Follower(120.0, (88.0, 176.0)))
    s.run(30.0, frames)
    assert not s.f.locked and s.clock.bpm == 120.0


@pytest.mark.parametrize(
    "error_s,dt,expected",
    [
        (0.010, 0.025, "slew"),  # a small error: worked off by at most MAX_SLEW_S a beat
        (0.150, 0.025, "catch"),  # a larger one: caught up with at most CATCH_UP of the time
        (0.500, 0.025, "catch"),  # a whole beat (the bar moved): caught up too, never jumped
    ],
)
def test_the_catch_up_never_jumps_once_followed(error_s, dt, expected):
    period = 0.5
    clock = Clock(120.0, 0.0)
    c = audio.CatchUp()
    c.step(clock, 0.0, period, 4, 10.0, dt)  # the first grid: followed at once
    before = clock.beats_at(10.0 + dt)
    c.step(clock, error_s * -1, period, 4, 10.0 + dt, dt)  # the grid error_s earlier: the clock is behind
    moved = (clock.beats_at(10.0 + dt) - before) * period
    limit = audio.MAX_SLEW_S * dt / period if expected == "slew" else CATCH_UP * dt
    assert 0 < moved <= limit + 1e-9


def test_the_first_grid_is_jumped_to_bar_and_all():
    clock = Clock(120.0, 0.0)
    audio.CatchUp().step(clock, 0.3 + 0.5, 0.5, 4, 10.0, 0.025)  # downbeats at 0.8 + 2k
    assert (10.0 - 0.8 - clock.t0) % 2.0 < 1e-9 or abs((clock.t0 - 0.8) % 2.0) < 1e-9


@pytest.mark.parametrize("bpm_range,follows", [((1.0, 999.0), True), ((10.0, 25.0), False), ((300.0, 700.0), False)])
def test_any_show_range_gives_a_model_small_enough_to_follow_in_real_time(bpm_range, follows):
    """A range as wide or as far out as a show may write: the model stays within bounds (and
    with the widest, follows the music at one of its octaves)."""
    f = Follower(120.0, bpm_range)
    assert len(f.model.alpha) < 200_000 and f.range[0] >= audio.MODEL_LOWEST_BPM
    s = Sim(f)
    s.play(12.0, 120.0)
    if follows:
        octave = math.log2(s.clock.bpm / 120.0)
        assert s.f.locked and abs(octave - round(octave)) < 0.01


# ---- the operator -------------------------------------------------------------------------------


def locked_sim(bpm=124.0, until=10.0):
    s = Sim(Follower(120.0, (88.0, 176.0), beats_per_bar=4))
    s.play(until, bpm)
    assert s.f.locked
    return s


def test_tap_sets_tempo_and_phase_at_once():
    s = Sim(Follower(120.0))
    s.run(1.0)
    for i in range(4):
        s.run(2.0 + i * 0.45)
        s.f.tap(s.clock, 2.0 + i * 0.45)
    assert abs(s.clock.bpm - 60 / 0.45) < 1e-6
    assert s.error_s(2.0, 0.45) < 1e-6


def test_taps_move_the_model_to_the_tapped_beat():
    """The model sits half a beat off (a grid on the offbeats); four taps on the beat put it there
    and the music keeps it there."""
    bpm, p = 124.0, 60.0 / 124.0
    s = Sim(Follower(120.0, (88.0, 176.0)))
    s.play(10.0, bpm, t0=p / 2, kick=(0, 1, 2, 3), hats=False)  # the kicks on what becomes the offbeats
    taps = [k * p for k in range(21, 25)]
    for t in taps:
        s.run(t)
        s.f.tap(s.clock, t)
    assert s.error_s(0.0, p) < 0.002
    s.play(20.0, bpm)  # the music now has its kicks on the tapped beats
    assert s.error_s(0.0, p) < CLOSE_S


def test_resync_makes_the_nearest_beat_a_downbeat_and_keeps_the_phase():
    s = locked_sim()
    p = 60.0 / 124.0
    at = 21 * p + 0.02  # the operator hits beat 21 20 ms late
    s.run(at, onsets(124.0, at, start=s.now))
    s.f.resync(s.clock, at)
    pos = (at - s.clock.t0) * s.clock.bpm / 60.0
    assert round(pos) % 4 == 0 and s.error_s(0.0, p) < CLOSE_S
    s.play(at + 8.0, 124.0)
    assert s.bar_error_beats(21 * p, p) < 0.05 and s.error_s(0.0, p) < CLOSE_S


def test_resync_on_an_offbeat_of_the_grid_moves_it_there_for_good():
    """Kicks only on the offbeats of the grid the model took: the operator's downbeat moves the
    grid half a beat, and the music keeps it there."""
    bpm, p = 124.0, 60.0 / 124.0
    s = locked_sim()
    at = 24 * p + p / 2 + 0.01
    s.run(at, onsets(124.0, at, start=s.now))
    s.f.resync(s.clock, at)
    assert s.error_s(p / 2, p) < CLOSE_S
    s.play(30.0, bpm, t0=p / 2)
    assert s.error_s(p / 2, p) < CLOSE_S and s.bar_error_beats(at - 0.01, p) < 0.05


@pytest.mark.parametrize("command,ratio", [("double", 2.0), ("half", 0.5)])
def test_double_and_half_survive_further_music(command, ratio):
    s = locked_sim()
    src = audio.AudioTempo.__new__(audio.AudioTempo)
    src.follower = s.f
    assert src.command(command, None, s.clock, s.now)
    s.play(s.now + 10.0, 124.0)
    assert abs(s.clock.bpm / (124.0 * ratio) - 1) < 0.002
    assert s.error_s(0.0, 60.0 / 124.0 / max(1.0, ratio)) < CLOSE_S  # x2: offbeats are beats too


def test_lock_freezes_the_tempo_and_an_explicit_tempo_wins():
    s = locked_sim()
    s.f.lock()
    s.play(s.now + 8.0, 127.0)
    assert abs(s.clock.bpm - 124.0) < 0.2
    s.f.lock(False)
    s.f.set_bpm(s.clock, s.now, 100.0)
    s.play(s.now + 8.0, 124.0)
    assert s.clock.bpm == pytest.approx(100.0) and s.f.tempo_locked


def test_a_nudge_is_kept():
    s = locked_sim()
    s.f.nudge(s.clock, 0.010)
    s.play(s.now + 10.0, 124.0)
    assert s.error_s(-0.010, 60.0 / 124.0) < 0.008


# ---- the whole path on rendered drums-----------------------------------------------------------


def _audio_ready():
    for mod in ("numpy", "soundfile"):
        try:
            __import__(mod)
        except ImportError:
            return f"{mod} not installed (the audio extra)"
    import audio_render

    return audio_render.kit_missing()


needs_audio = pytest.mark.skipif(_audio_ready() is not None, reason=str(_audio_ready()))


def play(tmp_path, track, bpm_range=None, events=()):
    import audio_render as ar

    path = ar.write(track, str(tmp_path / f"{track.style}.wav"))
    return ar.simulate(
        lambda clock, now: audio.AudioTempo(tempo(120.0, bpm_range), clock, now, {"audio_file": path}),
        track,
        events=events,
    )


@needs_audio
@pytest.mark.parametrize(
    "style,bpm,bpm_range,snr",
    [
        ("four_floor", 90.0, None, None),
        ("house_classic", 124.0, None, 6.0),
        ("techno_drive", 140.0, (88.0, 176.0), None),  # offbeat hats
        ("ukg_skip", 132.0, (88.0, 176.0), None),  # swung
        ("speed_garage", 135.0, None, None),  # the bass on the offbeats
        ("trance", 140.0, (88.0, 176.0), None),  # open hats on the offbeats
    ],
)
def test_tracked_clock_hits_the_rendered_beats(tmp_path, style, bpm, bpm_range, snr):
    import audio_render as ar

    track = ar.render(style, bpm, 20, snr_db=snr)
    run = play(tmp_path, track, bpm_range)
    start = 100.0
    assert run.lock_time is not None and run.lock_time - start - track.beats[0] <= 6.0
    truth = track.beats + start
    found = ar.clock_beats(run.frames, start + 5.0)
    found = found[found <= truth[-1] + 0.07]
    assert ar.f_measure(found, truth[truth >= start + 5.0]) >= 0.95
    assert abs(run.frames[-1][1] - bpm) < 0.3


@needs_audio
@pytest.mark.parametrize("rate", [22050, 48000, 96000])
def test_other_sample_rates_are_followed_as_well(tmp_path, rate):
    import audio_render as ar

    track = ar.render("house_classic", 126.0, 12)
    n = int(len(track.audio) * rate / track.rate)
    track.audio = np.interp(np.arange(n) * track.rate / rate, np.arange(len(track.audio)), track.audio)
    track.audio = track.audio.astype(np.float32)
    track.rate = rate
    run = play(tmp_path, track, (88.0, 176.0))
    truth = track.beats + 100.0
    found = ar.clock_beats(run.frames, 105.0)
    assert ar.f_measure(found[found <= truth[-1] + 0.07], truth[truth >= 105.0]) >= 0.95


@needs_audio
def test_one_resync_on_a_downbeat_puts_an_offbeat_lock_right(tmp_path):
    """The tracker settles on this garage groove's offbeats; the operator's downbeat fixes it."""
    import audio_render as ar

    track = ar.render("ukg_two_step", 132.0, 24)
    press = 100.0 + track.downbeats[track.downbeats > 10.0][0] + 0.012
    run = play(
        tmp_path, track, events=[(press - 100.0, lambda src, clock, now: src.command("resync", None, clock, press))]
    )
    truth = track.beats + 100.0
    found = ar.clock_beats(run.frames, press + 0.05)
    found = found[found <= truth[-1] + 0.07]  # the clock runs on past the music's end
    assert ar.f_measure(found, truth[truth > press + 0.05]) >= 0.95
    pos = (truth[-8] - run.frames[-1][2]) * run.frames[-1][1] / 60.0
    assert abs(pos - round(pos)) < 0.03 and round(pos) % 4 == 0


@needs_audio
@pytest.mark.parametrize(
    "style,bpm,bpm_range",
    [("house_classic", 128.0, None), ("bassline", 138.0, (88.0, 176.0)), ("amapiano_answer", 120.0, (88.0, 176.0))],
)
def test_a_break_without_kick_is_held_and_the_end_of_the_file_said(tmp_path, style, bpm, bpm_range):
    import audio_render as ar

    track = ar.render(style, bpm, 24, break_bars=(8, 8))
    run = play(tmp_path, track, bpm_range)
    truth = track.beats + 100.0
    b0, b1 = track.break_span
    found = ar.clock_beats(run.frames, truth[b0])
    off = ar.offsets(found, truth[b0:b1])
    assert abs(off).max() < 0.030
    run.source.input.read(run.frames[-1][0] + 1.0)  # the last block
    assert "audio file ended: holding" in run.source.status()


# ---- bad input ----------------------------------------------------------------------------------


@needs_audio
@pytest.mark.parametrize(
    "case,message",
    [
        ("missing", "not found"),
        ("text", "not a WAV or FLAC file"),
        ("empty", "has no audio frames"),
        ("rate", "sample rate 8000 Hz is not supported"),
        ("folder", "is a folder"),
    ],
)
def test_bad_audio_files_give_one_clear_error(tmp_path, case, message):
    import numpy as np
    import soundfile

    path = tmp_path / "in.wav"
    if case == "text":
        path.write_text("this is not audio\n")
    elif case == "empty":
        soundfile.write(str(path), np.zeros(0, dtype=np.float32), 44100)
    elif case == "rate":
        soundfile.write(str(path), np.zeros(800, dtype=np.float32), 8000)
    elif case == "folder":
        path.mkdir()
    with pytest.raises(RuntimeError, match=message) as exc:
        audio.AudioTempo(tempo(), Clock(120.0, 0.0), lambda: 0.0, {"audio_file": str(path)})
    assert str(path) in str(exc.value)


@pytest.mark.parametrize(
    "module,error,hint",
    [
        ("numpy", ImportError, "pip install 'kinetra[audio]'"),
        ("sounddevice", ImportError, "pip install 'kinetra[audio]'"),
        ("sounddevice", OSError, "apt-get install libportaudio2"),
    ],
)
def test_missing_pieces_say_what_to_install(monkeypatch, module, error, hint):
    real = builtins.__import__

    def fake(name, *args, **kw):
        if name == module:
            raise error(f"no {module} here")
        return real(name, *args, **kw)

    monkeypatch.setattr(builtins, "__import__", fake)
    with pytest.raises(RuntimeError, match="tempo source 'audio' needs") as exc:
        if module == "numpy":
            audio.Features(44100)
        else:
            audio.DeviceInput(None, lambda: 0.0)
    assert hint in str(exc.value)


def test_a_missing_device_is_named():
    pytest.importorskip("numpy")
    try:
        import sounddevice  # noqa: F401
    except (ImportError, OSError):
        pytest.skip("sounddevice or PortAudio not installed")
    with pytest.raises(RuntimeError, match="no audio input no-such-device"):
        audio.DeviceInput("no-such-device", lambda: 0.0)


@needs_audio
def test_a_stream_that_stops_holds_the_tempo_and_says_so():
    import numpy as np

    sim = {"now": 0.0}
    handlers = {}

    def factory(callback, finished):
        handlers["cb"] = callback
        return types.SimpleNamespace(stop=lambda: None, close=lambda: None), 44100

    dev = audio.DeviceInput(None, lambda: sim["now"], stream_factory=factory)
    clock = Clock(120.0, 0.0)
    src = audio.AudioTempo(tempo(), clock, lambda: sim["now"], input=dev)
    block = np.zeros((256, 1), dtype=np.float32)
    rng = random.Random(1)
    for i in range(200):
        sim["now"] = (i + 1) * 256 / 44100 + rng.uniform(0, 0.004)  # late, never early
        handlers["cb"](block, 256, None, None)
    times = [t for t, _ in dev.read(sim["now"])]
    assert all(abs(t - i * 256 / 44100) < 0.001 for i, t in enumerate(times))
    src.follower.locked, src.follower.target = True, (0.0, 0.5)
    sim["now"] += 1.0
    src.update(clock, sim["now"])
    assert "audio input stopped: holding the tempo" in src.status()
    assert clock.bpm == 120.0
    src.close()


# ---- through the command line -------------------------------------------------------------------

SHOW = """\
[tempo]
bpm = 120
source = "{source}"
bpm_range = [100, 200]

[outputs.stage]
type = "sacn"
destination = "127.0.0.1"
port = {port}

[[fixtures]]
name = "head"
output = "stage"
pattern = "circle"
universe = 1
address = 1
channels = {{ pan = 1, tilt = 2 }}
"""


def cli(tmp_path, source, audio_file, *extra):
    import socket
    import subprocess
    import sys

    rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rx.bind(("127.0.0.1", 0))
    rx.settimeout(0.3)
    show = tmp_path / "show.toml"
    show.write_text(SHOW.format(source=source, port=rx.getsockname()[1]))
    log = tmp_path / "frames.jsonl"
    proc = subprocess.run(
        [
            sys.executable,
            "-m",
            "kinetra_live",
            str(show),
            "--audio-file",
            str(audio_file),
            "--frame-log",
            str(log),
            *extra,
        ],
        capture_output=True,
        text=True,
        timeout=60,
        stdin=subprocess.DEVNULL,
    )
    received = 0
    try:
        while True:
            rx.recv(2048)
            received += 1
    except socket.timeout:
        pass
    rx.close()
    return proc, log, received


@needs_audio
def test_the_command_line_follows_an_audio_file_and_shows_it(tmp_path):
    import json

    import audio_render as ar

    path = ar.write(ar.render("techno_drive", 128.0, 8), str(tmp_path / "track.wav"))
    proc, log, received = cli(tmp_path, "audio", path, "--duration", "8", "--status")
    assert proc.returncode == 0, proc.stderr
    frames = [json.loads(line) for line in log.read_text().splitlines() if '"pip"' in line]
    assert abs(frames[-1]["bpm"] - 128.0) < 0.3 and received > 0
    shown = re.findall(r"audio (\d+\.\d) BPM conf (\d\.\d\d)", proc.stderr)
    assert shown and abs(float(shown[-1][0]) - 128.0) <= 0.1 and float(shown[-1][1]) >= audio.GATE


@needs_audio
@pytest.mark.parametrize(
    "source,audio_file,message",
    [
        ("audio", "missing.wav", "audio file .*missing.wav: not found"),
        ("tap", "missing.wav", '--audio-file needs \\[tempo\\] source = "audio"'),
    ],
)
def test_the_command_line_refuses_bad_audio_and_sends_nothing(tmp_path, source, audio_file, message):
    proc, log, received = cli(tmp_path, source, tmp_path / audio_file, "--duration", "2")
    assert proc.returncode == 1 and received == 0
    assert len(proc.stderr.strip().splitlines()) == 1
    assert re.search(message, proc.stderr)


@pytest.mark.parametrize(
    "args,expected",
    [((None,), True), ((None, None), False), ((True, True), True), ((False,), False), ((True, None), False)],
)
def test_the_lock_key_and_command(args, expected):
    from kinetra_live.inputs import keys

    assert [(c.name, c.arg) for c in keys.commands_for("$", {}, 1.0)] == [("lock", None)]
    src = audio.AudioTempo.__new__(audio.AudioTempo)
    src.follower = Follower(120.0)
    clock = Clock(120.0, 0.0)
    for arg in args:
        assert src.command("lock", arg, clock, 0.0)
    assert src.follower.tempo_locked is expected
