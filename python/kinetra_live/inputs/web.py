"""The web remote: one page (cue grid, tempo panel, masters, the stage view) and the stage
view alone on /stage, served
with its WebSocket from a thread of its own.

The frame loop hands over the engine's state with `publish(state)`, which only
stores a reference and bumps a counter: it never waits on the network. The
server's loop looks at that slot up to FRAMES_PER_SECOND times a second,
serialises the newest state once and offers it to every client. A client whose
connection is still busy with an earlier frame simply misses the frames in
between, so a slow or stalled browser holds at most one frame plus the socket's
write buffer, and costs the lights nothing.

Commands from the page go through `make(name, arg, source)` (which validates
them against the show and raises on anything unknown) into the command queue.

Needs the `websockets` package (the `web` extra): it serves both the page and the
WebSocket, with no other dependency.
"""

from __future__ import annotations

import asyncio
import base64
import hashlib
import hmac
import html
import ipaddress
import json
import logging
import math
import secrets
import socket
import threading
import time
import urllib.parse
from importlib import resources

log = logging.getLogger("kinetra_live.web")

FRAMES_PER_SECOND = 30
MAX_MESSAGE_BYTES = 1024  # a command is a few dozen bytes
MAX_CLIENTS = 16
RATE_PER_SECOND = 20.0  # commands a client may send, sustained
RATE_BURST = 40  # ... and at once
WRITE_LIMIT_BYTES = 32 * 1024  # a client's unsent data before its sends wait
SOCKET_BUFFER_BYTES = 64 * 1024  # and what the kernel may hold for it on top
SOCKET_PATH = "/ws"
# Commands a remote may never send (stopping the show is for the operator at the machine).
REFUSED = frozenset({"quit"})


# Pages by path: the view each one opens (see web/main.js).
PAGES = {"/": "remote", "/stage": "stage"}
# The page's modules and style, served as they are from /static/ (the same for every show, so
# without a token: a module's imports cannot carry the page's query).
STATIC_PATH = "/static/"
STATIC = {
    "main.js": "text/javascript; charset=utf-8",
    "socket.js": "text/javascript; charset=utf-8",
    "remote.js": "text/javascript; charset=utf-8",
    "stage.js": "text/javascript; charset=utf-8",
    "glmath.js": "text/javascript; charset=utf-8",
    "editor.js": "text/javascript; charset=utf-8",
    "remote.css": "text/css; charset=utf-8",
    "editor.css": "text/css; charset=utf-8",
}


def asset(name: str) -> str:
    return resources.files("kinetra_live").joinpath("web", name).read_text(encoding="utf-8")


def _csp_hash(text: str) -> str:
    return "'sha256-" + base64.b64encode(hashlib.sha256(text.encode("utf-8")).digest()).decode("ascii") + "'"


def render_page(config: dict, view: str = "remote") -> tuple[bytes, str]:
    """The page of one view with its settings inline, and the Content-Security-Policy that allows
    exactly that inline part, the page's own modules and style, and a WebSocket to its own host."""
    data = json.dumps({**config, "view": view}, separators=(",", ":"))
    data = data.replace("<", "\\u003c")
    data_script = f"window.REMOTE={data};"
    text = (
        asset("page.html")
        .replace("{{TITLE}}", html.escape(config.get("title", "kinetra")))
        .replace("{{VIEW}}", view)
        .replace("{{DATA}}", data_script)
    )
    csp = (
        "default-src 'none'; style-src 'self'; "
        f"script-src 'self' {_csp_hash(data_script)}; connect-src 'self'; "
        "img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"
    )
    return text.encode("utf-8"), csp


