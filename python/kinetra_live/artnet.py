"""Art-Net 4: encoder of ArtDmx, ArtSync and ArtPoll, decoder of ArtPollReply.

A port-address is 15 bits: net (7 bits), sub-net (4 bits) and universe
(4 bits). Each port has its own ArtDmx sequence number, 1 to 255 (0 would
turn the receiver's reordering off). Data is sent unicast to the nodes a show
names; discovery polls only the address the user gives.
"""

from __future__ import annotations

import collections
import dataclasses
import ipaddress
import select
import socket
import struct
import time

PORT = 6454
ID = b"Art-Net\x00"
PROTOCOL_VERSION = 14
OP_POLL = 0x2000
OP_POLL_REPLY = 0x2100
OP_DMX = 0x5000
OP_SYNC = 0x5200
MAX_NET, MAX_SUBNET, MAX_UNIVERSE = 127, 15, 15
MAX_PORT_ADDRESS = 0x7FFF
MAX_FPS = 44  # frames per port and second at most
KEEPALIVE_S = 0.8  # unchanged data is sent again after this long (under a second)
DMX_HEADER_SIZE = 18
POLL_SIZE = 22
SYNC_SIZE = 14
POLL_REPLY_MIN_SIZE = 207  # up to the MAC address; later fields arrived with later versions
_HEADER = struct.Struct("<8sH")


def port_address(net: int, subnet: int, universe: int) -> int:
    for name, v, top in (("net", net, MAX_NET), ("sub-net", subnet, MAX_SUBNET), ("universe", universe, MAX_UNIVERSE)):
        if isinstance(v, bool) or not isinstance(v, int) or not 0 <= v <= top:
            raise ValueError(f"the {name} is 0 to {top}, found {v!r}")
    return net << 8 | subnet << 4 | universe


def split_port_address(address: int) -> tuple[int, int, int]:
    if not 0 <= address <= MAX_PORT_ADDRESS:
        raise ValueError(f"a port-address is 0 to {MAX_PORT_ADDRESS}, found {address}")
    return address >> 8, (address >> 4) & 0xF, address & 0xF


def format_port_address(address: int) -> str:
    return "{}:{}:{}".format(*split_port_address(address))


def encode_dmx(sequence: int, address: int, data: bytes, physical: int = 0) -> bytes:
    """One ArtDmx packet. Odd lengths are padded with a zero slot (the length is even,
    2 to 512)."""
    if not 0 <= sequence <= 255:
        raise ValueError(f"the sequence is 0 to 255, found {sequence}")
    if not 1 <= len(data) <= 512:
        raise ValueError("a universe holds 1 to 512 slots")
    net, subnet, universe = split_port_address(address)
    if len(data) % 2:
        data = bytes(data) + b"\x00"
    return (
        _HEADER.pack(ID, OP_DMX)
        + struct.pack(
            ">BBBBBBH", 0, PROTOCOL_VERSION, sequence, physical & 0xFF, subnet << 4 | universe, net, len(data)
        )
        + bytes(data)
    )


def encode_sync() -> bytes:
    """ArtSync: nodes holding ArtDmx show it now."""
    return _HEADER.pack(ID, OP_SYNC) + struct.pack(">BBBB", 0, PROTOCOL_VERSION, 0, 0)


def encode_poll(flags: int = 0, diag_priority: int = 0) -> bytes:
    """ArtPoll asking every node that hears it for an ArtPollReply (no target range)."""
    return _HEADER.pack(ID, OP_POLL) + struct.pack(
        ">BBBBHHHH", 0, PROTOCOL_VERSION, flags & 0xFF, diag_priority & 0xFF, 0, 0, 0, 0
    )


def _text(raw: bytes) -> str:
    return raw.split(b"\x00", 1)[0].decode("latin-1")


@dataclasses.dataclass(frozen=True)
class PollReply:
    ip: str
    port: int
    version: int  # the node's firmware revision
    net_switch: int
    sub_switch: int
    oem: int
    ubea_version: int
    status1: int
    esta_manufacturer: int
    short_name: str
    long_name: str
    node_report: str
    num_ports: int
    port_types: bytes
    good_input: bytes
    good_output_a: bytes
    sw_in: bytes
    sw_out: bytes
    acn_priority: int
    sw_macro: int
    sw_remote: int
    style: int
    mac: bytes
    bind_ip: str | None = None
    bind_index: int | None = None
    status2: int | None = None
    good_output_b: bytes | None = None
    status3: int | None = None
    default_responder: bytes | None = None
    user: int | None = None
    refresh_rate: int | None = None

    def output_addresses(self) -> list[int]:
        """Port-addresses of the node's output ports (those that take DMX in)."""
        return [
            (self.net_switch & 0x7F) << 8 | (self.sub_switch & 0xF) << 4 | (self.sw_out[i] & 0xF)
            for i in range(min(self.num_ports, 4))
            if self.port_types[i] & 0x80
        ]

    def describe(self, sender: str) -> str:
        outs = " ".join(format_port_address(a) for a in self.output_addresses()) or "none"
        where = self.ip if self.ip == sender else f"{self.ip} (from {sender})"
        name = self.short_name
        if self.long_name and self.long_name != self.short_name:
            name += f" / {self.long_name}"
        return f"{where}  {name!r}  outputs (net:sub-net:universe): {outs}  {self.node_report}".rstrip()


