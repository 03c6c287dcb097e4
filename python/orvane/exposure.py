"""Shipping exposures: `ExposureLog` deduplicates the exposure events of decisions and
hands one record per new exposure to a sink; `JsonLinesFile` is a rotating JSON-lines file
sink. Neither ever raises into the request: sink failures are reported through logging."""

from __future__ import annotations

import atexit
import collections
import json
import logging
import os
import threading
import time
import weakref
from collections.abc import Callable
from typing import Any

from . import _native
from .events import event_documents

__all__ = ["ExposureLog", "JsonLinesFile"]

log = logging.getLogger("orvane.exposure")

Record = dict[str, Any]

_SEPARATOR = "::::"


def _exposure_fields(text: str, document: str) -> tuple[str, str, str]:
    """(feature, variant, identifier) of one event."""
    # The compact text does not escape its separator, so split it only when no field can
    # have held one: exactly ten parts, none starting with a colon (a field that ends in
    # one shifts it to the next part). Otherwise read the document, which is exact.
    parts = text.split(_SEPARATOR)
    if len(parts) == 10 and not any(part.startswith(":") for part in parts):
        return parts[2], parts[4], parts[5]
    experiment = json.loads(document)["129"]["rec"]
    return experiment["2"]["str"], experiment["4"]["str"], experiment["9"]["str"]


class ExposureLog:
    """Writes each new exposure of the decisions it is given to `sink`, once per window.

    An exposure is new when the same user (the context's user_id), identifier, feature and
    variant were not written in the last `window_seconds`; at most `max_keys` of them are
    remembered (the oldest are forgotten first, so a busy log may write an exposure again
    early, but never loses one). `sink` is a function receiving one record per call, a
    dict with "user", "identifier", "feature", "variant", "event" (the compact text) and
    "document" (the Thrift-JSON document), or a path, for a `JsonLinesFile` there.

    A failing sink is reported through the `orvane.exposure` logger (once, then a count of
    the records lost), never raised. Sinks with a `flush()` are flushed by `flush()` and
    when the process exits normally.
    """

    def __init__(self, sink: Callable[[Record], object] | str | os.PathLike[str], *,
                 window_seconds: float = 3600, max_keys: int = 100_000) -> None:
        if isinstance(sink, (str, os.PathLike)):
            sink = JsonLinesFile(sink)
        if not callable(sink):
            raise TypeError(f"argument 'sink': expected a function or a path, not "
                            f"{type(sink).__name__}")
        if not window_seconds >= 0:
            raise ValueError(f"argument 'window_seconds': must not be negative, not {window_seconds!r}")
        if not (isinstance(max_keys, int) and max_keys > 0):
            raise ValueError(f"argument 'max_keys': must be a positive int, not {max_keys!r}")
        self.sink = sink
        self.window_seconds = float(window_seconds)
        self.max_keys = max_keys
        # key -> the moment it may be written again; insertion order is expiry order,
        # since every key gets the same window.
        self._seen: collections.OrderedDict[tuple[Any, ...], float] = collections.OrderedDict()
        self._seen_lock = threading.Lock()
        self._sink_lock = threading.Lock()
        self._failing = False
        self._lost = 0
        self._lost_reported_at = 0.0
        _live.add(self)

    @property
    def tracked(self) -> int:
        """How many exposures are remembered for deduplication."""
        return len(self._seen)

    def log(self, decision: Any, ctx: Any) -> int:
        """Writes the new exposures among `decision`'s events (of a request made with
        `ctx`, the PyContext) and returns how many it wrote. Never raises for a failing
        sink."""
        texts = decision.events()
        if not texts:
            return 0
        documents = event_documents(decision)
        user = _native.context_value(ctx, "user_id")
        now = time.monotonic()
        fresh = []
        with self._seen_lock:
            seen = self._seen
            while seen and next(iter(seen.values())) <= now:
                seen.popitem(last=False)
            for text, document in zip(texts, documents):
                feature, variant, identifier = _exposure_fields(text, document)
                key = (user, identifier, feature, variant)
                if key in seen:
                    continue
                seen[key] = now + self.window_seconds
                if len(seen) > self.max_keys:
                    seen.popitem(last=False)
                fresh.append({"user": user, "identifier": identifier, "feature": feature,
                              "variant": variant, "event": text, "document": document})
        written = 0
        with self._sink_lock:
            for record in fresh:
                try:
                    self.sink(record)
                    written += 1
                except Exception as exc:
                    self._failed(exc)
            if written and self._failing:
                self._recovered()
        return written

    def flush(self) -> None:
        """Makes the sink write out what it holds (for sinks with a flush method)."""
        flush = getattr(self.sink, "flush", None)
        if flush is None:
            return
        with self._sink_lock:
            try:
                flush()
            except Exception as exc:
                self._failed(exc, lost=0)

    def _failed(self, exc: Exception, lost: int = 1) -> None:
        self._lost += lost
        now = time.monotonic()
        if not self._failing:
            self._failing = True
            self._lost_reported_at = now
            log.error("exposure sink %r failed: %s: %s", self.sink, type(exc).__name__, exc)
        elif now - self._lost_reported_at >= 60:
            self._lost_reported_at = now
            log.error("exposure sink %r still failing (%s: %s); %d records lost so far",
                      self.sink, type(exc).__name__, exc, self._lost)

    def _recovered(self) -> None:
        log.warning("exposure sink %r works again; %d records were lost", self.sink, self._lost)
        self._failing = False
        self._lost = 0

    def _after_fork_in_child(self) -> None:
        self._seen_lock = threading.Lock()
        self._sink_lock = threading.Lock()


