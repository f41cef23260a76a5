"""The show file: tempo, outputs, patterns and fixtures, read from TOML.

Everything is checked before anything is sent. A mistake raises ShowError,
whose message names the file, the line where it can be found and the key
at fault ("show.toml:14: fixtures[2].address: ...").
"""

from __future__ import annotations

import dataclasses
import ipaddress
import math
import os
import re
import socket
import tomllib
import uuid

PIPS_PER_BEAT = 64
MAX_FPS = 44
DEFAULT_FPS = 40
SACN_PORT = 5568
CHANNEL_NAMES = ("pan", "pan_fine", "tilt", "tilt_fine", "z", "z_fine")
TEMPO_SOURCES = ("fixed", "tap", "link", "midi")
# Shows without a `cid` get one derived from their name, so a show keeps its
# identity from run to run.
CID_NAMESPACE = uuid.UUID("6c0f3c52-7a8e-4c1e-9a57-2f3d1b7e5a10")


class ShowError(ValueError):
    """A show file that cannot be played; the message names file, line and key."""

    def __init__(self, path: str, line: int | None, key: str | None, message: str):
        self.path, self.line, self.key, self.message = path, line, key, message
        where = f"{path}:{line}" if line is not None else path
        super().__init__(f"{where}: {key}: {message}" if key else f"{where}: {message}")


@dataclasses.dataclass(frozen=True)
class Tempo:
    bpm: float
    source: str = "fixed"
    beats_per_bar: int = 4
    latency_ms: float = 0.0
    midi_port: str | None = None


@dataclasses.dataclass(frozen=True)
class SacnOutput:
    name: str
    destinations: tuple[str, ...]   # unicast IPv4 addresses; empty with multicast
    multicast: bool
    port: int
    priority: int
    source_name: str
    interface: str | None           # local address for multicast
    keepalive_s: float


@dataclasses.dataclass(frozen=True)
class OscOutput:
    name: str
    host: str                       # IPv4 address, resolved at load
    port: int


@dataclasses.dataclass(frozen=True)
class AxisMap:
    """Where -1 and +1 of one axis land, as fractions of the channel's range."""
    low: float
    high: float


@dataclasses.dataclass(frozen=True)
class DmxPatch:
    universe: int
    address: int                    # first channel, 1..512
    channels: dict                  # role -> channel offset (1 = address)
    footprint: int
    pan: AxisMap
    tilt: AxisMap
    z: AxisMap
    fixed: dict                     # channel offset -> value 0..255

    def used(self) -> range:
        return range(self.address, self.address + self.footprint)


@dataclasses.dataclass(frozen=True)
class Fixture:
    name: str
    output: str
    pattern: str
    offset_pips: int
    scale: tuple[float, float, float]
    dmx: DmxPatch | None = None
    osc_address: str | None = None
    remap: bool = False


@dataclasses.dataclass(frozen=True)
class Show:
    path: str
    name: str
    cid: bytes
    fps: int
    tempo: Tempo
    outputs: dict
    fixtures: tuple
    library: object                 # kinetra.PatternLibrary with the show's own patterns

    def sacn_outputs(self):
        return [o for o in self.outputs.values() if isinstance(o, SacnOutput)]

    def universes(self, output: str) -> list[int]:
        return sorted({f.dmx.universe for f in self.fixtures if f.output == output})


# ---- where a key is written ---------------------------------------------------------------

_HEADER = re.compile(r"^\s*(\[\[?)\s*([^\]]+?)\s*\]\]?\s*(#.*)?$")
_KEYLINE = re.compile(r"^\s*((?:[A-Za-z0-9_-]+|\"[^\"]*\"|'[^']*')(?:\s*\.\s*(?:[A-Za-z0-9_-]+|\"[^\"]*\"|'[^']*'))*)\s*=")


def _split_key(text: str) -> list[str]:
    parts = re.findall(r"\"[^\"]*\"|'[^']*'|[^.\s]+", text)
    return [p[1:-1] if p[:1] in "\"'" else p for p in parts]


