"""The fixture library in the box: every definition of the Open Fixture Library with a
position to drive (pan, tilt or both), reduced to what a patch needs and shipped with
the package (fixtures/ofl-index.json.gz, MIT, see fixtures/LICENSE-OFL.txt).

A show names one as `profile = "ofl:MAKER/MODEL"` (with `mode = ...` where it has
several); the layout comes out as `profiles.Layout`, exactly as reading the
definition file would give it. `tools/fixtureindex/build.py` makes the index from a
copy of the library, byte for byte the same for the same copy.

Per fixture the index keeps its name, maker, categories, the narrowest beam angle
and, per mode, either its layout (channel names slot by slot, pan and tilt with
fine channels, ranges, inversion and window, the values that open the light) or
the reason the profile reader refuses it.
"""

from __future__ import annotations

import functools
import gzip
import json
import os
import re
from importlib import resources

from . import profiles

PREFIX = "ofl:"
INDEX_FILE = "ofl-index.json.gz"
LICENSE_FILE = "LICENSE-OFL.txt"
FORMAT = 1
# Matches listed by a search, at most.
MAX_MATCHES = 200
# A reason the reader gives for a percent-only range, so the index keeps the mode.
_PERCENT_ONLY = re.compile(r"given only in percent")
_PLACEHOLDER_DEGREES = 360.0


class LibraryError(ValueError):
    pass


# ---- building (from a copy of the library) ---------------------------------------------------


def _axis_entry(axis: profiles.Axis | None, percent: bool):
    if axis is None:
        return None
    return [axis.coarse, list(axis.fine), None if percent else axis.degrees, axis.inverted, list(axis.window), axis.key]


def _opening(doc: dict, channels: list) -> dict:
    """Channel name -> the DMX value that lets light out: intensity at full, the shutter open."""
    out = {}
    avail = doc.get("availableChannels") or {}
    for name in channels:
        d = avail.get(name) if name else None
        if not isinstance(d, dict):
            continue
        caps = d.get("capabilities") if isinstance(d.get("capabilities"), list) else [d.get("capability")]
        caps = [c for c in caps if isinstance(c, dict)]
        if len(caps) == 1 and caps[0].get("type") == "Intensity":
            out[name] = 255
            continue
        for c in caps:
            r = c.get("dmxRange")
            if c.get("type") == "ShutterStrobe" and c.get("shutterEffect") == "Open" and isinstance(r, list):
                out[name] = (r[0] + r[1]) // 2 if all(isinstance(v, int) for v in r) and len(r) == 2 else 255
                break
    return out


def _mode_entry(path: str, doc: dict, mode: dict) -> dict:
    name = mode["name"]
    short = mode.get("shortName") if isinstance(mode.get("shortName"), str) else name
    entry: dict = {"name": name} if short == name else {"name": name, "short": short}
    percent: dict = {}
    for _ in range(3):
        try:
            lay = profiles.layout(
                path,
                doc,
                name,
                pan_degrees=_PLACEHOLDER_DEGREES if "pan" in percent else None,
                tilt_degrees=_PLACEHOLDER_DEGREES if "tilt" in percent else None,
            )
            break
        except profiles.ProfileError as exc:
            role = next((r for r in ("pan", "tilt") if f"give its degrees in the show ({r}_range" in exc.message), None)
            if _PERCENT_ONLY.search(exc.message) and role and role not in percent:
                percent[role] = True
                continue
            entry["refused"] = f"{exc.key}: {exc.message}" if exc.key else exc.message
            return entry
    slots = [None] * lay.footprint
    for cname, off in lay.channels.items():
        slots[off - 1] = cname
    entry["channels"] = slots
    entry["pan"] = _axis_entry(lay.pan, "pan" in percent)
    entry["tilt"] = _axis_entry(lay.tilt, "tilt" in percent)
    opening = _opening(doc, slots)
    if opening:
        entry["open"] = opening
    beam = lay.beam_deg
    if beam is not None:
        entry["beam"] = beam
    if lay.dimmer:
        entry["dimmer"] = list(lay.dimmer)
    return entry


