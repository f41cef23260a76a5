"""Reading a show file (TOML) into the show model.

Everything is checked before anything is sent. A mistake raises ShowError,
whose message names the file, the line where it can be found and the key
at fault ("show.toml:14: fixtures[2].address: ...").
"""

from __future__ import annotations

import ipaddress
import math
import os
import re
import socket
import sys
import tomllib
import uuid
from fractions import Fraction

from kinetra_common import files, units

from . import model, outputs, tomlpos
from . import tempo as tempo_sources
from .model import ShowError

MAX_FPS = 44
DEFAULT_FPS = 40
# The largest show file read.
MAX_SHOW_BYTES = 16 * 1024 * 1024
# Tables and arrays nested deeper than this are refused.
MAX_NESTING = 32
# TOML integers are 64-bit.
INT64 = 1 << 63
# Longer keys and messages (a value quoted whole) are cut to this many characters.
MAX_MESSAGE = 300
# Shows without a `cid` get one derived from the machine and the show's path, so that
# a show keeps its identity from run to run and two machines never share one.
CID_NAMESPACE = uuid.UUID("6c0f3c52-7a8e-4c1e-9a57-2f3d1b7e5a10")
MACHINE_ID_FILES = ("/etc/machine-id", "/var/lib/dbus/machine-id")

TOP_KEYS = {"show", "tempo", "outputs", "patterns", "groups", "fixtures", "cues", "web", "osc_in", "midi"}
# Keys every [outputs.NAME] takes besides its kind's own.
OUTPUT_KEYS = {"type", "latency_ms"}
# A path to the lights that is this much slower or faster than the others.
MAX_OUTPUT_LATENCY_MS = 150.0
SHOW_KEYS = {"name", "fps", "cid", "quantize"}
TEMPO_KEYS = {"bpm", "source", "beats_per_bar", "latency_ms", "midi_port", "bpm_range", "audio_device"}
# [tempo] keys that only one source takes
SOURCE_KEYS = {
    "djlink": {"follow", "djlink_interface", "djlink_announce", "djlink_device"},
    "os2l": {"os2l_host", "os2l_port", "os2l_buttons", "os2l_commands"},
}
FIXTURE_KEYS = {"name", "output", "group", "pattern", "offset_beats", "offset_pips", "scale"}
CUE_KEYS = {"name", "key", "quantize", "transition", "curve", "phase", "retrigger", "next", "after", "set"}
TARGET_KEYS = {"pattern", "scale", "spread_beats", "spread_pips", "order", "speed", "reverse", "mirror", "rotate"}
WEB_KEYS = {"host", "port"}
OSC_IN_KEYS = {"host", "port"}
MIDI_KEYS = {"input", "output", "layout", "notes", "controls"}
# Inputs listen here unless the show names another address.
LOOPBACK = "127.0.0.1"
DEFAULT_WEB_PORT = 8080
# Cue keys are letters and digits; these letters the player keeps for itself.
RESERVED_KEYS = "qQ"
_CONTROL = model.CONTROL
printable = model.printable


def key_text(path: tuple) -> str:
    out = ""
    for p in path:
        out += f"[{p}]" if isinstance(p, int) else (f".{p}" if out else str(p))
    return printable(out)


def _cut(text: str) -> str:
    return text if len(text) <= MAX_MESSAGE else text[: MAX_MESSAGE - 3] + "..."


