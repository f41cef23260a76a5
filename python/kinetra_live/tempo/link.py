"""Tempo and beat from a Link session shared with other machines (needs `aalink`)."""

from __future__ import annotations

from .base import TempoSource

QUANTUM = float(1 << 20)  # beats (about 5.7 days at 128 BPM)


class Link(TempoSource):
    name = "link"
    manual_tempo = False

    def __init__(self, tempo, clock, now, options):
        super().__init__(tempo, clock, now, options)
        try:
            import asyncio

            from aalink import Link as Session
        except ImportError:
            raise RuntimeError("tempo source 'link' needs the aalink package: pip install 'kinetra[link]'") from None
        self.loop = asyncio.new_event_loop()
        self.link = Session(clock.bpm, self.loop)
        # Peers agree on the beat only modulo their quantum: with a quantum far longer than
        # any show, every player reads the same beat count, so their pips agree, not only
        # their phase within a beat (bars stay aligned: the quantum is a multiple of them)
        self.link.quantum = QUANTUM
        self.link.enabled = True

    def update(self, clock, now):
        beat, tempo = float(self.link.beat), float(self.link.tempo)
        if tempo > 0:
            clock.bpm = tempo
            clock.t0 = now + clock.latency_s - beat * 60.0 / tempo

    def close(self):
        self.link.enabled = False
        self.loop.close()
