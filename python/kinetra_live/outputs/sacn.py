"""E1.31 (sACN) output: DMX universes to named unicast addresses or to multicast.

Changed data goes out at once; unchanged data three times in all, then at the
output's keep-alive interval. Closing sends three stream-terminated packets per
universe.
"""

from __future__ import annotations

import dataclasses
import socket

from .. import e131
from . import dmx

PORT = 5568
SECTION_KEYS = {"destination", "multicast", "port", "priority", "source_name", "interface", "keepalive_ms"}
FIXTURE_KEYS = dmx.FIXTURE_KEYS
UNIVERSES = (1, 63999)


@dataclasses.dataclass(frozen=True)
class Settings:
    name: str
    destinations: tuple[str, ...]   # unicast IPv4 addresses; empty with multicast
    multicast: bool
    port: int
    priority: int
    source_name: str
    interface: str | None           # local address for multicast
    keepalive_s: float
    kind: str = "sacn"


def read_output(r, o: dict, key: tuple, show_name: str) -> Settings:
    multicast = r.boolean(o, key, "multicast")
    dest = o.get("destination")
    if multicast and dest is not None:
        r.fail(key + ("destination",), "give either a destination or multicast = true, not both")
    if not multicast and dest is None:
        r.fail(key + ("destination",), "missing (or set multicast = true)")
    dests = [] if dest is None else (dest if isinstance(dest, list) else [dest])
    if dest is not None and not dests:
        r.fail(key + ("destination",), "names no address")
    addrs = tuple(dict.fromkeys(r.address(d, key + ("destination",), "unicast") for d in dests))
    source_name = r.name(o, key, "source_name", show_name)
    if len(source_name.encode("utf-8")) > 63:
        r.fail(key + ("source_name",), "must be at most 63 bytes in UTF-8")
    interface = None
    if "interface" in o:
        if not multicast:
            r.fail(key + ("interface",), "only used with multicast = true")
        interface = r.address(o["interface"], key + ("interface",), "unicast")
    return Settings(
        name=key[-1], destinations=addrs, multicast=multicast,
        port=r.integer(o, key, "port", PORT, 1, 65535),
        priority=r.integer(o, key, "priority", 100, 0, 200),
        source_name=source_name, interface=interface,
        keepalive_s=r.integer(o, key, "keepalive_ms", 800, 100, 1000) / 1000.0)


def read_patch(r, f: dict, key: tuple, settings: Settings):
    return dmx.read_patch(r, f, key, UNIVERSES)


def claims(fixture) -> list:
    return dmx.claims(fixture, "sacn")


def describe(settings: Settings, show) -> str:
    to = "multicast" if settings.multicast else ", ".join(settings.destinations)
    return (f"sACN to {to} port {settings.port}, universes "
            f"{', '.join(map(str, show.universes(settings.name))) or '-'}, priority {settings.priority}")


def open_socket(settings: Settings) -> socket.socket:
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    sock.setblocking(False)
    if settings.multicast:
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
        if settings.interface:
            sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(settings.interface))
    return sock


class Sender:
    """Sends the universes of one sACN output to its named destinations only."""

    def __init__(self, settings: Settings, show, sock):
        self.settings = settings
        self.cid = show.cid
        self.sock = sock
        self.universes = {u: dmx.Universe(u) for u in show.universes(settings.name)}
        self.writers = {f.name: (dmx.writer(f.patch), self.universes[f.patch.universe].data)
                        for f in show.fixtures if f.output == settings.name}
        self.errors = 0
        self.last_error = ""

    def set(self, fixture, x: float, y: float, z: float, blackout: bool = False) -> list:
        write, data = self.writers[fixture.name]
        return write(data, x, y, z, blackout)

    def targets(self, universe: int) -> tuple[str, ...]:
        if self.settings.multicast:
            return (e131.multicast_group(universe),)
        return self.settings.destinations

    def _send(self, u: dmx.Universe, options: int, now: float) -> dict:
        seq = u.sent(now)
        s = self.settings
        packet = e131.encode(self.cid, s.source_name, s.priority, seq, u.number, bytes(u.data), options)
        for host in self.targets(u.number):
            try:
                self.sock.sendto(packet, (host, s.port))
            except OSError as exc:  # no route, buffer full, refused: keep going
                self.errors += 1
                self.last_error = f"{host}: {exc.strerror or exc}"
        return {"output": s.name, "universe": u.number, "sequence": seq}

    def flush(self, now: float) -> list[dict]:
        """Sends every universe that is due."""
        return [self._send(u, 0, now) for u in self.universes.values()
                if u.due(now, self.settings.keepalive_s)]

    def close(self, now: float) -> list[dict]:
        """Three stream-terminated packets per universe that was sent, then the socket is closed."""
        sent = []
        try:
            for _ in range(3):
                for u in self.universes.values():
                    if u.last_sent is None:
                        continue
                    sent.append(self._send(u, e131.OPTION_STREAM_TERMINATED, now))
        finally:
            self.sock.close()
        return sent
