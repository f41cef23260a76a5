"""What DMX outputs share: the patch of a fixture (channels, ranges, fixed values) as
the show file gives it, and the mapping from an offset to channel values."""

from __future__ import annotations

import math

from ..model import AxisMap, DmxPatch

CHANNEL_NAMES = ("pan", "pan_fine", "tilt", "tilt_fine", "z", "z_fine")
FIXTURE_KEYS = {"universe", "address", "channels", "footprint", "pan_range", "tilt_range", "pan", "tilt",
                "z", "invert_pan", "invert_tilt", "set", "blackout"}
UNIVERSE_SLOTS = 512


def read_patch(r, f: dict, key: tuple, universes: tuple[int, int]) -> DmxPatch:
    universe = r.integer(f, key, "universe", lo=universes[0], hi=universes[1])
    address = r.integer(f, key, "address", lo=1, hi=UNIVERSE_SLOTS)
    ch = f.get("channels")
    if not isinstance(ch, dict) or not ch:
        r.fail(key + ("channels",), "must be a table such as { pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }")
    ckey = key + ("channels",)
    r.known(ch, ckey, CHANNEL_NAMES)
    channels = {role: r.integer(ch, ckey, role, lo=1, hi=UNIVERSE_SLOTS) for role in CHANNEL_NAMES if role in ch}
    for fine in ("pan_fine", "tilt_fine", "z_fine"):
        if fine in channels and fine[:-5] not in channels:
            r.fail(ckey + (fine,), f"needs a {fine[:-5]} channel too")
    fixed = r.channel_values(f, key, "set")
    blackout = r.channel_values(f, key, "blackout")
    seen = {}
    for role, off in list(channels.items()) + [(f"set.{k}", k) for k in fixed]:
        if off in seen:
            r.fail(ckey if not role.startswith("set.") else key + ("set", str(off)),
                   f"channel {off} is used by both {seen[off]} and {role}")
        seen[off] = role
    top = max(list(seen) + list(blackout))
    footprint = r.integer(f, key, "footprint", top, 1, UNIVERSE_SLOTS)
    if footprint < top:
        r.fail(key + ("footprint",), f"must cover every channel used, up to {top}")
    if address + footprint - 1 > UNIVERSE_SLOTS:
        r.fail(key + ("address",), f"channels {address} to {address + footprint - 1} do not fit in 512")
    pan_range = r.number(f, key, "pan_range", 540.0, 0.0, 7200.0, lo_open=True)
    tilt_range = r.number(f, key, "tilt_range", 270.0, 0.0, 7200.0, lo_open=True)
    pan = r.pair(f, key, "pan", [pan_range / 2 - 45, pan_range / 2 + 45], 0.0, pan_range)
    tilt = r.pair(f, key, "tilt", [tilt_range / 2 - 45, tilt_range / 2 + 45], 0.0, tilt_range)
    z = r.pair(f, key, "z", [0.0, 1.0], 0.0, 1.0)
    if r.boolean(f, key, "invert_pan"):
        pan = pan[::-1]
    if r.boolean(f, key, "invert_tilt"):
        tilt = tilt[::-1]
    return DmxPatch(universe, address, channels, footprint,
                    AxisMap(pan[0] / pan_range, pan[1] / pan_range),
                    AxisMap(tilt[0] / tilt_range, tilt[1] / tilt_range),
                    AxisMap(*z), fixed, blackout)


def claims(fixture, kind: str) -> list:
    """The universe belongs to one output; each channel to one fixture."""
    p = fixture.patch
    u = p.universe
    out = [((kind, "universe", u), fixture.output, "universe",
            lambda other: f"universe {u} is already sent by output {other.output!r}")]
    for ch in p.used():
        out.append(((kind, u, ch), fixture.name, "address",
                    lambda other: f"channels {p.address} to {p.address + p.footprint - 1} of universe {u} "
                                  f"overlap fixture {other.name!r} ({other.patch.address} to "
                                  f"{other.patch.address + other.patch.footprint - 1})"))
    return out


