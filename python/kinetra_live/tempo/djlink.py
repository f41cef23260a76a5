"""Tempo, beat and bar from DJ players on a Pro DJ Link network.

Written from Deep Symmetry's public protocol analysis ("DJ Link Ecosystem Analysis",
https://djl-analysis.deepsymmetry.org): every packet starts with the same ten bytes and a type.

- Beat packets (UDP 50001, broadcast, type 0x28, 0x60 bytes): a player sends one on each beat
  while it plays an analysed track (a mixer sends them all the time, as a metronome). They carry
  the device number (0x21), the pitch (0x54, four bytes, 0x100000 at normal speed), the track's
  tempo times 100 (0x5a, 0xffff without a track) and the beat within the bar (0x5c, 1 to 4).
  Listening alone is enough for them.
- Status packets (UDP 50002, type 0x0a from players, 0x29 from mixers, about five a second) say
  who is the tempo master and who plays (flags at 0x89, or 0x27 for a mixer: 0x40 playing,
  0x20 master), with the tempo and pitch as they move (0x92, 0x8c). They are sent only to
  devices that announce themselves: keep-alive packets (UDP 50000, broadcast, type 0x06, 0x36
  bytes, every 1.5 s) with a device number, the interface's MAC and IPv4 address. Players use
  1 to 4 (1 to 6 for the newest), mixers 33, computers 17 and up: announcing takes the lowest
  free number from 7 (or the show's), and moves on when another device announces it.

Without status packets the leader is the player whose beats come (the show may name one);
with them, the tempo master while it plays. The clock follows the leader's grid
(`clock.GridFollower`): its tempo at once, its phase caught up with, its bars on the leader's
downbeats. When no player plays the last grid is held. Whatever else arrives is counted and
ignored, in the receiving thread: the frame loop only reads the leader's grid.
"""

from __future__ import annotations

import collections
import dataclasses
import ipaddress
import select
import socket
import struct
import threading

from kinetra_common.units import MAX_BPM

from ..clock import MIN_BPM, BeatGrid, GridFollower
from .base import TempoSource

MAGIC = b"Qspt1WmJOL"
ANNOUNCE_PORT, BEAT_PORT, STATUS_PORT = 50000, 50001, 50002
KEEP_ALIVE, BEAT, CDJ_STATUS, MIXER_STATUS = 0x06, 0x28, 0x0A, 0x29
KEEP_ALIVE_LEN, BEAT_LEN, MIXER_STATUS_LEN = 0x36, 0x60, 0x38
CDJ_STATUS_MIN_LEN = 0xD4  # the shortest players send; newer ones send more
NORMAL_PITCH, MAX_PITCH = 0x100000, 0x200000  # 0 is stopped, MAX_PITCH twice the speed
NO_TRACK = 0xFFFF
PLAYING, MASTER = 0x40, 0x20
MIXER = 33  # devices from here on are mixers: their place in the bar means nothing
BEATS_PER_PLAYER_BAR = 4  # players count bars of four
FOLLOW_NUMBERS = range(1, 0x80)  # device numbers there are
DEVICE_NUMBERS = range(7, 16)  # what announcing may take (players, mixers, computers use the rest)
KEEP_ALIVE_S = 1.5
DEVICE_NAME = b"kinetra-live"
LOST_BEATS = 2.0  # a device that sent no beat for this many of its beats does not play
STATUS_FRESH_S = 2.0  # a status older than this says nothing any more
POLL_S = 0.2
USED = {BEAT_PORT: (BEAT,), STATUS_PORT: (CDJ_STATUS, MIXER_STATUS), ANNOUNCE_PORT: (KEEP_ALIVE,)}


@dataclasses.dataclass
class Beat:
    device: int
    bpm: float  # as played (the track's tempo at the pitch)
    place: int | None  # beat within the bar, 0 at the downbeat; None from a mixer


@dataclasses.dataclass
class Status:
    device: int
    bpm: float | None
    playing: bool
    master: bool


def _header(data: bytes, kind: int, length: int) -> str | None:
    """Why `data` is not a packet of this kind and length, or None."""
    if len(data) < 11 or data[:10] != MAGIC:
        return "foreign"
    if data[10] != kind:
        return "foreign"
    if len(data) < length:
        return "short"
    return None


def _played(bpm_x100: int, pitch: int) -> float | None:
    if bpm_x100 in (0, NO_TRACK) or not 0 < pitch <= MAX_PITCH:
        return None
    bpm = bpm_x100 / 100.0 * pitch / NORMAL_PITCH
    return bpm if MIN_BPM <= bpm <= MAX_BPM else None


