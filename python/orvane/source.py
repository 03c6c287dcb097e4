"""Engines for a service whose configuration changes while it runs.

`load` builds an engine from a configuration held in memory. `EngineSource` holds the last
good engine of a file (or of a function that fetches the configuration) and swaps in a new
one only when the new content loads cleanly; readers always get a complete engine.
"""

from __future__ import annotations

import atexit
import hashlib
import json
import logging
import os
import stat
import tempfile
import threading
import time
import weakref
from collections.abc import Callable, Mapping
from typing import Any, Union

import pyorvane

from . import _native

__all__ = ["EngineSource", "LoadError", "load"]

log = logging.getLogger("orvane.source")

Data = Union[bytes, bytearray, memoryview, str, Mapping[str, Any]]

# A file whose modification time is this close to the moment it was read may be written
# again within the same timestamp tick (Linux stamps files from a coarse clock, some file
# systems keep whole seconds), leaving size and times unchanged. Such a file is read once
# more after this many seconds, whatever its stat says.
_RACY_SECONDS = 2.0


class LoadError(ValueError):
    """The first load of an `EngineSource` failed; the message is the load error text."""


def _as_bytes(data: object, name: str) -> bytes:
    if isinstance(data, bytes):
        return data
    if isinstance(data, (bytearray, memoryview)):
        return bytes(data)
    if isinstance(data, str):
        return data.encode("utf-8")
    if isinstance(data, Mapping):
        return json.dumps(data).encode("utf-8")
    raise TypeError(f"argument '{name}': expected bytes, str or dict, not {type(data).__name__}")


def load(stages: str, data: Data) -> pyorvane.PyOrvane:
    """An engine built from the configuration `data` (bytes, str or a dict), like
    `pyorvane.init(stages, path)` for a file holding the same bytes: a failure is not
    raised but reported by the engine's `err()`, with the same text `init` would give.
    The load runs without the interpreter lock, so other threads go on meanwhile."""
    if not isinstance(stages, str):
        raise TypeError(f"argument 'stages': expected str, not {type(stages).__name__}")
    return _native.load_bytes(stages, _as_bytes(data, "data"))


def _checker(check: object) -> Callable[..., Any] | None:
    if check is False or check is None:
        return None
    if check is True:
        # Imported here, since check loads files through this module.
        from .check import check as check_file

        return check_file
    if callable(check):
        return check
    raise TypeError(f"argument 'check': expected a bool or a function, not {type(check).__name__}")


def _field(finding: Any, name: str) -> Any:
    return finding.get(name) if isinstance(finding, Mapping) else getattr(finding, name, None)


def _check_errors(checker: Callable[..., Any], data: bytes, stages: str, where: str) -> str | None:
    """The text of the errors `checker` finds in `data`, or None when it finds none."""
    # The checker reads a file; give it exactly the bytes about to be loaded, which the
    # watched file may no longer hold.
    with tempfile.TemporaryDirectory(prefix="orvane-check-") as scratch:
        path = os.path.join(scratch, "configuration.json")
        with open(path, "wb") as out:
            out.write(data)
        report = checker(path, stages=stages)
    findings = _field(report, "findings") if not isinstance(report, (list, tuple)) else report
    errors = [f for f in findings or () if _field(f, "severity") == "error"]
    if not errors:
        return None
    shown = []
    for finding in errors[:3]:
        line, column = _field(finding, "line"), _field(finding, "column")
        place = f"{where}:{line}:{column}" if line is not None else where
        shown.append(f"{place}: {_field(finding, 'code')}: {_field(finding, 'message')}")
    more = f" (and {len(errors) - 3} more)" if len(errors) > 3 else ""
    noun = "error" if len(errors) == 1 else "errors"
    return f"orvane.check found {len(errors)} {noun}: " + "; ".join(shown) + more


def _signature(st: os.stat_result) -> tuple[int, ...]:
    # The change time moves on every write and rename, and no one can set it back.
    return (st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)


