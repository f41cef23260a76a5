"""Art-Net and E1.31 synchronisation packets, read back by decoders written here from the
protocols' published layouts (byte offsets), independent of the encoders."""

import os
import socket
import threading
import uuid

import pytest
from kinetra_live import artnet, e131

ARTNET_ID = b"Art-Net\x00"
CID = uuid.UUID("12345678-9abc-4def-8123-456789abcdef").bytes


def u16le(b, i):
    return b[i] | b[i + 1] << 8


def u16be(b, i):
    return b[i] << 8 | b[i + 1]


def read_artdmx(p):
    assert p[0:8] == ARTNET_ID and u16le(p, 8) == 0x5000
    assert (p[10], p[11]) == (0, 14)  # protocol version 14, high byte first
    length = u16be(p, 16)
    assert length % 2 == 0 and 2 <= length <= 512 and len(p) == 18 + length
    return {
        "sequence": p[12],
        "physical": p[13],
        "net": p[15] & 0x7F,
        "subnet": p[14] >> 4,
        "universe": p[14] & 0x0F,
        "data": p[18:],
    }


def read_artsync(p):
    assert len(p) == 14 and p[0:8] == ARTNET_ID and u16le(p, 8) == 0x5200
    assert (p[10], p[11], p[12], p[13]) == (0, 14, 0, 0)  # version, Aux1, Aux2
    return True


def read_artpoll(p):
    assert len(p) >= 14 and p[0:8] == ARTNET_ID and u16le(p, 8) == 0x2000 and (p[10], p[11]) == (0, 14)
    fields = {"flags": p[12], "diag_priority": p[13]}
    if len(p) >= 22:
        fields.update(target_top=u16be(p, 14), target_bottom=u16be(p, 16), esta=u16be(p, 18), oem=u16be(p, 20))
    return fields


def flags_length(b, i, expect):
    assert b[i] >> 4 == 0x7 and u16be(b, i) & 0x0FFF == expect


def read_e131_data(p):
    n = len(p)
    assert u16be(p, 0) == 0x0010 and u16be(p, 2) == 0 and p[4:16] == b"ASC-E1.17\x00\x00\x00"
    flags_length(p, 16, n - 16)
    assert int.from_bytes(p[18:22], "big") == 0x00000004
    flags_length(p, 38, n - 38)
    assert int.from_bytes(p[40:44], "big") == 0x00000002
    flags_length(p, 115, n - 115)
    assert (p[117], p[118], u16be(p, 119), u16be(p, 121)) == (0x02, 0xA1, 0x0000, 0x0001)
    assert u16be(p, 123) == n - 125 and p[125] == 0  # property count includes the start code
    return {
        "cid": p[22:38],
        "source": p[44:108].rstrip(b"\x00").decode(),
        "priority": p[108],
        "sync_address": u16be(p, 109),
        "sequence": p[111],
        "options": p[112],
        "universe": u16be(p, 113),
        "data": p[126:],
    }


def read_e131_sync(p):
    assert len(p) == 49
    assert u16be(p, 0) == 0x0010 and u16be(p, 2) == 0 and p[4:16] == b"ASC-E1.17\x00\x00\x00"
    flags_length(p, 16, 33)
    assert int.from_bytes(p[18:22], "big") == 0x00000008  # extended root vector
    flags_length(p, 38, 11)
    assert int.from_bytes(p[40:44], "big") == 0x00000001  # synchronisation
    assert u16be(p, 47) == 0  # reserved
    return {"cid": p[22:38], "sequence": p[44], "sync_address": u16be(p, 45)}


# ---- Art-Net ---------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "net,subnet,universe,address",
    [(0, 0, 0, 0), (0, 0, 1, 1), (0, 1, 0, 16), (1, 0, 0, 256), (127, 15, 15, 0x7FFF), (3, 10, 5, 0x3A5)],
)
def test_port_address_fields(net, subnet, universe, address):
    assert artnet.port_address(net, subnet, universe) == address
    assert artnet.split_port_address(address) == (net, subnet, universe)
    got = read_artdmx(artnet.encode_dmx(7, address, bytes(range(24))))
    assert (got["net"], got["subnet"], got["universe"], got["sequence"], got["physical"]) == (
        net,
        subnet,
        universe,
        7,
        0,
    )


@pytest.mark.parametrize("bad", [(128, 0, 0), (0, 16, 0), (0, 0, 16), (-1, 0, 0), (0, True, 0), (0, 0, 1.0)])
def test_port_address_out_of_range(bad):
    with pytest.raises(ValueError):
        artnet.port_address(*bad)


