"""Deterministic numbers from SHA-256 digests of text keys: no random state, so every table
is a pure function of its keys and identical on every run."""

import hashlib
from typing import List


def hashed_fractions(key: str, count: int) -> List[float]:
    """count (at most 4) numbers in [0, 1) from the SHA-256 digest of the UTF-8 key:
    consecutive big-endian 64-bit words of the digest divided by 2**64."""
    if not 0 < count <= 4:
        raise ValueError("a SHA-256 digest holds four 64-bit words")
    digest = hashlib.sha256(key.encode("utf-8")).digest()
    return [int.from_bytes(digest[8 * k : 8 * k + 8], "big") / 2.0**64 for k in range(count)]


def signed_hash(key: str) -> float:
    """One number in [-1, 1] from the key: the first 64-bit word u of its SHA-256 digest as
    u / 2**63 - 1."""
    u = int.from_bytes(hashlib.sha256(key.encode("utf-8")).digest()[:8], "big")
    return u / 2**63 - 1.0
