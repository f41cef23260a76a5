"""OSC output: one message per fixture and frame, x, y, z as floats, to one host."""

from __future__ import annotations

import dataclasses
import re
import socket

from pythonosc.osc_message_builder import OscMessageBuilder

from ..model import OscPatch, printable
from . import net

SECTION_KEYS = {"host", "port"}
FIXTURE_KEYS = {"address", "remap"}
_ADDRESS = re.compile(r"/[^\x00-\x20\x7f #*,?\[\]{}]*")


@dataclasses.dataclass(frozen=True)
class Settings:
    name: str
    host: str  # IPv4 address, resolved at load
    port: int
    kind: str = "osc"
    name_given: str = ""  # the host as the show gives it (resolved again on errors)


def read_output(r, o: dict, key: tuple, show_name: str) -> Settings:
    host = r.address(o.get("host"), key + ("host",), "any")
    return Settings(key[-1], host, r.integer(o, key, "port", lo=1, hi=65535), name_given=str(o.get("host")))


def read_patch(r, f: dict, key: tuple, settings: Settings) -> OscPatch:
    addr = r.string(f, key, "address")
    if not _ADDRESS.fullmatch(addr):
        r.fail(key + ("address",), f"must be an OSC address such as /kinetra/visual, found {printable(repr(addr))}")
    return OscPatch(addr, r.boolean(f, key, "remap"))


def claims(fixture) -> list:
    return [
        (
            ("osc", fixture.output, fixture.patch.address),
            fixture.name,
            "address",
            lambda other: f"OSC address {fixture.patch.address} is already sent by fixture {other.name!r}",
        )
    ]


def describe(settings: Settings, show) -> str:
    return f"OSC to {settings.host} port {settings.port}"


def open_socket(settings: Settings) -> socket.socket:
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    sock.setblocking(False)
    return sock


def values(patch: OscPatch, x: float, y: float, z: float) -> list[float]:
    """x, y, z for an OSC fixture, remapped from [-1, 1] to [0, 1] when asked."""
    if patch.remap:
        return [(x + 1.0) / 2.0, (y + 1.0) / 2.0, (z + 1.0) / 2.0]
    return [x, y, z]


class Sender:
    def __init__(self, settings: Settings, show, sock):
        self.settings = settings
        self.sock = sock
        self.pending: list[bytes] = []
        self.errors = 0
        self.last_error = ""
        self.host = settings.host
        self.health = net.Health(settings.name, self._repair)

    def _repair(self) -> None:
        if self.settings.name_given:
            self.host = net.resolve((self.settings.name_given,), (self.host,))[0]

    def set(self, fixture, x: float, y: float, z: float, blackout: bool = False) -> list:
        vals = values(fixture.patch, x, y, z)
        b = OscMessageBuilder(address=fixture.patch.address)
        for v in vals:
            b.add_arg(float(v), "f")
        self.pending.append(b.build().dgram)
        return vals

    def flush(self, now: float) -> list[dict]:
        sent = bool(self.pending)
        for dgram in self.pending:
            try:
                self.sock.sendto(dgram, (self.host, self.settings.port))
            except OSError as exc:
                self.errors += 1
                self.last_error = f"{exc.strerror or exc}"
                self.health.failed(self.host, exc)
        self.pending = []
        self.health.frame(now, sent)
        return []

    def close(self, now: float) -> list[dict]:
        self.pending = []
        self.sock.close()
        return []
