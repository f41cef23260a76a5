"""The show editor end to end, through the page only: headless Chromium patches two heads from
the bundled library onto a show with no fixture, builds two cues, launches one (an sACN receiver
checks it lands on the next bar), undoes the last edit and saves; the file passes --check, keeps
its comments, and replays as it played. Then what the editor refuses, as the page shows it."""

import json
import math
import pathlib
import subprocess
import sys
import time

import pytest

pytest.importorskip("websockets", reason="the web remote needs the websockets package (kinetra[web])")
pytest.importorskip("tomlkit", reason="the show editor needs tomlkit (kinetra[web])")

from test_live_e2e import SacnCapture, free_port  # noqa: E402
from test_web_browser import CHROMIUM, chromium, frames, served, wait_js  # noqa: E402

pytestmark = pytest.mark.skipif(not CHROMIUM, reason="headless Chromium is not installed (Debian package 'chromium')")

ROOT = pathlib.Path(__file__).resolve().parents[2]
BAR_PIPS = 4 * 64
START = """\
# Built in the browser: this comment must survive the editor.
[show]
name = "built in the page"
fps = 40

[tempo]
bpm = 120   # a fixed tempo, so that a replay has the same clock
source = "fixed"

# the lights: one sACN output on this machine
[outputs.lights]
type = "sacn"
destination = "127.0.0.1"
port = {port}
"""