def parse_beat(data: bytes) -> Beat | str:
    """A beat packet, or why it is ignored ("foreign", "short", "out of range")."""
    why = _header(data, BEAT, BEAT_LEN)
    if why:
        return why
    device = data[0x21]
    (pitch,) = struct.unpack_from(">I", data, 0x54)
    (bpm_x100,) = struct.unpack_from(">H", data, 0x5A)
    place = data[0x5C]
    bpm = _played(bpm_x100, pitch)
    if device not in FOLLOW_NUMBERS or device != data[0x5F] or bpm is None:
        return "out of range"
    if device >= MIXER:
        return Beat(device, bpm, None)
    if not 1 <= place <= BEATS_PER_PLAYER_BAR:
        return "out of range"
    return Beat(device, bpm, place - 1)


def parse_status(data: bytes) -> Status | str:
    """A player's or mixer's status packet, or why it is ignored."""
    if len(data) > 10 and data[10] == MIXER_STATUS:
        why = _header(data, MIXER_STATUS, MIXER_STATUS_LEN)
        if why:
            return why
        flags, pitch = data[0x27], NORMAL_PITCH
        (bpm_x100,) = struct.unpack_from(">H", data, 0x2E)
    else:
        why = _header(data, CDJ_STATUS, CDJ_STATUS_MIN_LEN)
        if why:
            return why
        flags = data[0x89]
        (pitch,) = struct.unpack_from(">I", data, 0x8C)
        (bpm_x100,) = struct.unpack_from(">H", data, 0x92)
    device = data[0x21]
    if device not in FOLLOW_NUMBERS or (pitch > MAX_PITCH and bpm_x100 != NO_TRACK):
        return "out of range"
    return Status(device, _played(bpm_x100, pitch), bool(flags & PLAYING), bool(flags & MASTER))


def parse_keep_alive(data: bytes) -> tuple[int, bytes, str] | str:
    """(device number, MAC, IPv4 address) of a keep-alive packet, or why it is ignored."""
    why = _header(data, KEEP_ALIVE, KEEP_ALIVE_LEN)
    if why:
        return why
    device = data[0x24]
    if device not in FOLLOW_NUMBERS:
        return "out of range"
    return device, bytes(data[0x26:0x2C]), socket.inet_ntoa(data[0x2C:0x30])


def keep_alive(device: int, mac: bytes, address: str, name: bytes = DEVICE_NAME) -> bytes:
    """Our keep-alive packet: a player of that number at that MAC and address."""
    head = MAGIC + bytes([KEEP_ALIVE, 0]) + name[:20].ljust(20, b"\0") + bytes([1, 2])
    body = bytes([device, 1]) + mac[:6].ljust(6, b"\0") + socket.inet_aton(address) + bytes([1, 0, 0, 0, 1, 0])
    return head + struct.pack(">H", KEEP_ALIVE_LEN) + body


@dataclasses.dataclass
class Device:
    grid: BeatGrid
    last_beat: float = float("-inf")
    status_at: float = float("-inf")
    playing: bool = False
    master: bool = False