class Reader:
    """Typed getters over the parsed document; every refusal names file, line and key."""

    def __init__(self, path: str, text: str):
        self.path = path
        self.text = text

    def fail(self, key: tuple, message: str):
        raise ShowError(self.path, tomlpos.line_of(self.text, key), _cut(key_text(key)) or None, _cut(message))

    def table(self, parent: dict, key: tuple, name: str, required=False) -> dict:
        v = parent.get(name)
        if v is None:
            if required:
                self.fail(key + (name,), f"missing table [{key_text(key + (name,))}]")
            return {}
        if not isinstance(v, dict):
            self.fail(key + (name,), "must be a table")
        return v

    def known(self, table: dict, key: tuple, allowed) -> None:
        for k in table:
            if k not in allowed:
                self.fail(key + (k,), "unknown key; expected one of " + ", ".join(sorted(allowed)))

    def _value(self, table, key, name, default):
        """(path, value, given): a missing key without a default is a mistake."""
        if name not in table and default is None:
            self.fail(key + (name,), "missing")
        return key + (name,), table.get(name, default), name in table

    def number(self, table, key, name, default=None, lo=None, hi=None, lo_open=False):
        path, v, given = self._value(table, key, name, default)
        if not given:
            return default
        if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
            self.fail(path, f"must be a number, found {v!r}")
        if lo is not None and (v <= lo if lo_open else v < lo) or hi is not None and v > hi:
            self.fail(
                path,
                f"must be {'above' if lo_open else 'at least'} {lo}"
                + (f" and at most {hi}" if hi is not None else "")
                + f", found {v!r}",
            )
        return float(v)

    def integer(self, table, key, name, default=None, lo=None, hi=None):
        path, v, given = self._value(table, key, name, default)
        if not given:
            return default
        if isinstance(v, bool) or not isinstance(v, int):
            self.fail(path, f"must be a whole number, found {v!r}")
        if (lo is not None and v < lo) or (hi is not None and v > hi):
            self.fail(path, f"must be from {lo} to {hi}, found {v}")
        return v

    def string(self, table, key, name, default=None, choices=None):
        path, v, given = self._value(table, key, name, default)
        if not given:
            return default
        if not isinstance(v, str) or not v:
            self.fail(path, f"must be a non-empty string, found {v!r}")
        if choices and v not in choices:
            self.fail(path, f"must be one of {', '.join(choices)}, found {printable(repr(v))}")
        return v

    def name(self, table, key, name, default=None):
        """A name shown to people: a string without control characters."""
        v = self.string(table, key, name, default)
        if v is not None and _CONTROL.search(v):
            self.fail(key + (name,), f"must not contain control characters, found {printable(repr(v))}")
        return v

    def boolean(self, table, key, name, default=False):
        v = table.get(name, default)
        if not isinstance(v, bool):
            self.fail(key + (name,), f"must be true or false, found {v!r}")
        return v

    def pair(self, table, key, name, default, lo, hi):
        path = key + (name,)
        v = table.get(name, default)
        if (
            not isinstance(v, list)
            or len(v) != 2
            or any(isinstance(e, bool) or not isinstance(e, (int, float)) or not math.isfinite(e) for e in v)
        ):
            self.fail(path, f"must be two numbers [low, high], found {v!r}")
        if any(e < lo or e > hi for e in v):
            self.fail(path, f"both values must be from {lo:g} to {hi:g}, found {v!r}")
        return float(v[0]), float(v[1])

    def address(self, value, path, what):
        if not isinstance(value, str) or not value:
            self.fail(path, f"must be an IPv4 address or host name, found {value!r}")
        if _CONTROL.search(value):
            self.fail(path, f"must not contain control characters, found {printable(repr(value))}")
        try:
            ipaddress.IPv6Address(value)
            self.fail(path, f"{value} is an IPv6 address; IPv6 is not supported")
        except ipaddress.AddressValueError:
            pass
        try:
            ip = ipaddress.IPv4Address(value)
        except ValueError:
            try:
                ip = ipaddress.IPv4Address(socket.getaddrinfo(value, None, socket.AF_INET)[0][4][0])
            except (OSError, UnicodeError, IndexError, ValueError):
                self.fail(path, f"cannot resolve host name {value!r}")
        if ip.is_unspecified or ip == ipaddress.IPv4Address("255.255.255.255"):
            self.fail(path, f"{value} is not an address to send to")
        if what == "unicast" and ip.is_multicast:
            self.fail(path, f"{value} is a multicast address; use multicast = true instead")
        return str(ip)

    def pips(self, table, key, beats_key, pips_key, default_beats=0.0) -> int:
        """A time given in beats (to the nearest pip) or in pips, not both."""
        if beats_key in table and pips_key in table:
            self.fail(key + (pips_key,), f"give {beats_key} or {pips_key}, not both")
        if pips_key in table:
            return self.integer(table, key, pips_key, lo=-(1 << 30), hi=1 << 30)
        beats = self.number(table, key, beats_key, default_beats, -(1 << 24), 1 << 24)
        return math.floor(beats * units.PIPS_PER_BEAT + 0.5)

    def scale(self, table, key, name="scale", default=1.0) -> tuple:
        v = table.get(name, default)
        if not isinstance(v, list):
            v = [v, v, v]
        if len(v) != 3 or any(
            isinstance(e, bool) or not isinstance(e, (int, float)) or not math.isfinite(e) for e in v
        ):
            self.fail(key + (name,), f"must be a number or three numbers [x, y, z], found {table.get(name)!r}")
        return tuple(float(e) for e in v)

    def channel_values(self, table, key, name, named: dict | None = None) -> dict:
        """{ 5 = 255 }: channel numbers of the fixture (from 1) to DMX values; with a
        profile's `named` channels ({ "Shutter" = 255 }) also channel names."""
        values, given = {}, {}
        for k, v in self.table(table, key, name).items():
            if k.isascii() and k.isdigit() and len(k) < 10 and 1 <= int(k) <= 512:
                ch = int(k)
            elif named and k in named:
                ch = named[k]
            elif named:
                shown = ", ".join(repr(n) for n in list(named)[:12]) + (", ..." if len(named) > 12 else "")
                self.fail(
                    key + (name, k),
                    f"neither a channel number nor a channel of the profile's mode ({printable(shown)})",
                )
            else:
                self.fail(key + (name, k), "keys are channel numbers from 1 (the fixture's first channel)")
            if ch in given:
                self.fail(key + (name, k), f"channel {ch} is already set as {printable(repr(given[ch]))}")
            given[ch] = k
            values[ch] = self.integer(table[name], key + (name,), k, lo=0, hi=255)
        return values


