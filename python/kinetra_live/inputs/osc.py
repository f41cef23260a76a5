"""OSC input: touch surfaces and show-control software send commands over UDP.

    /kinetra/cue <name>      /kinetra/tap          /kinetra/bpm <float>
    /kinetra/resync          /kinetra/hold <0|1>   /kinetra/size <0..1>

Bundles are opened. A datagram that does not parse, an unknown address or
arguments of the wrong kind are counted and ignored; the command's own check
(`make`) refuses values out of range and cues the show does not have.
"""

from __future__ import annotations

import logging
import math
import socket
import threading

log = logging.getLogger("kinetra_live.osc_in")

PREFIX = "/kinetra/"
DEFAULT_HOST = "127.0.0.1"
MAX_DATAGRAM = 4096


def _text(args):
    if len(args) == 1 and isinstance(args[0], str):
        return args[0]
    raise ValueError("expects one string")


def _none(args):
    if args:
        raise ValueError("expects no arguments")
    return None


def _number(args):
    if len(args) == 1 and isinstance(args[0], (int, float)) and not isinstance(args[0], bool):
        v = float(args[0])
        if math.isfinite(v):
            return v
    raise ValueError("expects one number")


def _switch(args):
    if len(args) == 1 and isinstance(args[0], bool):
        return args[0]
    v = _number(args)
    if v in (0.0, 1.0):
        return v == 1.0
    raise ValueError("expects 0 or 1")


# address (after the prefix) -> (command name, argument reader)
ADDRESSES = {
    "cue": ("cue", _text),
    "tap": ("tap", _none),
    "bpm": ("bpm", _number),
    "resync": ("resync", _none),
    "hold": ("hold", _switch),
    "size": ("size", _number),
}


def messages(dgram: bytes):
    """(address, args) of every message in a datagram, bundles opened; ValueError if it does not parse."""
    from pythonosc import osc_bundle, osc_message

    try:
        if osc_bundle.OscBundle.dgram_is_bundle(dgram):
            out = []
            stack = [osc_bundle.OscBundle(dgram)]
            while stack:
                for item in stack.pop():
                    if isinstance(item, osc_bundle.OscBundle):
                        stack.append(item)
                    else:
                        out.append((item.address, list(item.params)))
            return out
        m = osc_message.OscMessage(dgram)
        return [(m.address, list(m.params))]
    except Exception as exc:  # python-osc raises its own parse errors, and others on odd input
        raise ValueError(f"not an OSC packet ({exc})") from None


class OscInput:
    """Listens on host:port (port 0 picks a free one) in a thread until `close()`."""

    def __init__(self, queue, make, *, host: str = DEFAULT_HOST, port: int = 0):
        self.queue = queue
        self.make = make
        self.sock = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET, socket.SOCK_DGRAM)
        try:
            self.sock.bind((host, port))
        except OSError as exc:
            self.sock.close()
            raise RuntimeError(f"cannot listen for OSC on {host}:{port}: {exc.strerror or exc}") from None
        self.sock.settimeout(0.2)
        self.host, self.port = host, self.sock.getsockname()[1]
        self.accepted = 0
        self.ignored = 0
        self.last_error = ""
        self.failures = 0  # handler errors (a fault here, not a bad packet)
        self._running = True
        self.thread = threading.Thread(target=self._run, name="kinetra-osc-in", daemon=True)
        self.thread.start()

    def _run(self) -> None:
        while self._running:
            try:
                dgram, _ = self.sock.recvfrom(MAX_DATAGRAM)
            except TimeoutError:
                continue
            except OSError:
                if not self._running:
                    return
                continue
            if not self._running:
                return
            try:
                self.feed(dgram)
            except Exception:  # never fatal: logged once, counted, and the next packet is read
                self.ignored += 1
                self.failures += 1
                if self.failures == 1:
                    log.exception("OSC input: handler failed; later failures are only counted")

    def feed(self, dgram: bytes) -> None:
        try:
            msgs = messages(dgram)
        except ValueError as exc:
            self._ignore(str(exc))
            return
        for address, args in msgs:
            self.handle(address, args)

    def handle(self, address: str, args: list) -> bool:
        entry = ADDRESSES.get(address[len(PREFIX) :]) if address.startswith(PREFIX) else None
        if entry is None:
            self._ignore(f"{address}: unknown address")
            return False
        name, read = entry
        try:
            arg = read(args)
            command = self.make(name, arg, "osc")
        except Exception as exc:
            self._ignore(f"{address}: {exc}")
            return False
        self.queue.put(command)
        self.accepted += 1
        return True

    def _ignore(self, reason: str) -> None:
        self.ignored += 1
        self.last_error = reason[:200]

    def status(self) -> str:
        return f"OSC in {self.accepted} ok, {self.ignored} ignored" if self.ignored else ""

    def close(self) -> None:
        self._running = False
        wake = "::1" if self.sock.family == socket.AF_INET6 else "127.0.0.1"
        try:
            with socket.socket(self.sock.family, socket.SOCK_DGRAM) as s:
                s.sendto(b"", (wake if self.host in ("0.0.0.0", "::") else self.host, self.port))
        except OSError:
            pass  # the receive timeout ends the thread all the same
        self.thread.join(2.0)
        self.sock.close()