def _has_position(doc: dict) -> bool:
    def types(d):
        caps = d.get("capabilities") if isinstance(d.get("capabilities"), list) else [d.get("capability")]
        return {c.get("type") for c in caps if isinstance(c, dict)}

    for table in ("availableChannels", "templateChannels"):
        for d in (doc.get(table) or {}).values():
            if isinstance(d, dict) and types(d) & {"Pan", "Tilt"}:
                return True
    return False


def build(library: str) -> bytes:
    """The index of the library at `library` (its `fixtures/MAKER/MODEL.json`), as the
    compressed bytes shipped with the package. Reads nothing else."""
    root = os.path.join(library, "fixtures")
    with open(os.path.join(root, "manufacturers.json"), encoding="utf-8") as fh:
        makers_doc = json.load(fh)
    fixtures, redirects, used = {}, {}, set()
    for maker in sorted(os.listdir(root)):
        folder = os.path.join(root, maker)
        if not os.path.isdir(folder):
            continue
        for file in sorted(os.listdir(folder)):
            if not file.endswith(".json"):
                continue
            ref = f"{maker}/{file[:-5]}"
            path = os.path.join(folder, file)
            with open(path, encoding="utf-8") as fh:
                doc = json.load(fh)
            if str(doc.get("$schema", "")).endswith("/fixture-redirect.json"):
                redirects[ref] = doc["redirectTo"]
                continue
            if not _has_position(doc):
                continue
            entry = {"name": doc["name"], "maker": maker}
            if doc.get("categories"):
                entry["categories"] = doc["categories"]
            beam = profiles.beam_degrees(doc, {})
            if beam is not None:
                entry["beam"] = beam
            entry["modes"] = [_mode_entry(f"{PREFIX}{ref}", doc, m) for m in doc.get("modes", [])]
            fixtures[ref] = entry
            used.add(maker)
    # a redirect is kept where it ends on a fixture of the index
    redirects = {k: v for k, v in redirects.items() if v in fixtures}
    used.update(k.split("/")[0] for k in redirects)
    source = ""
    try:
        with open(os.path.join(library, "SOURCE.md"), encoding="utf-8") as fh:
            m = re.search(r"commit ([0-9a-f]{40})", fh.read())
            source = m.group(1) if m else ""
    except OSError:
        pass
    index = {
        "format": FORMAT,
        "source": source,
        "makers": {k: makers_doc[k]["name"] for k in sorted(used)},
        "fixtures": fixtures,
        "redirects": redirects,
    }
    text = json.dumps(index, ensure_ascii=False, separators=(",", ":"), sort_keys=True).encode("utf-8")
    return gzip.compress(text, compresslevel=9, mtime=0)


# ---- reading (at run time, from the package) -------------------------------------------------


def index_bytes() -> bytes:
    return resources.files("kinetra_live").joinpath("fixtures", INDEX_FILE).read_bytes()


@functools.cache
def index() -> dict:
    """The bundled index, read once."""
    try:
        doc = json.loads(gzip.decompress(index_bytes()))
    except (OSError, ValueError, EOFError) as exc:
        raise LibraryError(f"the bundled fixture library cannot be read: {exc}") from None
    if doc.get("format") != FORMAT:
        raise LibraryError(f"the bundled fixture library has format {doc.get('format')!r}, not {FORMAT}")
    return doc


def resolve(ref: str) -> tuple[str, dict]:
    """(MAKER/MODEL, its entry), following a renamed fixture; LibraryError if unknown."""
    lib = index()
    ref = lib["redirects"].get(ref, ref)
    entry = lib["fixtures"].get(ref)
    if entry is None:
        near = search(ref.rpartition("/")[2].replace("-", " "), limit=5)
        hint = f"; did you mean {', '.join(PREFIX + r for r, _ in near)}?" if near else ""
        raise LibraryError(
            f"no fixture {ref!r} with pan or tilt in the bundled library{hint} "
            "(kinetra-live --fixtures WORDS lists them)"
        )
    return ref, entry


