"""Editing a show while it plays, and saving it back to its file.

The show file's text is what is edited: every operation turns the current text into
a new one, and the show reader checks the new text exactly as it checks a file (a
refusal carries the reader's own `file:line: key: reason`). Values that change are
rewritten in place with tomlkit, so comments, order and layout around them stay as
the user wrote them; new fixtures and cues are written as whole tables after the
last of their kind, and deletions take out only the table's own lines.

Beside the text the editor keeps the look being programmed (per group or fixture,
the settings a cue would take): it plays at once, unless an edit says `blind`, and
"store cue" writes it into the show as a new cue.

Every accepted edit, undo and redo moves the version on; an edit made against an
older version is refused (StaleEdit). Undo keeps MAX_UNDO steps. `save` writes only
when the file on disk is still the one loaded (else FileChanged: reload or save as
another name), atomically, keeping the previous file as SHOW.toml.bak.

Needs the tomlkit package (the `web` extra).
"""

from __future__ import annotations

import dataclasses
import datetime
import hashlib
import json
import math
import os
import re
import threading
import tomllib

from kinetra_common import files

from . import fixturelib, model, outputs, profiles, showfile, tomlpos
from .outputs import dmx

MAX_UNDO = 200
# The look being programmed plays as a cue of this name (or the first free "live N").
LIVE_CUE = "live"
# Nesting and length of one value an edit may write.
MAX_VALUE_DEPTH = 6
MAX_LIST = 64
MAX_STRING = 200
# A new show starts from this text (an empty or missing file).
STARTER = """\
[show]
name = "{name}"

[tempo]
bpm = 120
source = "tap"

[outputs.lights]
type = "sacn"
destination = "127.0.0.1"
"""
DEFAULT_PATTERN = "circle"
BACKUP_SUFFIX = ".bak"
DMX_KINDS = ("sacn", "artnet")
BOM = "\ufeff"


class EditError(ValueError):
    """An edit, undo, redo or save refused; the message is for the person editing."""


class StaleEdit(EditError):
    """An edit made against an older version of the show."""


class FileChanged(EditError):
    """The show file on disk is no longer the one loaded."""


@dataclasses.dataclass(frozen=True)
class Change:
    """What an accepted edit asks of the player."""

    version: int
    show: model.Show  # the show to play from now on
    live: model.Cue | None  # the programmed look, to land at once
    release: tuple[str, ...]  # groups and fixtures the programmed look let go of
    relaunch: tuple[str, ...]  # cues edited while they may be playing: landed again at once
    what: str


# ---- writing TOML values ---------------------------------------------------------------------

_BARE_KEY = re.compile(r"[A-Za-z0-9_-]+")


def toml_string(text: str) -> str:
    # JSON's escapes are TOML's; DEL is the one control character JSON leaves as it is
    return json.dumps(text, ensure_ascii=False).replace("\x7f", "\\u007f")


def toml_key(key: str) -> str:
    return key if _BARE_KEY.fullmatch(key) else toml_string(key)


def toml_value(v, depth: int = 0) -> str:
    """`v` (a JSON value: no null) as TOML text; EditError for what TOML cannot hold."""
    if depth > MAX_VALUE_DEPTH:
        raise EditError(f"a value nested more than {MAX_VALUE_DEPTH} deep")
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, int):
        if not -showfile.INT64 <= v < showfile.INT64:
            raise EditError("a whole number out of the 64-bit range")
        return str(v)
    if isinstance(v, float):
        if not math.isfinite(v):
            raise EditError("a number that is not finite")
        return repr(v)
    if isinstance(v, str):
        if len(v) > MAX_STRING:
            raise EditError(f"a text longer than {MAX_STRING} characters")
        try:
            v.encode("utf-8")
        except UnicodeEncodeError:
            raise EditError("a text that is not valid Unicode") from None
        return toml_string(v)
    if isinstance(v, list):
        if len(v) > MAX_LIST:
            raise EditError(f"a list longer than {MAX_LIST}")
        return "[" + ", ".join(toml_value(e, depth + 1) for e in v) + "]"
    if isinstance(v, dict):
        if len(v) > MAX_LIST:
            raise EditError(f"a table of more than {MAX_LIST} keys")
        if not v:
            return "{}"
        return "{ " + ", ".join(f"{toml_key(_key_text(k))} = {toml_value(e, depth + 1)}" for k, e in v.items()) + " }"
    raise EditError(f"a value TOML cannot hold: {type(v).__name__}")


