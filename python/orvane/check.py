"""Checking a configuration before it ships: `orvane.check`.

A configuration that loads can still assign users wrongly: a misspelt member is skipped,
ranges written as 0-1000 hand everyone the first variant, an override can name a variant
that does not exist. `check` reports the exact load result first, then such findings,
each with a code, a severity, the record and the place in the file.
"""

from __future__ import annotations

import dataclasses
import datetime
import os
import time
from typing import Any, Literal, Union

import pyorvane

from . import _native
from ._stages import DEFAULT_STAGES, read_and_load

__all__ = ["CheckReport", "Finding", "check"]

Severity = Literal["error", "warning", "info"]
Moment = Union[datetime.datetime, datetime.date, float, int, None]


@dataclasses.dataclass(frozen=True)
class Finding:
    """One problem: `code` (e.g. "ranges-overlap") and `severity` say what, `key` and
    `feature` (the record's top-level key and its name), `line` and `column` (of the
    member, when the file places it) say where, `hint` what to do."""

    code: str
    severity: Severity
    key: str | None
    feature: str | None
    line: int | None
    column: int | None
    message: str
    hint: str

    def to_dict(self) -> dict[str, Any]:
        """{"code", "severity", "key", "feature", "line", "column", "message", "hint"}."""
        return dataclasses.asdict(self)


@dataclasses.dataclass(frozen=True)
class CheckReport:
    """The result of `check`: whether the file loads (`load_error` is then None, else the
    text `pyorvane.init` gives), the findings in file order, and the number of records."""

    file: str
    loaded: bool
    load_error: str | None
    findings: tuple[Finding, ...]
    records: int

    def count(self, severity: Severity) -> int:
        return sum(1 for f in self.findings if f.severity == severity)

    @property
    def errors(self) -> int:
        return self.count("error")

    @property
    def warnings(self) -> int:
        return self.count("warning")

    def ready(self, strict: bool = False) -> bool:
        """Whether the file can ship: it loads and has no error (with `strict`, no
        warning either)."""
        return self.loaded and self.errors == 0 and not (strict and self.warnings)

    def to_dict(self) -> dict[str, Any]:
        """{"file", "loaded", "load_error", "findings": [Finding.to_dict(), ...]}."""
        return {"file": self.file, "loaded": self.loaded, "load_error": self.load_error,
                "findings": [f.to_dict() for f in self.findings]}


def _epoch_ms(now: Moment) -> int:
    if now is None:
        return int(time.time() * 1000)
    if isinstance(now, datetime.datetime):
        if now.tzinfo is None:
            now = now.replace(tzinfo=datetime.timezone.utc)
        return int(now.timestamp() * 1000)
    if isinstance(now, datetime.date):
        return _epoch_ms(datetime.datetime(now.year, now.month, now.day))
    if isinstance(now, (int, float)) and not isinstance(now, bool):
        return int(now * 1000)
    raise TypeError(f"argument 'now': expected a datetime, a date or seconds since the "
                    f"epoch, not {type(now).__name__}")


def check(path: str | os.PathLike[str], stages: str | None = None, *,
          now: Moment = None) -> CheckReport:
    """Checks the configuration file at `path`.

    The file is loaded as `pyorvane.init(stages, path)` would load it (with the usual
    chain when `stages` is None); `load_error` is that call's `err()`. When the file reads,
    the findings follow: problems of meaning in the records, and, when `stages` is given,
    unknown stage names and orders that change meaning. Schedules are judged against
    `now` (a datetime, a date, or seconds since the epoch; the current time when None).
    """
    if stages is not None and not isinstance(stages, str):
        raise TypeError(f"argument 'stages': expected str or None, not {type(stages).__name__}")
    now_ms = _epoch_ms(now)
    data, engine = read_and_load(path, DEFAULT_STAGES if stages is None else stages)
    return check_loaded(path, data, engine, stages, now_ms)


def check_loaded(path: str | os.PathLike[str], data: bytes | None, engine: pyorvane.PyOrvane,
                 stages: str | None, now_ms: int) -> CheckReport:
    """`check` of a file already read and loaded by `read_and_load`, for tools that need
    the engine too and should not load the file twice."""
    load_error = engine.err()
    records, findings = 0, []
    if data is not None:
        answer = _native.check_text(data, stages, now_ms)
        if answer is not None:
            records, raw = answer
            findings = [Finding(**item) for item in raw]
    return CheckReport(file=os.fspath(path), loaded=load_error is None, load_error=load_error,
                       findings=tuple(findings), records=records)
