"""Fixture profiles in the Open Fixture Library's JSON format.

A profile is one downloaded definition file; a show names it together with
one of its modes. From the mode we take only what a position motion needs:

- the channel order (offsets from 1; a `null` slot is an unused channel),
- the pan and tilt channels with their fine channels (`fineChannelAliases`:
  coarse + fine is 16 bit, + `fine^2` is 24 bit),
- the pan and tilt ranges in degrees from their `Pan`/`Tilt` capabilities
  (`angleStart` to `angleEnd`; a range written backwards is an inverted axis;
  the part of the channel's DMX range the capability covers is kept),
- the footprint, and every channel's name so a show can set it by name.

Everything else in the file (wheels, colours, physical data, RDM, ...) is
left alone. A matrix insert block is counted for the offsets and the
footprint but its pixel channels are named only where the order is written
out (a list of pixel keys or `eachPixelGroup`). Refused, with the file and
the key at fault: a `$schema` other than the fixture schema, a missing or
ambiguous mode, a channel in a mode that the file does not define, a file
over MAX_FILE_BYTES, continuous pan or tilt without a position channel,
several pan (or tilt) channels in one mode, a fine^2 channel without its
fine channel, and a mode wider than a universe.
"""

from __future__ import annotations

import dataclasses
import json
import math
import re

from kinetra_common import files

from .model import printable

MAX_FILE_BYTES = 1 << 20
DMX_SLOTS = 512
SCHEMA_URL = "https://raw.githubusercontent.com/OpenLightingProject/open-fixture-library/master/schemas/fixture.json"
# The same schema pinned to a tag or commit of the library's repository.
_SCHEMA_PINNED = re.compile(
    r"^https://raw\.githubusercontent\.com/OpenLightingProject/"
    r"open-fixture-library/[^/]+/schemas/fixture\.json$"
)
_ANGLE = re.compile(r"^(-?[0-9]+(?:\.[0-9]+)?)(deg|%)$")
_RESOLUTIONS = {"8bit": 1, "16bit": 2, "24bit": 3}
_AXES = {"pan": ("Pan", "PanContinuous"), "tilt": ("Tilt", "TiltContinuous")}
_PIXEL_ORDERS = {
    "eachPixelABC",
    "eachPixelXYZ",
    "eachPixelXZY",
    "eachPixelYXZ",
    "eachPixelYZX",
    "eachPixelZXY",
    "eachPixelZYX",
}
PIXEL_KEY = "$pixelKey"


class ProfileError(ValueError):
    """A definition that cannot be used: the file, the key at fault (None for the
    whole file) and the reason."""

    def __init__(self, path: str, key: str | None, message: str):
        self.path, self.key, self.message = path, key, message
        text = f"{path}: {key}: {message}" if key else f"{path}: {message}"
        super().__init__(printable(text))


@dataclasses.dataclass(frozen=True)
class Axis:
    """Pan or tilt as the mode lays it out."""

    coarse: int  # offset of the coarse channel, 1 = the fixture's first
    fine: tuple[int, ...]  # offsets of the finer bytes, most significant first
    degrees: float | None  # span of the position range; None: only given in percent
    inverted: bool  # the range is written from its high end to its low end
    window: tuple[float, float]  # part of the channel's full range that range covers
    key: str  # where the range is written

    @property
    def bits(self) -> int:
        return 8 * (1 + len(self.fine))


@dataclasses.dataclass(frozen=True)
class Layout:
    path: str
    fixture: str
    mode: str  # the mode's name
    footprint: int
    pan: Axis | None
    tilt: Axis | None
    channels: dict  # channel name -> offset, for every named slot of the mode
    beam_deg: float | None = None  # the narrowest lens angle (`physical.lens.degreesMinMax`)
    dimmer: tuple = ()  # offsets of the first Intensity channel, coarse then fine bytes (none: ())


def beam_degrees(doc: dict, mode: dict) -> float | None:
    """The narrowest beam angle of the mode's lens (or the fixture's), None if not given sanely."""
    for where in (mode, doc):
        physical = where.get("physical") if isinstance(where, dict) else None
        lens = physical.get("lens") if isinstance(physical, dict) else None
        pair = lens.get("degreesMinMax") if isinstance(lens, dict) else None
        if (
            isinstance(pair, list)
            and pair
            and all(isinstance(v, (int, float)) and not isinstance(v, bool) and 0 < v < 180 for v in pair)
        ):
            return float(min(pair))
    return None