# ---- sections -------------------------------------------------------------------------------


def _tempo(r: Reader, doc: dict) -> model.Tempo:
    key = ("tempo",)
    t = r.table(doc, (), "tempo", required=True)
    r.known(t, key, TEMPO_KEYS.union(*SOURCE_KEYS.values()))
    source = r.string(t, key, "source", "fixed", tuple(tempo_sources.SOURCES))
    for other, keys in SOURCE_KEYS.items():
        for k in sorted(keys & set(t)):
            if other != source:
                r.fail(key + (k,), f'only with source = "{other}"')
    bpm_range = None
    if "bpm_range" in t:
        bpm_range = r.pair(t, key, "bpm_range", None, 1.0, units.MAX_BPM)
        if not bpm_range[0] * 2 <= bpm_range[1]:
            r.fail(key + ("bpm_range",), f"the high end must be at least twice the low end, found {list(bpm_range)!r}")
    return model.Tempo(
        bpm=r.number(t, key, "bpm", lo=0.0, hi=units.MAX_BPM, lo_open=True),
        source=source,
        beats_per_bar=r.integer(t, key, "beats_per_bar", 4, 1, 64),
        latency_ms=r.number(t, key, "latency_ms", 0.0, -1000.0, 1000.0),
        midi_port=r.name(t, key, "midi_port", "") or None,
        bpm_range=bpm_range,
        audio_device=r.name(t, key, "audio_device", "") or None,
        **(_djlink(r, t, key) if source == "djlink" else _os2l(r, t, key) if source == "os2l" else {}),
    )


def _djlink(r: Reader, t: dict, key: tuple) -> dict:
    from .tempo import djlink

    follow = t.get("follow", "master")
    lo, hi = djlink.FOLLOW_NUMBERS[0], djlink.FOLLOW_NUMBERS[-1]
    if follow != "master" and (isinstance(follow, bool) or not isinstance(follow, int) or not lo <= follow <= hi):
        r.fail(key + ("follow",), f'must be "master" or a player\'s number from {lo} to {hi}, found {follow!r}')
    announce = r.boolean(t, key, "djlink_announce", False)
    interface = r.name(t, key, "djlink_interface", "") or None
    if announce and interface is None:
        r.fail(key + ("djlink_announce",), "needs djlink_interface (the network interface to announce on)")
    numbers = djlink.DEVICE_NUMBERS
    device = r.integer(t, key, "djlink_device", 0, numbers[0], numbers[-1]) if "djlink_device" in t else None
    if device is not None and not announce:
        r.fail(key + ("djlink_device",), "only with djlink_announce = true")
    return {"follow": follow, "djlink_interface": interface, "djlink_announce": announce, "djlink_device": device}