def decode_poll_reply(packet: bytes) -> PollReply:
    """An ArtPollReply's fields; ValueError if the packet is not one."""
    if len(packet) < POLL_REPLY_MIN_SIZE:
        raise ValueError(f"an ArtPollReply is at least {POLL_REPLY_MIN_SIZE} bytes, found {len(packet)}")
    ident, op = _HEADER.unpack_from(packet)
    if ident != ID or op != OP_POLL_REPLY:
        raise ValueError("not an ArtPollReply")
    p = packet
    fields = dict(
        ip=socket.inet_ntoa(p[10:14]),
        port=struct.unpack_from("<H", p, 14)[0],
        version=p[16] << 8 | p[17],
        net_switch=p[18],
        sub_switch=p[19],
        oem=p[20] << 8 | p[21],
        ubea_version=p[22],
        status1=p[23],
        esta_manufacturer=p[25] << 8 | p[24],
        short_name=_text(p[26:44]),
        long_name=_text(p[44:108]),
        node_report=_text(p[108:172]),
        num_ports=p[172] << 8 | p[173],
        port_types=p[174:178],
        good_input=p[178:182],
        good_output_a=p[182:186],
        sw_in=p[186:190],
        sw_out=p[190:194],
        acn_priority=p[194],
        sw_macro=p[195],
        sw_remote=p[196],
        style=p[200],
        mac=p[201:207],
    )
    if len(p) >= 213:
        fields.update(bind_ip=socket.inet_ntoa(p[207:211]), bind_index=p[211], status2=p[212])
    if len(p) >= 224:
        fields.update(good_output_b=p[213:217], status3=p[217], default_responder=p[218:224])
    if len(p) >= 228:
        fields.update(user=p[224] << 8 | p[225], refresh_rate=p[226] << 8 | p[227])
    return PollReply(**fields)


def opcode(packet: bytes) -> int | None:
    """The OpCode of an Art-Net packet, None for anything else."""
    if len(packet) < _HEADER.size:
        return None
    ident, op = _HEADER.unpack_from(packet)
    return op if ident == ID else None


def check_poll_target(address: str) -> str:
    """The address to poll: one IPv4 host or a directed broadcast the user names."""
    try:
        ip = ipaddress.IPv4Address(socket.getaddrinfo(address, None, socket.AF_INET)[0][4][0])
    except (OSError, UnicodeError, IndexError, ValueError):
        raise ValueError(f"cannot resolve {address!r} to an IPv4 address") from None
    if ip.is_unspecified or ip.is_multicast or ip == ipaddress.IPv4Address("255.255.255.255"):
        raise ValueError(f"{ip} is not an address to poll; give a node's address or a subnet's broadcast address")
    return str(ip)


def discover(
    address: str, timeout: float = 3.0, port: int = PORT, listen: tuple[str, int] = ("0.0.0.0", PORT)
) -> list[tuple[str, PollReply]]:
    """Send one ArtPoll to `address` and collect the ArtPollReplys that arrive within
    `timeout` seconds, as (sender address, reply). Nodes answer to port 6454 of the
    poller, so that is where we listen unless told otherwise."""
    target = check_poll_target(address)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        try:
            sock.bind(listen)
        except OSError as exc:
            raise OSError(
                exc.errno,
                f"cannot listen on UDP {listen[0]}:{listen[1]} for the replies "
                f"({exc.strerror}); is another Art-Net program running?",
            ) from None
        sock.sendto(encode_poll(), (target, port))
        replies, seen = [], set()
        end = time.monotonic() + timeout
        while (left := end - time.monotonic()) > 0:
            ready, _, _ = select.select([sock], [], [], left)
            if not ready:
                break
            try:
                packet, sender = sock.recvfrom(2048)
            except OSError:
                continue
            if opcode(packet) != OP_POLL_REPLY:
                continue
            try:
                reply = decode_poll_reply(packet)
            except ValueError:
                continue
            if (sender[0], packet) not in seen:
                seen.add((sender[0], packet))
                replies.append((sender[0], reply))
        return replies
    finally:
        sock.close()


class Port:
    """Sending state of one port-address: its data, sequence number and recent sends.
    Changed data goes out at once unless MAX_FPS packets went out in the last second;
    unchanged data is sent again after KEEPALIVE_S."""

    def __init__(self, address: int, slots: int):
        split_port_address(address)
        self.address = address
        self.data = bytearray(slots + slots % 2)
        self.sequence = 0
        self.last_sent: bytes | None = None
        self.last_time = float("-inf")
        self.sent_times: collections.deque = collections.deque()

    def due(self, now: float) -> bool:
        while self.sent_times and now - self.sent_times[0] >= 1.0:
            self.sent_times.popleft()
        if len(self.sent_times) >= MAX_FPS:
            return False
        return bytes(self.data) != self.last_sent or now - self.last_time >= KEEPALIVE_S

    def packet(self, now: float) -> bytes:
        """The next ArtDmx of this port, counted as sent at `now`."""
        self.sequence = self.sequence % 255 + 1
        self.last_sent = bytes(self.data)
        self.last_time = now
        self.sent_times.append(now)
        return encode_dmx(self.sequence, self.address, self.last_sent)