def _key(*parts) -> str:
    out = ""
    for p in parts:
        if isinstance(p, int):
            out += f"[{p}]"
        elif re.fullmatch(r"[A-Za-z_$][A-Za-z0-9_$^]*", p):
            out += f".{p}" if out else p
        else:
            out += f"[{json.dumps(p, ensure_ascii=False)}]"
    return out


class _File:
    """The parsed document with typed getters that fail naming the key."""

    def __init__(self, path: str, doc):
        self.path = path
        self.doc = doc

    def fail(self, key, message: str):
        raise ProfileError(self.path, key, message)

    def get(self, parent: dict, key: tuple, name: str, kind, required=False):
        v = parent.get(name)
        if v is None:
            if required:
                self.fail(_key(*key, name), "missing")
            return None
        if not isinstance(v, kind) or isinstance(v, bool) and kind is not bool:
            what = {dict: "an object", list: "an array", str: "a string", int: "a whole number"}
            self.fail(_key(*key, name), f"must be {what.get(kind, kind.__name__)}, found {v!r:.60}")
        return v


def _reject_constant(name: str):
    raise ValueError(f"{name} is not a JSON number")


def read_document(path: str) -> dict:
    """The definition as parsed JSON, after the size, encoding and `$schema` checks."""
    try:
        raw = files.read_bounded(
            path, MAX_FILE_BYTES, f"larger than {MAX_FILE_BYTES // 1024} KiB; a fixture definition is far smaller"
        )
    except files.FileProblem as exc:
        raise ProfileError(path, None, str(exc)) from None
    try:
        doc = json.loads(raw.decode("utf-8-sig"), parse_constant=_reject_constant)
    except UnicodeDecodeError:
        raise ProfileError(path, None, "not a UTF-8 text file") from None
    except json.JSONDecodeError as exc:
        raise ProfileError(path, None, f"not valid JSON: line {exc.lineno} column {exc.colno}: {exc.msg}") from None
    except (ValueError, RecursionError) as exc:
        raise ProfileError(path, None, f"not valid JSON: {exc}") from None
    if not isinstance(doc, dict):
        raise ProfileError(path, None, "not a fixture definition: the top level must be an object")
    schema = doc.get("$schema")
    if schema is None:
        raise ProfileError(path, "$schema", "missing; a fixture definition names the fixture schema")
    if schema != SCHEMA_URL and not (isinstance(schema, str) and _SCHEMA_PINNED.match(schema)):
        hint = ""
        if isinstance(schema, str) and schema.endswith("/fixture-redirect.json"):
            hint = f"; this file redirects to {doc.get('redirectTo')!r:.80}: use that definition"
        raise ProfileError(path, "$schema", f"must be the fixture schema {SCHEMA_URL}, found {schema!r:.120}{hint}")
    return doc


def mode_names(doc: dict) -> list[tuple[str, str]]:
    """(name, shortName) of each well-formed mode; shortName defaults to the name."""
    out = []
    for m in doc.get("modes") or ():
        if isinstance(m, dict) and isinstance(m.get("name"), str):
            short = m.get("shortName")
            out.append((m["name"], short if isinstance(short, str) else m["name"]))
    return out


def _pick_mode(f: _File, mode: str | None) -> tuple[int, dict]:
    modes = f.get(f.doc, (), "modes", list, required=True)
    if not modes:
        f.fail("modes", "the file defines no mode")
    for i, m in enumerate(modes):
        if not isinstance(m, dict):
            f.fail(_key("modes", i), "must be an object")
        f.get(m, ("modes", i), "name", str, required=True)
        f.get(m, ("modes", i), "shortName", str)
    listing = ", ".join(f"{n!r}" + (f" ({s!r})" if s != n else "") for n, s in mode_names(f.doc))
    if mode is None:
        if len(modes) == 1:
            return 0, modes[0]
        f.fail("modes", f"the fixture has {len(modes)} modes; name one with mode = ...: {listing}")
    hits = [i for i, m in enumerate(modes) if m["name"] == mode]
    if not hits:
        hits = [i for i, m in enumerate(modes) if m.get("shortName", m["name"]) == mode]
    if not hits:
        f.fail("modes", f"no mode named {mode!r}; the modes are {listing}")
    if len(hits) > 1:
        f.fail(_key("modes", hits[1]), f"mode {mode!r} is named more than once")
    return hits[0], modes[hits[0]]