def _os2l(r: Reader, t: dict, key: tuple) -> dict:
    found = {"os2l_host": _listen_host(r, t, key, "os2l_host")}
    found["os2l_port"] = r.integer(t, key, "os2l_port", 0, 0, 65535)
    for name in ("os2l_buttons", "os2l_commands"):
        table = r.table(t, key, name)
        for k, cue in table.items():
            if name == "os2l_commands" and not k.isdigit():
                r.fail(key + (name, k), "an OS2L command is named by its number")
            if not isinstance(cue, str):
                r.fail(key + (name, k), f"must be a cue's name, found {cue!r}")
        found[name] = {int(k) if name == "os2l_commands" else k: cue for k, cue in table.items()}
    return found


def _os2l_cues(r: Reader, tempo: model.Tempo, cues: dict) -> None:
    """Every cue an OS2L button or command launches is one of the show's."""
    for name, bound in (("os2l_buttons", tempo.os2l_buttons), ("os2l_commands", tempo.os2l_commands)):
        for k, cue in bound.items():
            if cue not in cues:
                r.fail(("tempo", name, str(k)), f"no cue named {printable(repr(cue))}")


def _outputs(r: Reader, doc: dict, show_name: str) -> dict:
    outs = r.table(doc, (), "outputs", required=True)
    if not outs:
        r.fail(("outputs",), "the show names no output")
    result = {}
    for name, o in outs.items():
        key = ("outputs", name)
        if not isinstance(o, dict):
            r.fail(key, "must be a table")
        if _CONTROL.search(name):
            r.fail(key, "an output name must not contain control characters")
        kind = outputs.KINDS[r.string(o, key, "type", choices=tuple(outputs.KINDS))]
        r.known(o, key, OUTPUT_KEYS | kind.SECTION_KEYS)
        result[name] = kind.read_output(r, o, key, show_name)
    return result


def _latencies(r: Reader, doc: dict) -> dict:
    """Seconds each output's fixtures are sampled ahead of the show's clock (behind if negative)."""
    out = {}
    for name, o in doc["outputs"].items():
        ms = r.number(o, ("outputs", name), "latency_ms", 0.0, -MAX_OUTPUT_LATENCY_MS, MAX_OUTPUT_LATENCY_MS)
        if ms:
            out[name] = ms / 1000.0
    return out


def _patterns(r: Reader, doc: dict, base: str):
    import kinetra
    from kinetra_common import patternfile

    table = r.table(doc, (), "patterns")
    patterns = []
    for name, file in table.items():
        key = ("patterns", name)
        if not isinstance(file, str) or not file:
            r.fail(key, f"must be the path of a CSV pattern file, found {file!r}")
        path = os.path.join(base, file)
        try:
            patterns.append(patternfile.load_pattern(path, name, advice="rename the key in [patterns]"))
        except patternfile.PatternFileError as exc:
            r.fail(key, str(exc))
    try:
        return kinetra.PatternLibrary(patterns)
    except ValueError as exc:
        bad = str(exc).rpartition(": ")[2]
        r.fail(("patterns", bad) if bad in table else ("patterns",), str(exc))


def _pattern(r: Reader, table: dict, key: tuple, library) -> str:
    pattern = r.string(table, key, "pattern")
    try:
        library.sample(pattern, 0)
    except ValueError as exc:
        r.fail(key + ("pattern",), printable(str(exc)))
    return pattern


def _fixtures(r: Reader, doc: dict, outs: dict, library) -> tuple:
    items = doc.get("fixtures")
    if not isinstance(items, list) or not items or not all(isinstance(f, dict) for f in items):
        r.fail(("fixtures",), "the show needs at least one [[fixtures]] table")
    names, fixtures = {}, []
    for i, f in enumerate(items):
        key = ("fixtures", i)
        name = r.name(f, key, "name")
        if name in names:
            r.fail(key + ("name",), f"fixture name {printable(repr(name))} is already used by fixtures[{names[name]}]")
        names[name] = i
        out_name = r.string(f, key, "output")
        if out_name not in outs:
            r.fail(key + ("output",), f"no output named {printable(repr(out_name))} in [outputs]")
        out = outs[out_name]
        kind = outputs.KINDS[out.kind]
        r.known(f, key, FIXTURE_KEYS | kind.FIXTURE_KEYS)
        group = r.name(f, key, "group") if "group" in f else None
        look = model.Look(pattern=_pattern(r, f, key, library), scale=r.scale(f, key))
        fixtures.append(
            model.Fixture(
                name=name,
                output=out_name,
                kind=out.kind,
                offset_pips=r.pips(f, key, "offset_beats", "offset_pips"),
                look=look,
                patch=kind.read_patch(r, f, key, out),
                group=group,
            )
        )
    owner: dict = {}
    for i, fx in enumerate(fixtures):
        for spot, value, where, message in outputs.KINDS[fx.kind].claims(fx):
            other = owner.setdefault(spot, (value, i))
            if other[0] != value:
                r.fail(("fixtures", i, where), message(fixtures[other[1]]))
    return tuple(fixtures)


