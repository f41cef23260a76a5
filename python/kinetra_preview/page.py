"""The self-contained HTML page (gallery or single large view) and atomic file output."""

from __future__ import annotations

import html
import re
from importlib import resources

from kinetra_common import files

from .model import PageModel

_PLACEHOLDER = re.compile(r"\{\{([A-Z]+)\}\}")


def asset(name: str) -> str:
    return resources.files(__package__).joinpath("assets", name).read_text(encoding="utf-8")


def fill(template: str, values: dict[str, str]) -> str:
    """Replace each {{NAME}} of the template once, in one pass, so that
    inserted text is never scanned for placeholders itself."""

    def sub(m: re.Match) -> str:
        key = m.group(1)
        if key not in values:
            raise KeyError(f"no value for placeholder {key}")
        return values[key]

    return _PLACEHOLDER.sub(sub, template)


def render_page(model: PageModel) -> str:
    """The page's HTML text: markup, style, data and script all inline."""
    script = asset("preview.js")
    if "</script" in script.lower():
        raise ValueError("the page script must not contain a closing script tag")
    return fill(
        asset("page.html"),
        {
            "TITLE": html.escape(model.title),
            "MODE": model.mode,
            "CSS": asset("preview.css"),
            "DATA": model.to_json(),
            "JS": script,
        },
    )


def write_atomic(path: str, text: str) -> int:
    """Write text (UTF-8) to path, replacing the target only once everything is written
    (never half written). Returns the number of bytes written."""
    data = text.encode("utf-8")
    try:
        files.write_atomic(path, data)
    except OSError as exc:
        raise OSError(f"cannot write {path}: {exc.strerror or exc}") from None
    return len(data)