class _Matrix:
    """Pixel and pixel group keys of the fixture's matrix, as far as names need them."""

    def __init__(self, f: _File):
        mx = f.get(f.doc, (), "matrix", dict) or {}
        self.keys: list[str] = []
        self.count = 0
        self.counts: tuple[int, int, int] | None = None
        if "pixelKeys" in mx:
            z = f.get(mx, ("matrix",), "pixelKeys", list)
            for zi, plane in enumerate(z):
                for yi, row in enumerate(plane if isinstance(plane, list) else ()):
                    for xi, k in enumerate(row if isinstance(row, list) else ()):
                        if isinstance(k, str):
                            self.keys.append(k)
                        elif k is not None:
                            f.fail(_key("matrix", "pixelKeys", zi, yi, xi), "must be a string or null")
            self.count = len(self.keys)
        elif "pixelCount" in mx:
            pc = f.get(mx, ("matrix",), "pixelCount", list)
            if len(pc) != 3 or not all(isinstance(n, int) and not isinstance(n, bool) and n >= 1 for n in pc):
                f.fail(_key("matrix", "pixelCount"), f"must be three whole numbers from 1, found {pc!r:.60}")
            self.counts = (pc[0], pc[1], pc[2])
            self.count = pc[0] * pc[1] * pc[2]
        groups = f.get(mx, ("matrix",), "pixelGroups", dict) or {}
        self.groups = list(groups)

    def has(self, key: str) -> bool:
        if key in self.groups or key in self.keys:
            return True
        if self.counts is None:
            return False
        # Keys made from a pixel count: "3" along one axis, "(x, y)" or "(x, y, z)".
        used = [n for n in self.counts if n > 1]
        nums = re.fullmatch(r"\((\d+(?:, \d+)*)\)", key)
        parts = (
            [int(p) for p in nums.group(1).split(", ")]
            if nums
            else ([int(key)] if key.isdigit() and not key.startswith("0") else [])
        )
        if len(used) <= 1:
            return len(parts) == 1 and not nums and 1 <= parts[0] <= (used[0] if used else 1)
        if len(used) == 2 and len(parts) == 2 and self.counts[2] == 1:
            return all(1 <= p <= n for p, n in zip(parts, self.counts[:2]))
        return len(parts) == 3 and all(1 <= p <= n for p, n in zip(parts, self.counts))


@dataclasses.dataclass(frozen=True)
class _Channel:
    """What one name in a mode stands for."""

    base: str  # key of the coarse channel (resolved for a template)
    definition: dict  # its definition
    where: tuple  # key of the definition in the file
    fine: int  # 0 coarse, 1 fine, 2 fine^2, ...; -1 a switching channel
    pixel: str | None = None  # the pixel (group) key a template channel was resolved for

    def name(self, template: str) -> str:
        return template.replace(PIXEL_KEY, self.pixel) if self.pixel is not None else template