def _key_text(k) -> str:
    if not isinstance(k, str) or not k or len(k) > MAX_STRING or model.CONTROL.search(k):
        raise EditError(f"not a key: {model.printable(repr(k))[:60]}")
    return k


def _plain(v):
    """A parsed TOML value as JSON (dates and times as text)."""
    if isinstance(v, dict):
        return {k: _plain(e) for k, e in v.items()}
    if isinstance(v, list):
        return [_plain(e) for e in v]
    if isinstance(v, (datetime.date, datetime.time)):
        return v.isoformat()
    if isinstance(v, float) and not math.isfinite(v):
        return str(v)
    return v


# ---- where tables are in the text ------------------------------------------------------------


def _blank_or_comment(line: str) -> bool:
    s = line.strip()
    return not s or s.startswith("#")


def _spans(text: str, prefix: tuple, array: bool) -> list[tuple[int, int, tuple]]:
    """(first line, last line of its own, key) of each table `prefix + (NAME,)` (or each
    `[[prefix]]` element with `array`), 0-based and inclusive; its sub-tables belong to it,
    the blank and comment lines before the next table do not."""
    heads = tomlpos.headers(text)
    code = tomlpos.code_line_numbers(text)
    lines = text.split("\n")
    out = []
    for k, (no, is_array, parts) in enumerate(heads):
        if array:
            if not (is_array and parts == prefix):
                continue
            own = prefix
        else:
            if is_array or len(parts) != len(prefix) + 1 or parts[: len(prefix)] != prefix:
                continue
            own = parts
        end = len(lines)
        for no2, is_array2, parts2 in heads[k + 1 :]:
            if len(parts2) > len(own) and parts2[: len(own)] == own:
                continue  # a sub-table of this one
            end = no2 - 1
            break
        last = end - 1
        while last > no - 1 and (last + 1) in code and _blank_or_comment(lines[last]):
            last -= 1
        out.append((no - 1, last, parts))
    return out


def _insert_after(text: str, line: int | None, block: list[str]) -> str:
    """`block` (lines) after 0-based `line` (None: at the end), set off by a blank line."""
    nl = "\r\n" if "\r\n" in text else "\n"
    cr = "\r" if nl == "\r\n" else ""
    lines = text.split("\n")
    block = [b + cr for b in block]
    if line is None:
        if lines and lines[-1] == "":
            lines.pop()
        if lines and lines[-1].strip():
            lines.append(cr)
        return "\n".join(lines + block) + nl
    after = lines[line + 1 :]
    gap = [cr] if line >= 0 and lines[line].strip() else []
    tail = [cr] if after and after[0].strip() else []
    return "\n".join(lines[: line + 1] + gap + block + tail + after)


def _cut(text: str, first: int, last: int) -> tuple[str, list[str]]:
    """The text without lines first..last (and one blank line left doubled), and those lines."""
    lines = text.split("\n")
    taken = lines[first : last + 1]
    rest = lines[:first] + lines[last + 1 :]
    if 0 < first < len(rest) and not rest[first - 1].strip() and not rest[first].strip():
        del rest[first]
    return "\n".join(rest), taken


def _header_line(text: str, where: tuple) -> int | None:
    """0-based line of the header of table `where`: ("fixtures", i), ("cues", i), ("groups", NAME)
    or ("tempo",); None when the table is not written under a header of its own."""
    if isinstance(where[-1], int):
        spans = _spans(text, where[:-1], True)
        return spans[where[-1]][0] if where[-1] < len(spans) else None
    for no, is_array, parts in tomlpos.headers(text):
        if not is_array and parts == where:
            return no - 1
    return None


