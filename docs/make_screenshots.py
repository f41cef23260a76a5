"""Regenerate the README screenshots of the preview page with headless Chromium.

    python docs/make_screenshots.py [--chromium /usr/bin/chromium]

Writes docs/gallery.png (the gallery) and docs/large-view.png (the large view
of one pattern, paused at a fixed pip so the picture is reproducible). Needs
the installed project, Playwright and Debian's chromium.
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

from playwright.sync_api import sync_playwright

HERE = pathlib.Path(__file__).resolve().parent


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    ap.add_argument("--pattern", default="helix")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        page_path = os.path.join(tmp, "gallery.html")
        subprocess.run([sys.executable, "-m", "kinetra_preview", "gallery", "--out", page_path], check=True)
        with sync_playwright() as pw:
            browser = pw.chromium.launch(executable_path=args.chromium, args=["--no-sandbox"])
            pg = browser.new_page(viewport={"width": 1400, "height": 760})
            pg.goto(pathlib.Path(page_path).as_uri())
            pg.wait_for_function("document.body.dataset.ready === '1'")
            pg.fill("#search", "")
            pg.screenshot(path=str(HERE / "gallery.png"))
            pg.evaluate(f"kinetraPreview.open({args.pattern!r})")
            pg.wait_for_function(f"kinetraPreview.state().name === {args.pattern!r}")
            pg.evaluate("kinetraPreview.pause(); kinetraPreview.setFan(4, 24); kinetraPreview.setTime(1.3)")
            pg.set_viewport_size({"width": 1100, "height": 880})
            pg.screenshot(path=str(HERE / "large-view.png"))
            browser.close()
    for name in ("gallery.png", "large-view.png"):
        print(f"{HERE / name}: {(HERE / name).stat().st_size} bytes")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