def _groups(r: Reader, doc: dict, fixtures: tuple) -> dict:
    """Groups, each with its members in spread order: those that name the group with
    `group = ...`, in file order, or the group's own `fixtures` list."""
    by_name = {f.name: i for i, f in enumerate(fixtures)}
    naming: dict = {}
    for f in fixtures:
        if f.group is not None:
            naming.setdefault(f.group, []).append(f.name)
    groups = {}
    for name, g in r.table(doc, (), "groups").items():
        key = ("groups", name)
        if not isinstance(g, dict):
            r.fail(key, "must be a table")
        if _CONTROL.search(name):
            r.fail(key, "a group name must not contain control characters")
        if name in by_name:
            r.fail(key, f"{printable(repr(name))} is already the name of a fixture")
        r.known(g, key, {"spread_beats", "spread_pips", "fixtures"})
        spread = r.pips(g, key, "spread_beats", "spread_pips")
        claimed = tuple(naming.get(name, ()))
        if "fixtures" in g:
            listed = g["fixtures"]
            if not isinstance(listed, list) or not listed or not all(isinstance(e, str) for e in listed):
                r.fail(key + ("fixtures",), "must be a list of fixture names")
            for e in listed:
                if e not in by_name:
                    r.fail(key + ("fixtures",), f"no fixture named {printable(repr(e))}")
            if len(set(listed)) != len(listed):
                r.fail(key + ("fixtures",), "names a fixture twice")
            in_list = set(listed)
            for e in claimed:
                if e not in in_list:
                    r.fail(
                        ("fixtures", by_name[e], "group"),
                        f"fixture {printable(repr(e))} is not in the list of group {printable(repr(name))}",
                    )
            claimed = tuple(listed)
        groups[name] = model.Group(name, claimed, spread)
    for i, f in enumerate(fixtures):
        if f.group is not None and f.group not in groups:
            r.fail(("fixtures", i, "group"), f"no group named {printable(repr(f.group))} in [groups]")
    return groups


def _with_base_spread(fixtures: tuple, groups: dict) -> tuple:
    """The k-th member of a fixture's own group runs k spreads behind the first."""
    place = {(g.name, m): k for g in groups.values() for k, m in enumerate(g.members)}
    out = []
    for f in fixtures:
        if f.group is not None:
            g = groups[f.group]
            lag = place[g.name, f.name] * g.spread_pips
            f = model.Fixture(
                f.name, f.output, f.kind, f.offset_pips, model.Look(f.look.pattern, f.look.scale, lag), f.patch, f.group
            )
        out.append(f)
    return tuple(out)


def _quantize(r: Reader, table: dict, key: tuple, default, beats_per_bar: int):
    """Launch quantisation in beats (None: now)."""
    if "quantize" not in table:
        return default
    v = table["quantize"]
    if isinstance(v, str) and v in model.QUANTIZE_NAMES:
        return {"now": None, "beat": 1, "bar": beats_per_bar}[v]
    if isinstance(v, int) and not isinstance(v, bool) and v in model.QUANTIZE_BEATS:
        return v
    r.fail(
        key + ("quantize",),
        "must be one of "
        + ", ".join([f'"{n}"' for n in model.QUANTIZE_NAMES] + [str(b) for b in model.QUANTIZE_BEATS])
        + f" (beats), found {printable(repr(v))}",
    )


def ratio(text) -> Fraction | None:
    """ "p/q" or "p" with p and q whole numbers from 1 to MAX_RATIO_TERM, else None."""
    if isinstance(text, int) and not isinstance(text, bool):
        text = str(text)
    if not isinstance(text, str):
        return None
    m = re.fullmatch(r"([0-9]{1,9})(?:/([0-9]{1,9}))?", text.strip())
    if not m:
        return None
    p, q = int(m.group(1)), int(m.group(2) or 1)
    if not (1 <= p <= model.MAX_RATIO_TERM and 1 <= q <= model.MAX_RATIO_TERM):
        return None
    return Fraction(p, q)


