"""The stage view in headless Chromium (software WebGL2): the player serving /stage, a cue
panning one head hard left, and the pixels read back from the canvas.

Needs Debian's `chromium` and Playwright, as the remote's browser tests."""

import pytest

pytest.importorskip("websockets", reason="the web remote needs the websockets package (kinetra[web])")

from test_live_e2e import free_port  # noqa: E402
from test_web_browser import CHROMIUM, chromium, served, wait_js  # noqa: E402

pytestmark = pytest.mark.skipif(not CHROMIUM, reason="headless Chromium is not installed (Debian package 'chromium')")

SLOW = 60.0  # deg/s of the slow head's pan
# One head on a 4 m truss; "left" holds pan at -1 (45 degrees) and tilt at +1, so the beam
# leans towards the audience and to the left, unless the pan is inverted.
SHOW = """\
[show]
name = "stage test"
[tempo]
bpm = 120
[patterns]
left = "left.csv"
[outputs.o]
type = "sacn"
destination = "127.0.0.1"
port = {port}
[stage]
width = 10
depth = 8
trim = 4
[[fixtures]]
name = "head"
output = "o"
pattern = "circle"
scale = 0
universe = 1
address = 1
channels = {{ pan = 1, pan_fine = 2, tilt = 3, tilt_fine = 4 }}
blackout = {{ 5 = 0 }}
{extra}
[[cues]]
name = "left"
quantize = "now"
set.head = {{ pattern = "left", scale = 1 }}
"""
LEFT_CSV = "x,y,z\n-1,1,0\n"
HEAD = "window.stageView.heads[0]"
LIT = 150  # every channel above this: a beam or its spot, never the floor or a body


@pytest.fixture(scope="module", params=["plain", "inverted"])
def player(request, tmp_path_factory):
    tmp = tmp_path_factory.mktemp("stage")
    extra = f"invert_pan = true\npan_speed = {SLOW:g}" if request.param == "inverted" else ""
    (tmp / "left.csv").write_text(LEFT_CSV)
    show = tmp / "show.toml"
    show.write_text(SHOW.format(port=free_port(), extra=extra))
    with served(show, "--duration", "120") as (_, url):
        yield {"url": url, "kind": request.param}


@pytest.fixture(scope="module")
def browser():
    with chromium() as b:
        yield b


@pytest.fixture
def stage(browser, player):
    pg = browser.new_page(viewport={"width": 800, "height": 600})
    problems = []
    pg.on("console", lambda m: problems.append(f"{m.type}: {m.text}") if m.type in ("error", "warning") else None)
    pg.on("pageerror", lambda e: problems.append(f"pageerror: {e}"))
    pg.goto(player["url"].replace("/?", "/stage?") if "?" in player["url"] else player["url"] + "stage")
    wait_js(pg, "document.body.dataset.ready === '1' && window.stageView.frames > 0", timeout=15)
    assert pg.evaluate("window.stageView.error") is None
    pg.evaluate("window.stageView.camera.set('top')")
    yield pg
    pg.close()
    assert problems == []


def command(pg, cmd, arg=None):
    """Sends one command over a socket of the page's own, as the remote's buttons do."""
    pg.evaluate(
        """([cmd, arg]) => new Promise((done) => {
          const ws = new WebSocket("ws://" + location.host + "/ws" + location.search);
          ws.onopen = () => {
            ws.send(JSON.stringify({ cmd: cmd, arg: arg }));
            setTimeout(() => { ws.close(); done(); }, 100);
          };
        })""",
        [cmd, arg],
    )


def settled(pg):
    wait_js(pg, f"{HEAD}.pan.p === {HEAD}.target[0] && {HEAD}.tilt.p === {HEAD}.target[1]", timeout=10)


def test_a_head_panned_hard_left_lights_one_side_of_the_floor(stage, player):
    command(stage, "release")
    wait_js(stage, f"Math.abs({HEAD}.target[0]) < 0.5")
    settled(stage)
    command(stage, "cue", "left")
    expected = 45.0 if player["kind"] == "inverted" else -45.0
    wait_js(stage, f"Math.abs({HEAD}.target[0] - ({expected})) < 0.1")
    settled(stage)
    left, right = stage.evaluate(f"window.stageView.lit({LIT})")
    if player["kind"] == "inverted":
        left, right = right, left
    assert left > 200 and right == 0, (left, right)


def test_a_blacked_out_head_draws_no_beam(stage):
    command(stage, "cue", "left")
    settled(stage)
    assert sum(stage.evaluate(f"window.stageView.lit({LIT})")) > 200
    command(stage, "blackout", True)
    wait_js(stage, f"{HEAD}.dim === 0")
    assert stage.evaluate(f"window.stageView.lit({LIT})") == [0, 0]
    command(stage, "blackout", False)
    wait_js(stage, f"{HEAD}.dim === 1")


def test_a_slow_head_trails_the_commanded_angle_at_its_own_speed(stage, player):
    if player["kind"] != "inverted":
        pytest.skip("only the inverted head is slow")
    command(stage, "release")
    settled(stage)
    start = stage.evaluate(f"{HEAD}.pan.p")
    command(stage, "cue", "left")
    wait_js(stage, f"{HEAD}.target[0] > 40")
    samples = []
    for _ in range(5):
        samples.append(stage.evaluate(f"[(performance.now() - {HEAD}.since) / 1000, {HEAD}.pan.p, {HEAD}.target[0]]"))
        stage.wait_for_timeout(100)
    for elapsed, drawn, _ in samples:
        # as far as the head's speed allows since the new angle came in (a late frame only loses time)
        assert drawn - start <= SLOW * elapsed + 1.0, (elapsed, drawn)
        assert elapsed < 0.25 or drawn - start >= SLOW * elapsed * 0.5, (elapsed, drawn)
    assert samples[0][2] - samples[0][1] > 10, "the drawn head trails the commanded angle"
    settled(stage)


@pytest.mark.parametrize(
    "start, target, dt, speed, accel, expected",
    [
        (0, 90, 0.5, 60, None, 30),  # 60 deg/s for half a second
        (0, 10, 0.5, 60, None, 10),  # arrives and stops
        (0, -90, 0.25, 60, None, -15),
        (0, 90, 0.1, 60, 100, 1),  # from rest at 100 deg/s²: 0.1 s in, 10 deg/s, 1 degree
        (5, 90, 1.0, None, None, 90),  # no speed given: at once
    ],
)
def test_the_head_model_moves_by_its_speed_and_acceleration(stage, start, target, dt, speed, accel, expected):
    got = stage.evaluate(
        "([p, t, dt, s, a]) => window.stageView.follow({ p: p, v: 0 }, t, dt, s, a).p",
        [start, target, dt, speed, accel],
    )
    assert got == pytest.approx(expected)
