"""Tempo sources, by the name a show file gives in `[tempo] source`. Each is one
module with a TempoSource subclass (see `base`); adding one is a module and a line."""

from . import link, manual, midi

SOURCES = {
    "fixed": manual.Fixed,
    "tap": manual.Tap,
    "link": link.Link,
    "midi": midi.Midi,
}
