"""From a pattern's (x, y, z) to what a fixture is sent: DMX channel values or OSC floats."""

from __future__ import annotations

import math

from .show import AxisMap, DmxPatch, Fixture


def scaled(fixture: Fixture, x: float, y: float, z: float) -> tuple[float, float, float]:
    """The fixture's scale per axis, then clamped to [-1, 1]."""
    sx, sy, sz = fixture.scale
    return (min(1.0, max(-1.0, x * sx)), min(1.0, max(-1.0, y * sy)), min(1.0, max(-1.0, z * sz)))


def word(axis: AxisMap, v: float) -> int:
    """16-bit DMX value of v in [-1, 1]: -1 lands on `low`, +1 on `high` (fractions of
    the channel's full range), rounded half up."""
    frac = axis.low + (v + 1.0) / 2.0 * (axis.high - axis.low)
    return min(65535, max(0, math.floor(frac * 65535.0 + 0.5)))


def dmx_values(patch: DmxPatch, x: float, y: float, z: float) -> list[tuple[int, int]]:
    """(channel, value) pairs for the fixture's channels, channel numbers 1..512 in its
    universe. A 16-bit value goes coarse to the role's channel and fine to its
    `_fine` channel; without a fine channel only the coarse byte is sent."""
    out = []
    for role, axis, v in (("pan", patch.pan, x), ("tilt", patch.tilt, y), ("z", patch.z, z)):
        if role in patch.channels:
            w = word(axis, v)
            out.append((patch.address + patch.channels[role] - 1, w >> 8))
            if role + "_fine" in patch.channels:
                out.append((patch.address + patch.channels[role + "_fine"] - 1, w & 0xFF))
    for off, value in patch.fixed.items():
        out.append((patch.address + off - 1, value))
    return out


def osc_values(fixture: Fixture, x: float, y: float, z: float) -> list[float]:
    """x, y, z for an OSC fixture, remapped from [-1, 1] to [0, 1] when asked."""
    if fixture.remap:
        return [(x + 1.0) / 2.0, (y + 1.0) / 2.0, (z + 1.0) / 2.0]
    return [x, y, z]