class _Channels:
    def __init__(self, f: _File, matrix: _Matrix):
        self.f = f
        self.matrix = matrix
        self.names: dict[str, _Channel] = {}
        avail = f.get(f.doc, (), "availableChannels", dict) or {}
        for k, d in avail.items():
            self._add(k, d, ("availableChannels", k))
        self.templates = []
        for k, d in (f.get(f.doc, (), "templateChannels", dict) or {}).items():
            if PIXEL_KEY not in k:
                f.fail(_key("templateChannels", k), f"a template channel's key must contain {PIXEL_KEY}")
            if not isinstance(d, dict):
                f.fail(_key("templateChannels", k), "must be an object")
            self.templates.append((k, d))

    def _add(self, key: str, d, where: tuple, pixel: str | None = None) -> None:
        f = self.f
        if not isinstance(d, dict):
            f.fail(_key(*where), "must be an object")
        sub = (lambda s: s.replace(PIXEL_KEY, pixel)) if pixel is not None else (lambda s: s)
        self.names.setdefault(sub(key), _Channel(sub(key), d, where, 0, pixel))
        for i, alias in enumerate(f.get(d, where, "fineChannelAliases", list) or ()):
            if not isinstance(alias, str):
                f.fail(_key(*where, "fineChannelAliases", i), "must be a string")
            self.names.setdefault(sub(alias), _Channel(sub(key), d, where, i + 1, pixel))
        for ci, cap in enumerate(capabilities(f, d, where)):
            for alias in f.get(cap, where + ("capabilities", ci), "switchChannels", dict) or {}:
                self.names.setdefault(sub(alias), _Channel(sub(key), d, where, -1, pixel))

    def resolve(self, name: str) -> _Channel | None:
        if name in self.names:
            return self.names[name]
        for tkey, d in self.templates:
            candidates = [tkey] + [a for a in d.get("fineChannelAliases") or () if isinstance(a, str)]
            for cap in d.get("capabilities") or ():
                if isinstance(cap, dict) and isinstance(cap.get("switchChannels"), dict):
                    candidates += list(cap["switchChannels"])
            for cand in candidates:
                head, sep, tail = cand.partition(PIXEL_KEY)
                if not sep or not name.startswith(head) or not name.endswith(tail):
                    continue
                pixel = name[len(head) : len(name) - len(tail)]
                if pixel and self.matrix.has(pixel):
                    self._add(tkey, d, ("templateChannels", tkey), pixel)
                    return self.names.get(name)
        return None


def capabilities(f: _File, d: dict, where: tuple) -> list[dict]:
    if "capability" in d and "capabilities" in d:
        f.fail(_key(*where), "give capability or capabilities, not both")
    if "capability" in d:
        caps, keys = [f.get(d, where, "capability", dict)], [where + ("capability",)]
    else:
        caps = f.get(d, where, "capabilities", list) or []
        keys = [where + ("capabilities", i) for i in range(len(caps))]
    for cap, k in zip(caps, keys):
        if not isinstance(cap, dict):
            f.fail(_key(*k), "must be an object")
        if not isinstance(cap.get("type"), str):
            f.fail(_key(*k, "type"), f"must name a capability type, found {cap.get('type')!r:.40}")
    return caps


def _expand(f: _File, mode_index: int, mode: dict, channels: _Channels, matrix: _Matrix):
    """The mode's slots in order: (name or None, key of the slot in the file)."""
    where = ("modes", mode_index, "channels")
    entries = f.get(mode, where[:-1], "channels", list, required=True)
    slots: list[tuple[str | None, str]] = []
    for i, e in enumerate(entries):
        if e is None or isinstance(e, str):
            slots.append((e, _key(*where, i)))
        elif isinstance(e, dict) and e.get("insert") == "matrixChannels":
            slots += _insert(f, where + (i,), e, channels, matrix)
        else:
            f.fail(_key(*where, i), f"must be a channel key, null or a matrix insert block, found {e!r:.60}")
        if len(slots) > DMX_SLOTS:
            f.fail(_key(*where), f"the mode has more than {DMX_SLOTS} channels")
    return slots


def _insert(f: _File, where: tuple, block: dict, channels: _Channels, matrix: _Matrix):
    templates = f.get(block, where, "templateChannels", list, required=True)
    known = {k for k, _ in channels.templates}
    for tk, d in channels.templates:
        known.update(a for a in d.get("fineChannelAliases") or () if isinstance(a, str))
    for j, t in enumerate(templates):
        if t is not None and (not isinstance(t, str) or t not in known):
            f.fail(
                _key(*where, "templateChannels", j), f"template channel {t!r:.60} is not defined in templateChannels"
            )
    repeat = block.get("repeatFor")
    order = block.get("channelOrder")
    if order not in ("perPixel", "perChannel"):
        f.fail(_key(*where, "channelOrder"), f"must be perPixel or perChannel, found {order!r:.40}")
    if isinstance(repeat, list) and repeat and all(isinstance(p, str) for p in repeat):
        for j, p in enumerate(repeat):
            if not matrix.has(p):
                f.fail(_key(*where, "repeatFor", j), f"{p!r} is neither a pixel nor a pixel group of the matrix")
        pixels: list[str | None] = list(repeat)
    elif repeat == "eachPixelGroup":
        pixels = list(matrix.groups)
    elif repeat in _PIXEL_ORDERS:
        pixels = [None] * matrix.count  # counted, not named
    else:
        f.fail(
            _key(*where, "repeatFor"),
            f"must be a list of pixel keys or one of eachPixelGroup, "
            f"{', '.join(sorted(_PIXEL_ORDERS))}; found {repeat!r:.60}",
        )
    if not pixels:
        f.fail(_key(*where, "repeatFor"), "repeats for no pixel: the fixture has no matrix")
    if len(pixels) * len(templates) > DMX_SLOTS:
        f.fail(_key(*where), f"expands to more than {DMX_SLOTS} channels")
    pairs = (
        [(p, t) for p in pixels for t in templates]
        if order == "perPixel"
        else [(p, t) for t in templates for p in pixels]
    )
    here = _key(*where)
    return [(t.replace(PIXEL_KEY, p) if p is not None and t is not None else None, here) for p, t in pairs]