@pytest.mark.parametrize("slots,length", [(1, 2), (2, 2), (3, 4), (511, 512), (512, 512)])
def test_artdmx_length_is_even_and_padded_with_zero(slots, length):
    data = bytes((i * 7 + 1) & 0xFF or 1 for i in range(slots))
    got = read_artdmx(artnet.encode_dmx(1, 0x21, data, physical=2))
    assert len(got["data"]) == length and got["data"][:slots] == data and got["data"][slots:] in (b"", b"\x00")
    assert got["physical"] == 2


@pytest.mark.parametrize("args", [(0, 1, b""), (0, 1, bytes(513)), (256, 1, b"\x00\x00"), (1, 0x8000, b"\x00\x00")])
def test_artdmx_refuses_what_it_cannot_carry(args):
    with pytest.raises(ValueError):
        artnet.encode_dmx(*args)


def test_artsync_and_artpoll_layouts():
    assert read_artsync(artnet.encode_sync())
    poll = artnet.encode_poll()
    assert len(poll) == 22
    assert read_artpoll(poll) == {
        "flags": 0,
        "diag_priority": 0,
        "target_top": 0,
        "target_bottom": 0,
        "esta": 0,
        "oem": 0,
    }


def make_poll_reply(ip="127.0.0.1", short="Node A", long="A four-port node", ports=4, size=239):
    """An ArtPollReply as a node lays it out."""
    p = bytearray(size)
    p[0:8] = ARTNET_ID
    p[8:10] = (0x2100).to_bytes(2, "little")
    p[10:14] = socket.inet_aton(ip)
    p[14:16] = (6454).to_bytes(2, "little")
    p[16], p[17] = 1, 2  # firmware 0x0102
    p[18], p[19] = 0x03, 0x0A  # net 3, sub-net 10
    p[20], p[21] = 0x12, 0x34  # OEM
    p[22], p[23] = 5, 0xD2  # UBEA version, Status1
    p[24], p[25] = 0x4C, 0x41  # ESTA code, low byte first: 0x414C
    p[26 : 26 + len(short)] = short.encode()
    p[44 : 44 + len(long)] = long.encode()
    p[108:120] = b"#0001 [0005]"
    p[172], p[173] = 0, ports
    p[174:178] = bytes((0x80, 0x80, 0x40, 0xC0))  # ports 0, 1 and 3 output DMX
    p[178:182] = bytes((0, 0, 0x80, 0))
    p[182:186] = bytes((0x80, 0x80, 0, 0x82))
    p[186:190] = bytes((4, 5, 6, 7))
    p[190:194] = bytes((0, 1, 2, 3))
    p[194], p[195], p[196] = 100, 1, 2
    p[200] = 0x00  # StNode
    p[201:207] = bytes((2, 0, 0, 0, 0, 9))
    if size >= 213:
        p[207:211] = socket.inet_aton("127.0.0.2")
        p[211], p[212] = 1, 0x0E
    if size >= 224:
        p[213:217] = bytes((0xC0, 0xC0, 0, 0xC0))
        p[217] = 0x08
        p[218:224] = bytes((0x41, 0x4C, 0, 0, 0, 1))
    if size >= 228:
        p[224:226] = (513).to_bytes(2, "big")
        p[226:228] = (44).to_bytes(2, "big")
    return bytes(p)


@pytest.mark.parametrize("size", [207, 213, 224, 239])
def test_poll_reply_decoding(size):
    r = artnet.decode_poll_reply(make_poll_reply(size=size))
    assert (r.ip, r.port, r.version, r.net_switch, r.sub_switch, r.oem) == ("127.0.0.1", 6454, 0x0102, 3, 10, 0x1234)
    assert (r.ubea_version, r.status1, r.esta_manufacturer) == (5, 0xD2, 0x414C)
    assert (r.short_name, r.long_name, r.node_report) == ("Node A", "A four-port node", "#0001 [0005]")
    assert (r.num_ports, r.port_types, r.sw_in, r.sw_out) == (
        4,
        bytes((0x80, 0x80, 0x40, 0xC0)),
        bytes((4, 5, 6, 7)),
        bytes((0, 1, 2, 3)),
    )
    assert (r.good_input, r.good_output_a) == (bytes((0, 0, 0x80, 0)), bytes((0x80, 0x80, 0, 0x82)))
    assert (r.acn_priority, r.sw_macro, r.sw_remote, r.style, r.mac) == (100, 1, 2, 0, bytes((2, 0, 0, 0, 0, 9)))
    assert r.output_addresses() == [0x3A0, 0x3A1, 0x3A3]
    assert (r.bind_ip, r.bind_index, r.status2) == (("127.0.0.2", 1, 0x0E) if size >= 213 else (None,) * 3)
    assert r.refresh_rate == (44 if size >= 228 else None) and r.user == (513 if size >= 228 else None)
    assert "3:10:0 3:10:1 3:10:3" in r.describe("127.0.0.1")


