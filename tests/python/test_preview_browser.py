"""End-to-end test of the preview page in headless Chromium.

Needs Debian's `chromium` (the test command installs it) and Playwright from
PyPI, which drives the system browser; no browser is downloaded. Without
chromium these tests are skipped. Set KINETRA_CHROMIUM to use another
Chromium binary.
"""

import math
import os
import shutil
import time

import kinetra
import pytest
from kinetra_preview import cli, codec, model, projection

CHROMIUM = os.environ.get("KINETRA_CHROMIUM") or shutil.which("chromium") or shutil.which("chromium-browser")
pytestmark = pytest.mark.skipif(not CHROMIUM, reason="headless Chromium is not installed (Debian package 'chromium')")

TOLERANCE = codec.HALF_STEP + 1e-12  # the page carries positions quantised to 1/32767
USER_ROWS = [
    (
        round(0.9 * math.sin(2 * math.pi * i / 96), 6),
        round(-0.4 * (1 - math.cos(2 * math.pi * i / 96)), 6),
        round(0.3 * math.sin(4 * math.pi * i / 96), 6),
    )
    for i in range(96)
]


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    d = tmp_path_factory.mktemp("preview")
    csv = d / "my-walk.csv"
    csv.write_text("x,y,z\n" + "".join(f"{x},{y},{z}\n" for x, y, z in USER_ROWS))
    gallery = d / "gallery.html"
    start = time.perf_counter()
    assert cli.main(["gallery", "--out", str(gallery), "--pattern-file", str(csv)]) == 0
    seconds = time.perf_counter() - start
    print(f"\ngallery: {gallery.stat().st_size} bytes, generated in {seconds:.2f} s")
    single = d / "helix.html"
    assert cli.main(["show", "helix", "--bpm", "96", "--out", str(single)]) == 0
    return {"gallery": gallery.as_uri(), "single": single.as_uri()}


@pytest.fixture(scope="module")
def browser():
    try:
        from playwright.sync_api import sync_playwright
    except ImportError:
        pytest.fail("the browser test needs Playwright: pip install playwright (it drives the system chromium)")
    with sync_playwright() as pw:
        b = pw.chromium.launch(
            executable_path=CHROMIUM, args=["--no-sandbox", "--autoplay-policy=no-user-gesture-required"]
        )
        yield b
        b.close()


@pytest.fixture
def open_page(browser):
    pages = []

    def go(url):
        pg = browser.new_page(viewport={"width": 1280, "height": 900})
        pg.problems = []
        pg.on(
            "console",
            lambda m: pg.problems.append(f"{m.type}: {m.text}") if m.type in ("error", "warning") else None,
        )
        pg.on("pageerror", lambda e: pg.problems.append(f"pageerror: {e}"))
        pg.goto(url)
        pg.wait_for_function("document.body.dataset.ready === '1'", timeout=30000)
        pages.append(pg)
        return pg

    yield go
    for pg in pages:
        pg.close()


def _library():
    return {r["name"]: r for r in kinetra.catalogue()}


def test_gallery_opens_cleanly_with_one_card_per_catalogue_row(site, open_page):
    pg = open_page(site["gallery"])
    rows = kinetra.catalogue()
    cards = pg.locator("#grid .card")
    assert cards.count() == len(rows) + 1  # the built-in catalogue and the pattern file
    names = pg.eval_on_selector_all("#grid .card", "cs => cs.map(c => c.dataset.name)")
    assert names == [r["name"] for r in rows] + ["my_walk"]
    assert pg.locator("#count").inner_text() == f"{len(rows) + 1} patterns"
    pg.wait_for_function("performance.getEntriesByName('first-contentful-paint').length === 1")
    paint = pg.evaluate("Object.fromEntries(performance.getEntriesByType('paint').map(e => [e.name, e.startTime]))")
    print(
        f"\nfirst paint {paint.get('first-paint', -1):.0f} ms, first contentful paint "
        f"{paint.get('first-contentful-paint', -1):.0f} ms"
    )
    assert 0 < paint["first-contentful-paint"] < 5000
    assert pg.problems == []


def test_search_and_family_filter(site, open_page):
    pg = open_page(site["gallery"])
    rows = kinetra.catalogue()
    pg.fill("#search", "circle")
    want = [
        r["name"]
        for r in rows
        if "circle" in (r["name"] + " " + r["description"] + " " + model.family_of(r["name"])).lower()
    ]
    shown = pg.eval_on_selector_all("#grid .card:not([hidden])", "cs => cs.map(c => c.dataset.name)")
    assert shown == want and "circle" in shown
    pg.fill("#search", "my_walk user")
    assert pg.eval_on_selector_all("#grid .card:not([hidden])", "cs => cs.map(c => c.dataset.name)") == ["my_walk"]
    pg.fill("#search", "")
    pg.select_option("#family", label="dance (8)")
    shown = pg.eval_on_selector_all("#grid .card:not([hidden])", "cs => cs.map(c => c.dataset.name)")
    assert shown == ["bounce", "sway", "circle", "figure_eight", "step_touch", "box_step", "helix", "clay_background"]
    assert pg.locator("#count").inner_text() == f"8 of {len(rows) + 1} patterns"
    assert pg.problems == []