def _target(r: Reader, t, key: tuple, name: str, members: tuple, is_group: bool, library) -> model.CueTarget:
    if not isinstance(t, dict):
        r.fail(key, 'must be a table of settings such as { pattern = "circle" }')
    r.known(t, key, TARGET_KEYS)
    spread = None
    if "spread_beats" in t or "spread_pips" in t:
        if not is_group:
            r.fail(key + ("spread_beats" if "spread_beats" in t else "spread_pips",), "a spread needs a group")
        spread = r.pips(t, key, "spread_beats", "spread_pips")
    order = r.string(t, key, "order", None, model.SPREAD_ORDERS) if "order" in t else None
    if order is not None and not is_group:
        r.fail(key + ("order",), "a spread order needs a group")
    speed = None
    if "speed" in t:
        speed = ratio(t["speed"])
        if speed is None:
            r.fail(
                key + ("speed",),
                "must be a ratio of whole numbers from 1 to "
                f'{model.MAX_RATIO_TERM} such as "1/2", "2" or "3/2", '
                f"found {printable(repr(t['speed']))}",
            )
    mirror = None
    if "mirror" in t:
        m = t["mirror"]
        if (
            not isinstance(m, list)
            or not all(isinstance(a, str) and a in model.AXES for a in m)
            or len(set(m)) != len(m)
        ):
            r.fail(key + ("mirror",), f'must be a list of axes from "x", "y", "z", found {printable(repr(m))}')
        mirror = tuple(a in m for a in model.AXES)
    return model.CueTarget(
        name=name,
        fixtures=members,
        pattern=_pattern(r, t, key, library) if "pattern" in t else None,
        scale=r.scale(t, key) if "scale" in t else None,
        spread_pips=spread,
        order=order,
        speed=speed,
        reverse=r.boolean(t, key, "reverse") if "reverse" in t else None,
        mirror=mirror,
        rotate=r.number(t, key, "rotate", None, -360.0, 360.0) if "rotate" in t else None,
    )


def _cues(r: Reader, doc: dict, fixtures: tuple, groups: dict, library, default_q, beats_per_bar):
    items = doc.get("cues", [])
    if not isinstance(items, list) or not all(isinstance(c, dict) for c in items):
        r.fail(("cues",), "must be [[cues]] tables")
    fixture_names = {f.name for f in fixtures}
    cues: dict = {}
    keys: dict = {}
    where: dict = {}
    for i, c in enumerate(items):
        key = ("cues", i)
        r.known(c, key, CUE_KEYS)
        name = r.name(c, key, "name")
        if name in cues:
            r.fail(key + ("name",), f"cue name {printable(repr(name))} is already used by cues[{where[name]}]")
        where[name] = i
        bound = None
        if "key" in c:
            bound = r.string(c, key, "key")
            if len(bound) != 1 or not bound.isascii() or not bound.isalnum():
                r.fail(key + ("key",), f"must be one letter or digit, found {printable(repr(bound))}")
            if bound in RESERVED_KEYS:
                r.fail(key + ("key",), f"{bound!r} quits the player; choose another key")
            if bound in keys:
                r.fail(key + ("key",), f"key {bound!r} is already bound to cue {printable(repr(keys[bound]))}")
            keys[bound] = name
        settings = r.table(c, key, "set", required=True)
        if not settings:
            r.fail(key + ("set",), "the cue sets nothing")
        targets, owner = [], {}
        for tname, t in settings.items():
            tkey = key + ("set", tname)
            if tname in groups:
                members, is_group = groups[tname].members, True
            elif tname in fixture_names:
                members, is_group = (tname,), False
            else:
                r.fail(tkey, f"no group or fixture named {printable(repr(tname))}")
            for m in members:
                if m in owner:
                    r.fail(
                        tkey,
                        f"fixture {printable(repr(m))} is set by both {printable(repr(owner[m]))} "
                        f"and {printable(repr(tname))}",
                    )
                owner[m] = tname
            targets.append(_target(r, t, tkey, tname, members, is_group, library))
        fade = None
        transition = c.get("transition", "cut")
        if transition != "cut":
            if (
                isinstance(transition, bool)
                or not isinstance(transition, (int, float))
                or not math.isfinite(transition)
                or not 0 < transition <= model.MAX_TRANSITION_BEATS
            ):
                r.fail(
                    key + ("transition",),
                    f'must be "cut" or a crossfade in beats above 0 and at most '
                    f"{model.MAX_TRANSITION_BEATS}, found {printable(repr(transition))}",
                )
            fade = Fraction(transition).limit_denominator(units.PIPS_PER_BEAT * 16)
        after = r.integer(c, key, "after", 0, 0, 1 << 20)
        cues[name] = model.Cue(
            name=name,
            key=bound,
            targets=tuple(targets),
            quantize_beats=_quantize(r, c, key, default_q, beats_per_bar),
            fade_beats=fade,
            curve=r.string(c, key, "curve", "linear", model.CURVES),
            phase=r.string(c, key, "phase", "keep", model.PHASES),
            retrigger=r.boolean(c, key, "retrigger"),
            next=r.string(c, key, "next") if "next" in c else None,
            after_bars=after,
        )
        if "after" in c and "next" not in c:
            r.fail(key + ("after",), "needs a next cue")
    for name, cue in cues.items():
        if cue.next is None:
            continue
        key = ("cues", where[name], "next")
        if cue.next not in cues:
            r.fail(key, f"no cue named {printable(repr(cue.next))}")
        # a chain of cues that follow at once must not come back to where it started
        seen, at = {name}, cue
        while at.next is not None and at.after_bars == 0:
            if at.next in seen:
                r.fail(key, f"cue {printable(repr(at.next))} would follow itself with after = 0")
            seen.add(at.next)
            at = cues[at.next]
    return cues, keys


