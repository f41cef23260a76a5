"""Tempo sources, by the name a show file gives in `[tempo] source`. Each is one
module with a TempoSource subclass (see `base`); adding one is a module and a line."""

from . import audio, djlink, link, manual, midi, os2l

SOURCES = {
    "fixed": manual.Fixed,
    "tap": manual.Tap,
    "link": link.Link,
    "midi": midi.Midi,
    "audio": audio.AudioTempo,
    "djlink": djlink.DjLink,
    "os2l": os2l.Os2l,
}