class Network:
    """What the packets say, on the times they came in: the devices' grids, who leads, what
    was ignored. Thread-safe: the receiving thread feeds, the frame loop asks for the grid."""

    def __init__(self, follow="master", *, own_address: str | None = None, network=None, device: int | None = None):
        self.follow = follow
        self.own_address = own_address
        self.network = network  # an ipaddress network: packets from elsewhere are foreign
        self.device = device  # our device number, when announcing
        self.devices: dict[int, Device] = {}
        self.others: dict[int, bytes] = {}  # device numbers announced by others -> MAC
        self.leader: int | None = None
        self.ignored: collections.Counter = collections.Counter()
        self.moved = 0  # times our device number was taken by another device
        self.unused = 0  # the protocol's packets of kinds not read here
        self.lock = threading.Lock()

    def receive(self, port: int, data: bytes, source: str, t: float) -> None:
        with self.lock:
            why = self._receive(port, data, source, t)
            if why:
                self.ignored[why] += 1

    def _receive(self, port, data, source, t) -> str | None:
        if source == self.own_address:
            return "own"
        if self.network is not None:
            try:
                if ipaddress.ip_address(source) not in self.network:
                    return "foreign"
            except ValueError:
                return "foreign"
        kind = data[10] if len(data) > 10 and data[:10] == MAGIC else None
        if kind is not None and kind not in USED.get(port, ()):
            # the protocol's other packets (channels on air, device number claims...): not ours to read
            self.unused += 1
            return None
        if port == BEAT_PORT:
            beat = parse_beat(data)
            if isinstance(beat, str):
                return beat
            if beat.device == self.device:
                return "own"
            d = self._device(beat.device)
            d.grid.beat(t, beat.bpm, beat.place, BEATS_PER_PLAYER_BAR if beat.place is not None else 0)
            d.last_beat = t
        elif port == STATUS_PORT:
            status = parse_status(data)
            if isinstance(status, str):
                return status
            if status.device == self.device:
                return "own"
            d = self._device(status.device)
            d.status_at, d.playing, d.master = t, status.playing, status.master
            if status.bpm is not None and status.playing:
                d.grid.retempo(t, status.bpm)
        elif port == ANNOUNCE_PORT:
            ka = parse_keep_alive(data)
            if isinstance(ka, str):
                return ka
            number, mac, _ = ka
            self.others[number] = mac
            if number == self.device:
                self.moved += 1
                free = [n for n in DEVICE_NUMBERS if n not in self.others]
                self.device = free[0] if free else self.device
        else:
            return "foreign"
        self._choose(t)
        return None

    def _device(self, number: int) -> Device:
        d = self.devices.get(number)
        if d is None:
            d = self.devices[number] = Device(BeatGrid())
        return d

    def plays(self, number: int, t: float) -> bool:
        d = self.devices.get(number)
        if d is None or d.grid.ta is None:
            return False
        if t - d.status_at <= STATUS_FRESH_S and not d.playing and d.status_at >= d.last_beat:
            return False  # stopped since its last beat (a beat after the status: it started)
        return t - d.last_beat <= LOST_BEATS * d.grid.period + 0.05

    def _choose(self, t: float) -> None:
        if self.follow != "master":
            self.leader = self.follow if self.follow in self.devices else self.leader
            return
        masters = [n for n, d in self.devices.items() if d.master and t - d.status_at <= STATUS_FRESH_S]
        playing = [n for n in masters if self.plays(n, t)]
        # during a handover both say so for a moment: the leader stays until it yields
        if playing and self.leader not in playing:
            self.leader = max(playing, key=lambda n: self.devices[n].status_at)
        if playing:
            return
        if self.leader is not None and self.plays(self.leader, t):
            return
        # the player whose beats come, a mixer only when no player plays
        playing = [n for n in self.devices if self.plays(n, t)]
        if playing:
            self.leader = min(playing, key=lambda n: (n >= MIXER, -self.devices[n].last_beat))

    def grid(self, t: float) -> tuple[tuple[float, float] | None, int | None, bool]:
        """(the leader's grid, the leader, whether it plays), at time `t`."""
        with self.lock:
            self._choose(t)
            if self.leader is None:
                return None, None, False
            return self.devices[self.leader].grid.target(), self.leader, self.plays(self.leader, t)


@dataclasses.dataclass(frozen=True)
class Interface:
    name: str
    address: str
    netmask: str
    broadcast: str
    mac: bytes

    @property
    def network(self):
        return ipaddress.ip_network(f"{self.address}/{self.netmask}", strict=False)


def interface(name_or_address: str) -> Interface:
    """The IPv4 address, netmask, broadcast address and MAC of a network interface, named or
    found by one of its addresses (Linux)."""
    try:
        import fcntl
    except ImportError:
        raise RuntimeError("djlink_interface: reading an interface's addresses needs Linux") from None

    def ask(sock, request, name):
        return fcntl.ioctl(sock.fileno(), request, struct.pack("256s", name.encode()[:15]))

    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        names = [n for _, n in socket.if_nameindex()]
        for name in names if name_or_address not in names else [name_or_address]:
            try:
                address = socket.inet_ntoa(ask(sock, 0x8915, name)[20:24])  # SIOCGIFADDR
            except OSError:
                continue
            if name != name_or_address and address != name_or_address:
                continue
            netmask = socket.inet_ntoa(ask(sock, 0x891B, name)[20:24])  # SIOCGIFNETMASK
            try:
                broadcast = socket.inet_ntoa(ask(sock, 0x8919, name)[20:24])  # SIOCGIFBRDADDR
            except OSError:
                broadcast = "0.0.0.0"
            if broadcast == "0.0.0.0":
                net = ipaddress.ip_network(f"{address}/{netmask}", strict=False)
                broadcast = str(net.broadcast_address)
            mac = ask(sock, 0x8927, name)[18:24]  # SIOCGIFHWADDR
            return Interface(name, address, netmask, broadcast, bytes(mac))
    raise RuntimeError(f"djlink_interface: no interface {name_or_address!r} with an IPv4 address")


