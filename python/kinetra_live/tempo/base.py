"""The interface every tempo source offers the frame loop, and the manual controls
(tap, resync, nudge, tempo steps, double and half) that it inherits."""

from __future__ import annotations

from kinetra_common.units import MAX_BPM

from ..clock import Clock, TapTempo

# Tempo changes by hand stay at or above this.
MIN_MANUAL_BPM = 1.0


class TempoSource:
    """Moves the clock's tempo and phase. `update` runs once per frame, before the
    frame's pip is read; `command` takes the operator's controls and returns
    whether it acted on them."""

    name = "fixed"
    # Whether the operator sets the tempo here (tap, steps, double, half);
    # a source that follows another machine keeps only resync and nudge.
    manual_tempo = True
    # said once as the show starts (what the source could not set up; the show plays on)
    warnings: tuple | list = ()

    def __init__(self, tempo, clock: Clock, now, options: dict):
        self.beats_per_bar = tempo.beats_per_bar
        self.taps = TapTempo()

    def update(self, clock: Clock, now: float) -> None:
        pass

    def attach(self, commands, make) -> None:
        """A source that also launches cues gets the command queue and `make(name, arg,
        source)`, the check every input's commands go through."""

    def command(self, name: str, arg, clock: Clock, now: float) -> bool:
        if name == "nudge":
            clock.nudge(float(arg))
        elif name == "resync":
            # the nearest bar line is now: the downbeat moves by at most half a bar
            beats = clock.beats_at(now)
            bar = round(beats / self.beats_per_bar) * self.beats_per_bar
            clock.t0 += (beats - bar) * 60.0 / clock.bpm
        elif not self.manual_tempo:
            return False
        elif name == "tap":
            self.taps.apply(clock, now)
        elif name == "tempo":
            clock.set_tempo(min(MAX_BPM, max(MIN_MANUAL_BPM, clock.bpm + float(arg))), now)
        elif name == "bpm":
            clock.set_tempo(min(MAX_BPM, max(MIN_MANUAL_BPM, float(arg))), now)
        elif name == "double":
            clock.set_tempo(min(MAX_BPM, clock.bpm * 2.0), now)
        elif name == "half":
            clock.set_tempo(max(MIN_MANUAL_BPM, clock.bpm / 2.0), now)
        else:
            return False
        return True

    def status(self) -> str:
        return ""

    def close(self) -> None:
        pass
