"""The audio tempo source: the follower on made-up proposals and simulated time, the beat
tracker on drum tracks rendered from the beat matrix's scores, and bad input."""

import builtins
import math
import random
import re
import types

import pytest
from kinetra_live.clock import CATCH_UP, Clock
from kinetra_live.tempo import audio
from kinetra_live.tempo.audio import Follower, fold

FPS = 40.0


def tempo(bpm=120.0, bpm_range=None, device=None):
    return types.SimpleNamespace(
        bpm=bpm, source="audio", beats_per_bar=4, latency_ms=0.0, bpm_range=bpm_range, audio_device=device
    )


class Sim:
    """A follower and a clock driven frame by frame; `beats` lists proposal times."""

    def __init__(self, follower, clock_bpm=120.0, start=0.0):
        self.f = follower
        self.clock = Clock(clock_bpm, start)
        self.now = start
        self.positions = []  # (now, clock position)

    def run(self, until, proposals=(), bpm=None, on_frame=None):
        """Frames up to `until`; each proposal (t, bpm) is handed over in the first frame at
        or after its time."""
        pending = sorted(proposals)
        while self.now < until:
            self.now += 1.0 / FPS
            while pending and pending[0][0] <= self.now:
                self.f.propose(*pending.pop(0))
            self.f.update(self.clock, self.now)
            self.positions.append((self.now, (self.now - self.clock.t0) * self.clock.bpm / 60.0, self.clock.bpm))
            if on_frame:
                on_frame(self)

    def error_s(self, t0, period):
        """Distance (seconds) of the clock's beat nearest `now` from a grid t0 + k * period."""
        q = 60.0 / self.clock.bpm
        beat = self.clock.t0 + round((self.now - self.clock.t0) / q) * q
        d = ((beat - t0) / period) % 1.0
        return min(d, 1.0 - d) * period


def grid(bpm, start, end, t0=0.0, jitter=0.0, every=1, seed=3):
    rng = random.Random(seed)
    p = 60.0 / bpm
    k0 = math.ceil((start - t0) / p)
    out = []
    k = k0
    while t0 + k * p < end:
        if (k - k0) % every == 0:
            out.append((t0 + k * p + rng.uniform(-jitter, jitter), bpm * 1.0))
        k += 1
    return out


@pytest.mark.parametrize("bpm,jitter,t0", [(90.0, 0.0, 0.013), (128.0, 0.006, 0.2), (174.0, 0.004, 0.05)])
def test_locks_and_follows_a_steady_grid(bpm, jitter, t0):
    s = Sim(Follower(120.0))
    s.run(20.0, grid(bpm, 1.0, 20.0, t0, jitter))
    assert s.f.locked
    assert abs(s.clock.bpm - bpm) < 0.1
    assert s.error_s(t0, 60.0 / bpm) < 0.006


def test_phase_moves_by_a_few_milliseconds_per_beat_after_lock():
    bpm, p = 125.0, 60.0 / 125.0
    s = Sim(Follower(120.0))
    s.run(10.0, grid(bpm, 1.0, 10.0))
    assert s.f.locked and s.error_s(0.0, p) < 0.003
    jumps = []

    def frame(sim):
        if len(sim.positions) > 1:
            (n0, p0, b0), (n1, p1, _) = sim.positions[-2:]
            jumps.append(abs((p1 - p0) - (n1 - n0) * b0 / 60.0) * p)

    # the music's grid moves 50 ms later (within the tolerance): the clock slews there
    s.run(40.0, grid(bpm, 10.0, 40.0, t0=0.05), on_frame=frame)
    assert max(jumps) <= audio.MAX_SLEW_S / FPS / p + 1e-6
    assert s.error_s(0.05, p) < 0.004


def test_holds_the_tempo_through_silence_and_says_so():
    bpm = 128.0
    s = Sim(Follower(120.0))
    s.run(12.0, grid(bpm, 1.0, 12.0, jitter=0.003))
    s.run(12.0 + 32 * 60.0 / bpm)  # eight bars without a proposal
    assert s.f.holding(s.now)
    assert s.error_s(0.0, 60.0 / bpm) < 0.015
    s.run(s.now + 3.0, grid(bpm, s.now, s.now + 3.0))
    assert not s.f.holding(s.now)