def _set_lines(text: str, where: tuple, values: dict) -> str | None:
    """`text` with each key of `values` (key parts -> rendered value, None to delete) set
    on its own `key = value` line of table `where`, comments and spacing kept; None when a
    key is written otherwise (across lines, in a sub-table, inline), for tomlkit to do."""
    head = _header_line(text, where)
    if head is None:
        return None
    lines = text.split("\n")
    code = tomlpos.code_line_numbers(text)
    end = next((no - 1 for no, _, _ in tomlpos.headers(text) if no - 1 > head), len(lines))
    found: dict = {}
    firsts = set()
    for i in range(head + 1, end):
        if (i + 1) not in code:
            continue
        kv = tomlpos.key_line(lines[i])
        if kv is None:
            continue
        parts, at = kv
        firsts.add(parts[0])
        if parts in values:
            if i + 1 < len(lines) and (i + 2) not in code:
                return None  # the value goes on over more lines
            found[parts] = (i, at)
    last = end - 1
    while last > head and (last + 1) in code and _blank_or_comment(lines[last]):
        last -= 1
    cr = "\r" if "\r\n" in text else ""
    add = []
    for parts, rendered in values.items():
        if parts in found:
            continue
        if rendered is None:
            continue
        if (len(parts) > 1) != (parts[0] in firsts):
            return None  # a dotted key where the table writes that part some other way, or the reverse
        add.append(".".join(toml_key(p) for p in parts) + " = " + rendered + cr)
    drop = set()
    for parts, (i, at) in found.items():
        rendered = values[parts]
        if rendered is None:
            drop.add(i)
            continue
        line = lines[i].rstrip("\r")
        rest = line[at:]
        c = tomlpos.comment_start(rest)
        value = rest if c is None else rest[:c]
        gap = value[len(value.rstrip()) :] if c is not None else ""
        lines[i] = line[:at] + " " + rendered + gap + (rest[c:] if c is not None else "") + cr
    kept = [line for k, line in enumerate(lines[: last + 1]) if k not in drop]
    return "\n".join(kept + add + lines[last + 1 :])


def _table_block(header: str, values: dict) -> list[str]:
    return [header] + [f"{toml_key(k)} = {toml_value(v)}" for k, v in values.items()]


def _cue_block(values: dict, settings: dict) -> list[str]:
    block = _table_block("[[cues]]", values)
    return block + [f"set.{toml_key(_key_text(t))} = {toml_value(s)}" for t, s in settings.items()]


# ---- the editor --------------------------------------------------------------------------------


def _digest(data: bytes | None) -> str | None:
    return None if data is None else hashlib.sha256(data).hexdigest()


def _disk_bytes(path: str) -> bytes | None:
    """The file's bytes (None if there is none): a regular file of bounded size only, opened
    without blocking."""
    if not os.path.lexists(path):
        return None
    try:
        return files.read_bounded(path, showfile.MAX_SHOW_BYTES, "larger than the largest show file read")
    except files.FileProblem as exc:
        raise EditError(f"{path}: {exc}") from None


# op -> {argument: (accepted types, required)}
_STR, _INT, _NUM, _BOOL, _DICT, _LIST = (str,), (int,), (int, float), (bool,), (dict,), (list,)
OPS = {
    "patch": {
        "profile": (_STR, True),
        "mode": (_STR, False),
        "name": (_STR, False),
        "output": (_STR, False),
        "universe": (_INT, False),
        "address": (_INT, False),
        "group": (_STR, False),
        "pattern": (_STR, False),
        "set": (_DICT, False),
    },
    "unpatch": {"name": (_STR, True)},
    "fixture": {"name": (_STR, True), "set": (_DICT, True)},
    "group": {"name": (_STR, True), "set": (_DICT, False), "delete": (_BOOL, False)},
    "look": {"target": (_STR, True), "set": (_DICT, True), "cue": (_STR, False), "blind": (_BOOL, False)},
    "clear": {"target": (_STR, False), "blind": (_BOOL, False)},
    "store_cue": {
        "name": (_STR, True),
        "key": (_STR, False),
        "quantize": (_STR + _INT, False),
        "transition": (_STR + _NUM, False),
        "curve": (_STR, False),
        "phase": (_STR, False),
        "next": (_STR, False),
        "after": (_INT, False),
        "targets": (_LIST, False),
    },
    "cue": {"name": (_STR, True), "set": (_DICT, True), "blind": (_BOOL, False)},
    "move_cue": {"name": (_STR, True), "to": (_INT, True)},
    "delete_cue": {"name": (_STR, True)},
    "tempo": {"set": (_DICT, True)},
}
# keys of a cue an edit may set (its looks go through "look")
CUE_EDIT_KEYS = showfile.CUE_KEYS - {"set"}


