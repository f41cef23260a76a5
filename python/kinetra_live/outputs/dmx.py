"""What DMX outputs share: the patch of a fixture (channels, ranges, fixed values) as
the show file gives it, or as a fixture profile lays it out, and the mapping from
an offset to channel values."""

from __future__ import annotations

import math
import os

from .. import fixturelib, profiles
from ..model import AxisMap, DmxPatch

# `_fine2` channels carry the third byte of a 24-bit pan or tilt.
CHANNEL_NAMES = ("pan", "pan_fine", "pan_fine2", "tilt", "tilt_fine", "tilt_fine2", "z", "z_fine")
FIXTURE_KEYS = {
    "universe",
    "address",
    "channels",
    "footprint",
    "pan_range",
    "tilt_range",
    "pan",
    "tilt",
    "z",
    "invert_pan",
    "invert_tilt",
    "set",
    "blackout",
    "profile",
    "mode",
}
UNIVERSE_SLOTS = profiles.DMX_SLOTS
DEFAULT_RANGES = {"pan": 540.0, "tilt": 270.0}
MAX_RANGE = 7200.0


def _profile(r, f: dict, key: tuple, hand: dict) -> profiles.Layout | None:
    """The layout of the fixture's profile (a path relative to the show file, or ofl:MAKER/MODEL
    from the bundled library), or None."""
    if "profile" not in f:
        if "mode" in f:
            r.fail(key + ("mode",), "only used with a profile")
        return None
    file = r.string(f, key, "profile")
    mode = r.string(f, key, "mode", "") or None
    degrees = {}
    for axis in ("pan", "tilt"):
        if f"{axis}_range" in f:
            degrees[axis] = r.number(f, key, f"{axis}_range", lo=0.0, hi=MAX_RANGE, lo_open=True)
        elif any(role.startswith(axis) for role in hand):
            degrees[axis] = DEFAULT_RANGES[axis]  # the profile's axis is not used
    try:
        if file.startswith(fixturelib.PREFIX):
            # the library bundled with the package: "ofl:MAKER/MODEL"
            ref = file[len(fixturelib.PREFIX) :]
            return fixturelib.layout(ref, mode, pan_degrees=degrees.get("pan"), tilt_degrees=degrees.get("tilt"))
        path = os.path.join(os.path.dirname(os.path.abspath(r.path)), file)
        return profiles.read(path, mode, pan_degrees=degrees.get("pan"), tilt_degrees=degrees.get("tilt"))
    except profiles.ProfileError as exc:
        where = key + ("mode",) if exc.key == "modes" and "mode" in f else key + ("profile",)
        r.fail(where, f"{file}: {exc.key}: {exc.message}" if exc.key else f"{file}: {exc.message}")
    except fixturelib.LibraryError as exc:
        r.fail(key + ("profile",), str(exc))


