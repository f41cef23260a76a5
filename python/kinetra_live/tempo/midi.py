"""Tempo and phase from MIDI beat clock (needs the `midi` extra)."""

from __future__ import annotations

from ..clock import MidiClock
from .base import TempoSource


def open_midi(port_name: str | None, midi: MidiClock, now):
    """Opens a MIDI input whose clock messages feed `midi`, stamped with `now()` on arrival."""
    try:
        import mido
    except ImportError:
        raise RuntimeError("tempo source 'midi' needs the midi extra: pip install 'kinetra[midi]'") from None
    try:
        return mido.open_input(port_name, callback=lambda m: midi.feed_message(now(), m))
    except (OSError, IOError, ImportError) as exc:
        raise RuntimeError(f"cannot open MIDI input {port_name or '(default)'}: {exc}") from None


class Midi(TempoSource):
    name = "midi"
    manual_tempo = False

    def __init__(self, tempo, clock, now, options):
        super().__init__(tempo, clock, now, options)
        self.midi = MidiClock()
        self.port = open_midi(tempo.midi_port, self.midi, now)

    def update(self, clock, now):
        self.midi.apply(clock)

    def close(self):
        self.port.close()
