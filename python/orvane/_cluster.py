"""What the Dask and Spark routes share: the engine each worker process loads once, and
the answer columns appended to a batch of rows."""

from __future__ import annotations

import hashlib
import threading
from typing import TYPE_CHECKING

import pyorvane

if TYPE_CHECKING:
    import pyarrow as pa

# The answer columns of orvane.assign, in order, with their Arrow types' names.
ANSWER_COLUMNS = ("variant", "value", "decided_by", "bucket", "error")

_engines: dict[tuple[str, str, str], pyorvane.PyOrvane] = {}
_lock = threading.Lock()
# How many engines this process has loaded; tests read it to see the cache work.
loads = 0


def file_digest(path: str) -> str:
    with open(path, "rb") as config:
        return hashlib.sha256(config.read()).hexdigest()


def engine(path: str, stages: str, expected_digest: str) -> pyorvane.PyOrvane:
    """The engine for the file at `path` as this process sees it, loaded once per path,
    stages and content. The content must be what the client hashed: workers that saw
    another file would give other answers than the client expects."""
    global loads
    digest = file_digest(path)
    if digest != expected_digest:
        raise RuntimeError(
            f"the configuration at {path} on this worker is not the file the job was "
            f"started with (sha256 {digest[:12]}, expected {expected_digest[:12]})")
    key = (path, stages, digest)
    with _lock:
        loaded = _engines.get(key)
        if loaded is None:
            loaded = pyorvane.init(stages, path)
            loads += 1
            _engines[key] = loaded
    return loaded


def check_no_clash(columns: list[str]) -> None:
    clash = [name for name in ANSWER_COLUMNS if name in columns]
    if clash:
        raise ValueError(f"the table already has the answer column(s) {', '.join(clash)}; "
                         "rename them first")


def with_answers(table: pa.Table, answers: pa.Table) -> pa.Table:
    for name in ANSWER_COLUMNS:
        table = table.append_column(name, answers[name])
    return table