def _angle(f: _File, cap: dict, where: tuple, name: str):
    v = cap.get(name)
    m = _ANGLE.match(v) if isinstance(v, str) else None
    if not m:
        f.fail(_key(*where, name), f'must be an angle such as "540deg" or "100%", found {v!r:.40}')
    return float(m.group(1)), m.group(2)


def _axis(f: _File, role: str, ch: _Channel, offsets: dict, given_degrees: float | None) -> Axis:
    """The position range of a pan or tilt channel, and where its fine bytes are."""
    kind = _AXES[role][0]
    d, where = ch.definition, ch.where
    aliases = [a for a in d.get("fineChannelAliases") or () if isinstance(a, str)]
    fine = []
    for i, alias in enumerate(aliases):
        name = ch.name(alias)
        if name in offsets:
            if len(fine) < i:
                f.fail(
                    _key(*where, "fineChannelAliases", i),
                    f"the mode has {name!r} but not {aliases[len(fine)]!r} before it",
                )
            fine.append(offsets[name])
    res_name = d.get("dmxValueResolution")
    if res_name is not None and res_name not in _RESOLUTIONS:
        f.fail(_key(*where, "dmxValueResolution"), f"must be one of {', '.join(_RESOLUTIONS)}, found {res_name!r:.20}")
    top = 256 ** (_RESOLUTIONS[res_name] if res_name else 1 + len(aliases)) - 1
    caps = [(i, c) for i, c in enumerate(capabilities(f, d, where)) if c.get("type") == kind]
    ranges = []
    for i, cap in caps:
        cwhere = where + (("capability",) if "capability" in d else ("capabilities", i))
        if "angleStart" not in cap and "angleEnd" not in cap:
            continue  # one fixed angle: a step, not a range
        a0, u0 = _angle(f, cap, cwhere, "angleStart")
        a1, u1 = _angle(f, cap, cwhere, "angleEnd")
        lo, hi = 0, top
        if "dmxRange" in cap:
            r = cap["dmxRange"]
            whole = isinstance(r, list) and all(isinstance(n, int) and not isinstance(n, bool) for n in r)
            if not whole or len(r) != 2 or not 0 <= r[0] <= r[1] <= top:
                f.fail(_key(*cwhere, "dmxRange"), f"must be [start, end] within 0 to {top}, found {r!r:.40}")
            lo, hi = r
        ranges.append((lo, hi, a0, a1, u0, u1, cwhere))
    if not ranges:
        f.fail(_key(*where), f"the {role} channel has no {kind} capability with angleStart and angleEnd")
    ranges.sort()
    lo, _, a0, _, u0, _, first = ranges[0]
    _, hi, _, a1, _, u1, _ = ranges[-1]
    for prev, cur in zip(ranges, ranges[1:]):
        if cur[0] != prev[1] + 1 or cur[2] != prev[3] or cur[4] != prev[5]:
            f.fail(
                _key(*cur[6]),
                f"the {role} ranges do not join into one: a gap or a jump of angle between DMX {prev[1]} and {cur[0]}",
            )
    if u0 != u1:
        f.fail(_key(*first), f"the {role} range mixes degrees and percent ({a0:g}{u0} to {a1:g}{u1})")
    if a0 == a1:
        f.fail(_key(*first), f"the {role} range has no extent ({a0:g}{u0} to {a1:g}{u1})")
    if given_degrees is not None:
        degrees = float(given_degrees)
    elif u0 == "deg":
        degrees = abs(a1 - a0)
    else:
        f.fail(
            _key(*first, "angleStart"),
            f"the {role} range is given only in percent ({a0:g}% to {a1:g}%); "
            f"give its degrees in the show ({role}_range = ...)",
        )
    return Axis(offsets[ch.base], tuple(fine), degrees, a1 < a0, (lo / top, hi / top), _key(*first))