def mode_entry(ref: str, entry: dict, mode: str | None) -> dict:
    modes = entry["modes"]
    listing = ", ".join(f"{m['name']!r}" + (f" ({m['short']!r})" if "short" in m else "") for m in modes)
    if mode is None:
        if len(modes) == 1:
            return modes[0]
        raise profiles.ProfileError(
            PREFIX + ref, "modes", f"the fixture has {len(modes)} modes; name one with mode = ...: {listing}"
        )
    hits = [m for m in modes if m["name"] == mode] or [m for m in modes if m.get("short", m["name"]) == mode]
    if not hits:
        raise profiles.ProfileError(PREFIX + ref, "modes", f"no mode named {mode!r}; the modes are {listing}")
    return hits[0]


def _axis(raw, role: str, degrees: float | None, where: str) -> profiles.Axis | None:
    if raw is None:
        return None
    coarse, fine, stored, inverted, window, key = raw
    if degrees is None and stored is None:
        raise profiles.ProfileError(
            where,
            key + ".angleStart",
            f"the {role} range is given only in percent; give its degrees in the show ({role}_range = ...)",
        )
    return profiles.Axis(
        coarse, tuple(fine), float(degrees if degrees is not None else stored), inverted, tuple(window), key
    )


def layout(
    ref: str, mode: str | None = None, *, pan_degrees: float | None = None, tilt_degrees: float | None = None
) -> profiles.Layout:
    """The layout of one mode of bundled fixture MAKER/MODEL, as `profiles.read` gives it
    for the definition file. Raises profiles.ProfileError(ofl:REF, key, message)."""
    try:
        ref, entry = resolve(ref)
    except LibraryError as exc:
        raise profiles.ProfileError(PREFIX + ref, None, str(exc)) from None
    m = mode_entry(ref, entry, mode)
    where = PREFIX + ref
    if "refused" in m:
        key, sep, message = m["refused"].partition(": ")
        raise profiles.ProfileError(where, key if sep else None, message if sep else key)
    slots = m["channels"]
    return profiles.Layout(
        path=where,
        fixture=entry["name"],
        mode=m["name"],
        footprint=len(slots),
        pan=_axis(m["pan"], "pan", pan_degrees, where),
        tilt=_axis(m["tilt"], "tilt", tilt_degrees, where),
        channels={n: i for i, n in enumerate(slots, 1) if n is not None},
        beam_deg=m.get("beam"),
        dimmer=tuple(m.get("dimmer", ())),
    )


def beam_degrees(ref: str, mode: str | None = None) -> float | None:
    """The narrowest beam angle the library gives for the fixture (or its mode), else None."""
    ref, entry = resolve(ref)
    m = mode_entry(ref, entry, mode) if mode is not None or len(entry["modes"]) == 1 else {}
    return m.get("beam", entry.get("beam"))


def _words(text: str) -> list[str]:
    return [w for w in re.split(r"[^0-9a-z]+", text.lower()) if w]


def search(text: str, limit: int = MAX_MATCHES) -> list[tuple[str, dict]]:
    """(MAKER/MODEL, entry) of every fixture whose reference, name or maker holds every
    word of `text`, best first (a whole-word hit on the model ranks above a part)."""
    lib = index()
    words = _words(text)
    found = []
    for ref, e in lib["fixtures"].items():
        hay = " ".join([ref, e["name"], lib["makers"].get(e["maker"], "")]).lower()
        if all(w in hay for w in words):
            whole = set(_words(hay))
            found.append((-sum(w in whole for w in words), ref, e))
    found.sort(key=lambda t: (t[0], t[1]))
    return [(ref, e) for _, ref, e in found[:limit]]


def describe_mode(m: dict) -> str:
    if "refused" in m:
        return f"{m['name']}: not usable ({m['refused']})"
    parts = [f"{m['name']}: {len(m['channels'])} ch"]
    for role in ("pan", "tilt"):
        a = m[role]
        if a is not None:
            bits = 8 * (1 + len(a[1]))
            parts.append(f"{role} {a[2]:g} deg" if a[2] is not None else f"{role} in % only")
            parts[-1] += f" {bits} bit" + (" inverted" if a[3] else "")
    return ", ".join(parts)


def describe(ref: str, entry: dict) -> str:
    lib = index()
    beam = f", beam {entry['beam']:g} deg" if "beam" in entry else ""
    head = f"{PREFIX}{ref}  {lib['makers'].get(entry['maker'], entry['maker'])} {entry['name']}{beam}"
    return "\n".join([head] + [f"    mode {describe_mode(m)}" for m in entry["modes"]])
