"""The web remote's server: what it lets in, what it refuses, and that no client can hold up
the frame loop or the show."""

import http.client
import json
import os
import re
import threading
import time

import pytest

pytest.importorskip("websockets", reason="the web remote needs the websockets package (kinetra[web])")

import inputs_fakes as fakes  # noqa: E402
from kinetra_live.inputs import web  # noqa: E402
from websockets.exceptions import ConnectionClosed, InvalidStatus  # noqa: E402
from websockets.sync.client import connect  # noqa: E402


@pytest.fixture
def remote():
    started = []

    def start(token=None, config=None):
        q = fakes.Queue()
        r = web.WebRemote(
            q,
            fakes.make,
            host="127.0.0.1",
            port=0,
            token=token,
            config=config or {"title": "test show", "beats_per_bar": 4},
        )
        r.start()
        started.append(r)
        return r, q

    yield start
    for r in started:
        r.close()


def get(r, path, headers=None):
    c = http.client.HTTPConnection("127.0.0.1", r.port, timeout=5)
    c.request("GET", path, headers=headers or {})
    resp = c.getresponse()
    body = resp.read()
    c.close()
    return resp.status, dict(resp.getheaders()), body


def ws(r, token=None, origin="same", **kw):
    query = f"?token={token}" if token else ""
    origin = f"http://127.0.0.1:{r.port}" if origin == "same" else origin
    return connect(f"ws://127.0.0.1:{r.port}/ws{query}", origin=origin, open_timeout=5, **kw)