@pytest.mark.parametrize("name", ["helix", "__last_builtin__", "my_walk"])
def test_clicked_card_shows_the_point_where_the_library_puts_it(site, open_page, name):
    pg = open_page(site["gallery"])
    cat = _library()
    if name == "__last_builtin__":
        name = kinetra.catalogue()[-1]["name"]
    pg.fill("#search", name)
    pg.locator(f'#grid .card[data-name="{name}"]').click()
    pg.wait_for_function(f"kinetraPreview.state().name === {name!r} && !document.getElementById('viewer').hidden")
    assert pg.locator("#v-name").inner_text() == name
    period = cat[name]["period_pips"] if name in cat else len(USER_ROWS)
    sample = (lambda p: kinetra.sample(name, p).as_tuple()) if name in cat else (lambda p: USER_ROWS[p % period])

    # A known time at a known tempo, set through the controls.
    pg.locator("#v-play").click()  # pause
    pg.fill("#v-bpm", "130")
    pg.dispatch_event("#v-bpm", "change")
    for t in (0.0, 1.2345, 7.77, 61.5):
        pg.evaluate(f"kinetraPreview.setTime({t})")
        st = pg.evaluate("kinetraPreview.state()")
        pip = math.floor(t * 130 / 60 * 64) % period
        assert (st["bpm"], st["playing"], st["pip"]) == (130, False, pip)
        want = sample(pip)
        assert all(abs(a - b) <= TOLERANCE for a, b in zip((st["x"], st["y"], st["z"]), want)), (st, want)
        sx, sy = projection.project(st["x"], st["y"], st["z"])
        assert math.isclose(st["cx"], sx, abs_tol=1e-9) and math.isclose(st["cy"], sy, abs_tol=1e-9)
        assert pg.locator("#v-pip").inner_text() == f"{pip} / {period}"

    # Playing moves the point with the clock.
    pg.locator("#v-play").click()
    pg.wait_for_timeout(400)
    pg.locator("#v-play").click()
    st = pg.evaluate("kinetraPreview.state()")
    assert st["time"] > 61.5 + 0.3
    assert st["pip"] == math.floor(st["time"] * 130 / 60 * 64) % period
    assert all(abs(a - b) <= TOLERANCE for a, b in zip((st["x"], st["y"], st["z"]), sample(st["pip"])))

    # The scrubber picks a pip; the fan staggers copies k pips later.
    pg.eval_on_selector("#v-scrub", "(s, v) => { s.value = v; s.dispatchEvent(new Event('input')); }", str(period // 3))
    pg.fill("#v-fan-n", "4")
    pg.fill("#v-fan-k", "16")
    st = pg.evaluate("kinetraPreview.state()")
    assert st["pip"] == period // 3
    assert st["fan"] == [(period // 3 - 16 * k) % period for k in (1, 2, 3)]
    assert pg.locator("#v-seam line").count() == 1
    assert pg.locator("#c-lines path").count() == 3

    pg.keyboard.press("Escape")
    assert pg.locator("#viewer").is_hidden()
    assert pg.problems == []


def test_metronome_and_deep_link(site, open_page):
    pg = open_page(site["gallery"] + "#circle")
    assert pg.evaluate("kinetraPreview.state().name") == "circle"
    pg.locator("#v-click").check()
    pg.wait_for_timeout(600)
    st = pg.evaluate("kinetraPreview.state()")
    assert st["playing"] and st["time"] > 0.3
    assert st["pip"] == math.floor(st["time"] * 120 / 60 * 64) % 64
    pg.locator("#v-click").uncheck()
    assert pg.problems == []


def test_single_pattern_page_from_show(site, open_page):
    pg = open_page(site["single"])
    assert pg.locator("#grid").is_hidden() and pg.locator("#viewer").is_visible()
    st = pg.evaluate("kinetraPreview.state()")
    assert st["name"] == "helix" and st["bpm"] == 96
    pg.evaluate("kinetraPreview.pause(); kinetraPreview.setTime(2.5)")
    st = pg.evaluate("kinetraPreview.state()")
    assert st["pip"] == math.floor(2.5 * 96 / 60 * 64) % 256
    assert all(
        abs(a - b) <= TOLERANCE
        for a, b in zip((st["x"], st["y"], st["z"]), kinetra.sample("helix", st["pip"]).as_tuple())
    )
    assert pg.problems == []