def layout(
    path: str,
    doc: dict,
    mode: str | None = None,
    *,
    pan_degrees: float | None = None,
    tilt_degrees: float | None = None,
) -> Layout:
    """The layout of one mode of a parsed definition (see read)."""
    f = _File(path, doc)
    name = f.get(doc, (), "name", str) or path
    index, m = _pick_mode(f, mode)
    matrix = _Matrix(f)
    channels = _Channels(f, matrix)
    slots = _expand(f, index, m, channels, matrix)
    offsets: dict[str, int] = {}
    resolved: dict[str, _Channel] = {}
    for off, (cname, where) in enumerate(slots, 1):
        if cname is None:
            continue
        if cname in offsets:
            f.fail(where, f"channel {cname!r} is used twice in the mode (channels {offsets[cname]} and {off})")
        ch = channels.resolve(cname)
        if ch is None:
            f.fail(where, f"channel {cname!r} is not defined in availableChannels or templateChannels")
        offsets[cname] = off
        resolved[cname] = ch
    axes: dict = {}
    for role, given in (("pan", pan_degrees), ("tilt", tilt_degrees)):
        kind, endless = _AXES[role]
        found, continuous = [], []
        for cname, ch in resolved.items():
            if ch.fine != 0:
                continue
            types = {c.get("type") for c in capabilities(f, ch.definition, ch.where)}
            if kind in types:
                found.append(ch)
            elif endless in types:
                continuous.append(ch)
        if len(found) > 1:
            f.fail(
                _key("modes", index, "channels"),
                f"the mode has {len(found)} {role} channels ({', '.join(c.base for c in found)}); "
                f"a profile drives one head: patch the heads by hand",
            )
        if found:
            axes[role] = _axis(f, role, found[0], offsets, given)
        elif continuous:
            f.fail(
                _key(*continuous[0].where),
                f"{endless} turns the head without end and is not a position; the mode has no {kind} channel",
            )
        else:
            axes[role] = None
    if axes["pan"] is None and axes["tilt"] is None:
        f.fail(_key("modes", index), f"mode {m['name']!r} has no Pan or Tilt channel to move")
    dimmer = ()
    for cname, ch in resolved.items():
        if ch.fine == 0 and "Intensity" in {c.get("type") for c in capabilities(f, ch.definition, ch.where)}:
            aliases = [a for a in ch.definition.get("fineChannelAliases") or () if isinstance(a, str)]
            fine = []
            for a in aliases:  # its fine bytes, as far as the mode has them in order
                if ch.name(a) not in offsets:
                    break
                fine.append(offsets[ch.name(a)])
            dimmer = (offsets[cname], *fine)
            break
    return Layout(
        path, name, m["name"], len(slots), axes["pan"], axes["tilt"], dict(offsets), beam_degrees(doc, m), dimmer
    )


def read(
    path: str, mode: str | None = None, *, pan_degrees: float | None = None, tilt_degrees: float | None = None
) -> Layout:
    """Read one mode of the definition at `path` (by name or shortName; may be left
    out when the fixture has one mode). `pan_degrees`/`tilt_degrees` replace the
    ranges of the file, and are needed where it gives them only in percent.
    Raises ProfileError(path, key, message)."""
    for what, v in (("pan", pan_degrees), ("tilt", tilt_degrees)):
        if v is not None and not (isinstance(v, (int, float)) and math.isfinite(v) and v > 0):
            raise ValueError(f"{what}_degrees must be a positive number, found {v!r}")
    return layout(path, read_document(path), mode, pan_degrees=pan_degrees, tilt_degrees=tilt_degrees)
