"""The web remote end to end: the player serving the page, headless Chromium pressing its
buttons, and an sACN receiver on 127.0.0.1 checking what reaches the lights.

Needs Debian's `chromium` and Playwright (as the preview's browser tests); skipped without
chromium. The phone screenshot is kept in build/test-artifacts/ (or $KINETRA_ARTIFACTS).
"""

import contextlib
import json
import math
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import time

import pytest

pytest.importorskip("websockets", reason="the web remote needs the websockets package (kinetra[web])")

from test_live import make_show  # noqa: E402
from test_live_e2e import SacnCapture, free_port  # noqa: E402

CHROMIUM = os.environ.get("KINETRA_CHROMIUM") or shutil.which("chromium") or shutil.which("chromium-browser")
pytestmark = pytest.mark.skipif(not CHROMIUM, reason="headless Chromium is not installed (Debian package 'chromium')")

ROOT = pathlib.Path(__file__).resolve().parents[2]
ARTIFACTS = pathlib.Path(os.environ.get("KINETRA_ARTIFACTS") or ROOT / "build" / "test-artifacts")
BPM = 120
BAR_PIPS = 4 * 64
HEADS = 3
CENTRE = (128, 0)  # a 16-bit channel at 0 (scale 0): 0x8000
# WebGL2 in software where the machine has no GPU
CHROMIUM_ARGS = ["--no-sandbox", "--use-gl=angle", "--use-angle=swiftshader", "--enable-unsafe-swiftshader"]

CUES = """
[[cues]]
name = "centre"
set.heads = { scale = 0 }

[[cues]]
name = "slow wide"
quantize = 32
set.heads = { scale = 0.8, speed = "1/2" }

[[cues]]
name = "fast small"
quantize = 32
set.heads = { scale = 0.5, speed = "2" }
"""