@pytest.mark.parametrize(
    "moved,expected",
    [
        (0.5, 0.0),  # the tracker moves to the offbeats: the beat stays where it was
        (-0.5, 0.0),
        (0.06, 0.06),  # the music's grid a little later (beyond the outlier tolerance): slewed there
    ],
)
def test_an_established_grid_is_not_jumped_for_the_same_tempo(moved, expected):
    bpm = 124.0
    p = 60.0 / bpm
    s = Sim(Follower(120.0))
    s.run(15.0, grid(bpm, 1.0, 15.0))
    assert s.f.locked and s.f.hits >= audio.ESTABLISHED
    jumps = []

    def frame(sim):
        (n0, p0, b0), (n1, p1, _) = sim.positions[-2:]
        jumps.append(abs((p1 - p0) - (n1 - n0) * b0 / 60.0) * p)

    s.run(60.0, grid(bpm, 15.0, 60.0, t0=moved * p), on_frame=frame)
    assert s.f.locks == 1 and max(jumps) <= audio.MAX_SLEW_S / FPS / p + 1e-6
    assert s.error_s(expected * p, p) < 0.005


@pytest.mark.parametrize("ratio", [3 / 4, 4 / 3])
def test_a_first_lock_takes_the_metrical_level_the_onsets_mark(ratio):
    """The tracker counts at `ratio` times the music's tempo; the onsets mark the music's."""
    bpm = 100.0
    p = 60.0 / bpm

    def comb(period, until):
        return (3.0 if abs(period / p - 1) < 0.01 else 1.0), 0.0

    s = Sim(Follower(120.0, bpm_range=(bpm / 1.45, bpm * 1.45), comb=comb))
    s.run(8.0, grid(bpm * ratio, 1.0, 8.0))
    assert s.f.locked and abs(s.clock.bpm - bpm) < 0.1 and s.error_s(0.0, p) < 0.005


@pytest.mark.parametrize("kind", ["random", "offbeats of a double-time tracker", "far off"])
def test_proposals_off_the_grid_do_not_move_the_clock(kind):
    bpm, p = 120.0, 0.5
    s = Sim(Follower(120.0))
    s.run(10.0, grid(bpm, 1.0, 10.0))
    rng = random.Random(5)
    if kind == "random":
        noise = [(10.0 + rng.uniform(0, 10), rng.uniform(60, 200)) for _ in range(12)]
    elif kind == "offbeats of a double-time tracker":
        noise = [(t + p / 2, 2 * bpm) for t, _ in grid(bpm, 10.0, 20.0)]
    else:
        noise = [(t + 0.21, bpm) for t, _ in grid(bpm, 10.0, 20.0, every=3)]
    s.run(20.0, sorted(grid(bpm, 10.0, 20.0) + noise))
    assert abs(s.clock.bpm - bpm) < 0.1 and s.error_s(0.0, p) < 0.005


def test_random_proposals_never_lock():
    rng = random.Random(9)
    s = Sim(Follower(120.0))
    s.run(30.0, sorted((rng.uniform(0, 30), rng.uniform(80, 160)) for _ in range(60)))
    assert not s.f.locked and s.clock.bpm == 120.0


@pytest.mark.parametrize(
    "bpm,rng,expected",
    [
        (64.0, (110.0, 150.0), 128.0),
        (256.0, (110.0, 150.0), 128.0),
        (128.0, None, 128.0),
        (100.0, (110.0, 150.0), None),
        (87.0, (160.0, 180.0), 174.0),
        (0.0, None, None),
        (float("nan"), (100.0, 200.0), None),
    ],
)
def test_fold_into_the_show_range(bpm, rng, expected):
    assert fold(bpm, rng) == expected


@pytest.mark.parametrize("heard,every", [(87.0, 2), (348.0, 1)])
def test_a_tracker_an_octave_off_is_folded_into_the_range(heard, every):
    """A tracker at half time proposes every other beat; at double time it proposes beats
    and offbeats: with bpm_range both give the true tempo and phase."""
    true = 174.0
    beats = [(t, heard) for t, _ in grid(true, 1.0, 15.0, every=every)]
    if heard > true:
        beats += [(t + 30.0 / true, heard) for t, _ in grid(true, 1.0, 15.0)]
    s = Sim(Follower(120.0, (160.0, 185.0)))
    s.run(15.0, beats)
    assert abs(s.clock.bpm - true) < 0.1 and s.error_s(0.0, 60.0 / true) < 0.004


