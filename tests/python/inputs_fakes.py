"""Stand-ins for the command queue and the show's command check, shared by the input tests."""

import base64
import os
import socket
import threading
import types

import pytest
from kinetra_live import commands

CUES = {"intro": "wash", "sweep": "wash", "chase": "beam", "still": "beam"}
# just what the command check reads of a show
SHOW = types.SimpleNamespace(
    cues=CUES,
    groups={"wash": None, "beam": None},
    fixtures=[types.SimpleNamespace(name="a"), types.SimpleNamespace(name="b")],
)


class Queue:
    """Records what the inputs put, as the command queue takes it."""

    def __init__(self):
        self.items = []
        self.lock = threading.Lock()

    def put(self, cmd):
        with self.lock:
            self.items.append(cmd)

    def names(self):
        with self.lock:
            return [(c.name, c.arg) for c in self.items]


def make(name, arg=None, source=""):
    """The show's own command check, on the show above."""
    return commands.check(commands.Command(name, arg, source), SHOW)


def snapshot(pip=0, active=None, queued=None, fixtures=None, masters=None):
    """A state shaped as the engine's snapshot, for the two groups above."""
    groups = {
        g: {"active": (active or {}).get(g), "queued": (queued or {}).get(g), "beats_left": 2} for g in ("wash", "beam")
    }
    return {
        "pip": pip,
        "beat": pip // 64 % 4,
        "bar": pip // 256,
        "bpm": 120.0,
        "groups": groups,
        "cues": [{"name": n, "group": g} for n, g in CUES.items()],
        "masters": masters or {"hold": False, "size": 1.0, "home": False, "blackout": False},
        "fixtures": fixtures or {"a": [0.0, 0.0, 0.0], "b": [0.5, -0.5, 0.25]},
    }


CUES_TEXT = """
[[cues]]
name = "wide"
set.heads = { scale = 1.0 }

[[cues]]
name = "tight"
quantize = "bar"
set.heads = { scale = 0.3 }
"""


def show_with(tmp_path, tables: str):
    """A show with two heads, two cues and the given input tables; (path, text)."""
    from test_live import make_show, write

    text = make_show(heads=2, visual=False) + CUES_TEXT + tables
    return write(tmp_path, text), text


def line_of(text: str, needle: str) -> int:
    return text[: text.index(needle)].count("\n") + 1


def assert_table_refused(tmp_path, table: str, needle: str, key: str, reason: str) -> None:
    """A show with `table` added is refused as file:line: key: reason, the line of `needle`."""
    from kinetra_live import model, showfile

    path, text = show_with(tmp_path, "\n" + table)
    with pytest.raises(model.ShowError) as info:
        showfile.load(path)
    assert str(info.value).startswith(f"{path}:{line_of(text, needle)}: {key}: "), str(info.value)
    assert reason in str(info.value)


def stalled_client(port: int) -> socket.socket:
    """A WebSocket client of the web remote that completes the handshake and then never reads."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall(
        (
            f"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n"
            f"Origin: http://127.0.0.1:{port}\r\n\r\n"
        ).encode()
    )
    assert s.recv(12) == b"HTTP/1.1 101"
    return s