@pytest.fixture(scope="module")
def player(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("editor")
    port = free_port()
    show = tmp / "show.toml"
    show.write_text(START.format(port=port))
    log = tmp / "frames.jsonl"
    rx = SacnCapture(port)
    try:
        with served(show, "--frame-log", str(log), "--duration", "300") as (proc, url):
            yield {"url": url, "log": log, "rx": rx, "show": show, "tmp": tmp}
    finally:
        rx.stop()
    assert proc.returncode == 0


@pytest.fixture(scope="module")
def page(player):
    with chromium() as b:
        pg = b.new_page(viewport={"width": 1280, "height": 1000})
        problems = []
        pg.on("console", lambda m: problems.append(m.text) if m.type == "error" else None)
        pg.on("pageerror", lambda e: problems.append(f"pageerror: {e}"))
        pg.goto(player["url"])
        wait_js(pg, "document.body.dataset.showVersion !== undefined", timeout=15)
        yield pg
    assert problems == []


def version(pg):
    return int(pg.evaluate("document.body.dataset.showVersion"))


def act(pg, click, before=None):
    """Clicks `click` and waits for the show's next version."""
    v = version(pg) if before is None else before
    pg.click(click)
    wait_js(pg, f"Number(document.body.dataset.showVersion) > {v}")


def status(pg):
    return pg.text_content("#ed-status")


def patch_head(pg):
    pg.fill("#ed-lib", "mac aura")
    pg.wait_for_selector(".found button.ed-pick")
    pg.select_option(".found .ed-mode", label="Standard (14 ch)")
    pg.click(".found button.ed-pick")
    pg.fill("#ed-pgroup", "heads")
    act(pg, "#ed-patch")


def look(pg, pattern, scale, cue=""):
    pg.select_option("#ed-target", "heads")
    pg.select_option("#ed-cue", cue)
    pg.fill("#ed-psearch", pattern)
    pg.click(f'#ed-patterns button.pat[data-pattern="{pattern}"]')
    for axis in ("sx", "sy"):
        pg.fill(f"#ed-{axis}", str(scale))
    act(pg, "#ed-apply")


def store(pg, name, key=""):
    pg.fill("#ed-sname", name)
    pg.fill("#ed-skey", key)
    pg.select_option("#ed-squant", "bar")
    act(pg, "#ed-store")


def centred(packet, heads=2):
    d = packet.dmxData  # pan 4-5, tilt 6-7 of each 14-channel head, 0x8000 at the centre
    return all((d[14 * k + 3], d[14 * k + 4], d[14 * k + 5], d[14 * k + 6]) == (128, 0, 128, 0) for k in range(heads))


def test_a_show_built_in_the_page_plays_saves_and_replays(page, player):
    patch_head(page)
    patch_head(page)
    text = page.text_content("#ed-fixtures")
    assert "1.1 (14 ch)" in text and "1.15 (14 ch)" in text
    look(page, "figure_eight", 0)
    store(page, "still", "s")
    look(page, "sway", 0.5)
    store(page, "swing", "w")
    act(page, ".prog button.ed-clear")
    # the remote's cue grid has the new cues: launch one and see it land on the next bar
    page.wait_for_selector('button.cue[data-cue="still"]')
    clicked = time.monotonic()
    page.click('button.cue[data-cue="still"]')
    wait_js(page, "document.querySelector('button.cue[data-cue=\"still\"]').dataset.state === 'active'")
    time.sleep(1.0)
    log = frames(player["log"])
    before = max((f for f in log if f["t"] <= clicked), key=lambda f: f["t"])
    pip = math.floor((clicked - before["t0"]) * before["bpm"] / 60 * 64)
    landed = [e for f in log for e in f.get("landed", []) if e["cue"] == "still"]
    assert len(landed) == 1 and landed[0]["boundary"] == -(-pip // BAR_PIPS) * BAR_PIPS
    land = next(f["t"] for f in log if any(e["cue"] == "still" for e in f.get("landed", [])))
    after = [p for t, p in player["rx"].packets if t > land + 0.1 and p.universe == 1]
    early = [p for t, p in player["rx"].packets if clicked - 0.5 < t < clicked and p.universe == 1]
    assert after and all(centred(p) for p in after[-5:]) and not all(centred(p) for p in early)
    # an edit, undone from the keys
    v = version(page)
    page.fill('.cuerow[data-cue="swing"] .ed-ctrans', "2")
    page.press('.cuerow[data-cue="swing"] .ed-ctrans', "Enter")
    wait_js(page, f"Number(document.body.dataset.showVersion) > {v}")
    page.click("#ed-file")
    page.keyboard.press("Control+z")
    wait_js(page, f"Number(document.body.dataset.showVersion) > {v + 1}")
    page.click("#ed-save")
    wait_js(page, "document.getElementById('ed-status').textContent.startsWith('saved')")
    saved = player["show"].read_text()
    assert "# Built in the browser: this comment must survive the editor." in saved
    assert "# the lights: one sACN output on this machine" in saved and "# a fixed tempo" in saved
    check = subprocess.run([sys.executable, "-m", "kinetra_live", str(player["show"]), "--check"], capture_output=True)
    assert check.returncode == 0, check.stderr
    assert b"cue still [s]: heads" in check.stdout and b"transition" not in saved.encode().split(b'"swing"')[1]
    replay(player["show"], log, landed[0]["boundary"])


def replay(path, log, boundary):
    """The saved show on the logged frames' clock, the cue launched for the same bar: the same
    values and pattern pips for every frame from the bar on."""
    import io

    from kinetra_live import clock, runner, showfile

    class Socket:
        def sendto(self, data, addr):
            pass

        def close(self):
            pass

    played = [f for f in log if f["pip"] >= boundary][:80]
    t = [played[0]["t"]]
    out = io.StringIO()
    r = runner.Runner(showfile.load(str(path)), now=lambda: t[0], open_socket=lambda s: Socket(), frame_log=out)
    r.clock = clock.Clock(played[0]["bpm"], played[0]["t0"], played[0]["latency_s"])
    r.engine.launch("still", boundary - 1)
    for f in played:
        t[0] = f["t"]
        r.frame(f["t"])
    r.close()
    again = [json.loads(x) for x in out.getvalue().splitlines() if '"frame"' in x]
    assert [f["fixtures"] for f in again] == [f["fixtures"] for f in played]


@pytest.mark.parametrize(
    "step,words",
    [
        ("overlap", "overlap fixture"),
        ("pattern", "no_such_pattern"),
        ("stale", "has changed since"),
        ("disk", "changed on disk"),
    ],
)
def test_the_page_shows_what_the_editor_refuses(page, player, step, words):
    if step == "overlap":
        page.fill("#ed-profile", "ofl:martin/mac-aura")
        page.fill("#ed-pmode", "Standard")
        page.fill("#ed-address", "3")
        page.click("#ed-patch")
        page.fill("#ed-address", "")
    elif step == "pattern":
        page.select_option("#ed-target", "heads")
        page.select_option("#ed-cue", "")
        page.fill("#ed-pattern", "no_such_pattern")
        page.click("#ed-apply")
    elif step == "stale":
        v = version(page)
        page.evaluate("window.editorView.version -= 1")
        page.click("#ed-undo")
        wait_js(page, f"window.editorView.version === {v}")
    else:
        show = player["show"]
        show.write_text(show.read_text() + "\n# changed by hand\n")
        page.fill('.cuerow[data-cue="swing"] .ed-ckey', "x")
        page.press('.cuerow[data-cue="swing"] .ed-ckey', "Enter")
        page.wait_for_timeout(300)
        page.click("#ed-save")
        wait_js(page, "!document.getElementById('ed-disk').hidden")
        assert show.read_text().endswith("# changed by hand\n")
    wait_js(page, f"document.getElementById('ed-status').textContent.includes({json.dumps(words)})")


def test_an_edit_without_the_token_gets_nothing(player):
    from websockets.exceptions import InvalidStatus
    from websockets.sync.client import connect

    host = player["url"].split("/")[2]
    with pytest.raises(InvalidStatus) as e:
        connect(f"ws://{host}/ws", origin=f"http://{host}", open_timeout=5)
    assert e.value.response.status_code == 403