def frame_jumps(sim):
    """Per frame: how far (seconds) the clock moved beyond what its tempo carried it."""
    return [
        abs((p1 - p0) - (n1 - n0) * b0 / 60.0) * 60.0 / b1
        for (n0, p0, b0), (n1, p1, b1) in zip(sim.positions, sim.positions[1:])
    ]


@pytest.mark.parametrize("t0", [15.0, 15.2])
def test_a_tempo_step_is_followed_and_caught_up_without_a_jump(t0):
    s = Sim(Follower(120.0))
    s.run(15.0, grid(120.0, 1.0, 15.0))
    s.positions.clear()
    s.run(40.0, grid(128.0, 15.0, 40.0, t0=t0))
    assert abs(s.clock.bpm - 128.0) < 0.1 and s.error_s(t0, 60.0 / 128.0) < 0.004
    # the first lock jumps; the new grid is caught up with at most CATCH_UP of the time
    assert max(frame_jumps(s)) <= CATCH_UP / FPS + 1e-6


@pytest.mark.parametrize("heard", [True, False])
def test_four_proposals_lock_only_when_the_onsets_mark_the_same_beats(heard):
    bpm = 120.0
    marked = 0.0 if heard else 0.25  # where the onsets put the beats

    def comb(period, until):
        return 2.0, marked

    s = Sim(Follower(120.0, bpm_range=(90.0, 170.0), comb=comb))
    s.run(1.0 + 3.5 * 60.0 / bpm, grid(bpm, 1.0, 3.0))  # four proposals
    assert s.f.locked is heard


def test_a_tracker_trying_another_phase_in_between_still_locks_on_the_heard_beats():
    """Three proposals on the beat, three a third of a beat later, then the beat again: the
    fourth on the beat locks (the onsets mark it), without waiting for five in a row."""
    p = 0.5
    on = grid(120.0, 1.0, 2.4)  # 1.0, 1.5, 2.0
    off = [(t + p / 3, b) for t, b in grid(120.0, 2.4, 3.9)]  # 2.5, 3.0, 3.5 a third later
    s = Sim(Follower(120.0, bpm_range=(90.0, 170.0), comb=lambda period, until: (2.0, 0.0)))
    s.run(4.05, on + off + [(4.0, 120.0)])
    assert s.f.locked and s.error_s(0.0, p) < 0.004


@pytest.mark.parametrize("comb", [True, False])
def test_a_tracker_agreeing_only_on_the_tempo_is_settled_by_the_onsets(comb):
    """The tracker keeps the tempo but hops between phases: no four of its beats make one grid.
    Past SETTLE_S from its first beat, the grid takes its tempo at the phase the onsets mark."""
    p = 60.0 / 128.0
    hops = [(1.0 + (i + (0.0, 0.15, -0.15, 0.3)[i % 4]) * p, 128.0) for i in range(12)]
    follower = Follower(120.0, bpm_range=(90.0, 180.0), comb=(lambda period, until: (2.0, 0.0)) if comb else None)
    s = Sim(follower)
    s.run(1.0 + audio.SETTLE_S + 2 * p, hops)
    assert s.f.locked is comb
    if comb:
        assert abs(s.clock.bpm - 128.0) < 0.1 and s.error_s(0.0, p) < 0.004


def test_a_break_holds_the_grid_whatever_the_tracker_proposes():
    """In a break (no kick) the tracker's proposals, even agreeing ones, leave the grid alone;
    when the kick is back the grid is followed again."""
    bpm, p = 124.0, 60.0 / 124.0
    breaking = {"on": False}
    s = Sim(Follower(120.0, quiet=lambda t: breaking["on"]))
    s.run(15.0, grid(bpm, 1.0, 15.0))
    breaking["on"] = True
    s.run(30.0, grid(bpm * 1.02, 15.0, 30.0, t0=15.1))  # another tempo and phase
    assert s.f.locks == 1 and abs(s.clock.bpm - bpm) < 0.05 and s.error_s(0.0, p) < 0.004
    assert s.f.holding(s.now)
    breaking["on"] = False
    s.run(45.0, grid(bpm, 30.0, 45.0))
    assert not s.f.holding(s.now) and s.error_s(0.0, p) < 0.004