def key_lines(text: str) -> dict:
    """Line of every table header and every key written at the start of a line,
    keyed by its path with array-of-table indices (("fixtures", 2, "address"))."""
    lines: dict = {}
    counts: dict = {}
    table: tuple = ()
    for no, raw in enumerate(text.splitlines(), 1):
        m = _HEADER.match(raw)
        if m and not _KEYLINE.match(raw):
            parts = tuple(_split_key(m.group(2)))
            path: tuple = ()
            for i, part in enumerate(parts):
                path += (part,)
                if path in counts and (i < len(parts) - 1 or m.group(1) != "[["):
                    path += (counts[path] - 1,)
            if m.group(1) == "[[":
                counts[path] = counts.get(path, 0) + 1
                path += (counts[path] - 1,)
            table = path
            lines.setdefault(table, no)
            continue
        k = _KEYLINE.match(raw)
        if k:
            lines.setdefault(table + tuple(_split_key(k.group(1))), no)
    return lines


def _key_text(path: tuple) -> str:
    out = ""
    for p in path:
        out += f"[{p}]" if isinstance(p, int) else (f".{p}" if out else str(p))
    return out


class _Reader:
    def __init__(self, path: str, text: str):
        self.path = path
        self.lines = key_lines(text)

    def fail(self, key: tuple, message: str):
        line = None
        for n in range(len(key), 0, -1):
            if key[:n] in self.lines:
                line = self.lines[key[:n]]
                break
        raise ShowError(self.path, line, _key_text(key) or None, message)

    # typed getters: `table` is a dict read from the file at path `key`
    def table(self, parent: dict, key: tuple, name: str, required=False) -> dict:
        v = parent.get(name)
        if v is None:
            if required:
                self.fail(key + (name,), f"missing table [{_key_text(key + (name,))}]")
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
            self.fail(path, f"must be {'above' if lo_open else 'at least'} {lo}"
                      + (f" and at most {hi}" if hi is not None else "") + f", found {v!r}")
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
            self.fail(path, f"must be one of {', '.join(choices)}, found {v!r}")
        return v

    def boolean(self, table, key, name, default=False):
        v = table.get(name, default)
        if not isinstance(v, bool):
            self.fail(key + (name,), f"must be true or false, found {v!r}")
        return v

    def pair(self, table, key, name, default, lo, hi):
        path = key + (name,)
        v = table.get(name, default)
        if (not isinstance(v, list) or len(v) != 2
                or any(isinstance(e, bool) or not isinstance(e, (int, float)) or not math.isfinite(e)
                       for e in v)):
            self.fail(path, f"must be two numbers [low, high], found {v!r}")
        if any(e < lo or e > hi for e in v):
            self.fail(path, f"both values must be from {lo:g} to {hi:g}, found {v!r}")
        return float(v[0]), float(v[1])

    def address(self, value, path, what):
        if not isinstance(value, str) or not value:
            self.fail(path, f"must be an IPv4 address or host name, found {value!r}")
        try:
            ip = ipaddress.IPv4Address(value)
        except ValueError:
            try:
                ip = ipaddress.IPv4Address(socket.getaddrinfo(value, None, socket.AF_INET)[0][4][0])
            except (OSError, UnicodeError, IndexError):
                self.fail(path, f"cannot resolve host name {value!r}")
        if ip.is_unspecified or ip == ipaddress.IPv4Address("255.255.255.255"):
            self.fail(path, f"{value} is not an address to send to")
        if what == "unicast" and ip.is_multicast:
            self.fail(path, f"{value} is a multicast address; use multicast = true instead")
        return str(ip)


# ---- sections -------------------------------------------------------------------------------

def _tempo(r: _Reader, doc: dict) -> Tempo:
    key = ("tempo",)
    t = r.table(doc, (), "tempo", required=True)
    r.known(t, key, {"bpm", "source", "beats_per_bar", "latency_ms", "midi_port"})
    return Tempo(
        bpm=r.number(t, key, "bpm", lo=0.0, hi=999.0, lo_open=True),
        source=r.string(t, key, "source", "fixed", TEMPO_SOURCES),
        beats_per_bar=r.integer(t, key, "beats_per_bar", 4, 1, 64),
        latency_ms=r.number(t, key, "latency_ms", 0.0, -1000.0, 1000.0),
        midi_port=r.string(t, key, "midi_port", "") or None,
    )