def is_loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def parse_listen(text: str, default_host: str = "127.0.0.1") -> tuple[str, int]:
    """`PORT` or `HOST:PORT` (IPv6 in brackets) -> (host, port); ValueError with the reason."""
    host, sep, port = text.rpartition(":")
    if not sep:
        host, port = default_host, text
    host = host.strip("[]") or default_host
    try:
        number = int(port)
    except ValueError:
        raise ValueError(f"port must be a number, not {port!r}") from None
    if not 0 <= number <= 65535:
        raise ValueError(f"port must be 0..65535, not {number}")
    if host != "localhost":
        try:
            ipaddress.ip_address(host)
        except ValueError:
            raise ValueError(f"not an IP address: {host!r}") from None
    return host, number


class _Bucket:
    """`rate` a second sustained, `burst` at once."""

    def __init__(self, rate: float, burst: int, now: float):
        self.rate, self.burst = rate, float(burst)
        self.tokens = float(burst)
        self.stamp = now

    def allow(self, now: float) -> bool:
        self.tokens = min(self.burst, self.tokens + (now - self.stamp) * self.rate)
        self.stamp = now
        if self.tokens >= 1.0:
            self.tokens -= 1.0
            return True
        return False


class _Client:
    def __init__(self, ws, now: float):
        from . import webedit

        self.ws = ws
        self.dirty = asyncio.Event()
        self.commands = _Bucket(RATE_PER_SECOND, RATE_BURST, now)
        self.edits = _Bucket(webedit.EDIT_RATE_PER_SECOND, webedit.EDIT_BURST, now)
        self.refused = 0
        self.last_notice = -math.inf
        self.show_text: str | None = None  # the newest show as edited, not yet sent

    def allow(self, now: float, edit: bool = False) -> bool:
        if (self.edits if edit else self.commands).allow(now):
            return True
        self.refused += 1
        return False


class _Edit:
    """An edit message, parsed, for the editor."""

    def __init__(self, data: dict):
        self.data = data


