"""A small E1.31 (streaming DMX over UDP) encoder: data packets, one per universe."""

from __future__ import annotations

import struct

ACN_IDENTIFIER = b"ASC-E1.17\x00\x00\x00"
VECTOR_ROOT_E131_DATA = 0x00000004
VECTOR_E131_DATA_PACKET = 0x00000002
VECTOR_DMP_SET_PROPERTY = 0x02
OPTION_PREVIEW = 0x80
OPTION_STREAM_TERMINATED = 0x40
HEADER_SIZE = 126               # bytes before the first DMX slot


def multicast_group(universe: int) -> str:
    return f"239.255.{universe >> 8}.{universe & 0xFF}"


def encode(cid: bytes, source_name: str, priority: int, sequence: int, universe: int,
           data: bytes, options: int = 0) -> bytes:
    """One E1.31 data packet carrying start code 0 and the given DMX slots (1 to 512)."""
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
                    name.ljust(64, b"\x00"), priority, 0, sequence & 0xFF, options, universe),
        # DMP layer
        struct.pack(">HBBHHHB", 0x7000 | (total - 115), VECTOR_DMP_SET_PROPERTY, 0xA1,
                    0x0000, 0x0001, len(data) + 1, 0x00),
        data,
    ))