class EngineSource:
    """Keeps a working engine for a configuration that changes while the service runs.

    `source` is the path of a configuration file, or a function returning the
    configuration (bytes, str or a dict) fetched from elsewhere. The first load must
    succeed (LoadError otherwise). Later, `refresh()` swaps in a new engine only when the
    content changed and loads cleanly (and, with `check`, passes the checker); otherwise
    the last good engine stays, and the failure is kept in `last_error` and
    `last_error_at` and logged once.

    `check=True` runs `orvane.check` over each new configuration and refuses it on any
    finding of severity "error". A function `check(path, stages=...)` may be given
    instead; it returns a report with `findings` (or a list of findings), each with a
    `severity` and, for the error text, `code`, `message`, `line` and `column`.
    """

    def __init__(self, source: str | os.PathLike[str] | Callable[[], Data], stages: str,
                 check: bool | Callable[..., Any] = False) -> None:
        if not isinstance(stages, str):
            raise TypeError(f"argument 'stages': expected str, not {type(stages).__name__}")
        self._path: str | None = None
        self._fetch: Callable[[], Data] | None = None
        if isinstance(source, (str, os.PathLike)):
            self._shown = os.fspath(source)
            # Watched by its absolute path, so that a change of working directory does not
            # make a refresh look at another file.
            self._path = os.path.abspath(self._shown)
        elif callable(source):
            self._fetch = source
        else:
            raise TypeError("argument 'source': expected a path or a function, not "
                            f"{type(source).__name__}")
        self._stages = stages
        self._check = _checker(check)
        self._engine: pyorvane.PyOrvane | None = None
        self._hash: bytes | None = None  # of the content the engine was built from
        self._failed_hash: bytes | None = None  # of the content last refused
        self._seen: tuple[int, ...] | None = None  # stat of the file as last read
        self._racy_until: float | None = None
        self._reloading = threading.Lock()
        self._interval = 0.0
        self._stop: threading.Event | None = None
        self._thread: threading.Thread | None = None
        self.last_error: str | None = None
        self.last_error_at: float | None = None
        self._reload()
        if self._engine is None:
            raise LoadError(self.last_error)
        _live.add(self)

    @property
    def engine(self) -> pyorvane.PyOrvane:
        """The current engine: always one that loaded. Keep the reference for the whole of
        a request, so that its calls are answered by one configuration."""
        engine = self._engine
        assert engine is not None
        return engine

    @property
    def where(self) -> str:
        """The file's path, or the name of the fetching function."""
        if self._path is not None:
            return self._shown
        return "<" + getattr(self._fetch, "__qualname__", repr(self._fetch)) + ">"

    def refresh(self) -> bool:
        """Loads the configuration again if it changed; True when a new engine was swapped
        in. For a file this costs one stat call when nothing changed, so it may be called
        on every request. While another thread reloads, returns False at once."""
        if self._path is not None and not self._file_may_have_changed():
            return False
        if not self._reloading.acquire(blocking=False):
            return False
        try:
            return self._reload()
        finally:
            self._reloading.release()

    def _file_may_have_changed(self) -> bool:
        try:
            seen = _signature(os.stat(self._path))  # type: ignore[arg-type]  # files only
        except OSError:
            seen = None
        if seen != self._seen:
            return True
        return self._racy_until is not None and time.time() >= self._racy_until

    def _reload(self) -> bool:
        if self._fetch is not None:
            try:
                data = _as_bytes(self._fetch(), "the fetched configuration")
            except Exception as exc:  # the fetch is the caller's code: any failure is kept
                return self._refuse(None, f"fetching the configuration failed: "
                                          f"{type(exc).__name__}: {exc}")
            return self._consider(data, None)
        return self._reload_file()

    def _reload_file(self) -> bool:
        path = self._path
        assert path is not None
        try:
            st = os.stat(path)
            if not stat.S_ISREG(st.st_mode) or st.st_size > _native.MAX_CONFIG_BYTES:
                # Pipes and devices, and files over the size limit, are left to the loader,
                # which bounds what it reads and fails an oversized file before reading it.
                return self._consider(None, _signature(st))
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            self._seen = None
            self._racy_until = None
            # The loader's own text for the same failure, so messages match pyorvane.init.
            text = pyorvane.init(self._stages, path).err()
            return self._refuse(None, text or "the configuration file could not be read")
        # Stat before reading: a write in between leaves a newer stat than the one kept,
        # so the next refresh reads again rather than missing it.
        self._seen = _signature(st)
        read_at = time.time()
        self._racy_until = read_at + _RACY_SECONDS if read_at - st.st_mtime < _RACY_SECONDS else None
        return self._consider(data, self._seen)

    def _consider(self, data: bytes | None, seen: tuple[int, ...] | None) -> bool:
        """Loads `data` (the file by path when None) unless it is the running content."""
        digest = hashlib.blake2b(data, digest_size=16).digest() if data is not None else None
        if digest is not None and digest == self._hash:
            self._recovered()
            return False
        if digest is not None and digest == self._failed_hash:
            return False  # refused already; said so once
        started = time.perf_counter()
        if data is None:
            assert self._path is not None  # only files are read by path
            engine = _native.load_file(self._stages, self._path)
        else:
            engine = load(self._stages, data)
        failure = engine.err()
        if failure is None and self._check is not None and data is not None:
            try:
                failure = _check_errors(self._check, data, self._stages, self.where)
            except Exception as exc:
                failure = f"orvane.check failed: {type(exc).__name__}: {exc}"
        if failure is not None:
            return self._refuse(digest, failure)
        first = self._engine is None
        self._engine = engine
        self._hash = digest
        self._failed_hash = None
        self.last_error = None
        self.last_error_at = None
        elapsed_ms = (time.perf_counter() - started) * 1000
        if not first:
            log.info("%s: new configuration loaded in %.1f ms", self.where, elapsed_ms)
        return True

    def _refuse(self, digest: bytes | None, text: str) -> bool:
        repeated = digest is None and text == self.last_error
        self._failed_hash = digest
        if not repeated:
            self.last_error = text
            self.last_error_at = time.time()
            if self._engine is not None:
                log.error("%s: keeping the configuration loaded before: %s", self.where, text)
        return False

    def _recovered(self) -> None:
        if self.last_error is not None:
            log.info("%s: the configuration in use is back", self.where)
        self._failed_hash = None
        self.last_error = None
        self.last_error_at = None

    def start(self, interval: float = 5.0) -> EngineSource:
        """Refreshes every `interval` seconds on a background thread, until `stop()` or
        the end of the process. The thread waits without the interpreter lock and is
        started again in a child made by os.fork(). Calling it again changes the interval."""
        if not interval > 0:
            raise ValueError(f"argument 'interval': must be positive, not {interval!r}")
        self._interval = float(interval)
        if self._thread is None or not self._thread.is_alive():
            self._launch()
        return self

    def stop(self, timeout: float | None = 5.0) -> None:
        """Stops the background refresher, waiting up to `timeout` seconds for a reload
        in progress to finish."""
        stop, thread = self._stop, self._thread
        self._thread = None
        if stop is not None:
            stop.set()
        if thread is not None and thread is not threading.current_thread():
            thread.join(timeout)

    @property
    def running(self) -> bool:
        """Whether the background refresher is running in this process."""
        return self._thread is not None and self._thread.is_alive()

    def _launch(self) -> None:
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, args=(self._stop,),
                                        name=f"orvane-refresh {self.where}", daemon=True)
        self._thread.start()

    def _run(self, stop: threading.Event) -> None:
        # Event.wait sleeps without the interpreter lock.
        while not stop.wait(self._interval):
            try:
                self.refresh()
            except Exception:  # never let the refresher die of one bad round
                log.exception("%s: refresh failed", self.where)

    def _after_fork_in_child(self) -> None:
        # Only the forking thread lives on in the child: a lock taken by another thread is
        # never released, and the refresher thread is gone.
        self._reloading = threading.Lock()
        if self._thread is not None:
            self._launch()

    def __repr__(self) -> str:
        state = "ok" if self.last_error is None else f"keeping last good: {self.last_error}"
        return f"<orvane.EngineSource {self.where} ({state})>"


_live: weakref.WeakSet[EngineSource] = weakref.WeakSet()


def _restart_in_child() -> None:
    for source in list(_live):
        source._after_fork_in_child()


def _stop_all() -> None:
    for source in list(_live):
        source.stop()


os.register_at_fork(after_in_child=_restart_in_child)
atexit.register(_stop_all)
