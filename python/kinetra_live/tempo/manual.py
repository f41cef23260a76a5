"""Tempo set by hand: a fixed tempo, or taps on the beat (space bar, pad, web)."""

from __future__ import annotations

from .base import TempoSource


class Fixed(TempoSource):
    name = "fixed"


class Tap(TempoSource):
    name = "tap"