def ramp_beats(until, start=10.0, bpm_from=120.0, bpm_to=128.0, beats=64):
    """Beat times of music at bpm_from that ramps to bpm_to over `beats` beats from `start`."""
    out, t, bpm = [], 0.0, bpm_from
    while t < until:
        out.append(t)
        if t >= start:
            bpm = min(bpm_to, bpm + (bpm_to - bpm_from) / beats)
        t += 60.0 / bpm
    return out


@pytest.mark.parametrize("kicks", [True, False])
def test_kicks_on_the_beat_lead_the_grid_through_a_ramp_the_tracker_lags(kicks):
    """The tracker goes on proposing the old tempo through a ramp: with the kicks heard on the
    beat the grid follows the music; without them it stays with the tracker."""
    music = ramp_beats(50.0)
    s = Sim(Follower(120.0))

    def onset(t_from, t_to):
        if t_to > s.now:
            return None
        heard = [b for b in music if t_from <= b <= t_to]
        return (heard[0], 1.0) if heard and kicks else (None, 0.0)

    s.f.onset = onset
    s.run(50.0, grid(120.0, 1.0, 50.0))
    if kicks:
        assert abs(s.clock.bpm - 128.0) < 0.2 and s.error_s(music[-1], 60.0 / 128.0) < 0.010
        assert s.f.locks == 1
    else:
        assert abs(s.clock.bpm - 120.0) < 0.2


@pytest.mark.parametrize("ratio", [2 / 3, 3 / 2, 3 / 4])
def test_a_tracker_switching_metrical_level_does_not_move_the_grid(ratio):
    s = Sim(Follower(120.0))
    s.run(12.0, grid(174.0, 1.0, 12.0))
    s.run(30.0, grid(174.0 * ratio, 12.0, 30.0, t0=12.0))
    assert s.f.locks == 1 and abs(s.clock.bpm - 174.0) < 0.1


def test_accents_off_the_grid_move_it():
    """A tracker following the offbeats: the low-band accents put the grid on the beat."""
    period = 0.5

    def accent(ta, p, until):
        # kicks on the whole seconds and half seconds: where is that from the proposed grid?
        off = (-ta / p) % 1.0
        return (off - 1.0 if off >= 0.5 else off), 20.0

    s = Sim(Follower(120.0, accent=accent))
    s.run(12.0, [(t + 0.25, b) for t, b in grid(120.0, 1.0, 12.0)])
    assert s.f.locked and s.error_s(0.0, period) < 0.004


# ---- the operator -------------------------------------------------------------------------------


def locked_sim(bpm=124.0, until=10.0):
    s = Sim(Follower(120.0, beats_per_bar=4))
    s.run(until, grid(bpm, 1.0, until))
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


def test_resync_makes_the_nearest_beat_a_downbeat_and_keeps_the_phase():
    s = locked_sim()
    p = 60.0 / 124.0
    at = 21 * p + 0.02  # the operator hits the downbeat 20 ms late
    s.run(at)
    s.f.resync(s.clock, at)
    pos = (at - s.clock.t0) * s.clock.bpm / 60.0
    assert round(pos) % 4 == 0
    assert s.error_s(0.0, p) < 0.004
    s.run(at + 5.0, grid(124.0, at, at + 5.0))
    pos = (21 * p + 8 * p - s.clock.t0) * s.clock.bpm / 60.0
    assert abs(pos - round(pos)) < 0.01 and round(pos) % 4 == 0