@pytest.mark.parametrize(
    "packet", [make_poll_reply()[:206], artnet.encode_poll() + bytes(220), b"Art-Nex\x00" + make_poll_reply()[8:]]
)
def test_poll_reply_refuses_other_packets(packet):
    with pytest.raises(ValueError):
        artnet.decode_poll_reply(packet)


class FakeNode:
    """Answers ArtPoll on 127.0.0.1 with a reply (sent twice, as after a change of state),
    after a packet that is not Art-Net and a truncated reply."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(5)
        self.port = self.sock.getsockname()[1]
        self.polls = []
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        try:
            packet, sender = self.sock.recvfrom(2048)
        except OSError:
            return
        self.polls.append(packet)
        for reply in (b"hello", make_poll_reply()[:100], make_poll_reply(), make_poll_reply()):
            self.sock.sendto(reply, sender)

    def close(self):
        self.thread.join(5)
        self.sock.close()


def test_discover_lists_each_node_once():
    node = FakeNode()
    try:
        found = artnet.discover("127.0.0.1", timeout=0.5, port=node.port, listen=("127.0.0.1", 0))
    finally:
        node.close()
    assert [read_artpoll(p)["flags"] for p in node.polls] == [0]
    assert [(sender, r.short_name) for sender, r in found] == [("127.0.0.1", "Node A")]


@pytest.mark.parametrize("address", ["0.0.0.0", "255.255.255.255", "239.255.0.1", "no-such-host.invalid"])
def test_discover_polls_only_a_host_or_subnet(address):
    with pytest.raises(ValueError):
        artnet.check_poll_target(address)


def test_port_sequence_skips_zero_and_wraps():
    port = artnet.Port(0x12, 5)
    seqs = []
    for i in range(600):
        port.data[0] = i & 0xFF
        seqs.append(read_artdmx(port.packet(i * 10.0))["sequence"])
    assert seqs[:3] == [1, 2, 3] and seqs[254:257] == [255, 1, 2] and 0 not in seqs


@pytest.mark.parametrize("frame_s", [0.005, 1 / 44, 0.030])
def test_port_sends_changes_at_most_44_times_a_second_and_keeps_unchanged_data_alive(frame_s):
    port = artnet.Port(1, 512)
    sent = []
    t = 100.0
    while t < 103.0:  # changing data
        port.data[0] = int(t * 1000) & 0xFF
        if port.due(t):
            port.packet(t)
            sent.append(t)
        t += frame_s
    for start in sent:
        assert sum(1 for s in sent if start <= s < start + 1.0) <= artnet.MAX_FPS
    assert len(sent) >= min(3.0 / frame_s, 3 * artnet.MAX_FPS) * 0.9
    quiet = []
    while t < 106.0:  # unchanged data
        if port.due(t):
            port.packet(t)
            quiet.append(t)
        t += frame_s
    # the first may still be a change the rate held back; then one keep-alive per interval
    gaps = [b - a for a, b in zip(quiet, quiet[1:])]
    assert quiet[0] - sent[-1] < 1.0 and len(gaps) >= 2
    assert max(gaps) < 1.0 and min(gaps) >= artnet.KEEPALIVE_S


# ---- E1.31 synchronisation ----------------------------------------------------------------


@pytest.mark.parametrize("sync_address", [0, 1, 7, 63999])
def test_e131_data_carries_the_sync_address(sync_address):
    data = os.urandom(37)
    p = e131.encode(CID, "kinetra show", 150, 300, 4242, data, e131.OPTION_PREVIEW, sync_address=sync_address)
    assert read_e131_data(p) == {
        "cid": CID,
        "source": "kinetra show",
        "priority": 150,
        "sync_address": sync_address,
        "sequence": 300 & 0xFF,
        "options": e131.OPTION_PREVIEW,
        "universe": 4242,
        "data": data,
    }
    if sync_address == 0:  # unchanged for callers that do not ask
        assert p == e131.encode(CID, "kinetra show", 150, 300, 4242, data, e131.OPTION_PREVIEW)


@pytest.mark.parametrize("sequence,sync_address", [(0, 1), (255, 9), (256 + 17, 63999)])
def test_e131_sync_packet(sequence, sync_address):
    assert read_e131_sync(e131.encode_sync(CID, sequence, sync_address)) == {
        "cid": CID,
        "sequence": sequence & 0xFF,
        "sync_address": sync_address,
    }


@pytest.mark.parametrize(
    "call",
    [
        lambda: e131.encode_sync(CID, 1, 0),
        lambda: e131.encode_sync(CID, 1, 64000),
        lambda: e131.encode_sync(CID[:15], 1, 1),
        lambda: e131.encode(CID, "x", 100, 1, 1, b"\x00", sync_address=64000),
    ],
)
def test_e131_sync_refusals(call):
    with pytest.raises(ValueError):
        call()