def read_patch(r, f: dict, key: tuple, universes: tuple[int, int]) -> DmxPatch:
    universe = r.integer(f, key, "universe", lo=universes[0], hi=universes[1])
    address = r.integer(f, key, "address", lo=1, hi=UNIVERSE_SLOTS)
    ch = f.get("channels")
    ckey = key + ("channels",)
    if "profile" in f and ch is None:
        ch = {}
    elif not isinstance(ch, dict) or not ch and "profile" not in f:
        r.fail(
            ckey,
            "must be a table such as { pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }"
            + ("" if "profile" in f else " (or give a profile)"),
        )
    r.known(ch, ckey, CHANNEL_NAMES)
    hand = {role: r.integer(ch, ckey, role, lo=1, hi=UNIVERSE_SLOTS) for role in CHANNEL_NAMES if role in ch}
    lay = _profile(r, f, key, hand)
    # Typed by hand wins: an axis with any channel typed takes none from the profile.
    channels, from_profile = {}, {}
    for axis in ("pan", "tilt"):
        a = getattr(lay, axis, None)
        if a is None or any(role.startswith(axis) for role in hand):
            continue
        from_profile[axis] = a
        channels[axis] = a.coarse
        for suffix, off in zip(("_fine", "_fine2"), a.fine):
            channels[axis + suffix] = off
    channels.update(hand)
    for fine, coarse in (
        ("pan_fine", "pan"),
        ("tilt_fine", "tilt"),
        ("z_fine", "z"),
        ("pan_fine2", "pan_fine"),
        ("tilt_fine2", "tilt_fine"),
    ):
        if fine in channels and coarse not in channels:
            r.fail(ckey + (fine,), f"needs a {coarse} channel too")
    if not channels:
        r.fail(ckey, "the fixture has no pan, tilt or z channel")
    named = lay.channels if lay is not None else None
    fixed = r.channel_values(f, key, "set", named)
    blackout = r.channel_values(f, key, "blackout", named)
    seen = {}
    for role, off in list(channels.items()) + [(f"set.{k}", k) for k in fixed]:
        if off in seen:
            r.fail(
                ckey if not role.startswith("set.") else key + ("set", str(off)),
                f"channel {off} is used by both {seen[off]} and {role}",
            )
        seen[off] = role
    top = max(list(seen) + list(blackout) + ([lay.footprint] if lay is not None else []))
    footprint = r.integer(f, key, "footprint", top, 1, UNIVERSE_SLOTS)
    used = max(list(seen) + list(blackout))
    if footprint < used:
        r.fail(key + ("footprint",), f"must cover every channel used, up to {used}")
    if address + footprint - 1 > UNIVERSE_SLOTS:
        r.fail(key + ("address",), f"channels {address} to {address + footprint - 1} do not fit in 512")
    maps = {}
    for axis in ("pan", "tilt"):
        a = from_profile.get(axis)
        span = r.number(f, key, f"{axis}_range", a.degrees if a else DEFAULT_RANGES[axis], 0.0, MAX_RANGE, lo_open=True)
        pair = r.pair(f, key, axis, [span / 2 - 45, span / 2 + 45], 0.0, span)
        if r.boolean(f, key, f"invert_{axis}", a.inverted if a else False):
            pair = pair[::-1]
        low, high, full = pair[0] / span, pair[1] / span, span
        if a is not None and a.window != (0.0, 1.0):
            # the position range covers only part of the channel
            w0, w1 = a.window
            low, high, full = w0 + low * (w1 - w0), w0 + high * (w1 - w0), span / abs(w1 - w0)
        maps[axis] = AxisMap(low, high, full)
    z = r.pair(f, key, "z", [0.0, 1.0], 0.0, 1.0)
    # The dimmer: the profile's Intensity channel, else the channel z drives (z on the dimmer).
    dimmer = lay.dimmer if lay is not None and lay.dimmer else ()
    if not dimmer and "z" in channels:
        dimmer = (channels["z"],) + ((channels["z_fine"],) if "z_fine" in channels else ())
    return DmxPatch(
        universe,
        address,
        channels,
        footprint,
        maps["pan"],
        maps["tilt"],
        AxisMap(*z),
        fixed,
        blackout,
        lay.beam_deg if lay is not None else None,
        dimmer,
    )


def claims(fixture, kind: str) -> list:
    """The universe belongs to one output; each channel to one fixture."""
    p = fixture.patch
    u = p.universe
    out = [
        (
            (kind, "universe", u),
            fixture.output,
            "universe",
            lambda other: f"universe {u} is already sent by output {other.output!r}",
        )
    ]
    for ch in p.used():
        out.append(
            (
                (kind, u, ch),
                fixture.name,
                "address",
                lambda other: (
                    f"channels {p.address} to {p.address + p.footprint - 1} of universe {u} "
                    f"overlap fixture {other.name!r} ({other.patch.address} to "
                    f"{other.patch.address + other.patch.footprint - 1})"
                ),
            )
        )
    return out


def word(axis: AxisMap, v: float, bits: int = 16) -> int:
    """`bits`-bit DMX value of v in [-1, 1]: -1 lands on `low`, +1 on `high` (fractions of
    the channel's full range), rounded half up."""
    top = (1 << bits) - 1
    frac = axis.low + (v + 1.0) / 2.0 * (axis.high - axis.low)
    return min(top, max(0, math.floor(frac * float(top) + 0.5)))


