"""A small E1.31 (streaming DMX over UDP) encoder: data packets, one per universe
(optionally naming a synchronisation address), and universe synchronisation packets."""

from __future__ import annotations

import struct

ACN_IDENTIFIER = b"ASC-E1.17\x00\x00\x00"
VECTOR_ROOT_E131_DATA = 0x00000004
VECTOR_ROOT_E131_EXTENDED = 0x00000008
VECTOR_E131_DATA_PACKET = 0x00000002
VECTOR_E131_EXTENDED_SYNCHRONIZATION = 0x00000001
VECTOR_DMP_SET_PROPERTY = 0x02
OPTION_PREVIEW = 0x80
OPTION_STREAM_TERMINATED = 0x40
HEADER_SIZE = 126  # bytes before the first DMX slot
SYNC_PACKET_SIZE = 49
MAX_UNIVERSE = 63999


def multicast_group(universe: int) -> str:
    return f"239.255.{universe >> 8}.{universe & 0xFF}"


def encode(
    cid: bytes,
    source_name: str,
    priority: int,
    sequence: int,
    universe: int,
    data: bytes,
    options: int = 0,
    sync_address: int = 0,
) -> bytes:
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
    return b"".join(
        (
            # root layer
            struct.pack(
                ">HH12sHI16s", 0x0010, 0x0000, ACN_IDENTIFIER, 0x7000 | (total - 16), VECTOR_ROOT_E131_DATA, cid
            ),
            # framing layer
            struct.pack(
                ">HI64sBHBBH",
                0x7000 | (total - 38),
                VECTOR_E131_DATA_PACKET,
                name.ljust(64, b"\x00"),
                priority,
                sync_address,
                sequence & 0xFF,
                options,
                universe,
            ),
            # DMP layer
            struct.pack(
                ">HBBHHHB", 0x7000 | (total - 115), VECTOR_DMP_SET_PROPERTY, 0xA1, 0x0000, 0x0001, len(data) + 1, 0x00
            ),
            data,
        )
    )


def encode_sync(cid: bytes, sequence: int, sync_address: int) -> bytes:
    """One universe synchronisation packet: receivers holding data for `sync_address`
    show it now. Its sequence number counts apart from the data packets'."""
    if len(cid) != 16:
        raise ValueError("the CID is 16 bytes")
    if not 1 <= sync_address <= MAX_UNIVERSE:
        raise ValueError(f"the synchronisation address is a universe 1 to {MAX_UNIVERSE}")
    return b"".join(
        (
            struct.pack(
                ">HH12sHI16s",
                0x0010,
                0x0000,
                ACN_IDENTIFIER,
                0x7000 | (SYNC_PACKET_SIZE - 16),
                VECTOR_ROOT_E131_EXTENDED,
                cid,
            ),
            struct.pack(
                ">HIBHH",
                0x7000 | (SYNC_PACKET_SIZE - 38),
                VECTOR_E131_EXTENDED_SYNCHRONIZATION,
                sequence & 0xFF,
                sync_address,
                0x0000,
            ),
        )
    )
