"""Sections of the benchmark report that other scripts than the report writer keep:
each stands between its own markers and is replaced whole on every run."""

from __future__ import annotations

import pathlib


def replace(report: str, title: str, body: str) -> None:
    path = pathlib.Path(report)
    text = path.read_text(encoding="utf-8") if path.exists() else "# Benchmark results\n"
    start, end = f"<!-- section: {title} -->", f"<!-- end: {title} -->"
    block = f"{start}\n## {title}\n\n{body.rstrip()}\n{end}"
    if start in text and end in text:
        head, rest = text.split(start, 1)
        text = head + block + rest.split(end, 1)[1]
    else:
        text = text.rstrip() + "\n\n" + block + "\n"
    path.write_text(text, encoding="utf-8")


def publish(report: str | None, title: str, body: str) -> None:
    """The section into `report` when one is named, else printed."""
    if report:
        replace(report, title, body)
    else:
        print(f"## {title}\n\n{body}")