class WebRemote:
    """Serves the remote on host:port (port 0 picks a free one) until `close()`.

    `queue` takes the commands (`put`), `make(name, arg, source)` builds a checked command or
    raises with the reason. `config` goes to the page as is (title, beats per bar, the steps of
    the nudge and tempo buttons): nothing in it may name a file or the patch.
    A token is required whenever the address is not a loopback one (or `token=True`).
    """

    def __init__(
        self,
        queue,
        make,
        *,
        host: str = "127.0.0.1",
        port: int = 0,
        token: bool | None = None,
        config: dict | None = None,
        editor=None,
        configure=None,
    ):
        self.queue = queue
        self.make = make
        self.host = host
        self.port = port
        self.edit = None  # the show editor's link, when the page may edit
        if editor is not None:
            from . import webedit

            self.edit = webedit.EditLink(editor, queue, configure)
            config = {**(config or {}), "edit": True}
            token = True  # editing writes files: the token on every address, loopback included
        need = (not is_loopback(host)) if token is None else token
        self.token = secrets.token_urlsafe(18) if need else None
        self.pages = {path: render_page(dict(config or {}), view) for path, view in PAGES.items()}
        self.page, self.csp = self.pages["/"]
        self.static = {name: asset(name).encode("utf-8") for name in STATIC}
        self.state = None
        self.version = 0
        self.clients: set[_Client] = set()
        self.stats = {
            "commands": 0,
            "refused": 0,
            "rate_limited": 0,
            "handler_errors": 0,
            "frames_sent": 0,
            "http_denied": 0,
        }
        self.loop: asyncio.AbstractEventLoop | None = None
        self.thread: threading.Thread | None = None
        self._ready = threading.Event()
        self._stop: asyncio.Event | None = None
        self._wake: asyncio.Event | None = None
        self._error: BaseException | None = None

    # ---- the frame loop's side: never waits ----------------------------------------------

    frame_period = 1.0 / FRAMES_PER_SECOND

    def wanted(self) -> bool:
        """True while a browser is connected, so the frame loop only builds states someone reads."""
        return bool(self.clients)

    def publish(self, state: dict, urgent: bool = False) -> None:
        """Offers the newest state; the caller must not change the dict afterwards. `urgent`
        (a command was just taken in) sends it at once instead of at the next tick."""
        self.state = state
        self.version += 1
        if urgent and self.loop is not None and self._wake is not None:
            try:
                self.loop.call_soon_threadsafe(self._wake.set)  # a byte down a pipe: never blocks
            except RuntimeError:
                pass  # the server has stopped

    stopped = ""  # why the server stopped after it had started

    def status(self) -> str:
        """For the status line: browsers connected and commands refused."""
        if self.stopped:
            return f"web remote off ({self.stopped})"
        n = len(self.clients)
        said = f"web {n} remote{'s' if n != 1 else ''}" if n else ""
        refused = self.stats["refused"] + self.stats["rate_limited"]
        return f"{said}, {refused} refused".lstrip(", ") if refused else said

    # ---- start and stop -------------------------------------------------------------------

    def address(self, path: str = "/") -> str:
        host = f"[{self.host}]" if ":" in self.host else self.host
        query = f"?token={self.token}" if self.token else ""
        return f"http://{host}:{self.port}{path}{query}"

    @property
    def url(self) -> str:
        return self.address("/")

    @property
    def stage_url(self) -> str:
        return self.address("/stage")

    def start(self, timeout: float = 10.0) -> str:
        try:
            import websockets  # noqa: F401
        except ImportError:
            raise RuntimeError("the web remote needs the websockets package: pip install kinetra[web]") from None
        self.thread = threading.Thread(target=self._thread_main, name="kinetra-web", daemon=True)
        self.thread.start()
        if not self._ready.wait(timeout):
            raise RuntimeError("the web remote did not start")
        if self._error is not None:
            raise RuntimeError(f"cannot serve the web remote on {self.host}:{self.port}: {self._error}")
        return self.url

    def close(self, timeout: float = 5.0) -> None:
        if self.loop is not None and self._stop is not None and self.thread is not None and self.thread.is_alive():
            try:
                self.loop.call_soon_threadsafe(self._stop.set)
            except RuntimeError:
                pass
            self.thread.join(timeout)

    def _thread_main(self) -> None:
        try:
            asyncio.run(self._main())
        except BaseException as exc:  # reported to start(); the show itself goes on
            if self._ready.is_set():
                log.exception("web remote: the server stopped; the show goes on without it")
                self.stopped = str(exc)[:120] or type(exc).__name__
            self._error = exc
            self._ready.set()

    async def _main(self) -> None:
        from websockets.asyncio.server import serve

        self._stop = asyncio.Event()
        self._wake = asyncio.Event()
        self.loop = asyncio.get_running_loop()
        async with serve(
            self._handler,
            self.host,
            self.port,
            process_request=self._http,
            max_size=MAX_MESSAGE_BYTES if self.edit is None else self._edit_bytes(),
            max_queue=4,
            write_limit=WRITE_LIMIT_BYTES,
            compression=None,
            server_header=None,
            ping_interval=10,
            ping_timeout=20,
            close_timeout=2,
            logger=logging.getLogger("kinetra_live.web.protocol"),
        ) as server:
            self.port = server.sockets[0].getsockname()[1]
            self._ready.set()
            ticker = asyncio.create_task(self._ticker())
            await self._stop.wait()
            ticker.cancel()
            for c in list(self.clients):
                c.ws.transport.abort()

    # ---- HTTP: the page, the socket, nothing else ----------------------------------------

    def _http(self, connection, request):
        from websockets.datastructures import Headers
        from websockets.http11 import Response

        try:
            url = urllib.parse.urlsplit(request.path)
            query = urllib.parse.parse_qs(url.query)

            def respond(status, reason, body=b"", kind="text/plain; charset=utf-8", extra=()):
                headers = Headers(
                    [
                        ("Content-Type", kind),
                        ("Content-Length", str(len(body))),
                        ("Cache-Control", "no-store"),
                        ("X-Content-Type-Options", "nosniff"),
                        ("Referrer-Policy", "no-referrer"),
                        ("X-Frame-Options", "DENY"),
                        *extra,
                    ]
                )
                return Response(status, reason, headers, body)

            if url.path.startswith(STATIC_PATH) and url.path[len(STATIC_PATH) :] in STATIC:
                if self.token is None and not self._loopback_host(request.headers.get("Host", "")):
                    self.stats["http_denied"] += 1
                    return respond(403, "Forbidden", b"403 forbidden: not a loopback host name\n")
                name = url.path[len(STATIC_PATH) :]
                return respond(200, "OK", self.static[name], STATIC[name])
            if self.token is not None:
                given = query.get("token", [""])[0]
                if not hmac.compare_digest(given.encode(), self.token.encode()):
                    self.stats["http_denied"] += 1
                    return respond(
                        403, "Forbidden", b"403 forbidden: this remote needs the token printed with its URL\n"
                    )
            elif not self._loopback_host(request.headers.get("Host", "")):
                # without a token only this machine may ask, under a loopback name: a web page
                # whose own host name was pointed at 127.0.0.1 gets nothing
                self.stats["http_denied"] += 1
                return respond(403, "Forbidden", b"403 forbidden: not a loopback host name\n")
            if url.path == SOCKET_PATH:
                if not self._same_origin(request.headers):
                    self.stats["http_denied"] += 1
                    return respond(403, "Forbidden", b"403 forbidden: cross-origin WebSocket\n")
                if len(self.clients) >= MAX_CLIENTS:
                    return respond(503, "Service Unavailable", b"503 too many remotes connected\n")
                return None  # go on with the WebSocket handshake
            if url.path in self.pages:
                page, csp = self.pages[url.path]
                return respond(200, "OK", page, "text/html; charset=utf-8", [("Content-Security-Policy", csp)])
            return respond(404, "Not Found", b"404 not found\n")
        except Exception:
            self.stats["handler_errors"] += 1
            log.exception("web remote: request failed")
            return connection.respond(500, "500 internal error\n")

    @staticmethod
    def _loopback_host(host: str) -> bool:
        name = urllib.parse.urlsplit("//" + host).hostname or ""
        return is_loopback(name)

    @staticmethod
    def _same_origin(headers) -> bool:
        origin, host = headers.get("Origin"), headers.get("Host")
        if not origin or not host:
            return False
        parts = urllib.parse.urlsplit(origin)
        return parts.scheme in ("http", "https") and parts.netloc.lower() == host.lower()

    # ---- the WebSocket ---------------------------------------------------------------------

    @staticmethod
    def _edit_bytes() -> int:
        from . import webedit

        return webedit.MAX_EDIT_BYTES

    async def _handler(self, ws) -> None:
        from websockets.exceptions import ConnectionClosed

        client = _Client(ws, time.monotonic())
        sock = ws.transport.get_extra_info("socket")
        if sock is not None:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, SOCKET_BUFFER_BYTES)
        self.clients.add(client)
        if self.edit is not None:
            client.show_text = await asyncio.to_thread(self._show_text)
        client.dirty.set()
        sender = asyncio.create_task(self._sender(client))
        try:
            async for message in ws:
                reply = self._on_message(client, message)
                if isinstance(reply, _Edit):
                    reply = await self._on_edit(reply.data)
                if reply is not None:
                    await ws.send(json.dumps(reply))
        except ConnectionClosed:
            pass
        except Exception:
            self.stats["handler_errors"] += 1
            log.exception("web remote: connection handler failed; the show goes on")
        finally:
            self.clients.discard(client)
            sender.cancel()

    async def _sender(self, client: _Client) -> None:
        from websockets.exceptions import ConnectionClosed

        try:
            while True:
                await client.dirty.wait()
                client.dirty.clear()
                if client.show_text is not None:
                    show, client.show_text = client.show_text, None
                    await client.ws.send(show)
                text = self._text
                if text is not None:
                    await client.ws.send(text)
                    self.stats["frames_sent"] += 1
        except (ConnectionClosed, asyncio.CancelledError):
            pass
        except Exception:
            self.stats["handler_errors"] += 1
            log.exception("web remote: sending failed; the show goes on")

    _text: str | None = None

    async def _ticker(self) -> None:
        seen = -1
        period = 1.0 / FRAMES_PER_SECOND
        while True:
            try:
                await asyncio.wait_for(self._wake.wait(), period)
            except TimeoutError:
                pass
            self._wake.clear()
            version = self.version
            if version == seen or not self.clients:
                continue
            seen = version
            try:
                self._text = json.dumps({"type": "state", "state": self.state}, separators=(",", ":"), allow_nan=False)
            except (TypeError, ValueError):
                self.stats["handler_errors"] += 1
                log.exception("web remote: state cannot be sent")
                continue
            for c in self.clients:
                c.dirty.set()

    def _on_message(self, client: _Client, message):
        """One message from a page -> the reply (None: nothing to say; an _Edit: an edit to
        hand to the editor). Never raises."""
        try:
            now = time.monotonic()
            data = None
            if isinstance(message, str):
                try:
                    data = json.loads(message)
                except (ValueError, RecursionError):
                    pass
            edit = self.edit is not None and isinstance(data, dict) and "edit" in data
            if not client.allow(now, edit):
                self.stats["rate_limited"] += 1
                if now - client.last_notice >= 1.0:
                    client.last_notice = now
                    return {"type": "error", "message": f"too many {'edits' if edit else 'commands'}: slow down"}
                return None
            if isinstance(message, bytes):
                return self._refuse("text messages only")
            if edit:
                return _Edit(data)
            if len(message) > MAX_MESSAGE_BYTES:
                return self._refuse(f"a command is at most {MAX_MESSAGE_BYTES} bytes")
            if data is None:
                return self._refuse("not JSON")
            if isinstance(data, dict) and "edit" in data:
                return self._refuse("this remote is read-only: it does not edit the show")
            if not isinstance(data, dict) or not isinstance(data.get("cmd"), str):
                return self._refuse('expected {"cmd": name, "arg": value}')
            name, arg = data["cmd"], data.get("arg")
            if name in REFUSED:
                return self._refuse(f"{name!r} is not available from the remote", name)
            try:
                command = self.make(name, arg, "web")
            except Exception as exc:
                return self._refuse(str(exc) or type(exc).__name__, name)
            self.queue.put(command)
            self.stats["commands"] += 1
            return {"type": "ok", "cmd": name, "id": data.get("id") if isinstance(data.get("id"), int) else None}
        except Exception:
            self.stats["handler_errors"] += 1
            log.exception("web remote: message handler failed; the show goes on")
            return {"type": "error", "message": "internal error"}

    # ---- the show editor ------------------------------------------------------------------

    def _show_text(self) -> str:
        return json.dumps(self.edit.show_message(), separators=(",", ":"), allow_nan=False)

    async def _on_edit(self, data: dict) -> dict:
        """An edit message, done in a worker thread (the editor runs the show reader); the show
        as edited goes to every page at once."""
        try:
            reply, everyone = await asyncio.to_thread(self.edit.handle, data)
            if everyone is not None:
                text = json.dumps(everyone, separators=(",", ":"), allow_nan=False)
                for c in self.clients:
                    c.show_text = text
                    c.dirty.set()
            if reply.get("type") == "error":
                self.stats["refused"] += 1
            return reply
        except Exception:
            self.stats["handler_errors"] += 1
            log.exception("web remote: edit failed; the show goes on")
            return {"type": "error", "message": "internal error"}

    def _refuse(self, reason: str, name: str | None = None) -> dict:
        self.stats["refused"] += 1
        return {"type": "error", "cmd": name if isinstance(name, str) else None, "message": reason[:200]}
