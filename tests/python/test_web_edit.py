"""The web remote's edit mode: the token on every address, every edit checked against the show,
each page told of the others' edits, and hostile messages leaving the show and its file as
they were."""

import http.client
import json
import pathlib
import time

import pytest

pytest.importorskip("websockets", reason="the web remote needs the websockets package (kinetra[web])")

import inputs_fakes as fakes  # noqa: E402
from kinetra_live import commands, showedit  # noqa: E402
from kinetra_live.inputs import web, webedit  # noqa: E402
from websockets.exceptions import InvalidStatus  # noqa: E402
from websockets.sync.client import connect  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture
def served(tmp_path):
    path = tmp_path / "show.toml"
    path.write_bytes((ROOT / "examples" / "four-heads.toml").read_bytes())
    started = []

    def start(editing=True):
        q = fakes.Queue()
        ed = showedit.Editor(str(path)) if editing else None
        r = web.WebRemote(q, fakes.make, host="127.0.0.1", port=0, config={"title": "t"}, editor=ed)
        r.start()
        started.append(r)
        return r, q, ed

    yield start, path
    for r in started:
        r.close()


def ws(r, token="given", origin=None):
    token = r.token if token == "given" else token
    query = f"?token={token}" if token else ""
    # a page that stopped reading is not waited for on the way out
    origin = origin or f"http://127.0.0.1:{r.port}"
    return connect(f"ws://127.0.0.1:{r.port}/ws{query}", origin=origin, open_timeout=5, close_timeout=0.5)


def recv(conn, *kinds, timeout=5.0):
    end = time.monotonic() + timeout
    while True:
        m = json.loads(conn.recv(timeout=max(0.01, end - time.monotonic())))
        if m["type"] in kinds:
            return m


def send(conn, edit, args=None, version=None, **extra):
    conn.send(json.dumps({"edit": edit, "args": args, "version": version, **extra}))
    return recv(conn, "edited", "error")


@pytest.mark.parametrize(
    "token,origin,path",
    [(None, None, "/ws"), ("wrong", None, "/ws"), ("given", "http://evil.example", "/ws"), (None, None, "/")],
)
def test_editing_needs_the_token_even_on_loopback_and_the_pages_own_origin(served, token, origin, path):
    start, _ = served
    r, q, _ = start()
    assert r.token and "token=" in r.url
    if path == "/":
        c = http.client.HTTPConnection("127.0.0.1", r.port, timeout=5)
        c.request("GET", "/")
        assert c.getresponse().status == 403
        return
    with pytest.raises(InvalidStatus) as e:
        ws(r, token, origin)
    assert e.value.response.status_code == 403


def test_two_pages_see_each_others_edits_and_a_stale_edit_gets_the_show_as_it_is(served):
    start, path = served
    r, q, ed = start()
    with ws(r) as a, ws(r) as b:
        first = recv(a, "show")["show"]
        recv(b, "show")
        reply = send(a, "cue", {"name": "drop", "set": {"key": "9"}}, first["version"], id=7)
        assert reply["id"] == 7 and reply["version"] == first["version"] + 1
        seen = recv(b, "show")
        assert seen["show"]["doc"]["cues"][1]["key"] == "9" and seen["show"]["dirty"]
        stale = send(b, "cue", {"name": "drop", "set": {"key": "8"}}, first["version"])
        assert stale["stale"] and stale["show"]["version"] == reply["version"]
        assert [c.name for c in q.items] == [commands.EDIT]
        assert send(a, "save")["message"] == "saved show.toml"
    assert 'key = "9"' in path.read_text() and (path.parent / "show.toml.bak").exists()


@pytest.mark.parametrize(
    "message,words",
    [
        ({"edit": "save", "args": {"path": "/tmp/elsewhere.toml"}}, "takes no arguments"),
        ({"edit": "save_as", "args": {"name": "../../x"}}, "takes no arguments"),
        ({"edit": "patch", "args": {"profile": "/etc/passwd"}, "version": 0}, "bundled library"),
        ({"edit": "cue", "args": {"name": "drop", "set": {"key": "9"}}, "version": 0, "path": "x"}, "unknown field"),
        ({"edit": "cue", "args": {"name": "drop", "set": {"key": "9"}}}, "needs the version"),
        ({"edit": "cue", "args": {"name": "drop", "set": {"transition": 1e308}}, "version": 0}, "transition"),
        ({"edit": "fixture", "args": {"name": "head1", "set": {"x" * 9000: 1}}, "version": 0}, "not a key"),
        ({"edit": "rm -rf", "version": 0}, "unknown edit"),
        ({"edit": "look", "args": {"target": "heads", "set": {"pattern": "no_such"}}, "version": 0}, "no_such"),
    ],
)
def test_hostile_edit_messages_are_refused_and_leave_the_file_as_it_was(served, message, words):
    start, path = served
    before = path.read_bytes()
    r, q, ed = start()
    with ws(r) as a:
        recv(a, "show")
        a.send(json.dumps(message))
        reply = recv(a, "error")
        assert words in reply["message"]
    assert path.read_bytes() == before and sorted(p.name for p in path.parent.iterdir()) == ["show.toml"]
    assert q.items == [] and ed.version == 0


def test_a_flood_of_edits_is_limited_and_a_read_only_remote_edits_nothing(served):
    start, path = served
    before = path.read_bytes()
    r, q, ed = start()
    with ws(r) as a:
        recv(a, "show")
        for i in range(1000):
            a.send(json.dumps({"edit": "look", "args": {"target": "heads", "set": {"rotate": i % 90}}, "version": i}))
        a.send(json.dumps({"cmd": "tap"}))
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and not any(c.name == "tap" for c in q.items):
            time.sleep(0.05)
    edits = [c for c in q.items if c.name == commands.EDIT]
    assert 1 <= len(edits) <= webedit.EDIT_BURST + 25 and r.stats["rate_limited"] > 900
    assert path.read_bytes() == before
    ro, q2, _ = start(editing=False)
    with ws(ro, token=None) as b:
        b.send(json.dumps({"edit": "save"}))
        assert "read-only" in recv(b, "error")["message"]
    assert path.read_bytes() == before and q2.items == []