def _outputs(r: _Reader, doc: dict, show_name: str) -> dict:
    outs = r.table(doc, (), "outputs", required=True)
    if not outs:
        r.fail(("outputs",), "the show names no output")
    result = {}
    for name, o in outs.items():
        key = ("outputs", name)
        if not isinstance(o, dict):
            r.fail(key, "must be a table")
        kind = r.string(o, key, "type", choices=("sacn", "osc"))
        if kind == "osc":
            r.known(o, key, {"type", "host", "port"})
            host = r.address(o.get("host"), key + ("host",), "any")
            result[name] = OscOutput(name, host, r.integer(o, key, "port", lo=1, hi=65535))
            continue
        r.known(o, key, {"type", "destination", "multicast", "port", "priority", "source_name",
                         "interface", "keepalive_ms"})
        multicast = r.boolean(o, key, "multicast")
        dest = o.get("destination")
        if multicast and dest is not None:
            r.fail(key + ("destination",), "give either a destination or multicast = true, not both")
        if not multicast and dest is None:
            r.fail(key + ("destination",), "missing (or set multicast = true)")
        dests = [] if dest is None else (dest if isinstance(dest, list) else [dest])
        if dest is not None and not dests:
            r.fail(key + ("destination",), "names no address")
        addrs = tuple(dict.fromkeys(r.address(d, key + ("destination",), "unicast") for d in dests))
        source_name = r.string(o, key, "source_name", show_name)
        if len(source_name.encode("utf-8")) > 63:
            r.fail(key + ("source_name",), "must be at most 63 bytes in UTF-8")
        interface = None
        if "interface" in o:
            if not multicast:
                r.fail(key + ("interface",), "only used with multicast = true")
            interface = r.address(o["interface"], key + ("interface",), "unicast")
        result[name] = SacnOutput(
            name=name, destinations=addrs, multicast=multicast,
            port=r.integer(o, key, "port", SACN_PORT, 1, 65535),
            priority=r.integer(o, key, "priority", 100, 0, 200),
            source_name=source_name, interface=interface,
            keepalive_s=r.integer(o, key, "keepalive_ms", 800, 100, 1000) / 1000.0)
    return result


def _patterns(r: _Reader, doc: dict, base: str):
    import kinetra
    from kinetra_preview import csvfile

    table = r.table(doc, (), "patterns")
    patterns = []
    for name, file in table.items():
        key = ("patterns", name)
        if not isinstance(file, str) or not file:
            r.fail(key, f"must be the path of a CSV pattern file, found {file!r}")
        path = os.path.join(base, file)
        try:
            patterns.append(csvfile.load_pattern(path, name))
        except csvfile.PatternFileError as exc:
            r.fail(key, str(exc))
    try:
        return kinetra.PatternLibrary(patterns)
    except ValueError as exc:
        bad = str(exc).rpartition(": ")[2]
        r.fail(("patterns", bad) if bad in table else ("patterns",), str(exc))


def _groups(r: _Reader, doc: dict) -> dict:
    groups = {}
    for name, g in r.table(doc, (), "groups").items():
        key = ("groups", name)
        if not isinstance(g, dict):
            r.fail(key, "must be a table")
        r.known(g, key, {"spread_beats", "spread_pips"})
        groups[name] = _pips(r, g, key, "spread_beats", "spread_pips")
    return groups


def _pips(r: _Reader, table, key, beats_key, pips_key) -> int:
    if beats_key in table and pips_key in table:
        r.fail(key + (pips_key,), f"give {beats_key} or {pips_key}, not both")
    if pips_key in table:
        return r.integer(table, key, pips_key, lo=-(1 << 30), hi=1 << 30)
    beats = r.number(table, key, beats_key, 0.0, -(1 << 24), 1 << 24)
    return math.floor(beats * PIPS_PER_BEAT + 0.5)  # to the nearest pip


