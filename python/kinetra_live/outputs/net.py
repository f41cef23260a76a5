"""What the network outputs share when the network goes away (an interface down, a
Wi-Fi that drops, "network is unreachable" or "no buffer space" from the kernel): the
output counts its errors and keeps trying every frame, the other outputs are not held up,
and while it fails a thread of its own resolves its host names again and sets its
multicast interface again, so it comes back by itself when the network does."""

from __future__ import annotations

import ipaddress
import logging
import socket
import threading
import time

logger = logging.getLogger("kinetra_live")

# While an output fails, its names are resolved again this often (seconds).
REPAIR_S = 1.0


def resolve(names, fallback: tuple[str, ...]) -> tuple[str, ...]:
    """The IPv4 addresses of `names` now, in order; a name that does not resolve keeps the
    address it had (`fallback`, index for index)."""
    out = []
    for k, name in enumerate(names):
        try:
            addr = str(ipaddress.IPv4Address(socket.getaddrinfo(name, None, socket.AF_INET)[0][4][0]))
        except (OSError, UnicodeError, IndexError, ValueError):
            addr = fallback[k] if k < len(fallback) else None
        if addr is not None and addr not in out:
            out.append(addr)
    return tuple(out) or tuple(fallback)


class Health:
    """One output's errors over time. `frame(now, errors)` after each flush; `repair()`
    runs from a thread while the output fails (never from the frame loop)."""

    def __init__(self, name: str, repair=None, clock=time.monotonic):
        self.name = name
        self.repair = repair
        self.clock = clock
        self.errors = 0
        self.last_error = ""
        self.failing_since: float | None = None
        self.outages = 0
        self.last_outage_s = 0.0
        self.repairs = 0
        self._seen = 0
        self._thread: threading.Thread | None = None

    def failed(self, where: str, exc: OSError) -> None:
        self.errors += 1
        self.last_error = f"{where}: {exc.strerror or exc}"

    def frame(self, now: float, sent: bool) -> None:
        """After a flush: `sent` whether anything was sent."""
        if self.errors != self._seen:
            self._seen = self.errors
            if self.failing_since is None:
                self.failing_since = now
                self.outages += 1
                logger.warning("output %s: %s; the other outputs go on", self.name, self.last_error)
                if self.repair is not None and (self._thread is None or not self._thread.is_alive()):
                    self._thread = threading.Thread(target=self._repairing, name="kinetra-repair", daemon=True)
                    self._thread.start()
        elif sent and self.failing_since is not None:
            self.last_outage_s = now - self.failing_since
            self.failing_since = None
            logger.warning("output %s: sending again after %.1f s", self.name, self.last_outage_s)

    def _repairing(self) -> None:
        while self.failing_since is not None:
            time.sleep(REPAIR_S)
            if self.failing_since is None:
                return
            try:
                self.repair()
                self.repairs += 1
            except Exception:  # noqa: BLE001 - the next round tries again
                pass

    def status(self, now: float | None = None) -> str:
        if not self.errors:
            return ""
        if self.failing_since is not None:
            now = self.clock() if now is None else now
            return (
                f"{self.name}: {self.errors} send errors, failing for {max(0.0, now - self.failing_since):.0f} s "
                f"({self.last_error})"
            )
        return f"{self.name}: {self.errors} send errors, back after {self.last_outage_s:.1f} s"