def _listen(port: int) -> socket.socket:
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if hasattr(socket, "SO_REUSEPORT"):
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        sock.bind(("", port))
        sock.setblocking(False)
    except OSError as exc:
        sock.close()
        raise RuntimeError(f"tempo source 'djlink' cannot listen on UDP port {port}: {exc.strerror or exc}") from None
    return sock


class DjLink(TempoSource):
    """Tempo source "djlink": `[tempo] source = "djlink"`, with `djlink_interface`, `follow`
    ("master" or a player's number) and `djlink_announce` (and `djlink_device`)."""

    name = "djlink"
    manual_tempo = False

    def __init__(self, tempo, clock, now, options, *, sockets=None):
        super().__init__(tempo, clock, now, options)
        self.now = now
        follow = getattr(tempo, "follow", "master")
        name = getattr(tempo, "djlink_interface", None)
        self.announce = bool(getattr(tempo, "djlink_announce", False))
        self.iface = interface(name) if name else None
        if self.announce and self.iface is None:
            raise RuntimeError("djlink_announce: needs djlink_interface (the address to announce)")
        device = getattr(tempo, "djlink_device", None) or DEVICE_NUMBERS[0]
        self.network = Network(
            follow,
            own_address=self.iface.address if self.iface else None,
            network=self.iface.network if self.iface else None,
            device=device if self.announce else None,
        )
        self.follower = GridFollower(tempo.beats_per_bar)
        self.leader = None
        self.followed = None  # the leader the follower's resyncs were for
        self.playing = False
        self.sockets = []
        self.running = True
        self.thread = None
        if sockets is not None:  # tests drive `network` themselves
            return
        try:
            ports = (BEAT_PORT, STATUS_PORT, ANNOUNCE_PORT) if self.announce else (BEAT_PORT,)
            for port in ports:
                self.sockets.append((port, _listen(port)))
        except RuntimeError:
            self.close()
            raise
        self.thread = threading.Thread(target=self._run, name="djlink", daemon=True)
        self.thread.start()

    def _run(self) -> None:
        by_sock = {s: port for port, s in self.sockets}
        next_announce = 0.0
        while self.running:
            if self.announce and self.now() >= next_announce:
                next_announce = self.now() + KEEP_ALIVE_S
                self._announce()
            try:
                ready, _, _ = select.select(list(by_sock), [], [], POLL_S)
            except (OSError, ValueError):
                return
            for sock in ready:
                while True:
                    try:
                        data, (source, _) = sock.recvfrom(2048)
                    except (BlockingIOError, InterruptedError):
                        break
                    except OSError:
                        break
                    self.network.receive(by_sock[sock], data, source, self.now())

    def _announce(self) -> None:
        iface = self.iface
        packet = keep_alive(self.network.device, iface.mac, iface.address)
        sock = next(s for port, s in self.sockets if port == ANNOUNCE_PORT)
        try:
            sock.sendto(packet, (iface.broadcast, ANNOUNCE_PORT))
        except OSError:
            self.network.ignored["announce failed"] += 1

    def update(self, clock, now: float) -> None:
        grid, self.leader, self.playing = self.network.grid(now)
        if self.leader != self.followed:
            self.followed = self.leader
            self.follower.shift = 0  # a resync was for the last leader's grid
        self.follower.update(clock, now, grid)

    def command(self, name: str, arg, clock, now: float) -> bool:
        if name == "nudge":
            self.follower.nudge(clock, float(arg))
        elif name == "resync":
            self.follower.resync(clock, now, self.network.grid(now)[0])
        else:
            return False
        return True

    def status(self) -> str:
        n = self.network
        if self.leader is None:
            text = "djlink waiting for beats"
        else:
            who = f"player {self.leader}" if self.leader < MIXER else f"mixer {self.leader}"
            text = f"djlink {who} leads" + ("" if self.playing else ", holding (no player plays)")
        if self.announce:
            text += f"  as device {n.device}" + (" (number was taken)" if n.moved else "")
        # our own keep-alives come back from the broadcast: counted, not worth a word
        ignored = sum(v for why, v in n.ignored.items() if why != "own")
        if ignored:
            text += f"  {ignored} packets ignored"
        return text

    def close(self) -> None:
        self.running = False
        if self.thread is not None:
            self.thread.join(timeout=2.0)
        for _, sock in self.sockets:
            sock.close()
        self.sockets = []
