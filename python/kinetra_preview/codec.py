"""Compact encoding of a pattern's full table for the page.

The page needs every pip of a pattern only when its large view opens, so the
tables travel compressed and are decoded on demand in the browser:

1. each component is quantised to an integer step of 1 / QUANT_SCALE
   (the decoded value is within HALF_STEP of the library's value);
2. one leading byte flags the axes that move (bit 0 x, bit 1 y, bit 2 z);
   an axis whose quantised values are all zero is left out;
3. each present axis, x then y then z, follows as second differences of its
   quantised values (the differences of the differences between neighbouring
   values, both taken from 0 before the first pip), each as a zig-zag LEB128
   varint: smooth motion turns into runs of small numbers that compress well;
4. the bytes are compressed with raw DEFLATE and written as base64.

The browser inflates with its built-in DecompressionStream("deflate-raw").
"""

from __future__ import annotations

import base64
import math
import zlib

QUANT_SCALE = 32767
HALF_STEP = 0.5 / QUANT_SCALE


def _put_varint(out: bytearray, value: int) -> None:
    z = (value << 1) if value >= 0 else ((-value << 1) - 1)  # zig-zag
    while z >= 0x80:
        out.append((z & 0x7F) | 0x80)
        z >>= 7
    out.append(z)


def _get_varint(data: bytes, pos: int) -> tuple[int, int]:
    shift = 0
    z = 0
    while True:
        b = data[pos]
        pos += 1
        z |= (b & 0x7F) << shift
        if b < 0x80:
            break
        shift += 7
    value = (z >> 1) if not (z & 1) else -((z + 1) >> 1)
    return value, pos


def pack_table(rows) -> bytes:
    """Uncompressed byte form of a table of (x, y, z) rows."""
    floor, isfinite, scale = math.floor, math.isfinite, QUANT_SCALE
    columns = []
    for a in range(3):
        col = [r[a] for r in rows]
        if not all(map(isfinite, col)):
            raise ValueError("cannot encode a non-finite component")
        columns.append([int(floor(v * scale + 0.5)) for v in col])
    mask = 0
    for a in range(3):
        if any(columns[a]):
            mask |= 1 << a
    out = bytearray([mask])
    append = out.append
    for a in range(3):
        if mask & (1 << a):
            prev = prev_step = 0
            for q in columns[a]:
                step = q - prev
                d = step - prev_step
                prev, prev_step = q, step
                z = (d << 1) if d >= 0 else ((-d << 1) - 1)  # zig-zag
                if z < 0x80:
                    append(z)
                else:
                    _put_varint(out, d)
    return bytes(out)


def unpack_table(data: bytes, period: int) -> list[tuple[float, float, float]]:
    mask = data[0]
    pos = 1
    columns = []
    for a in range(3):
        if mask & (1 << a):
            col = []
            acc = step = 0
            for _ in range(period):
                d, pos = _get_varint(data, pos)
                step += d
                acc += step
                col.append(acc / QUANT_SCALE)
            columns.append(col)
        else:
            columns.append([0.0] * period)
    if pos != len(data):
        raise ValueError("table bytes do not match the period")
    return list(zip(columns[0], columns[1], columns[2]))


def encode_table(rows) -> str:
    """Compressed base64 text of a table, as embedded in the page."""
    comp = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    raw = comp.compress(pack_table(rows)) + comp.flush()
    return base64.b64encode(raw).decode("ascii")


def decode_table(text: str, period: int) -> list[tuple[float, float, float]]:
    return unpack_table(zlib.decompress(base64.b64decode(text), -15), period)