def test_resync_on_an_offbeat_of_the_grid_moves_it_there_for_good():
    """The tracker follows the offbeats; the operator's downbeat moves the grid half a beat,
    and the tracker's further (offbeat) proposals keep it there."""
    p = 60.0 / 124.0
    offbeats = [(t + p / 2, b) for t, b in grid(124.0, 1.0, 30.0)]
    s = Sim(Follower(120.0))
    s.run(10.0, offbeats)
    assert s.error_s(p / 2, p) < 0.004
    at = 24 * p + 0.015
    s.run(at)
    s.f.resync(s.clock, at)
    assert s.error_s(0.0, p) < 0.004
    s.run(30.0, [o for o in offbeats if o[0] > at])
    assert s.error_s(0.0, p) < 0.004 and s.f.locks == 1
    pos = (28 * p - s.clock.t0) * s.clock.bpm / 60.0
    assert round(pos) % 4 == 0


@pytest.mark.parametrize("command,ratio", [("double", 2.0), ("half", 0.5)])
def test_double_and_half_survive_further_proposals(command, ratio):
    s = locked_sim()
    src = audio.AudioTempo.__new__(audio.AudioTempo)
    src.follower = s.f
    assert src.command(command, None, s.clock, s.now)
    s.run(s.now + 10.0, grid(124.0, s.now, s.now + 10.0))
    assert abs(s.clock.bpm - 124.0 * ratio) < 0.1
    assert s.error_s(0.0, 60.0 / 124.0 / max(1.0, ratio)) < 0.004  # x2: offbeats are beats too


def test_lock_freezes_the_tempo_and_an_explicit_tempo_wins():
    s = locked_sim()
    s.f.lock()
    s.run(s.now + 8.0, grid(126.0, s.now, s.now + 8.0, t0=s.now))
    assert abs(s.clock.bpm - 124.0) < 0.05
    s.f.lock(False)
    s.f.set_bpm(s.clock, s.now, 100.0)
    s.run(s.now + 8.0, grid(124.0, s.now, s.now + 8.0))
    assert s.clock.bpm == pytest.approx(100.0) and s.f.tempo_locked


def test_a_nudge_is_kept():
    s = locked_sim()
    s.f.nudge(s.clock, 0.010)
    s.run(s.now + 10.0, grid(124.0, s.now, s.now + 10.0))
    assert s.error_s(-0.010, 60.0 / 124.0) < 0.003


# ---- the tracker on rendered drums --------------------------------------------------------------


def _audio_ready():
    for mod in ("numpy", "soundfile", "aubio"):
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
        ("techno_drive", 140.0, None, None),  # the tracker hears the offbeat hats first
        ("amen_four_bar", 172.0, (150.0, 190.0), None),
        ("ukg_skip", 132.0, None, None),  # swung
        ("speed_garage", 135.0, (96.0, 190.0), None),  # the bass on the offbeats
        ("trance", 140.0, (100.0, 198.0), None),  # open hats on the offbeats
        ("trap_trills", 90.0, (64.0, 127.0), None),  # the tracker hears dotted eighths first
        ("techno_broken", 170.0, (120.0, 240.0), None),  # kicks as often off the beat as on it
    ],
)
def test_tracked_clock_hits_the_rendered_beats(tmp_path, style, bpm, bpm_range, snr):
    import audio_render as ar

    track = ar.render(style, bpm, 20, snr_db=snr)
    run = play(tmp_path, track, bpm_range)
    start = 100.0
    assert run.lock_time is not None and run.lock_time - start - track.beats[0] <= 6.0
    truth = track.beats + start
    found = ar.clock_beats(run.frames, run.lock_time)
    assert ar.f_measure(found, truth[truth >= run.lock_time]) >= 0.9
    assert abs(run.frames[-1][1] - bpm) < 0.3


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
    [("house_classic", 128.0, None), ("bassline", 138.0, (98.0, 195.0)), ("amapiano_answer", 120.0, (85.0, 170.0))],
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
        ("aubio", ImportError, "pip install 'kinetra[audio]'"),
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

    if module != "aubio":
        pytest.importorskip("numpy")  # the device input asks for numpy first
    monkeypatch.setattr(builtins, "__import__", fake)
    with pytest.raises(RuntimeError, match="tempo source 'audio' needs") as exc:
        if module == "aubio":
            audio.BeatTracker(44100)
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
    src.follower.locked, src.follower.period = True, 0.5
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
    shown = re.findall(r"audio (\d+\.\d) BPM conf 1\.00", proc.stderr)
    assert shown and abs(float(shown[-1]) - 128.0) <= 0.1


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
