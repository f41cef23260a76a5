"""The README's picture of the show editor (docs/editor.png): the example show played with the web remote,
headless Chromium searching the fixture library and setting a look with the pattern picker.

    PYTHONPATH=python python docs/make_editor_screenshot.py
"""

import pathlib
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, "tests/python")
from playwright.sync_api import sync_playwright
from test_web_browser import CHROMIUM, CHROMIUM_ARGS, wait_js

d = pathlib.Path(tempfile.mkdtemp())
show = d / "show.toml"
shutil.copy("examples/four-heads.toml", show)
txt = show.read_text()
txt = txt[: txt.index("# OSC commands")]
show.write_text(txt)
p = subprocess.Popen(
    [sys.executable, "-m", "kinetra_live", str(show), "--web", "127.0.0.1:0", "--duration", "120"],
    stdin=subprocess.DEVNULL,
    stdout=subprocess.DEVNULL,
    stderr=subprocess.PIPE,
    text=True,
)
line = p.stderr.readline()
while "web remote at" not in line:
    line = p.stderr.readline()
url = line.split(" at ", 1)[1].strip()
with sync_playwright() as pw:
    b = pw.chromium.launch(executable_path=CHROMIUM, args=CHROMIUM_ARGS)
    pg = b.new_page(viewport={"width": 1280, "height": 1250})
    pg.goto(url)
    wait_js(pg, "document.body.dataset.showVersion !== undefined", 15)
    pg.fill("#ed-lib", "mac")
    pg.wait_for_selector(".found button.ed-pick")
    pg.click(".found button.ed-pick")
    pg.select_option("#ed-target", "heads")
    pg.fill("#ed-psearch", "eight")
    pg.wait_for_selector("#ed-patterns button.pat")
    pg.wait_for_timeout(1500)
    pg.click("#ed-patterns button.pat")
    pg.fill("#ed-sx", "0.8")
    pg.fill("#ed-sy", "0.5")
    pg.click("#ed-apply")
    pg.wait_for_timeout(1500)
    pg.screenshot(path="docs/editor.png", full_page=False)
    b.close()
p.terminate()
p.wait(10)