def _listen_host(r: Reader, t: dict, key: tuple, name: str = "host") -> str:
    host = r.name(t, key, name, LOOPBACK)
    if host != "localhost":
        try:
            ipaddress.ip_address(host)
        except ValueError:
            r.fail(
                key + (name,),
                "must be an IP address to listen on (127.0.0.1, 0.0.0.0 for every "
                f"interface, or one of this machine's), found {printable(repr(host))}",
            )
    return host


def _midi_map(r: Reader, m: dict, key: tuple, name: str, cues: dict, targets: set) -> dict:
    from .inputs import midi

    out = {}
    for number, text in r.table(m, key, name).items():
        k = key + (name, number)
        if not (number.isascii() and number.isdigit() and 0 <= int(number) <= 127):
            r.fail(k, f"keys are {'note' if name == 'notes' else 'controller'} numbers from 0 to 127")
        if not isinstance(text, str):
            r.fail(k, f'must be a command such as "tap" or "cue NAME", found {printable(repr(text))}')
        try:
            action = midi.parse_action(text)
        except ValueError as exc:
            r.fail(k, str(exc))
        if action.name == "cue" and action.arg not in cues:
            r.fail(k, f"no cue named {printable(repr(action.arg))}")
        if action.name == "release" and action.arg is not None and action.arg not in targets:
            r.fail(k, f"no group or fixture named {printable(repr(action.arg))}")
        if action.fader and name == "notes":
            r.fail(k, f"{action.name} is a fader: map it under [midi.controls]")
        out[int(number)] = action
    return out


def _inputs(r: Reader, doc: dict, cues: dict, groups: dict, fixtures: tuple) -> dict:
    """The [web], [osc_in] and [midi] tables: the show's remote inputs."""
    from .inputs import midi

    found = {}
    if "web" in doc:
        key = ("web",)
        t = r.table(doc, (), "web")
        r.known(t, key, WEB_KEYS)
        found["web"] = model.WebInput(_listen_host(r, t, key), r.integer(t, key, "port", DEFAULT_WEB_PORT, 0, 65535))
    if "osc_in" in doc:
        key = ("osc_in",)
        t = r.table(doc, (), "osc_in")
        r.known(t, key, OSC_IN_KEYS)
        found["osc_in"] = model.OscInput(_listen_host(r, t, key), r.integer(t, key, "port", None, 0, 65535))
    if "midi" in doc:
        key = ("midi",)
        t = r.table(doc, (), "midi")
        r.known(t, key, MIDI_KEYS)
        targets = set(groups) | {f.name for f in fixtures}
        found["midi"] = model.MidiInput(
            input=r.name(t, key, "input"),
            output=r.name(t, key, "output", "") or None,
            layout=r.string(t, key, "layout", "generic", tuple(midi.LAYOUTS)),
            notes=_midi_map(r, t, key, "notes", cues, targets),
            controls=_midi_map(r, t, key, "controls", cues, targets),
        )
    return found


