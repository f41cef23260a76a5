"""DJ players made up for the tests and the benchmark: Pro DJ Link packets built from the
published field tables, the streams of players that play, change pitch, stop and hand the
tempo master over, and a run of a tempo source on simulated time against them."""

from __future__ import annotations

import dataclasses
import math
import random
import struct
import types

from kinetra_live.clock import Clock
from kinetra_live.tempo import djlink as dl

FPS = 40.0
STATUS_EVERY_S = 0.2
PLAYER_ADDRESS = "10.251.77.{}"


def _head(kind: int, device: int, name: bytes, length: int) -> bytes:
    return dl.MAGIC + bytes([kind]) + name[:20].ljust(20, b"\0") + bytes([1, 0, device]) + struct.pack(">H", length)


def beat_packet(device: int, bpm: float, pitch: float = 1.0, place: int = 1, name: bytes = b"CDJ-3000") -> bytes:
    """A beat packet: `bpm` the track's tempo, `pitch` the speed (1.0 normal), `place` 1 to 4."""
    p = bytearray(_head(dl.BEAT, device, name, dl.BEAT_LEN - 0x24))
    period_ms = 60000.0 / (bpm * pitch)
    for i, beats in enumerate((1, 2, 4 - (place - 1), 4, 8 - (place - 1), 8)):
        p += struct.pack(">I", min(0xFFFFFFFF, round(beats * period_ms)))
    p += b"\xff" * 24
    p += struct.pack(">IHHB", round(pitch * dl.NORMAL_PITCH), 0, round(bpm * 100), place)
    p += bytes([0, 0, device])
    assert len(p) == dl.BEAT_LEN
    return bytes(p)


def status_packet(
    device: int, bpm: float, pitch: float = 1.0, playing=True, master=False, place=1, length=0x200
) -> bytes:
    """A player's status packet (the newest players' length)."""
    p = bytearray(length)
    p[:0x24] = _head(dl.CDJ_STATUS, device, b"CDJ-3000", length - 0x24)
    p[0x89] = (dl.PLAYING if playing else 0) | (dl.MASTER if master else 0) | 0x04
    struct.pack_into(">I", p, 0x8C, round(pitch * dl.NORMAL_PITCH))
    struct.pack_into(">H", p, 0x92, round(bpm * 100))
    p[0xA6] = place
    return bytes(p)


@dataclasses.dataclass
class Player:
    """A player that starts at `start` on a downbeat and plays a track at `bpm`; `pitches` are
    (time, speed) steps; it stops at `stop`."""

    device: int
    bpm: float
    start: float
    stop: float = math.inf
    pitches: list = dataclasses.field(default_factory=list)

    def speed(self, t: float) -> float:
        s = 1.0
        for at, v in self.pitches:
            if t >= at:
                s = v
        return s

    def beats(self, until: float) -> list[tuple[float, int, float]]:
        """(time, beat number from the first downbeat, tempo as played) of every beat."""
        out, t, k = [], self.start, 0
        steps = sorted(at for at, _ in self.pitches)
        while t < min(until, self.stop):
            out.append((t, k, self.bpm * self.speed(t)))
            # the next beat, the tempo changing on the way
            left, now = 1.0, t
            for at in [s for s in steps if s > t] + [math.inf]:
                rate = self.bpm * self.speed(now) / 60.0
                if now + left / rate <= at:
                    now += left / rate
                    break
                left -= (at - now) * rate
                now = at
            t, k = now, k + 1
        return out


def stream(players, masters, until: float, status=True, jitter=0.0, seed=0):
    """The packets on the network, in order: (time, port, data, source address). `masters`
    are (time, device) handovers of the tempo master; beats arrive up to `jitter` s late."""
    events = []
    rng = random.Random(seed)
    for p in players:
        addr = PLAYER_ADDRESS.format(p.device)
        for t, k, bpm in p.beats(until):
            late = rng.uniform(0.0, jitter)
            events.append((t + late, dl.BEAT_PORT, beat_packet(p.device, p.bpm, bpm / p.bpm, k % 4 + 1), addr))
        if status:
            n = 0
            while n * STATUS_EVERY_S < until:
                t = n * STATUS_EVERY_S + 0.013 * p.device
                master = max(((at, d) for at, d in masters if at <= t), default=(0, None))[1] == p.device
                playing = p.start <= t < p.stop
                events.append((t, dl.STATUS_PORT, status_packet(p.device, p.bpm, p.speed(t), playing, master), addr))
                n += 1
    events.sort(key=lambda e: e[0])
    return events


def run(source, events, until: float, start=0.0, bpm=120.0, fps=FPS):
    """Feeds the events to the source's network as they come and runs its update once a
    frame; returns the frames: (time, bpm, t0) after each update."""
    clock = Clock(bpm, start)
    frames, i = [], 0
    n = 0
    while True:
        now = start + n / fps
        if now > until:
            break
        while i < len(events) and events[i][0] <= now:
            t, port, data, addr = events[i]
            source.network.receive(port, data, addr, t)
            i += 1
        source.update(clock, now)
        frames.append((now, clock.bpm, clock.t0))
        n += 1
    return frames, clock


def make_source(follow="master", beats_per_bar=4, own=None):
    tempo = types.SimpleNamespace(bpm=120.0, beats_per_bar=beats_per_bar, follow=follow)
    src = dl.DjLink(tempo, Clock(120.0, 0.0), lambda: 0.0, {}, sockets=[])
    src.network.own_address = own
    return src


def clock_beat(frames, t: float) -> tuple[float, int]:
    """The clock's beat nearest `t` as the frame before `t` has it: (its time, its number)."""
    lo, hi = 0, len(frames) - 1
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if frames[mid][0] <= t:
            lo = mid
        else:
            hi = mid - 1
    _, bpm, t0 = frames[lo]
    k = round((t - t0) * bpm / 60.0)
    return t0 + k * 60.0 / bpm, k


def errors(frames, beats, t_from: float, t_to: float):
    """(clock's beat time - player's, the clock's beat number, the player's) for each beat."""
    out = []
    for t, k, _ in beats:
        if t_from <= t <= t_to:
            tc, kc = clock_beat(frames, t)
            out.append((tc - t, kc, k))
    return out


def phase_moves(frames):
    """How far each frame moved the clock's phase beyond its tempo (beats; whole beats, the
    bar line following a new leader, taken out), with the largest move allowed."""
    out = []
    for (t1, b1, z1), (t2, b2, z2) in zip(frames, frames[1:]):
        moved = (t2 - z2) * b2 / 60.0 - (t1 - z1) * b1 / 60.0 - (t2 - t1) * b1 / 60.0
        out.append((moved - round(moved), (t2 - t1) * b2 / 60.0))
    return out
