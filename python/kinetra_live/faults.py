"""Riding out faults around the frame loop: a tempo source that raises is restarted (and
disabled when it keeps failing) while the show plays on at the tempo it had; the frame log
goes to the disk from a thread of its own through a bounded queue, so a slow disk costs
dropped lines (counted), never a frame."""

from __future__ import annotations

import collections
import logging
import threading

from .tempo.base import TempoSource

logger = logging.getLogger("kinetra_live")

# A tempo source that fails more often than this is replaced by a steady tempo.
MAX_RESTARTS = 3
# Frame-log lines waiting for the disk beyond this many are dropped (about four seconds).
LOG_QUEUE_LINES = 160


class GuardedTempo:
    """A tempo source whose every call the frame loop makes is caught: the first error is
    logged with its traceback, the source is made anew (at most MAX_RESTARTS times), then
    left for a steady tempo at the clock's last BPM and phase. Other attributes are the
    source's own."""

    def __init__(self, make, tempo, clock, now: float):
        self._make = make  # () -> a new source
        self._tempo, self._clock = tempo, clock
        self.source = make()
        self.failures = 0
        self.note = ""

    def __getattr__(self, name):
        try:
            source = self.__dict__["source"]
        except KeyError:
            raise AttributeError(name) from None
        return getattr(source, name)

    def _failed(self, what: str, now: float) -> None:
        self.failures += 1
        name = getattr(self.source, "name", "?")
        if self.failures == 1:
            logger.exception("tempo source %s: %s failed; the show goes on", name, what)
        try:
            self.source.close()
        except Exception:  # noqa: BLE001 - a broken source may not close either
            pass
        if self.failures <= MAX_RESTARTS:
            try:
                self.source = self._make()
                self.note = f"tempo source {name} restarted after {self.failures} error(s)"
                logger.warning("%s", self.note)
                return
            except Exception as exc:  # noqa: BLE001
                reason = str(exc)[:120]
        else:
            reason = f"{self.failures} errors"
        self.source = TempoSource(self._tempo, self._clock, now, {})
        self.source.manual_tempo = False  # nothing kept: the source is gone, not the grid it had
        self.note = f"tempo source {name} off ({reason}): steady at the last tempo"
        logger.warning("%s", self.note)

    def update(self, clock, now: float) -> None:
        try:
            self.source.update(clock, now)
        except Exception:  # noqa: BLE001 - the lights go on at the tempo they have
            self._failed("update", now)

    def command(self, name: str, arg, clock, now: float) -> bool:
        try:
            return self.source.command(name, arg, clock, now)
        except Exception:  # noqa: BLE001
            self._failed(f"command {name!r}", now)
            return False

    def status(self) -> str:
        try:
            said = self.source.status()
        except Exception:  # noqa: BLE001
            said = ""
        return "; ".join(p for p in (said, self.note) if p)

    def saved_grid(self, clock):
        try:
            return self.source.saved_grid(clock)
        except Exception:  # noqa: BLE001
            return None

    def resume_grid(self, clock, bpm: float, beat0: float, now: float) -> bool:
        try:
            return self.source.resume_grid(clock, bpm, beat0, now)
        except Exception:  # noqa: BLE001
            return False

    def close(self) -> None:
        self.source.close()


class FrameLog:
    """The frame log's writer thread. `write` never waits: when LOG_QUEUE_LINES lines are
    already waiting, the line is dropped and counted. A write that fails (a full disk) is
    kept in `error` for the frame loop to report; nothing more is written after it."""

    def __init__(self, stream, limit: int = LOG_QUEUE_LINES):
        self.stream = stream
        self.limit = limit
        self.lines: collections.deque = collections.deque()
        self.dropped = 0
        self.error: OSError | None = None
        self._cv = threading.Condition()
        self._closing = False
        self._busy = False
        self.thread = threading.Thread(target=self._run, name="kinetra-frame-log", daemon=True)
        self.thread.start()

    def write(self, line: str) -> None:
        with self._cv:
            if len(self.lines) >= self.limit:
                self.dropped += 1
                return
            self.lines.append(line)
            self._cv.notify()

    def _run(self) -> None:
        while True:
            with self._cv:
                while not self.lines and not self._closing:
                    self._cv.wait()
                if not self.lines:
                    return
                batch = list(self.lines)
                self.lines.clear()
                self._busy = True
            try:
                if self.error is None:
                    self.stream.write("".join(batch))
            except (OSError, ValueError) as exc:
                self.error = exc if isinstance(exc, OSError) else OSError(str(exc))
            finally:
                with self._cv:
                    self._busy = False
                    self._cv.notify_all()

    def flush(self, timeout: float = 5.0) -> None:
        """Waits (at most `timeout` seconds) until what was written reached the stream."""
        with self._cv:
            self._cv.wait_for(lambda: not self.lines and not self._busy, timeout)
        if self.error is None:
            try:
                self.stream.flush()
            except (OSError, ValueError) as exc:
                self.error = exc if isinstance(exc, OSError) else OSError(str(exc))

    def close(self, timeout: float = 5.0) -> None:
        with self._cv:
            self._closing = True
            self._cv.notify_all()
        self.thread.join(timeout)
