"""E1.31 (sACN) output: DMX universes to named unicast addresses or to multicast.

Changed data goes out at once; unchanged data three times in all, then at the
output's keep-alive interval. With `sync = true` (synchronised on the output's
first universe) or `sync = UNIVERSE`, the data packets carry that
synchronisation address and one synchronisation packet follows every frame that
sent data, so receivers show all universes at once. Closing sends three
stream-terminated packets per universe.
"""

from __future__ import annotations

import dataclasses
import socket

from .. import e131
from . import dmx, net

PORT = 5568
SECTION_KEYS = {"destination", "multicast", "port", "priority", "source_name", "interface", "keepalive_ms", "sync"}
FIXTURE_KEYS = dmx.FIXTURE_KEYS
UNIVERSES = (1, e131.MAX_UNIVERSE)


@dataclasses.dataclass(frozen=True)
class Settings:
    name: str
    destinations: tuple[str, ...]  # unicast IPv4 addresses; empty with multicast
    multicast: bool
    port: int
    priority: int
    source_name: str
    interface: str | None  # local address for multicast
    keepalive_s: float
    sync: int | bool = False  # False, True (the first universe) or a sync universe
    kind: str = "sacn"
    names: tuple[str, ...] = ()  # the destinations as the show gives them (resolved again on errors)


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
        name=key[-1],
        destinations=addrs,
        multicast=multicast,
        port=r.integer(o, key, "port", PORT, 1, 65535),
        priority=r.integer(o, key, "priority", 100, 0, 200),
        source_name=source_name,
        interface=interface,
        keepalive_s=r.integer(o, key, "keepalive_ms", 800, 100, 1000) / 1000.0,
        sync=_sync(r, o, key),
        names=tuple(str(d) for d in dests),
    )


def _sync(r, o: dict, key: tuple) -> int | bool:
    v = o.get("sync", False)
    if isinstance(v, bool):
        return v
    if not isinstance(v, int):
        r.fail(key + ("sync",), f"must be true, false or a universe {UNIVERSES[0]} to {UNIVERSES[1]}, found {v!r}")
    return r.integer(o, key, "sync", lo=UNIVERSES[0], hi=UNIVERSES[1])


def read_patch(r, f: dict, key: tuple, settings: Settings):
    return dmx.read_patch(r, f, key, UNIVERSES)


def claims(fixture) -> list:
    return dmx.claims(fixture, "sacn")


def describe(settings: Settings, show) -> str:
    to = "multicast" if settings.multicast else ", ".join(settings.destinations)
    universes = show.universes(settings.name)
    sync = sync_address(settings, universes)
    return (
        f"sACN to {to} port {settings.port}, universes {', '.join(map(str, universes)) or '-'}, "
        f"priority {settings.priority}" + (f", synchronised on universe {sync}" if sync else "")
    )


def sync_address(settings: Settings, universes: list[int]) -> int:
    """The universe the output synchronises on, 0 for none."""
    if settings.sync is True:
        return universes[0] if universes else 0
    return settings.sync or 0


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
        self.writers = {
            f.name: (dmx.writer(f.patch), self.universes[f.patch.universe].data)
            for f in show.fixtures
            if f.output == settings.name
        }
        self.sync = sync_address(settings, list(self.universes))
        self.sync_sequence = 0
        self.errors = 0
        self.last_error = ""
        self.destinations = settings.destinations
        self.health = net.Health(settings.name, self._repair)

    def _repair(self) -> None:
        """While sends fail: the names resolved again, the multicast interface set again."""
        s = self.settings
        if s.names:
            self.destinations = net.resolve(s.names, self.destinations)
        if s.multicast and s.interface:
            try:
                self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(s.interface))
            except OSError:
                pass  # the interface has no address yet: the next round tries again

    def set(self, fixture, x: float, y: float, z: float, blackout: bool = False) -> list:
        write, data = self.writers[fixture.name]
        return write(data, x, y, z, blackout)

    def targets(self, universe: int) -> tuple[str, ...]:
        if self.settings.multicast:
            return (e131.multicast_group(universe),)
        return self.destinations

    def _sendto(self, packet: bytes, universe: int) -> None:
        for host in self.targets(universe):
            try:
                self.sock.sendto(packet, (host, self.settings.port))
            except OSError as exc:  # no route, buffer full, refused: keep going
                self.errors += 1
                self.last_error = f"{host}: {exc.strerror or exc}"
                self.health.failed(host, exc)

    def _send(self, u: dmx.Universe, options: int, now: float, sync: int = 0) -> dict:
        seq = u.sent(now)
        s = self.settings
        self._sendto(
            e131.encode(self.cid, s.source_name, s.priority, seq, u.number, bytes(u.data), options, sync_address=sync),
            u.number,
        )
        return {"output": s.name, "universe": u.number, "sequence": seq}

    def flush(self, now: float) -> list[dict]:
        """Sends every universe that is due, then a synchronisation packet if asked."""
        sent = [
            self._send(u, 0, now, self.sync) for u in self.universes.values() if u.due(now, self.settings.keepalive_s)
        ]
        if sent and self.sync:
            self.sync_sequence = (self.sync_sequence + 1) & 0xFF
            self._sendto(e131.encode_sync(self.cid, self.sync_sequence, self.sync), self.sync)
            sent.append({"output": self.settings.name, "sync": self.sync, "sequence": self.sync_sequence})
        self.health.frame(now, bool(sent))
        return sent

    def adopt(self, old: Sender, now: float) -> list[dict]:
        """Goes on from `old`, this output's sender before the show was edited: sequence numbers
        carry on, and universes no longer sent end their streams (three terminated packets)."""
        self.errors, self.last_error, self.sync_sequence = old.errors, old.last_error, old.sync_sequence
        sent = []
        for u in dmx.carry(self.universes, old.universes):
            if u.last_sent is not None:
                sent += [old._send(u, e131.OPTION_STREAM_TERMINATED, now) for _ in range(3)]
        return sent

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
