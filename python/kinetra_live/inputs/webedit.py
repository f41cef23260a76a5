"""The show editor behind the web remote: the edit messages of PROTOCOL.md, checked against
the show by the editor, the accepted changes handed to the frame loop through the command
queue, and the show as edited sent to every page at once.

Only what the editor was started with is ever written (the show file and its .bak, or a
save-as name the editor makes beside it): no message names a path. Runs in a worker thread
of the web server, never in the frame loop.
"""

from __future__ import annotations

import threading

from .. import commands, showedit

# An edit message is larger than a command, but still bounded.
MAX_EDIT_BYTES = 16 * 1024
EDIT_RATE_PER_SECOND = 10.0  # edits a page may send, sustained
EDIT_BURST = 20  # ... and at once
MESSAGE_FIELDS = {"edit", "args", "version", "id"}
# What the page may ask besides the edits (showedit.OPS).
ACTIONS = ("view", "undo", "redo", "reload", "save", "save_as", "catalogue", "previews", "fixtures")
NEEDS_VERSION = set(showedit.OPS) | {"undo", "redo", "reload"}
MAX_PREVIEWS = 64
MAX_FIXTURE_MATCHES = 40


class EditLink:
    """`handle(data)` -> (reply to the sender, message for every page or None). Never raises."""

    def __init__(self, editor: showedit.Editor, queue, configure=None):
        self.editor = editor
        self.queue = queue
        self.configure = configure
        self.previews: dict = {}
        self._catalogue = None
        self._lock = threading.Lock()
        self.stats = {"edits": 0, "refused": 0}

    def show_message(self) -> dict:
        message = {"type": "show", "show": self.editor.view()}
        if self.configure is not None:
            message["config"] = self.configure(self.editor.show)
        return message

    def handle(self, data: dict) -> tuple[dict, dict | None]:
        action = data.get("edit")
        ident = data.get("id") if isinstance(data.get("id"), int) and not isinstance(data.get("id"), bool) else None
        try:
            for k in data:
                if k not in MESSAGE_FIELDS:
                    raise showedit.EditError(
                        f"unknown field {str(k)[:40]!r}; expected {', '.join(sorted(MESSAGE_FIELDS))}"
                    )
            if not isinstance(action, str) or action not in showedit.OPS and action not in ACTIONS:
                raise showedit.EditError(
                    f"unknown edit {str(action)[:40]!r}; the edits are {', '.join([*showedit.OPS, *ACTIONS])}"
                )
            version = data.get("version")
            if action in NEEDS_VERSION and (not isinstance(version, int) or isinstance(version, bool)):
                raise showedit.EditError(f"{action}: needs the version of the show it was made on")
            args = data.get("args", {})
            if args is None:
                args = {}
            return self._do(action, args, version, ident)
        except showedit.EditError as exc:
            self.stats["refused"] += 1
            reply = {
                "type": "error",
                "edit": action if isinstance(action, str) else None,
                "id": ident,
                "message": str(exc)[:600],
                "stale": isinstance(exc, showedit.StaleEdit),
                "changed_on_disk": isinstance(exc, showedit.FileChanged),
            }
            if isinstance(exc, showedit.StaleEdit):
                reply["show"] = self.editor.view()
            return reply, None

    def _do(self, action: str, args, version, ident) -> tuple[dict, dict | None]:
        ed = self.editor
        ok = {"type": "edited", "edit": action, "id": ident}
        if action == "view":
            return self.show_message(), None
        if action == "catalogue":
            return {"type": "catalogue", "id": ident, **self.catalogue()}, None
        if action == "previews":
            names = args.get("names") if isinstance(args, dict) else None
            if not isinstance(names, list) or len(names) > MAX_PREVIEWS or not all(isinstance(n, str) for n in names):
                raise showedit.EditError(f"previews: args.names must be a list of at most {MAX_PREVIEWS} pattern names")
            return {"type": "previews", "id": ident, "previews": self.thumbnails(names)}, None
        if action == "fixtures":
            words = args.get("search") if isinstance(args, dict) else None
            if not isinstance(words, str) or len(words) > 100:
                raise showedit.EditError("fixtures: args.search must be a text of at most 100 characters")
            return {"type": "fixtures", "id": ident, "fixtures": self.fixtures(words)}, None
        if action in ("save", "save_as"):
            if args:
                raise showedit.EditError(
                    f"{action}: takes no arguments (the file is the one the show was started with)"
                )
            said = ed.save() if action == "save" else ed.save_as()
            self.stats["edits"] += 1
            return ok | {"message": said, "version": ed.version}, self.show_message()
        if action in ("undo", "redo", "reload"):
            if args:
                raise showedit.EditError(f"{action}: takes no arguments")
            change = getattr(ed, action)(version)
        else:
            change = ed.edit(action, args, version)
        self.queue.put(commands.Command(commands.EDIT, change, "web"))
        self.stats["edits"] += 1
        return ok | {"message": change.what, "version": change.version}, self.show_message()

    @staticmethod
    def fixtures(words: str) -> list[dict]:
        """The bundled library's fixtures that match `words`, with their modes, for the patch."""
        from .. import fixturelib

        makers = fixturelib.index()["makers"]
        out = []
        for ref, e in fixturelib.search(words, MAX_FIXTURE_MATCHES):
            modes = [
                {
                    "name": m["name"],
                    "short": m.get("short", m["name"]),
                    "channels": len(m.get("channels", ())),
                    "refused": m.get("refused"),
                }  # fmt: skip
                for m in e["modes"]
            ]
            out.append(
                {
                    "ref": fixturelib.PREFIX + ref,
                    "name": e["name"],
                    "maker": makers.get(e["maker"], e["maker"]),
                    "beam": e.get("beam"),
                    "modes": modes,
                }  # fmt: skip
            )
        return out

    # ---- the pattern picker --------------------------------------------------------------------

    def catalogue(self) -> dict:
        """Every pattern the show can use: names, families, descriptions and periods."""
        from kinetra_preview import model as preview

        with self._lock:
            if self._catalogue is None:
                import kinetra

                builtin = len(kinetra.catalogue())
                rows = preview.rows_from_catalogue(self.editor.show.library.catalogue(), builtin)
                self._catalogue = {
                    "names": [r.name for r in rows],
                    "families": [r.family for r in rows],
                    "descriptions": [r.description for r in rows],
                    "periods": [r.period_pips for r in rows],
                    "grid": preview.decimate.THUMB_GRID,
                }
            return self._catalogue

    def thumbnails(self, names: list[str]) -> dict:
        """Name -> the gallery's decimated path of the pattern (encoded as the gallery has it)."""
        from kinetra_preview import model as preview

        lib = self.editor.show.library
        periods = dict(zip(self.catalogue()["names"], self.catalogue()["periods"]))
        out = {}
        for name in names:
            if name not in periods:
                continue
            with self._lock:
                if name not in self.previews:
                    table = preview.sample_table(lib.sample, name, periods[name])
                    self.previews[name] = preview.thumbnail_of(table)
                out[name] = self.previews[name]
        return out