def check_args(op, args) -> dict:
    """The arguments of one edit, each of its expected type; EditError otherwise."""
    if not isinstance(op, str) or op not in OPS:
        raise EditError(f"unknown edit {model.printable(repr(op))[:40]}; the edits are {', '.join(OPS)}")
    if not isinstance(args, dict):
        raise EditError(f"{op}: the arguments must be an object")
    spec = OPS[op]
    for k in args:
        if k not in spec:
            raise EditError(f"{op}: unknown argument {model.printable(repr(k))[:40]}; expected {', '.join(spec)}")
    for k, (types, required) in spec.items():
        v = args.get(k)
        if v is None:
            if required:
                raise EditError(f"{op}: {k} is missing")
            continue
        if isinstance(v, bool) and bool not in types or not isinstance(v, types):
            raise EditError(f"{op}: {k} has the wrong type ({type(v).__name__})")
        if isinstance(v, str):
            _key_text(v) if k in ("name", "target", "cue", "group", "output") else toml_value(v)
    return args


class Editor:
    """One show file being edited. Thread-safe: every public method takes the lock."""

    def __init__(self, path: str, *, max_undo: int = MAX_UNDO):
        self.path = os.path.realpath(path)
        self.max_undo = max_undo
        self.lock = threading.RLock()
        try:
            raw = _disk_bytes(self.path)
        except EditError as exc:
            raise model.ShowError(self.path, None, None, str(exc).removeprefix(self.path + ": ")) from None
        self.disk = _digest(raw)
        if raw is None or not raw.strip():
            name = os.path.splitext(os.path.basename(self.path))[0] or "show"
            text = STARTER.format(name=name.replace("\\", "").replace('"', ""))
            self.bom = False
        else:
            text = showfile.read_text(self.path)
            self.bom = raw.startswith(BOM.encode("utf-8"))
        self.show = showfile.loads(self.path, text, draft=True)
        self.text = text
        self.saved = text if raw is not None and raw.strip() else None
        self.programmer: dict = {}
        self.version = 0
        self.undos: list = []
        self.redos: list = []
        self._doc = None
        self._view = None

    # ---- reading ---------------------------------------------------------------------------

    @property
    def doc(self):
        import tomlkit

        if self._doc is None:
            try:
                self._doc = tomlkit.parse(self.text)
            except Exception as exc:  # tomlkit's parse errors have no common base
                raise EditError(f"{self.path}: this file cannot be edited in place: {exc}") from None
        return self._doc

    @property
    def dirty(self) -> bool:
        return self.text != self.saved

    def view(self) -> dict:
        """The show as the page edits it: the file's values, the patch the reader made of
        them, the look being programmed and where undo and saving stand."""
        with self.lock:
            if self._view is None or self._view[0] != self.version:
                patch = {}
                for f in self.show.fixtures:
                    p = f.patch
                    if hasattr(p, "universe"):
                        patch[f.name] = {
                            "universe": p.universe,
                            "address": p.address,
                            "footprint": p.footprint,
                            "kind": f.kind,
                        }
                    else:
                        patch[f.name] = {"kind": f.kind, "address": p.address}
                self._view = (
                    self.version,
                    {
                        "version": self.version,
                        "file": os.path.basename(self.path),
                        "doc": _plain(tomllib.loads(self.text)),
                        "patch": patch,
                        "groups": {g.name: list(g.members) for g in self.show.groups.values()},
                        "programmer": self.programmer,
                        "dirty": self.dirty,
                        "undo": len(self.undos),
                        "redo": len(self.redos),
                    },
                )
            return self._view[1]

    # ---- checking ----------------------------------------------------------------------------

    def _live_name(self, extra: str | None = None) -> str:
        taken = set(self.show.cues) | {extra}
        name, n = LIVE_CUE, 1
        while name in taken:
            n += 1
            name = f"{LIVE_CUE} {n}"
        return name

    def _cue_insert(self, text: str, block: list[str]) -> str:
        spans = _spans(text, ("cues",), True)
        if not spans and "cues" in tomllib.loads(text):
            raise EditError("the show's cues are not written as [[cues]] tables: this edit cannot place a new one")
        return _insert_after(text, spans[-1][1] if spans else None, block)

    def _check(self, text: str, programmer: dict, store: str | None = None):
        """(show, programmed look as a cue or None) of `text`, as the reader takes it."""
        live = None
        candidate = text
        if programmer:
            live = self._live_name(store)
            values = {"name": live, "quantize": "now", "retrigger": True}
            candidate = self._cue_insert(text, _cue_block(values, programmer))
        try:
            show = showfile.loads(self.path, candidate, draft=True)
        except model.ShowError as exc:
            raise EditError(str(exc)) from None
        if live is None:
            return show, None
        cue = show.cues[live]
        cues = {k: v for k, v in show.cues.items() if k != live}
        return dataclasses.replace(show, cues=cues), cue

    def _commit(
        self, text: str, programmer: dict, what: str, *, blind=False, relaunch=(), store=None, doc=None
    ) -> Change:
        """Takes `text` (and `doc`, the tomlkit document edited into it) if the reader does."""
        try:
            show, live = self._check(text, programmer, store)
        except EditError:
            if doc is not None and doc is self._doc:
                self._doc = None  # edited in place: read again when next needed
            raise
        before = self.programmer
        self.undos.append((self.text, self.programmer, what))
        del self.undos[: -self.max_undo]
        self.redos.clear()
        change = self._become(text, programmer, show, live, before, what, blind, relaunch)
        if doc is not None:
            self._doc = doc
        return change

    def _become(self, text, programmer, show, live, before, what, blind, relaunch) -> Change:
        if text != self.text:
            self._doc = None
        self.text, self.programmer, self.show = text, programmer, show
        self.version += 1
        release = tuple(t for t in before if t not in programmer)
        sends = programmer != before and not blind
        return Change(self.version, show, live if sends else None, release if not blind else (), tuple(relaunch), what)

    def _fresh(self, version) -> None:
        if version != self.version:
            raise StaleEdit(
                f"the show has changed since (it is at version {self.version}, the edit was made on {version}): "
                "nothing was changed; here is the show as it is now"
            )

    # ---- editing -------------------------------------------------------------------------------

    def edit(self, op: str, args: dict, version: int) -> Change:
        """One edit (see OPS) made against `version`; EditError with the reason if refused."""
        with self.lock:
            self._fresh(version)
            args = check_args(op, args)
            return getattr(self, "_op_" + op)(**args)

    def undo(self, version: int) -> Change:
        with self.lock:
            self._fresh(version)
            if not self.undos:
                raise EditError("nothing to undo")
            text, programmer, what = self.undos[-1]
            show, live = self._check(text, programmer)
            self.undos.pop()
            self.redos.append((self.text, self.programmer, what))
            return self._become(text, programmer, show, live, self.programmer, f"undo {what}", False, ())

    def redo(self, version: int) -> Change:
        with self.lock:
            self._fresh(version)
            if not self.redos:
                raise EditError("nothing to redo")
            text, programmer, what = self.redos[-1]
            show, live = self._check(text, programmer)
            self.redos.pop()
            self.undos.append((self.text, self.programmer, what))
            return self._become(text, programmer, show, live, self.programmer, f"redo {what}", False, ())

    def _assign(self, text: str, where: tuple, values: dict, key: tuple = ()):
        """(new text, tomlkit document or None) with `values` set in table `where` (under
        `key` inside it, as ("set", TARGET) of a cue); None deletes a value. Lines of their
        own are rewritten in place; anything else goes through tomlkit."""
        import tomlkit

        rendered = {key + (_key_text(k),): None if v is None else toml_value(v) for k, v in values.items()}
        fast = _set_lines(text, where, rendered)
        if fast is not None:
            return fast, None
        doc = self.doc if text == self.text else tomlkit.parse(text)
        table = doc
        for part in where + key:
            table = table[part]
        for parts, v in rendered.items():  # every value checked before the document is touched
            k = parts[-1]
            if v is None:
                if k in table:
                    del table[k]
            else:
                table[k] = tomlkit.value(v)
        return doc.as_string(), doc

    def _index(self, kind: str, name: str) -> int:
        items = tomllib.loads(self.text).get(kind)
        if isinstance(items, list):
            for i, t in enumerate(items):
                if isinstance(t, dict) and t.get("name") == name:
                    return i
        raise EditError(f"no {'fixture' if kind == 'fixtures' else 'cue'} named {model.printable(repr(name))}")

    def _ensure_group(self, text: str, group: str | None) -> str:
        if group is None or group in tomllib.loads(text).get("groups", {}):
            return text
        spans = _spans(text, ("groups",), False)
        if spans:
            return _insert_after(text, spans[-1][1], [f"[groups.{toml_key(group)}]"])
        fixtures = _spans(text, ("fixtures",), True)
        if fixtures:
            # before the first fixture, where a reader looks for the groups
            return _insert_after(text, fixtures[0][0] - 1, [f"[groups.{toml_key(group)}]"])
        return _insert_after(text, None, [f"[groups.{toml_key(group)}]"])

    def _op_patch(self, profile, mode=None, name=None, output=None, universe=None, address=None, group=None,
                  pattern=None, set=None) -> Change:  # fmt: skip
        if not profile.startswith(fixturelib.PREFIX):
            raise EditError(f"patch: the profile must come from the bundled library ({fixturelib.PREFIX}MAKER/MODEL)")
        try:
            ref, entry = fixturelib.resolve(profile[len(fixturelib.PREFIX) :])
            m = fixturelib.mode_entry(ref, entry, mode)
        except (fixturelib.LibraryError, profiles.ProfileError) as exc:
            raise EditError(f"patch: {exc}") from None
        if "refused" in m:
            raise EditError(f"patch: {profile} mode {m['name']!r} cannot be used: {m['refused']}")
        footprint = len(m["channels"])
        show = self.show
        dmx_outputs = [o for o in show.outputs.values() if o.kind in DMX_KINDS]
        if output is None:
            if not dmx_outputs:
                raise EditError("patch: the show has no sACN or Art-Net output to patch to")
            output = dmx_outputs[0].name
        elif output not in show.outputs:
            raise EditError(f"patch: no output named {model.printable(repr(output))}")
        kind = show.outputs[output].kind
        if universe is None:
            on = [f.patch.universe for f in show.fixtures if f.output == output]
            universe = on[-1] if on else outputs.KINDS[kind].UNIVERSES[0]
            if address is None and next_address(show, kind, universe, footprint) is None:
                universe += 1
        if address is None:
            address = next_address(show, kind, universe, footprint) or 1
        if name is None:
            base = ref.rpartition("/")[2]
            taken = {f.name for f in show.fixtures} | {*show.groups}
            n = 1
            while f"{base}-{n}" in taken:
                n += 1
            name = f"{base}-{n}"
        if pattern is None:
            members = show.groups[group].members if group in show.groups else ()
            pattern = show.fixture(members[0]).look.pattern if members else DEFAULT_PATTERN
        values = {"name": name, "output": output}
        if group is not None:
            values["group"] = group
        values |= {"pattern": pattern, "profile": f"{fixturelib.PREFIX}{ref}"}
        if len(entry["modes"]) > 1:
            values["mode"] = m.get("short", m["name"]) if mode == m.get("short") else m["name"]
        values |= {"universe": universe, "address": address}
        if m.get("open"):
            values["set"] = dict(m["open"])
        for k, v in (set or {}).items():
            values[_key_text(k)] = v
        values = {k: v for k, v in values.items() if v is not None}
        text = self._ensure_group(self.text, group)
        spans = _spans(text, ("fixtures",), True)
        if not spans and "fixtures" in tomllib.loads(text):
            raise EditError("the show's fixtures are not written as [[fixtures]] tables: patch them by hand")
        text = _insert_after(text, spans[-1][1] if spans else None, _table_block("[[fixtures]]", values))
        return self._commit(text, self.programmer, f"patch {name} at {universe}.{address}")

    def _op_unpatch(self, name) -> Change:
        i = self._index("fixtures", name)
        first, last, _ = _spans(self.text, ("fixtures",), True)[i]
        text, _ = _cut(self.text, first, last)
        programmer = {t: s for t, s in self.programmer.items() if t != name}
        return self._commit(text, programmer, f"unpatch {name}")

    def _op_fixture(self, name, set) -> Change:
        i = self._index("fixtures", name)
        group = set.get("group")
        text = self._ensure_group(self.text, group) if isinstance(group, str) else self.text
        text, doc = self._assign(text, ("fixtures", i), set)
        return self._commit(text, self.programmer, f"set {', '.join(set)} of {name}", doc=doc)

    def _op_group(self, name, set=None, delete=False) -> Change:
        groups = tomllib.loads(self.text).get("groups", {})
        if delete:
            if name not in groups:
                raise EditError(f"no group named {model.printable(repr(name))}")
            doc = self.doc
            del doc["groups"][name]
            programmer = {t: s for t, s in self.programmer.items() if t != name}
            return self._commit(doc.as_string(), programmer, f"delete group {name}", doc=doc)
        text, doc = self._ensure_group(self.text, _key_text(name)), None
        if set:
            text, doc = self._assign(text, ("groups", name), set)
        return self._commit(text, self.programmer, f"group {name}", doc=doc)

    @staticmethod
    def _merged(old: dict, changes: dict) -> dict:
        out = dict(old)
        for k, v in changes.items():
            k = _key_text(k)
            if v is None:
                out.pop(k, None)
            else:
                toml_value(v)
                out[k] = v
        return out

    def _op_look(self, target, set, cue=None, blind=False) -> Change:
        _key_text(target)
        if cue is None:
            programmer = dict(self.programmer)
            merged = self._merged(programmer.get(target, {}), set)
            if merged:
                programmer[target] = merged
            else:
                programmer.pop(target, None)
            return self._commit(self.text, programmer, f"look of {target}", blind=blind)
        i = self._index("cues", cue)
        current = tomllib.loads(self.text)["cues"][i].get("set")
        if not isinstance(current, dict):
            raise EditError(f"cue {model.printable(repr(cue))} has no set table")
        old = current.get(target, {})
        merged = self._merged(old if isinstance(old, dict) else {}, set)
        text, doc = self._assign(self.text, ("cues", i), {target: merged or None}, ("set",))
        return self._commit(text, self.programmer, f"look of {target} in cue {cue}", blind=blind,
                            relaunch=() if blind else (cue,), doc=doc)  # fmt: skip

    def _op_clear(self, target=None, blind=False) -> Change:
        if target is None:
            programmer = {}
        else:
            programmer = {t: s for t, s in self.programmer.items() if t != target}
        return self._commit(self.text, programmer, f"clear {target or 'the programmed look'}", blind=blind)

    def _op_store_cue(self, name, targets=None, **values) -> Change:
        _key_text(name)
        chosen = (
            self.programmer if targets is None else {t: self.programmer[t] for t in targets if t in self.programmer}
        )
        if targets is not None and len(chosen) != len(targets):
            missing = [t for t in targets if t not in self.programmer]
            raise EditError(f"store_cue: no look is being programmed for {', '.join(map(str, missing))}")
        if not chosen:
            raise EditError("store_cue: nothing is being programmed: set a look first")
        if name == self._live_name():
            raise EditError(f"store_cue: the name {name!r} is kept for the look being programmed")
        cue = {"name": name} | {k: v for k, v in values.items() if v is not None}
        text = self._cue_insert(self.text, _cue_block(cue, chosen))
        return self._commit(text, self.programmer, f"store cue {name}", store=name)

    def _op_cue(self, name, set, blind=False) -> Change:
        for k in set:
            if k not in CUE_EDIT_KEYS:
                raise EditError(
                    f"cue: {model.printable(repr(k))[:40]} is not a cue setting here; "
                    f"expected one of {', '.join(sorted(CUE_EDIT_KEYS))} (looks go through look)"
                )
        i = self._index("cues", name)
        text, doc = self._assign(self.text, ("cues", i), set)
        renamed = set.get("name", name)
        return self._commit(text, self.programmer, f"cue {name}", blind=blind,
                            relaunch=() if blind else (renamed,), doc=doc)  # fmt: skip

    def _op_move_cue(self, name, to) -> Change:
        i = self._index("cues", name)
        spans = _spans(self.text, ("cues",), True)
        if not 0 <= to < len(spans):
            raise EditError(f"move_cue: to must be from 0 to {len(spans) - 1}")
        if to == i:
            raise EditError("move_cue: the cue is already there")
        text, block = _cut(self.text, spans[i][0], spans[i][1])
        spans = _spans(text, ("cues",), True)
        if to < len(spans):
            text = _insert_after(text, spans[to][0] - 1, [b.rstrip("\r") for b in block])
        else:
            text = _insert_after(text, spans[-1][1], [b.rstrip("\r") for b in block])
        return self._commit(text, self.programmer, f"move cue {name} to {to}")

    def _op_delete_cue(self, name) -> Change:
        i = self._index("cues", name)
        first, last, _ = _spans(self.text, ("cues",), True)[i]
        text, _ = _cut(self.text, first, last)
        return self._commit(text, self.programmer, f"delete cue {name}")

    def _op_tempo(self, set) -> Change:
        text, doc = self._assign(self.text, ("tempo",), set)
        return self._commit(text, self.programmer, f"tempo {', '.join(set)}", doc=doc)

    # ---- the file ----------------------------------------------------------------------------

    def save(self) -> str:
        """Writes the show to its file (see the module's notes); returns what was done."""
        with self.lock:
            raw = _disk_bytes(self.path)
            if _digest(raw) != self.disk:
                raise FileChanged(
                    f"{os.path.basename(self.path)} was changed on disk since it was loaded: "
                    "nothing was written; reload it or save as another name"
                )
            if raw is not None and self.text == self.saved:
                return "no change to save"
            data = self._encoded(self.text)
            try:
                showfile.loads(self.path, self.text, draft=True)
            except model.ShowError as exc:
                raise EditError(f"not saved: {exc}") from None
            if raw is not None:
                _atomic_write(self.path + BACKUP_SUFFIX, raw, like=self.path)
            _atomic_write(self.path, data, like=self.path)
            self.disk = _digest(data)
            self.saved = self.text
            self._view = None
            return f"saved {os.path.basename(self.path)}"

    def save_as(self) -> str:
        """Writes the show to a new file beside it (NAME-1.toml, NAME-2.toml, ...: the first
        that does not exist) and edits that one from now on; returns its name."""
        with self.lock:
            data = self._encoded(self.text)
            stem, ext = os.path.splitext(self.path)
            for n in range(1, 1000):
                candidate = f"{stem}-{n}{ext or '.toml'}"
                if not os.path.lexists(candidate) and _atomic_write(candidate, data, like=self.path, exclusive=True):
                    self.path, self.disk, self.saved = candidate, _digest(data), self.text
                    self._view = None
                    return os.path.basename(candidate)
            raise EditError("no free name to save as")

    def reload(self, version: int) -> Change:
        """The file as it is on disk now (an undoable step)."""
        with self.lock:
            self._fresh(version)
            raw = _disk_bytes(self.path)
            if raw is None:
                raise EditError(f"{os.path.basename(self.path)} is not there any more")
            text = showfile.read_text(self.path)
            change = self._commit(text, self.programmer, "reload")
            self.disk, self.saved, self.bom = _digest(raw), text, raw.startswith(BOM.encode("utf-8"))
            return change

    def _encoded(self, text: str) -> bytes:
        return ((BOM if self.bom else "") + text).encode("utf-8")


def _atomic_write(path: str, data: bytes, *, like: str, exclusive: bool = False) -> bool:
    """`data` written over `path` atomically (with `exclusive`, only if `path` does not exist:
    False if it does), with the permissions of `like` when that exists."""
    try:
        try:
            mode = os.stat(like).st_mode & 0o7777
        except FileNotFoundError:
            mode = 0o644
        return files.write_atomic(path, data, mode=mode, exclusive=exclusive)
    except OSError as exc:
        raise EditError(f"{os.path.basename(path)}: cannot write: {exc.strerror or exc}") from None


def next_address(show: model.Show, kind: str, universe: int, footprint: int) -> int | None:
    """The lowest address of `universe` (of output kind `kind`) with `footprint` free
    channels from it, None if there is none."""
    used = sorted(
        (f.patch.address, f.patch.address + f.patch.footprint)
        for f in show.fixtures
        if f.kind == kind and getattr(f.patch, "universe", None) == universe
    )
    at = 1
    for start, end in used:
        if at + footprint <= start:
            return at
        at = max(at, end)
    return at if at + footprint - 1 <= dmx.UNIVERSE_SLOTS else None