def word(axis: AxisMap, v: float) -> int:
    """16-bit DMX value of v in [-1, 1]: -1 lands on `low`, +1 on `high` (fractions of
    the channel's full range), rounded half up."""
    frac = axis.low + (v + 1.0) / 2.0 * (axis.high - axis.low)
    return min(65535, max(0, math.floor(frac * 65535.0 + 0.5)))


def writer(patch: DmxPatch):
    """A function (data, x, y, z, blackout) -> values that writes the fixture's channel
    values into its universe's slots and returns them as `values` gives them; the
    patch is worked out once."""
    base = patch.address - 1
    ch = patch.channels
    axes = []
    for k, (role, axis) in enumerate((("pan", patch.pan), ("tilt", patch.tilt), ("z", patch.z))):
        if role in ch:
            fine = ch.get(role + "_fine")
            axes.append((k, base + ch[role], None if fine is None else base + fine, axis.low, axis.high - axis.low))
    fixed = [(base + off, value) for off, value in patch.fixed.items()]
    dark = [(base + off, value) for off, value in patch.blackout.items()]
    floor = math.floor

    def write(data, x: float, y: float, z: float, blackout: bool = False) -> list[tuple[int, int]]:
        v3 = (x, y, z)
        out = []
        for k, coarse, fine, low, span in axes:
            w = floor((low + (v3[k] + 1.0) / 2.0 * span) * 65535.0 + 0.5)
            w = 0 if w < 0 else 65535 if w > 65535 else w
            out.append((coarse, w >> 8))
            if fine is not None:
                out.append((fine, w & 0xFF))
        out += fixed
        if blackout:
            out += dark
        for c, v in out:
            data[c - 1] = v
        return out

    return write


def values(patch: DmxPatch, x: float, y: float, z: float, blackout: bool = False) -> list[tuple[int, int]]:
    """(channel, value) pairs for the fixture's channels, channel numbers 1..512 in its
    universe. A 16-bit value goes coarse to the role's channel and fine to its
    `_fine` channel; without a fine channel only the coarse byte is sent. Blacked
    out, the fixture's blackout values come last and win."""
    out = []
    ch = patch.channels
    base = patch.address - 1
    for role, axis, v in (("pan", patch.pan, x), ("tilt", patch.tilt, y), ("z", patch.z, z)):
        if role in ch:
            w = word(axis, v)
            out.append((base + ch[role], w >> 8))
            fine = ch.get(role + "_fine")
            if fine is not None:
                out.append((base + fine, w & 0xFF))
    for off, value in patch.fixed.items():
        out.append((base + off, value))
    if blackout:
        for off, value in patch.blackout.items():
            out.append((base + off, value))
    return out


# Unchanged data goes out this many times in all, then only as keep-alive.
REPEATS_OF_UNCHANGED = 3


class Universe:
    """Sending state of one universe: its slots, sequence number and last data sent."""

    def __init__(self, number: int, slots: int = UNIVERSE_SLOTS):
        self.number = number
        self.data = bytearray(slots)
        self.sequence = 0
        self.last_sent: bytes | None = None
        self.last_time = float("-inf")
        self.repeats = 0

    def due(self, now: float, keepalive: float) -> bool:
        """Changed data at once; unchanged data twice more, then every `keepalive` seconds."""
        data = bytes(self.data)
        if data != self.last_sent:
            self.repeats = REPEATS_OF_UNCHANGED - 1
            return True
        if self.repeats > 0:
            self.repeats -= 1
            return True
        return now - self.last_time >= keepalive

    def sent(self, now: float) -> int:
        """Marks the data as sent; returns the packet's sequence number."""
        self.sequence = (self.sequence + 1) & 0xFF
        self.last_sent = bytes(self.data)
        self.last_time = now
        return self.sequence