def _scale(r: _Reader, f: dict, key) -> tuple:
    v = f.get("scale", 1.0)
    if not isinstance(v, list):
        v = [v, v, v]
    if len(v) != 3 or any(isinstance(e, bool) or not isinstance(e, (int, float)) or not math.isfinite(e)
                          for e in v):
        r.fail(key + ("scale",), f"must be a number or three numbers [x, y, z], found {f.get('scale')!r}")
    return tuple(float(e) for e in v)


def _dmx(r: _Reader, f: dict, key) -> DmxPatch:
    universe = r.integer(f, key, "universe", lo=1, hi=63999)
    address = r.integer(f, key, "address", lo=1, hi=512)
    ch = f.get("channels")
    if not isinstance(ch, dict) or not ch:
        r.fail(key + ("channels",), "must be a table such as { pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }")
    ckey = key + ("channels",)
    r.known(ch, ckey, CHANNEL_NAMES)
    channels = {role: r.integer(ch, ckey, role, lo=1, hi=512) for role in CHANNEL_NAMES if role in ch}
    for fine in ("pan_fine", "tilt_fine", "z_fine"):
        if fine in channels and fine[:-5] not in channels:
            r.fail(ckey + (fine,), f"needs a {fine[:-5]} channel too")
    fixed = {}
    for k, v in r.table(f, key, "set").items():
        if not (k.isdigit() and 1 <= int(k) <= 512):
            r.fail(key + ("set", k), "keys are channel numbers from 1 (the fixture's first channel)")
        fixed[int(k)] = r.integer(f["set"], key + ("set",), k, lo=0, hi=255)
    seen = {}
    for role, off in list(channels.items()) + [(f"set.{k}", k) for k in fixed]:
        if off in seen:
            r.fail(ckey if not role.startswith("set.") else key + ("set", str(off)),
                   f"channel {off} is used by both {seen[off]} and {role}")
        seen[off] = role
    footprint = r.integer(f, key, "footprint", max(seen), 1, 512)
    if footprint < max(seen):
        r.fail(key + ("footprint",), f"must cover every channel used, up to {max(seen)}")
    if address + footprint - 1 > 512:
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
                    AxisMap(*z), fixed)


_COMMON_KEYS = {"name", "output", "group", "pattern", "offset_beats", "offset_pips", "scale"}
_DMX_KEYS = {"universe", "address", "channels", "footprint", "pan_range", "tilt_range", "pan", "tilt",
             "z", "invert_pan", "invert_tilt", "set"}
_OSC_KEYS = {"address", "remap"}


def _fixtures(r: _Reader, doc: dict, outputs: dict, groups: dict, library) -> tuple:
    items = doc.get("fixtures")
    if not isinstance(items, list) or not items or not all(isinstance(f, dict) for f in items):
        r.fail(("fixtures",), "the show needs at least one [[fixtures]] table")
    names, group_count, fixtures = {}, {}, []
    for i, f in enumerate(items):
        key = ("fixtures", i)
        name = r.string(f, key, "name")
        if name in names:
            r.fail(key + ("name",), f"fixture name {name!r} is already used by fixtures[{names[name]}]")
        names[name] = i
        out_name = r.string(f, key, "output")
        if out_name not in outputs:
            r.fail(key + ("output",), f"no output named {out_name!r} in [outputs]")
        out = outputs[out_name]
        r.known(f, key, _COMMON_KEYS | (_OSC_KEYS if isinstance(out, OscOutput) else _DMX_KEYS))
        pattern = r.string(f, key, "pattern")
        try:
            library.sample(pattern, 0)
        except ValueError as exc:
            r.fail(key + ("pattern",), str(exc))
        offset = _pips(r, f, key, "offset_beats", "offset_pips")
        if "group" in f:
            group = r.string(f, key, "group")
            if group not in groups:
                r.fail(key + ("group",), f"no group named {group!r} in [groups]")
            k = group_count.get(group, 0)
            group_count[group] = k + 1
            offset += k * groups[group]
        common = dict(name=name, output=out_name, pattern=pattern, offset_pips=offset,
                      scale=_scale(r, f, key))
        if isinstance(out, OscOutput):
            addr = r.string(f, key, "address")
            if not addr.startswith("/") or any(c in addr for c in " #*,?[]{}"):
                r.fail(key + ("address",), f"must be an OSC address such as /kinetra/visual, found {addr!r}")
            fixtures.append(Fixture(**common, osc_address=addr, remap=r.boolean(f, key, "remap")))
        else:
            fixtures.append(Fixture(**common, dmx=_dmx(r, f, key)))
    _check_overlaps(r, fixtures)
    return tuple(fixtures)


