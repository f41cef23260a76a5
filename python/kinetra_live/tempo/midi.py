"""Tempo and phase from MIDI beat clock (needs the `midi` extra). The port is shared
with a pad controller on the same port (see `inputs.midi.share`)."""

from __future__ import annotations

from ..clock import MidiClock
from ..inputs import midi as midi_input
from .base import TempoSource


class Midi(TempoSource):
    name = "midi"
    manual_tempo = False

    def __init__(self, tempo, clock, now, options):
        super().__init__(tempo, clock, now, options)
        self.midi = MidiClock()
        self.port = midi_input.share(
            tempo.midi_port, midi_input.clock_listener(self.midi), backend=options.get("midi_backend")
        )

    def update(self, clock, now):
        self.midi.apply(clock)

    def close(self):
        self.port.close()
