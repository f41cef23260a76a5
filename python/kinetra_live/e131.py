"""A small E1.31 (streaming DMX over UDP) encoder and sender.

The encoder makes data packets (optionally carrying a synchronisation
address) and universe synchronisation packets. The sender sends data packets
only: no universe discovery, no broadcast. Each universe has its own sequence number. Data that
changes is sent at once; unchanged data is sent three times in all and then
kept alive at the output's keep-alive interval (at most one second). Closing
the sender sends three stream-terminated packets per universe.
"""

from __future__ import annotations

import socket
import struct

ACN_IDENTIFIER = b"ASC-E1.17\x00\x00\x00"
VECTOR_ROOT_E131_DATA = 0x00000004
VECTOR_ROOT_E131_EXTENDED = 0x00000008
VECTOR_E131_DATA_PACKET = 0x00000002
VECTOR_E131_EXTENDED_SYNCHRONIZATION = 0x00000001
VECTOR_DMP_SET_PROPERTY = 0x02
OPTION_PREVIEW = 0x80
OPTION_STREAM_TERMINATED = 0x40
HEADER_SIZE = 126               # bytes before the first DMX slot
SYNC_PACKET_SIZE = 49
MAX_UNIVERSE = 63999
REPEATS_OF_UNCHANGED = 3


def multicast_group(universe: int) -> str:
    return f"239.255.{universe >> 8}.{universe & 0xFF}"


def encode(cid: bytes, source_name: str, priority: int, sequence: int, universe: int,
           data: bytes, options: int = 0, sync_address: int = 0) -> bytes:
    """One E1.31 data packet carrying start code 0 and the given DMX slots (1 to 512).
    A non-zero sync_address asks receivers to hold the data until a synchronisation
    packet for that universe arrives."""
    if not 0 <= sync_address <= MAX_UNIVERSE:
        raise ValueError(f"the synchronisation address is 0 (none) or a universe 1 to {MAX_UNIVERSE}")
    if len(cid) != 16:
        raise ValueError("the CID is 16 bytes")
    if not 1 <= len(data) <= 512:
        raise ValueError("a universe holds 1 to 512 slots")
    name = source_name.encode("utf-8")
    if len(name) > 63:
        raise ValueError("the source name is at most 63 bytes in UTF-8")
    total = HEADER_SIZE + len(data)
    return b"".join((
        # root layer
        struct.pack(">HH12sHI16s", 0x0010, 0x0000, ACN_IDENTIFIER,
                    0x7000 | (total - 16), VECTOR_ROOT_E131_DATA, cid),
        # framing layer
        struct.pack(">HI64sBHBBH", 0x7000 | (total - 38), VECTOR_E131_DATA_PACKET,
                    name.ljust(64, b"\x00"), priority, sync_address, sequence & 0xFF, options,
                    universe),
        # DMP layer
        struct.pack(">HBBHHHB", 0x7000 | (total - 115), VECTOR_DMP_SET_PROPERTY, 0xA1,
                    0x0000, 0x0001, len(data) + 1, 0x00),
        data,
    ))


def encode_sync(cid: bytes, sequence: int, sync_address: int) -> bytes:
    """One universe synchronisation packet: receivers holding data for `sync_address`
    show it now. Its sequence number counts apart from the data packets'."""
    if len(cid) != 16:
        raise ValueError("the CID is 16 bytes")
    if not 1 <= sync_address <= MAX_UNIVERSE:
        raise ValueError(f"the synchronisation address is a universe 1 to {MAX_UNIVERSE}")
    return b"".join((
        struct.pack(">HH12sHI16s", 0x0010, 0x0000, ACN_IDENTIFIER,
                    0x7000 | (SYNC_PACKET_SIZE - 16), VECTOR_ROOT_E131_EXTENDED, cid),
        struct.pack(">HIBHH", 0x7000 | (SYNC_PACKET_SIZE - 38), VECTOR_E131_EXTENDED_SYNCHRONIZATION,
                    sequence & 0xFF, sync_address, 0x0000),
    ))


class Universe:
    """Sending state of one universe: its sequence number and last data."""

    def __init__(self, number: int, slots: int):
        self.number = number
        self.data = bytearray(slots)
        self.sequence = 0
        self.last_sent: bytes | None = None
        self.last_time = float("-inf")
        self.repeats = 0

    def due(self, now: float, keepalive: float) -> bool:
        data = bytes(self.data)
        if data != self.last_sent:
            self.repeats = REPEATS_OF_UNCHANGED - 1
            return True
        if self.repeats > 0:
            self.repeats -= 1
            return True
        return now - self.last_time >= keepalive


class Sender:
    """Sends the universes of one sACN output to its named destinations only."""

    def __init__(self, output, cid: bytes, universes: dict[int, int]):
        self.output = output
        self.cid = cid
        self.universes = {u: Universe(u, slots) for u, slots in sorted(universes.items())}
        self.errors = 0
        self.last_error = ""
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        self.sock.setblocking(False)
        if output.multicast:
            self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
            if output.interface:
                self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                                     socket.inet_aton(output.interface))

    def targets(self, universe: int) -> tuple[str, ...]:
        if self.output.multicast:
            return (multicast_group(universe),)
        return self.output.destinations

    def _send(self, u: Universe, options: int, now: float) -> int:
        u.sequence = (u.sequence + 1) & 0xFF
        packet = encode(self.cid, self.output.source_name, self.output.priority, u.sequence,
                        u.number, bytes(u.data), options)
        for host in self.targets(u.number):
            try:
                self.sock.sendto(packet, (host, self.output.port))
            except OSError as exc:  # no route, buffer full, refused: keep going
                self.errors += 1
                self.last_error = f"{host}: {exc.strerror or exc}"
        u.last_sent = bytes(u.data)
        u.last_time = now
        return u.sequence

    def send_frame(self, now: float) -> list[tuple[int, int]]:
        """Sends every universe that is due; returns (universe, sequence) of each packet."""
        sent = []
        for u in self.universes.values():
            if u.due(now, self.output.keepalive_s):
                sent.append((u.number, self._send(u, 0, now)))
        return sent

    def terminate(self, now: float) -> list[tuple[int, int]]:
        """Three stream-terminated packets per universe, then the socket is closed."""
        sent = []
        for _ in range(3):
            for u in self.universes.values():
                sent.append((u.number, self._send(u, OPTION_STREAM_TERMINATED, now)))
        self.sock.close()
        return sent
