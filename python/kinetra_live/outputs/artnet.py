"""Art-Net output: ArtDmx to the nodes the show names, unicast only.

A fixture's `universe` is the 15-bit port-address (0 to 32767), or, with `net`
and `subnet` beside it, the universe 0 to 15 within them. Changed data goes out
at once, at most artnet.MAX_FPS times a second per port; unchanged data again
after artnet.KEEPALIVE_S. With `sync = true` an ArtSync follows every frame that
sent data, so nodes show all their ports at once. Art-Net has no end-of-stream
packet: closing stops sending and nodes keep the last data.
"""

from __future__ import annotations

import dataclasses
import socket

from .. import artnet
from . import dmx, net

SECTION_KEYS = {"destination", "port", "sync"}
FIXTURE_KEYS = dmx.FIXTURE_KEYS | {"net", "subnet"}
UNIVERSES = (0, artnet.MAX_PORT_ADDRESS)


@dataclasses.dataclass(frozen=True)
class Settings:
    name: str
    destinations: tuple[str, ...]  # unicast IPv4 addresses of the nodes
    port: int
    sync: bool
    kind: str = "artnet"
    names: tuple[str, ...] = ()  # the destinations as the show gives them (resolved again on errors)


def read_output(r, o: dict, key: tuple, show_name: str) -> Settings:
    dest = o.get("destination")
    if dest is None:
        r.fail(key + ("destination",), 'missing: the address of each node, such as "10.0.0.20"')
    dests = dest if isinstance(dest, list) else [dest]
    if not dests:
        r.fail(key + ("destination",), "names no address")
    addrs = tuple(dict.fromkeys(r.address(d, key + ("destination",), "unicast") for d in dests))
    return Settings(
        key[-1],
        addrs,
        r.integer(o, key, "port", artnet.PORT, 1, 65535),
        r.boolean(o, key, "sync"),
        names=tuple(str(d) for d in dests),
    )


def read_patch(r, f: dict, key: tuple, settings: Settings):
    if "net" not in f and "subnet" not in f:
        return dmx.read_patch(r, f, key, UNIVERSES)
    net = r.integer(f, key, "net", 0, 0, artnet.MAX_NET)
    subnet = r.integer(f, key, "subnet", 0, 0, artnet.MAX_SUBNET)
    patch = dmx.read_patch(r, f, key, (0, artnet.MAX_UNIVERSE))
    return dataclasses.replace(patch, universe=artnet.port_address(net, subnet, patch.universe))


def claims(fixture) -> list:
    return dmx.claims(fixture, "artnet")


def describe(settings: Settings, show) -> str:
    ports = ", ".join(artnet.format_port_address(u) for u in show.universes(settings.name)) or "-"
    return (
        f"Art-Net to {', '.join(settings.destinations)} port {settings.port}, port-addresses "
        f"(net:sub-net:universe) {ports}" + (", ArtSync after each frame" if settings.sync else "")
    )


def open_socket(settings: Settings) -> socket.socket:
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    sock.setblocking(False)
    return sock


class Sender:
    """Sends the ports of one Art-Net output to its named nodes only."""

    def __init__(self, settings: Settings, show, sock):
        self.settings = settings
        self.sock = sock
        self.ports = {u: artnet.Port(u, dmx.UNIVERSE_SLOTS) for u in show.universes(settings.name)}
        self.writers = {
            f.name: (dmx.writer(f.patch), self.ports[f.patch.universe].data)
            for f in show.fixtures
            if f.output == settings.name
        }
        self.errors = 0
        self.last_error = ""
        self.destinations = settings.destinations
        self.health = net.Health(settings.name, self._repair)

    def _repair(self) -> None:
        if self.settings.names:
            self.destinations = net.resolve(self.settings.names, self.destinations)

    def set(self, fixture, x: float, y: float, z: float, blackout: bool = False) -> list:
        write, data = self.writers[fixture.name]
        return write(data, x, y, z, blackout)

    def _send(self, packet: bytes) -> None:
        for host in self.destinations:
            try:
                self.sock.sendto(packet, (host, self.settings.port))
            except OSError as exc:  # no route, buffer full, refused: keep going
                self.errors += 1
                self.last_error = f"{host}: {exc.strerror or exc}"
                self.health.failed(host, exc)

    def flush(self, now: float) -> list[dict]:
        """Sends every port that is due, then an ArtSync if asked and anything went out."""
        sent = []
        for port in self.ports.values():
            if port.due(now):
                self._send(port.packet(now))
                sent.append({"output": self.settings.name, "universe": port.address, "sequence": port.sequence})
        if sent and self.settings.sync:
            self._send(artnet.encode_sync())
            sent.append({"output": self.settings.name, "sync": True})
        self.health.frame(now, bool(sent))
        return sent

    def adopt(self, old: Sender, now: float) -> list[dict]:
        """Goes on from `old`, this output's sender before the show was edited."""
        self.errors, self.last_error = old.errors, old.last_error
        dmx.carry(self.ports, old.ports)
        return []

    def close(self, now: float) -> list[dict]:
        self.sock.close()
        return []
