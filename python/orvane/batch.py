"""Decisions for whole tables: every row of an Arrow table (or a list of dicts) through
the same chain `choose` runs, decided in C++ with the interpreter's lock released and the
rows split over threads.

A column named like one of `make_ctx`'s keys converts as `make_ctx` converts that key; a
column `other_fields` (a struct or a map) and every other column become entries of
`other_fields`, a column winning over an `other_fields` entry of the same name. A null is
an absent key. A value `make_ctx` would reject makes that row's `error` (with
`make_ctx`'s messages), never the whole call fail. No exposure events are made: a batch
is analysis, not exposure.
"""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

import pyorvane

from orvane import _native

if TYPE_CHECKING:
    import pyarrow as pa

__all__ = ["assign", "assign_all", "default_threads"]

# make_ctx's keys other than other_fields: a row's value for one of them is passed as is.
_CONTEXT_KEYS = frozenset(name for name, _ in _native.CONTEXT_FIELDS)


def default_threads() -> int:
    """The cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def assign(engine: pyorvane.PyOrvane, feature_name: str, table: Any,
           identifier_type: str | None = None, threads: int | None = None) -> pa.Table:
    """`feature_name` for every row of `table`, in row order.

    `table` is anything with `__arrow_c_stream__` (a pyarrow Table or RecordBatch, polars,
    DuckDB, pandas through pyarrow) or, more slowly, a list of dicts. Returns a pyarrow
    Table with the columns `variant` (string), `value` (the value as JSON text),
    `decided_by` (the name of the stage that decided), `bucket` (int16, the feature's own
    bucket when its bucketing stage ran) and `error` (string, the text `choose` would
    give); each is null where there is nothing to say. An unknown feature, a mismatched
    `identifier_type` or an engine that failed to load is every row's error.
    """
    _check_str(feature_name, "feature_name")
    return _assign(engine, feature_name, table, identifier_type, threads)


def assign_all(engine: pyorvane.PyOrvane, table: Any, identifier_type: str | None = None,
               threads: int | None = None) -> pa.Table:
    """Every feature `choose_all` decides, for every row of `table`, in long format.

    One output row per input row and feature: `row` (int64, the input row's index),
    `feature`, then the columns of `assign`. Features come in the order they appear in
    the configuration; with `identifier_type` only those bucketed by that field.
    """
    return _assign(engine, None, table, identifier_type, threads)


def _assign(engine: Any, feature: str | None, table: Any, identifier_type: str | None,
            threads: int | None) -> pa.Table:
    import pyarrow as pa

    if identifier_type is not None:
        _check_str(identifier_type, "identifier_type")
    if threads is None:
        threads = default_threads()
    elif isinstance(threads, bool) or not isinstance(threads, int):
        raise TypeError(f"argument 'threads': expected an int, got {type(threads).__name__}")
    elif threads < 1:
        raise ValueError(f"argument 'threads': must be at least 1, got {threads}")

    if hasattr(table, "__arrow_c_stream__"):
        capsule = _native.assign_table(engine, feature, table.__arrow_c_stream__(),
                                       identifier_type, threads)
    elif hasattr(table, "__arrow_c_array__"):
        stream = pa.record_batch(table).__arrow_c_stream__()
        capsule = _native.assign_table(engine, feature, stream, identifier_type, threads)
    elif isinstance(table, Sequence) and not isinstance(table, (str, bytes)):
        contexts = [pyorvane.make_ctx(_context_dict(row, i)) for i, row in enumerate(table)]
        capsule = _native.assign_contexts(engine, feature, contexts, identifier_type, threads)
    else:
        raise TypeError("argument 'table': expected an Arrow table (an object with "
                        f"__arrow_c_stream__) or a list of dicts, got {type(table).__name__}")
    return pa.RecordBatchReader.from_stream(_Stream(capsule)).read_all()


class _Stream:
    """Hands the native module's answer capsule to pyarrow's stream import."""

    def __init__(self, capsule: object) -> None:
        self._capsule = capsule

    def __arrow_c_stream__(self, requested_schema: object = None) -> object:
        return self._capsule


def _context_dict(row: object, index: int) -> dict[object, object]:
    """The dict make_ctx gets for one row: its keys as they are, any other key as an
    entry of other_fields (after the row's own other_fields entries). None is absent."""
    if not isinstance(row, Mapping):
        raise TypeError(f"argument 'table': row {index} is a {type(row).__name__}, not a dict")
    ctx: dict[object, object] = {}
    extras: dict[object, object] = {}
    own: object = None
    for key, value in row.items():
        if value is None:
            continue
        if key in _CONTEXT_KEYS:
            ctx[key] = value
        elif key == "other_fields":
            own = value
        else:
            extras[key] = value
    if own is not None and not isinstance(own, dict):
        ctx["other_fields"] = own  # make_ctx rejects it, with its message
    elif own is not None or extras:
        ctx["other_fields"] = {**(own or {}), **extras}
    return ctx


def _check_str(value: object, name: str) -> None:
    if not isinstance(value, str):
        raise TypeError(f"argument '{name}': expected a str, got {type(value).__name__}")