class JsonLinesFile:
    """A sink writing one JSON object per line to `path`, rotated by size: when a write
    would take the file past `max_bytes`, it becomes `path.1` (the older ones `path.2` and
    so on, up to `backups`) and a new file is started.

    Lines are buffered and written together when `buffer_bytes` are held, when
    `flush_seconds` have passed since the last write, on `flush()`, before os.fork() and
    at exit. While the file cannot be written (a full disk), lines are held, up to
    `max_pending_bytes`; past that a record is refused with OSError. Several processes may
    append to one file; `{pid}` in the path gives each process a file of its own (a forked
    worker opens its own).
    """

    def __init__(self, path: str | os.PathLike[str], *, max_bytes: int = 64 * 2**20,
                 backups: int = 5, buffer_bytes: int = 64 * 2**10,
                 flush_seconds: float = 1.0, max_pending_bytes: int = 16 * 2**20) -> None:
        # Absolute, so that a later change of working directory moves nothing.
        self.path = os.path.abspath(os.fspath(path))
        self.max_bytes = max_bytes
        self.backups = backups
        self.buffer_bytes = buffer_bytes
        self.flush_seconds = flush_seconds
        self.max_pending_bytes = max_pending_bytes
        self._lock = threading.Lock()
        self._pending: list[bytes] = []
        self._pending_bytes = 0
        self._mid_line = False  # the file ends in a line whose rest is pending
        self._flushed_at = time.monotonic()
        self._failing = False
        self._fd: int | None = None
        self._opened_path: str | None = None
        _live_files.add(self)

    def __repr__(self) -> str:
        return f"JsonLinesFile({self.path!r})"

    def current_path(self) -> str:
        """The file written now: the path with `{pid}` replaced by this process's id."""
        return self.path.replace("{pid}", str(os.getpid()))

    def __call__(self, record: Record) -> None:
        line = (json.dumps(record, ensure_ascii=False, separators=(",", ":")) + "\n").encode()
        with self._lock:
            if self._pending_bytes + len(line) > self.max_pending_bytes:
                self._write_pending()  # raises while the file still refuses: record refused
            self._pending.append(line)
            self._pending_bytes += len(line)
            if (self._pending_bytes >= self.buffer_bytes
                    or time.monotonic() - self._flushed_at >= self.flush_seconds):
                try:
                    self._write_pending()
                except OSError:
                    pass  # the record is held; the failure is logged once

    def flush(self) -> None:
        """Writes out the buffered lines; OSError when the file cannot take them (they are
        kept for the next try)."""
        with self._lock:
            self._write_pending()

    def close(self) -> None:
        """Flushes and closes the file (a later record opens it again)."""
        with self._lock:
            self._write_pending()
            self._close()

    def _write_pending(self) -> None:
        self._flushed_at = time.monotonic()
        if not self._pending:
            return
        data = b"".join(self._pending)
        view = memoryview(data)
        try:
            fd = self._file_for(len(data))
            while view:
                view = view[os.write(fd, view):]
        except OSError as exc:
            if not self._failing:
                self._failing = True
                log.error("%r cannot be written, holding exposures: %s", self, exc)
            raise
        finally:
            # Only the bytes not written stay, so nothing reaches the file twice; when a
            # line was cut short, its rest goes to the same file before anything else.
            rest = bytes(view)
            self._mid_line = bool(rest) and len(rest) < len(data) and data[-len(rest) - 1] != 10
            self._pending = [rest] if rest else []
            self._pending_bytes = len(rest)
        if self._failing:
            self._failing = False
            log.warning("%r is written again", self)

    def _file_for(self, incoming: int) -> int:
        path = self.current_path()
        if self._fd is not None and not self._mid_line:
            try:
                moved = path != self._opened_path or os.stat(path).st_ino != os.fstat(self._fd).st_ino
            except FileNotFoundError:
                moved = True  # rotated away (by another process, or by hand)
            if moved:
                self._close()
        if self._fd is None:
            self._open(path)
        assert self._fd is not None
        size = os.fstat(self._fd).st_size
        if not self._mid_line and size > 0 and size + incoming > self.max_bytes:
            self._rotate(path)
        return self._fd

    def _open(self, path: str) -> None:
        self._fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_CLOEXEC, 0o644)
        self._opened_path = path

    def _rotate(self, path: str) -> None:
        self._close()
        if self.backups > 0:
            for n in range(self.backups - 1, 0, -1):
                if os.path.exists(f"{path}.{n}"):
                    os.replace(f"{path}.{n}", f"{path}.{n + 1}")
            os.replace(path, f"{path}.1")
        else:
            os.unlink(path)
        self._open(path)

    def _close(self) -> None:
        if self._fd is not None:
            fd, self._fd = self._fd, None
            os.close(fd)

    def _before_fork(self) -> None:
        # What is pending now belongs to this process; a child must not write it again.
        try:
            self.flush()
        except OSError:
            pass

    def _after_fork_in_child(self) -> None:
        self._lock = threading.Lock()
        self._pending = []
        self._pending_bytes = 0
        self._mid_line = False


_live: weakref.WeakSet[ExposureLog] = weakref.WeakSet()
_live_files: weakref.WeakSet[JsonLinesFile] = weakref.WeakSet()


def _before_fork() -> None:
    for sink in list(_live_files):
        sink._before_fork()


def _after_fork_in_child() -> None:
    for exposures in list(_live):
        exposures._after_fork_in_child()
    for sink in list(_live_files):
        sink._after_fork_in_child()


def _flush_all() -> None:
    for exposures in list(_live):
        exposures.flush()
    for sink in list(_live_files):
        try:
            sink.flush()
        except OSError as exc:
            log.error("%r: %d bytes of exposures not written at exit: %s", sink,
                      sink._pending_bytes, exc)


os.register_at_fork(before=_before_fork, after_in_child=_after_fork_in_child)
atexit.register(_flush_all)