def until(predicate, timeout=5.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()


def recv_json(conn, kind, timeout=5.0):
    end = time.monotonic() + timeout
    while True:
        m = json.loads(conn.recv(timeout=max(0.01, end - time.monotonic())))
        if m["type"] == kind:
            return m


@pytest.mark.parametrize(
    "host, needs_token",
    [
        ("127.0.0.1", False),
        ("127.3.4.5", False),
        ("::1", False),
        ("localhost", False),
        ("0.0.0.0", True),
        ("192.168.1.20", True),
        ("::", True),
    ],
)
def test_a_token_is_needed_exactly_off_the_loopback(host, needs_token):
    r = web.WebRemote(fakes.Queue(), fakes.make, host=host, port=8080)
    assert (r.token is not None) == needs_token
    assert ("?token=" in r.url) == needs_token
    if needs_token:
        assert len(r.token) >= 20 and r.token != web.WebRemote(fakes.Queue(), fakes.make, host=host).token


@pytest.mark.parametrize(
    "text, expected",
    [
        ("8080", ("127.0.0.1", 8080)),
        ("0.0.0.0:80", ("0.0.0.0", 80)),
        ("[::1]:9000", ("::1", 9000)),
        ("localhost:0", ("localhost", 0)),
    ],
)
def test_listen_addresses(text, expected):
    assert web.parse_listen(text) == expected


@pytest.mark.parametrize("text", ["", "http", "host.example:80", "1.2.3.4:99999", "1.2.3.4:-1", ":x"])
def test_bad_listen_addresses_are_refused_with_a_reason(text):
    with pytest.raises(ValueError):
        web.parse_listen(text)


@pytest.mark.parametrize(
    "path, query, status",
    [
        ("/", "", 403),
        ("/", "?token=wrong", 403),
        ("/", "?token={t}", 200),
        ("/ws", "", 403),
        ("/remote.js", "?token={t}", 404),
        ("/../pyproject.toml", "?token={t}", 404),
        ("/web/page.html", "?token={t}", 404),
        ("/favicon.ico", "", 403),
        ("/stage", "", 403),
        ("/stage", "?token={t}", 200),
        ("/static/stage.js", "", 200),  # the modules are the same for every show
        ("/static/../web.py", "", 403),
        ("/static/missing.js", "?token={t}", 404),
    ],
)
def test_with_a_token_every_request_needs_it(remote, path, query, status):
    r, _ = remote(token=True)
    code, headers, body = get(r, path + query.format(t=r.token))
    assert code == status
    if code == 200:
        assert headers["Cache-Control"] == "no-store"
        if path.startswith("/static/"):
            assert b"import" in body and headers["Content-Type"].startswith("text/javascript")
        else:
            assert b"<canvas" in body and "script-src 'self' 'sha256-" in headers["Content-Security-Policy"]
        assert headers["Referrer-Policy"] == "no-referrer"


@pytest.mark.parametrize(
    "host, status",
    [
        ("127.0.0.1:{port}", 200),
        ("localhost:{port}", 200),
        ("[::1]:{port}", 200),
        ("127.0.0.1", 200),
        ("attacker.example:{port}", 403),
        ("10.0.0.5:{port}", 403),
        ("", 403),
    ],
)
def test_without_a_token_only_loopback_host_names_are_served(remote, host, status):
    r, _ = remote()
    code, _, _ = get(r, "/", headers={"Host": host.format(port=r.port)})
    assert code == status


def test_page_is_self_contained_and_names_no_file(remote):
    r, _ = remote(config={"title": "<b>x</b>", "beats_per_bar": 3})
    code, headers, body = get(r, "/")
    page = body.decode()
    assert code == 200
    for outside in ("http://", "https://", "@import", "url("):
        assert outside not in page, outside
    # the empty icon and the page's own style and modules, nothing from elsewhere
    assert re.findall(r'(?:href|src)="([^"]*)"', page) == [
        "data:,",
        "/static/remote.css",
        "/static/editor.css",
        "/stage",
        "/static/main.js",
    ]
    assert "<b>x</b>" not in page and "&lt;b&gt;x&lt;/b&gt;" in page
    assert os.getcwd() not in page and ".toml" not in page


@pytest.mark.parametrize(
    "with_token, origin, ok",
    [
        (True, "same", True),
        (False, "same", False),
        (True, None, False),
        (True, "http://evil.example", False),
        (True, "http://127.0.0.1:1", False),
    ],
)
def test_socket_needs_token_and_its_own_origin(remote, with_token, origin, ok):
    r, _ = remote(token=True)
    if ok:
        with ws(r, r.token if with_token else None, origin) as c:
            assert c.response.status_code == 101
    else:
        with pytest.raises(InvalidStatus) as info:
            ws(r, r.token if with_token else None, origin)
        assert info.value.response.status_code == 403


@pytest.mark.parametrize(
    "message, queued, reply",
    [
        ({"cmd": "cue", "arg": "chase"}, [("cue", "chase")], "ok"),
        ({"cmd": "tap"}, [("tap", None)], "ok"),
        ({"cmd": "size", "arg": 0.5}, [("size", 0.5)], "ok"),
        ({"cmd": "cue", "arg": "nope"}, [], "no cue of that name"),
        ({"cmd": "release", "arg": "beam"}, [("release", "beam")], "ok"),
        ({"cmd": "hold", "arg": 1}, [("hold", True)], "ok"),
        ({"cmd": "explode"}, [], "unknown command"),
        ({"cmd": "quit"}, [], "not available"),
        ({"cmd": "size", "arg": "big"}, [], "needs a number"),
        ({"cmd": "size", "arg": 2}, [], "needs a number from 0 to 1"),
        ({"cmd": 7}, [], "expected"),
        ([1, 2], [], "expected"),
        ("{not json", [], "not JSON"),
        (b"\x00\x01", [], "text messages only"),
    ],
)
def test_commands_are_checked_and_answered(remote, message, queued, reply):
    r, q = remote()
    with ws(r) as c:
        c.send(message if isinstance(message, (str, bytes)) else json.dumps(message))
        m = json.loads(c.recv(timeout=5))
        if reply == "ok":
            assert m["type"] == "ok"
        else:
            assert m["type"] == "error" and reply in m["message"]
    assert q.names() == queued
    assert all(cmd.source == "web" for cmd in q.items)


def test_oversized_message_closes_only_that_connection(remote):
    r, q = remote()
    with ws(r) as c:
        c.send("x" * (web.MAX_MESSAGE_BYTES + 1))
        with pytest.raises(ConnectionClosed) as info:
            for _ in range(10):
                c.recv(timeout=5)
        assert info.value.rcvd.code == 1009
    with ws(r) as c:
        c.send(json.dumps({"cmd": "tap"}))
        assert recv_json(c, "ok")["cmd"] == "tap"
    assert q.names() == [("tap", None)]


def test_a_flood_is_rate_limited_and_the_server_goes_on(remote):
    r, q = remote()
    r.publish(fakes.snapshot())
    sent, start = 0, time.monotonic()
    with ws(r) as c:
        while time.monotonic() - start < 1.0:  # 1000 messages a second, for a second
            c.send(json.dumps({"cmd": "tap"}))
            c.send(json.dumps({"cmd": "bogus"}))
            sent += 2
            time.sleep(0.002)
        elapsed = time.monotonic() - start
        notices = []
        try:
            while True:
                m = json.loads(c.recv(timeout=0.5))
                if m["type"] == "error" and "slow down" in m["message"]:
                    notices.append(m)
        except TimeoutError:
            pass
    assert sent >= 500
    allowed = web.RATE_BURST + web.RATE_PER_SECOND * (elapsed + 1.0)
    assert 0 < len(q.items) <= allowed
    assert r.stats["rate_limited"] >= sent - allowed
    assert 1 <= len(notices) <= elapsed + 2  # at most one notice a second
    assert r.stats["handler_errors"] == 0
    with ws(r) as c:  # a new client is served at once
        assert recv_json(c, "state")["state"]["bpm"] == 120.0


def test_published_states_reach_every_client_newest_first(remote):
    r, _ = remote()
    with ws(r) as a, ws(r) as b:
        assert until(lambda: len(r.clients) == 2)
        for pip in range(0, 640, 64):
            r.publish(fakes.snapshot(pip=pip, queued={"beam": "chase"}))
        for c in (a, b):
            s = recv_json(c, "state")["state"]
            while s["pip"] != 576:
                s = recv_json(c, "state")["state"]
            assert s["groups"]["beam"]["queued"] == "chase"


def test_an_unserialisable_state_is_logged_and_the_next_one_goes_out(remote, caplog):
    r, _ = remote()
    with ws(r) as c:
        assert until(lambda: r.clients)
        r.publish({"pip": float("nan")})
        time.sleep(0.1)
        r.publish(fakes.snapshot(pip=64))
        assert recv_json(c, "state")["state"]["pip"] == 64
    assert r.stats["handler_errors"] >= 1


def test_a_stalled_client_costs_the_publisher_nothing_and_holds_bounded_memory(remote):
    r, _ = remote()
    fixtures = {f"fx{i:03d}": [0.123456, -0.654321, 0.5] for i in range(200)}  # ~8 kB a frame
    stalled = fakes.stalled_client(r.port)
    frames = []
    stop = threading.Event()

    def reader():
        with ws(r) as c:
            while not stop.is_set():
                try:
                    frames.append((time.monotonic(), json.loads(c.recv(timeout=0.5))))
                except TimeoutError:
                    pass

    t = threading.Thread(target=reader)
    t.start()
    assert until(lambda: len(r.clients) == 2)
    calls, buffered = [], []
    start = time.monotonic()
    pip = 0
    while time.monotonic() - start < 10.0:  # 10 s at 40 frames a second
        state = fakes.snapshot(pip=pip, fixtures=fixtures)
        t0 = time.perf_counter()
        if r.wanted():
            r.publish(state)
        calls.append(time.perf_counter() - t0)
        pip += 48
        buffered.extend(c.ws.transport.get_write_buffer_size() for c in list(r.clients))
        time.sleep(0.025)
    stop.set()
    t.join()
    stalled.close()
    frame_bytes = len(json.dumps({"type": "state", "state": fakes.snapshot(fixtures=fixtures)}))
    calls.sort()
    slowest = calls[int(len(calls) * 0.99)]  # the odd outlier is the OS, not the server
    assert slowest < 0.002
    assert max(buffered) > frame_bytes, "the stalled client's frames did pile up at the server"
    print(
        f"\npublish p99 {slowest * 1e6:.0f} us, max {calls[-1] * 1e6:.0f} us, "
        f"stalled buffer at most {max(buffered)} bytes"
    )
    assert max(buffered) <= web.WRITE_LIMIT_BYTES + 2 * frame_bytes
    late = [t for t, m in frames if m["type"] == "state" and t > start + 9.0]
    assert len(late) >= 15, "the reading client kept getting frames while the other stalled"


# ---- the show's [web] table, --web and the player ------------------------------------------------


@pytest.mark.parametrize(
    "table, needle, key, reason",
    [
        ("[web]\nport = -1\n", "port = -1", "web.port", "must be from 0 to 65535"),
        ('[web]\nhost = "my-laptop"\n', 'host = "my-laptop"', "web.host", "must be an IP address"),
        ('[web]\ntoken = "secret"\n', "token =", "web.token", "unknown key"),
        ("web = 8080\n", "web =", "web", "must be a table"),
    ],
)
def test_web_table_mistakes_name_file_line_and_key(tmp_path, table, needle, key, reason):
    from kinetra_live import model, showfile

    path, text = fakes.show_with(tmp_path, "\n" + table if table.startswith("[") else "")
    if not table.startswith("["):  # a plain key must come before the first table
        text = table + text
        (tmp_path / "show.toml").write_text(text)
    with pytest.raises(model.ShowError) as info:
        showfile.load(path)
    assert str(info.value).startswith(f"{path}:{fakes.line_of(text, needle)}: {key}: "), str(info.value)
    assert reason in str(info.value)


@pytest.mark.parametrize(
    "argv, message",
    [(["--web", "0.0.0.0:http"], "port must be a number"), (["--web", "stage:80"], "not an IP address")],
)
def test_bad_web_arguments_are_refused(tmp_path, capsys, argv, message):
    from kinetra_live import cli

    path, _ = fakes.show_with(tmp_path, "")
    with pytest.raises(SystemExit):
        cli.main([path, *argv])
    assert message in capsys.readouterr().err


def test_the_player_serves_the_remote_and_takes_its_commands(tmp_path):
    from kinetra_live import runner, showfile

    path, _ = fakes.show_with(tmp_path, "\n[web]\nport = 0\n")
    show = showfile.load(path)
    r = runner.Runner(show, bpm=120, web=("127.0.0.1", 0))
    try:
        assert r.web.url.startswith("http://127.0.0.1:") and r.web.token is None
        code, _, body = get(r.web, "/")
        assert code == 200 and str(tmp_path) not in body.decode() and "universe" not in body.decode()
        time.sleep(0.05)
        with ws(r.web) as c:
            assert until(lambda: r.web.wanted())
            c.send(json.dumps({"cmd": "cue", "arg": "tight"}))
            assert recv_json(c, "ok")["cmd"] == "cue"
            c.send(json.dumps({"cmd": "quit"}))
            assert recv_json(c, "error")["cmd"] == "quit"
            end = time.monotonic() + 5
            state = None
            while time.monotonic() < end:
                r.frame(r.now())
                time.sleep(0.03)
                state = json.loads(c.recv(timeout=1))["state"]
                if state["groups"]["heads"]["queued"] == "tight":
                    break
            assert state["groups"]["heads"]["queued"] == "tight"
            assert set(state["fixtures"]) == {"head1", "head2"} and state["bpm"] == 120.0
            assert "path" not in json.dumps(state) and "universe" not in json.dumps(state)
        assert not r.stop_requested
    finally:
        r.close()
    assert not r.web.thread.is_alive()


def test_the_page_assets_ship_in_the_wheel():
    """The wheel takes whole package folders: the assets must sit inside one it lists."""
    import pathlib
    import tomllib

    root = pathlib.Path(__file__).resolve().parents[2]
    listed = tomllib.loads((root / "pyproject.toml").read_text())["tool"]["scikit-build"]["wheel"]["packages"]
    for name in ["page.html", "PROTOCOL.md", *web.STATIC]:
        path = root / "python" / "kinetra_live" / "web" / name
        assert path.is_file() and any(path.is_relative_to(root / p) for p in listed), name
        assert web.asset(name) == path.read_text(encoding="utf-8")


def test_a_failing_state_for_the_remote_is_logged_once_and_the_frames_go_on(tmp_path, monkeypatch, caplog):
    from kinetra_live import runner, showfile

    path, _ = fakes.show_with(tmp_path, "")
    r = runner.Runner(showfile.load(path), bpm=120, web=("127.0.0.1", 0))
    try:
        monkeypatch.setattr(r.web, "wanted", lambda: True)
        monkeypatch.setattr(r.engine, "snapshot", lambda *a: 1 / 0)
        for k in range(3):
            r.frame(r.now() + k)
        assert r.frames == 3 and r.state_errors == 3
        assert sum("the show goes on" in m for m in caplog.messages) == 1
    finally:
        r.close()