def writer(patch: DmxPatch):
    """A function (data, x, y, z, blackout) -> values that writes the fixture's channel
    values into its universe's slots and returns them as `values` gives them; the
    patch is worked out once."""
    base = patch.address - 1
    ch = patch.channels
    axes = []
    for k, (role, axis) in enumerate((("pan", patch.pan), ("tilt", patch.tilt), ("z", patch.z))):
        if role in ch:
            fine, fine2 = ch.get(role + "_fine"), ch.get(role + "_fine2")
            axes.append(
                (
                    k,
                    base + ch[role],
                    None if fine is None else base + fine,
                    None if fine2 is None else base + fine2,
                    axis.low,
                    axis.high - axis.low,
                )
            )
    fixed = [(base + off, value) for off, value in patch.fixed.items()]
    dark = [(base + off, value) for off, value in patch.blackout.items()]
    floor = math.floor

    def write(data, x: float, y: float, z: float, blackout: bool = False) -> list[tuple[int, int]]:
        v3 = (x, y, z)
        out = []
        for k, coarse, fine, fine2, low, span in axes:
            if fine2 is not None:
                w = floor((low + (v3[k] + 1.0) / 2.0 * span) * 16777215.0 + 0.5)
                w = 0 if w < 0 else 16777215 if w > 16777215 else w
                out += ((coarse, w >> 16), (fine, (w >> 8) & 0xFF), (fine2, w & 0xFF))
                continue
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
    `_fine` channel (a 24-bit one also to `_fine2`); without a fine channel only
    the coarse byte is sent. Blacked out, the fixture's blackout values come last
    and win."""
    out = []
    ch = patch.channels
    base = patch.address - 1
    for role, axis, v in (("pan", patch.pan, x), ("tilt", patch.tilt, y), ("z", patch.z, z)):
        if role in ch:
            fine2 = ch.get(role + "_fine2")
            if fine2 is not None:
                w = word(axis, v, 24)
                out.extend(
                    ((base + ch[role], w >> 16), (base + ch[role + "_fine"], (w >> 8) & 0xFF), (base + fine2, w & 0xFF))
                )
                continue
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


def carry(new: dict, old: dict) -> list:
    """Sending state (sequence numbers, what was last sent and when) of the universes in both
    `old` and `new` (number -> Universe or Art-Net Port) carried into `new`, the data left to
    the next frame; returns the old ones that are no longer sent."""
    for number, prev in old.items():
        if number in new:
            for k, v in vars(prev).items():
                if k != "data":
                    setattr(new[number], k, v)
    return [prev for number, prev in old.items() if number not in new]


def _fraction(sent: dict, base: int, offsets) -> float:
    """The value 0..1 of the channels at `offsets` (coarse first, then its fine bytes) as sent."""
    word = 0
    for off in offsets:
        word = (word << 8) | sent.get(base + off, 0)
    return word / ((1 << 8 * len(offsets)) - 1)


def angles(patch: DmxPatch, values) -> tuple[float, float]:
    """Pan and tilt in degrees from home, decoded from the (channel, value) pairs the output
    sends (coarse and fine bytes, the patch's ranges and inversions): what the head would do."""
    sent = dict(values)
    base = patch.address - 1
    ch = patch.channels
    out = []
    for role, axis in (("pan", patch.pan), ("tilt", patch.tilt)):
        if role not in ch:
            out.append(0.0)
            continue
        offsets = [ch[role]] + [ch[role + s] for s in ("_fine", "_fine2") if role + s in ch]
        out.append(axis.angle(_fraction(sent, base, offsets)))
    return out[0], out[1]


def intensity(patch: DmxPatch, values) -> float:
    """The dimmer's level, 0 to 1, decoded from the (channel, value) pairs the output sends
    (a blackout value on it included); 1 for a fixture without a dimmer."""
    return _fraction(dict(values), patch.address - 1, patch.dimmer) if patch.dimmer else 1.0


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