def free_tcp_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextlib.contextmanager
def served(show, *args):
    """The player on `show` serving its page on a free port of 127.0.0.1 (more command-line
    `args` after the show's); yields the process and the page's address, and stops it with
    SIGINT, as Ctrl-C would, when the block ends."""
    proc = subprocess.Popen(
        [sys.executable, "-m", "kinetra_live", str(show), "--web", f"127.0.0.1:{free_tcp_port()}", *args],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        line = proc.stderr.readline()
        assert "web remote at http://127.0.0.1:" in line, line + proc.stderr.read()
        yield proc, line.split(" at ", 1)[1].strip()
    finally:
        proc.send_signal(signal.SIGINT)
        proc.communicate(timeout=20)


@contextlib.contextmanager
def chromium():
    """Headless Chromium (software WebGL) through Playwright."""
    from playwright.sync_api import sync_playwright

    with sync_playwright() as pw:
        b = pw.chromium.launch(executable_path=CHROMIUM, args=CHROMIUM_ARGS)
        try:
            yield b
        finally:
            b.close()


@pytest.fixture(scope="module")
def player(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("remote")
    sacn_port = free_port()
    show = tmp / "show.toml"
    show.write_text(make_show(heads=HEADS, port=sacn_port, visual=False) + CUES, encoding="utf-8")
    log = tmp / "frames.jsonl"
    rx = SacnCapture(sacn_port)
    try:
        with served(show, "--bpm", str(BPM), "--frame-log", str(log), "--duration", "300") as (proc, url):
            yield {"url": url, "log": log, "rx": rx, "proc": proc}
    finally:
        rx.stop()
    assert proc.returncode == 0


@pytest.fixture(scope="module")
def browser():
    with chromium() as b:
        yield b


@pytest.fixture
def page(browser, player):
    pg = browser.new_page(viewport={"width": 1024, "height": 768})
    problems = []
    pg.on("console", lambda m: problems.append(f"{m.type}: {m.text}") if m.type in ("error", "warning") else None)
    pg.on("pageerror", lambda e: problems.append(f"pageerror: {e}"))
    pg.goto(player["url"])
    wait_js(pg, "document.body.dataset.ready === '1'", timeout=15)
    yield pg
    pg.close()
    assert problems == []


def wait_js(pg, expression, timeout=10.0):
    """Polls a page expression until it is true. (Playwright's wait_for_function compiles its
    predicate with eval, which the page's Content-Security-Policy rightly forbids.)"""
    end = time.monotonic() + timeout
    while not pg.evaluate(expression):
        if time.monotonic() > end:
            raise AssertionError(f"not true within {timeout} s: {expression}")
        time.sleep(0.02)


def frames(log):
    out = []
    for line in pathlib.Path(log).read_text().splitlines():
        try:
            rec = json.loads(line)
        except ValueError:
            break  # the line being written
        if "frame" in rec:
            out.append(rec)
    return out


HEADS_DRAWN = "window.stageView.heads.map((h) => [h.name, h.pan.p, h.tilt.p])"


def test_stage_view_draws_one_moving_head_per_fixture(page):
    wait_js(page, "window.stageView.frames > 0")
    first = page.evaluate(HEADS_DRAWN)
    page.wait_for_timeout(300)
    second = page.evaluate(HEADS_DRAWN)
    assert [m[0] for m in first] == [f"head{k + 1}" for k in range(HEADS)]
    for a, b in zip(first, second):
        assert math.hypot(a[1] - b[1], a[2] - b[2]) > 0.5, "each head moves"
    assert page.locator(".group h2").first.text_content().startswith("heads")


CLICK_UNTIL_QUEUED = """async (name) => {
  const b = document.querySelector(`button.cue[data-cue="${name}"]`);
  const t0 = performance.now();
  b.click();
  while (b.dataset.state !== "queued" && performance.now() - t0 < 2000)
    await new Promise((r) => requestAnimationFrame(r));
  return [b.dataset.state, performance.now() - t0];
}"""


def test_a_pressed_cue_shows_queued_within_100_ms(page):
    waits = []
    for name in ["slow wide", "fast small"] * 4:
        state, ms = page.evaluate(CLICK_UNTIL_QUEUED, name)
        assert state == "queued"
        waits.append(ms)
        page.wait_for_timeout(150)
    waits.sort()
    print(f"\nclick to queued shown: median {waits[len(waits) // 2]:.0f} ms, max {waits[-1]:.0f} ms")
    assert waits[len(waits) // 2] < 100


def _centred(packet, heads=HEADS):
    d = packet.dmxData
    return all((d[8 * k], d[8 * k + 1]) == CENTRE and (d[8 * k + 2], d[8 * k + 3]) == CENTRE for k in range(heads))


def test_a_pressed_cue_reaches_the_lights_on_the_next_bar(page, player):
    rx = player["rx"]
    button = page.locator('button.cue[data-cue="centre"]')
    clicked = time.monotonic()
    button.click()
    wait_js(page, "document.querySelector('button.cue[data-cue=\"centre\"]').dataset.state === 'active'", timeout=10)
    time.sleep(1.0)  # the frame log catches up
    log = frames(player["log"])
    before = max((f for f in log if f["t"] <= clicked), key=lambda f: f["t"])
    pip_clicked = math.floor((clicked + before["latency_s"] - before["t0"]) * before["bpm"] / 60 * 64)
    landed = [e for f in log for e in f.get("landed", []) if e["cue"] == "centre"]
    assert len(landed) == 1
    boundary = landed[0]["boundary"]
    assert boundary % BAR_PIPS == 0
    assert 0 < boundary - pip_clicked <= BAR_PIPS + 16, (boundary, pip_clicked)  # the next bar
    # sequence numbers wrap every 256 frames: a packet is the frame of its number sent nearest
    # to when it came in
    by_seq: dict = {}
    for f in log:
        for p in f["packets"]:
            if p["universe"] == 1:
                by_seq.setdefault(p["sequence"], []).append(f)
    seen = [
        (min(by_seq[p.sequence], key=lambda f: abs(f["t"] - t))["pip"], _centred(p))
        for t, p in list(rx.packets)
        if t >= clicked and p.universe == 1 and not p.option_StreamTerminated and p.sequence in by_seq
    ]
    assert seen and any(c for _, c in seen)
    if boundary - pip_clicked > 16:  # clicked well before the bar: the old look went out first
        assert not seen[0][1]
    assert all(c == (pip >= boundary) for pip, c in seen), "still before the bar, centred from the bar on"
    first_at_bar = min(f["pip"] for f in log if f["pip"] >= boundary)
    assert min(pip for pip, c in seen if c) == first_at_bar, "the first frame of the bar carries it"
    page.locator('.group button.release[data-group="heads"]').click()
    wait_js(page, "document.querySelector('button.cue[data-cue=\"centre\"]').dataset.state === 'idle'")


TAP_AT = """async ([bpm, n]) => {
  const b = document.getElementById("tap");
  const period = 60000 / bpm, t0 = performance.now();
  for (let i = 0; i < n; i++) {
    const wait = t0 + i * period - performance.now();
    if (wait > 0) await new Promise((r) => setTimeout(r, wait));
    b.click();
  }
}"""


def test_eight_taps_at_125_bpm_set_the_tempo(page):
    page.wait_for_timeout(2500)  # a pause: the taps start a new run
    page.evaluate(TAP_AT, [125, 8])
    wait_js(page, "Math.abs(parseFloat(document.getElementById('bpm').textContent) - 125) < 1", timeout=5)
    bpm = float(page.locator("#bpm").inner_text())
    print(f"\ntempo after eight taps at 125 BPM: {bpm}")
    page.locator("#half").click()
    wait_js(page, "Math.abs(parseFloat(document.getElementById('bpm').textContent) - 62.5) < 0.3")


@pytest.mark.parametrize(
    "device",
    [
        {
            "name": "phone",
            "viewport": {"width": 390, "height": 844},
            "device_scale_factor": 3,
            "is_mobile": True,
            "has_touch": True,
        },
        {
            "name": "tablet",
            "viewport": {"width": 820, "height": 1180},
            "device_scale_factor": 2,
            "is_mobile": True,
            "has_touch": True,
        },
    ],
)
def test_phone_and_tablet_show_the_grid_without_sideways_scrolling(browser, player, device):
    settings = {k: v for k, v in device.items() if k != "name"}
    ctx = browser.new_context(**settings)
    pg = ctx.new_page()
    try:
        pg.goto(player["url"])
        wait_js(pg, "document.body.dataset.ready === '1' && window.stageView.frames > 0")
        width = device["viewport"]["width"]
        assert pg.evaluate("document.documentElement.scrollWidth") <= width
        for b in pg.locator("button.cue").all() + [pg.locator("#tap")]:
            box = b.bounding_box()
            assert box["x"] >= 0 and box["x"] + box["width"] <= width and box["height"] >= 44
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        shot = ARTIFACTS / f"web-remote-{device['name']}.png"
        pg.screenshot(path=str(shot))
        assert shot.stat().st_size > 10_000
    finally:
        ctx.close()