def machine_id() -> str:
    for path in MACHINE_ID_FILES:
        try:
            with open(path, encoding="ascii") as fh:
                text = fh.read(256).strip()
            if text:
                return text
        except (OSError, UnicodeError):
            pass
    return socket.gethostname()


def default_cid(path: str) -> bytes:
    return uuid.uuid5(CID_NAMESPACE, machine_id() + "\0" + os.path.abspath(path)).bytes


def _read(path: str) -> str:
    try:
        raw = files.read_bounded(path, MAX_SHOW_BYTES, f"larger than {MAX_SHOW_BYTES // (1024 * 1024)} MiB")
    except files.FileProblem as exc:
        raise ShowError(path, None, None, str(exc)) from None
    try:
        return raw.decode("utf-8-sig")
    except UnicodeDecodeError:
        raise ShowError(path, None, None, "not a UTF-8 text file") from None


def _check_depth_and_integers(r: Reader, doc: dict) -> None:
    stack = [((), doc, 0)]
    while stack:
        key, v, depth = stack.pop()
        if depth > MAX_NESTING:
            r.fail(key, f"nested more than {MAX_NESTING} deep")
        if isinstance(v, dict):
            stack.extend((key + (k,), e, depth + 1) for k, e in v.items())
        elif isinstance(v, list):
            stack.extend((key + (i,), e, depth + 1) for i, e in enumerate(v))
        elif isinstance(v, int) and not isinstance(v, bool) and not -INT64 <= v < INT64:
            r.fail(key, "integer out of the 64-bit range")


def parse(path: str, text: str) -> dict:
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError as exc:
        message = str(exc)
        m = re.search(r"\(at line (\d+), column \d+\)$", message)
        line = int(m.group(1)) if m else None
        if m:
            message = message[: m.start()].rstrip()
        elif "end of document" in message:
            line = text.count("\n") + 1
        raise ShowError(path, line, None, f"not valid TOML: {message}") from None
    except RecursionError:
        raise ShowError(path, None, None, "not valid TOML: nested too deeply") from None
    except ValueError:
        # tomllib leaves to int() a decimal integer too long to convert
        m = re.search(r"[0-9_]{%d}" % sys.get_int_max_str_digits(), text)
        raise ShowError(
            path,
            text.count("\n", 0, m.start()) + 1 if m else None,
            None,
            "not valid TOML: integer out of the 64-bit range",
        ) from None


def load(path: str) -> model.Show:
    """Read and check a show file; raises ShowError naming file, line and key."""
    text = _read(path)
    doc = parse(path, text)
    r = Reader(path, text)
    _check_depth_and_integers(r, doc)
    r.known(doc, (), TOP_KEYS)
    s = r.table(doc, (), "show")
    r.known(s, ("show",), SHOW_KEYS)
    name = r.name(s, ("show",), "name", os.path.splitext(os.path.basename(path))[0] or "show")
    fps = r.integer(s, ("show",), "fps", DEFAULT_FPS, 1, MAX_FPS)
    if "cid" in s:
        try:
            cid = uuid.UUID(r.string(s, ("show",), "cid")).bytes
        except ValueError:
            r.fail(("show", "cid"), f"must be a UUID such as {uuid.uuid5(CID_NAMESPACE, name)}")
    else:
        cid = default_cid(path)
    tempo = _tempo(r, doc)
    quantize = _quantize(r, s, ("show",), tempo.beats_per_bar, tempo.beats_per_bar)
    outs = _outputs(r, doc, name)
    latency = _latencies(r, doc)
    library = _patterns(r, doc, os.path.dirname(os.path.abspath(path)))
    fixtures = _fixtures(r, doc, outs, library)
    groups = _groups(r, doc, fixtures)
    fixtures = _with_base_spread(fixtures, groups)
    cues, keys = _cues(r, doc, fixtures, groups, library, quantize, tempo.beats_per_bar)
    _os2l_cues(r, tempo, cues)
    inputs = _inputs(r, doc, cues, groups, fixtures)
    return model.Show(
        path, name, cid, fps, tempo, outs, fixtures, groups, cues, keys, library, quantize, latency, **inputs
    )