def _check_overlaps(r: _Reader, fixtures) -> None:
    owner: dict = {}
    universe_output: dict = {}
    for i, fx in enumerate(fixtures):
        key = ("fixtures", i)
        if fx.dmx is None:
            spot = (fx.output, fx.osc_address)
            if spot in owner:
                r.fail(key + ("address",), f"OSC address {fx.osc_address} is already sent by fixture "
                                           f"{fixtures[owner[spot]].name!r}")
            owner[spot] = i
            continue
        u = fx.dmx.universe
        if universe_output.setdefault(u, fx.output) != fx.output:
            r.fail(key + ("universe",), f"universe {u} is already sent by output {universe_output[u]!r}")
        for ch in fx.dmx.used():
            if (u, ch) in owner:
                other = fixtures[owner[(u, ch)]]
                r.fail(key + ("address",), f"channels {fx.dmx.address} to {fx.dmx.address + fx.dmx.footprint - 1} "
                                           f"of universe {u} overlap fixture {other.name!r} "
                                           f"({other.dmx.address} to {other.dmx.address + other.dmx.footprint - 1})")
            owner[(u, ch)] = i


def load(path: str) -> Show:
    """Read and check a show file; raises ShowError naming file, line and key."""
    try:
        with open(path, "rb") as fh:
            raw = fh.read()
    except OSError as exc:
        raise ShowError(path, None, None, f"cannot read: {exc.strerror or exc}") from None
    try:
        text = raw.decode("utf-8")
        doc = tomllib.loads(text)
    except UnicodeDecodeError:
        raise ShowError(path, None, None, "not a UTF-8 text file") from None
    except tomllib.TOMLDecodeError as exc:
        message = str(exc)
        m = re.search(r"\(at line (\d+), column \d+\)$", message)
        line = int(m.group(1)) if m else None
        if m:
            message = message[:m.start()].rstrip()
        elif "end of document" in message:
            line = text.count("\n") + 1
        raise ShowError(path, line, None, f"not valid TOML: {message}") from None
    r = _Reader(path, text)
    r.known(doc, (), {"show", "tempo", "outputs", "patterns", "groups", "fixtures"})
    s = r.table(doc, (), "show")
    r.known(s, ("show",), {"name", "fps", "cid"})
    name = r.string(s, ("show",), "name", os.path.splitext(os.path.basename(path))[0] or "show")
    fps = r.integer(s, ("show",), "fps", DEFAULT_FPS, 1, MAX_FPS)
    if "cid" in s:
        try:
            cid = uuid.UUID(r.string(s, ("show",), "cid")).bytes
        except ValueError:
            r.fail(("show", "cid"), f"must be a UUID such as {uuid.uuid5(CID_NAMESPACE, name)}")
    else:
        cid = uuid.uuid5(CID_NAMESPACE, name).bytes
    tempo = _tempo(r, doc)
    outputs = _outputs(r, doc, name)
    library = _patterns(r, doc, os.path.dirname(os.path.abspath(path)))
    groups = _groups(r, doc)
    fixtures = _fixtures(r, doc, outputs, groups, library)
    return Show(path, name, cid, fps, tempo, outputs, fixtures, library)
