"""Previewing an allocation: `orvane.preview`.

Decides one feature for many identifiers (generated, or read from a file) and counts the
answers: per variant the count, the share and the share the ranges lead one to expect,
how many got no decision at which stage and why, which errors, and a sample-ratio check
of the bucketing against the ranges. The counting runs natively without the interpreter
lock, a slice of identifiers at a time.
"""

from __future__ import annotations

import dataclasses
import math
import os
import time
from collections.abc import Iterable, Iterator, Mapping
from typing import Any, Union

import pyorvane

from . import _native
from ._output import Progress
from ._stages import DEFAULT_STAGES, read_and_load

__all__ = ["ErrorCount", "Preview", "PreviewError", "StopCount", "VariantCount", "preview"]

Identifiers = Union[str, "os.PathLike[str]", Iterable[str]]

# Below this p-value the split is called a sample ratio mismatch: the usual threshold of
# experiment platforms, strict enough that a sound split of a million users rarely trips it.
SRM_THRESHOLD = 0.001
# Identifiers counted per native call: small enough for a lively progress bar, large
# enough that the calls cost nothing next to the decisions.
_SLICE = 100_000
_SLICE_BYTES = 1 << 20


class PreviewError(ValueError):
    """The configuration does not load, or has no feature of that name; the message is
    the engine's text."""


@dataclasses.dataclass(frozen=True)
class VariantCount:
    """Decisions with one variant (`variant` None: decisions without a variant, such as
    users held out by a holdout group or a configuration's value). `share` is of all
    identifiers; `expected_share` is what the ranges give the variant among those that
    reached the feature's bucketing stage, as a share of all identifiers (None for a
    variant no range names)."""

    variant: str | None
    count: int
    share: float
    expected_share: float | None

    def to_dict(self) -> dict[str, Any]:
        return dataclasses.asdict(self)


@dataclasses.dataclass(frozen=True)
class StopCount:
    """Identifiers that got no decision: the stage that left them without one (None when
    the chain ran out) and why."""

    stage: str | None
    reason: str
    count: int

    def to_dict(self) -> dict[str, Any]:
        return dataclasses.asdict(self)


@dataclasses.dataclass(frozen=True)
class ErrorCount:
    """Identifiers whose decision failed, by choose's error text."""

    error: str
    count: int

    def to_dict(self) -> dict[str, Any]:
        return dataclasses.asdict(self)


@dataclasses.dataclass(frozen=True)
class Preview:
    """The counts of `preview`. `reached` is how many identifiers reached the feature's
    own bucketing stage; `srm_p_value` the chi-square p-value of their split against the
    ranges (None when there is nothing to compare: no bucketing, or a single range)."""

    feature: str
    total: int
    variants: tuple[VariantCount, ...]
    no_decision: tuple[StopCount, ...]
    errors: tuple[ErrorCount, ...]
    srm_p_value: float | None
    reached: int
    seconds: float

    @property
    def srm_flagged(self) -> bool:
        """Whether the split differs from the ranges more than chance explains."""
        return self.srm_p_value is not None and self.srm_p_value < SRM_THRESHOLD

    def to_dict(self) -> dict[str, Any]:
        """{"feature", "total", "variants": [{"variant", "count", "share",
        "expected_share"}], "no_decision": [{"stage", "reason", "count"}], "errors":
        [{"error", "count"}], "srm_p_value"}."""
        return {"feature": self.feature, "total": self.total,
                "variants": [v.to_dict() for v in self.variants],
                "no_decision": [s.to_dict() for s in self.no_decision],
                "errors": [e.to_dict() for e in self.errors], "srm_p_value": self.srm_p_value}


def chi_square_p_value(statistic: float, degrees: int) -> float:
    """P(X >= statistic) for X chi-square distributed with `degrees` degrees of freedom:
    the regularized upper incomplete gamma function Q(degrees / 2, statistic / 2)."""
    if degrees < 1:
        raise ValueError(f"degrees of freedom must be at least 1, not {degrees}")
    a, x = degrees / 2, statistic / 2
    if x <= 0:
        return 1.0
    log_front = -x + a * math.log(x) - math.lgamma(a)
    if x < a + 1:
        # The series of the lower function converges fast here; Q is its complement.
        term = total = 1 / a
        n = a
        while abs(term) > abs(total) * 1e-16:
            n += 1
            term *= x / n
            total += term
        return max(0.0, 1.0 - total * math.exp(log_front))
    # Lentz's continued fraction for Q, which converges fast for x beyond a + 1.
    tiny = 1e-300
    b = x + 1 - a
    c = 1 / tiny
    d = 1 / b
    h = d
    for i in range(1, 10_000):
        an = -i * (i - a)
        b += 2
        d = an * d + b
        d = tiny if abs(d) < tiny else d
        c = b + an / c
        c = tiny if abs(c) < tiny else c
        d = 1 / d
        step = d * c
        h *= step
        if abs(step - 1) < 1e-16:
            break
    return math.exp(log_front) * h


def srm_p_value(observed: Iterable[int], expected_shares: Iterable[float]) -> float | None:
    """The chi-square p-value of `observed` counts against `expected_shares` of their sum;
    categories expected to get nobody are left out. None when fewer than two remain or
    nothing was observed."""
    pairs = [(o, e) for o, e in zip(observed, expected_shares) if e > 0]
    n = sum(o for o, _ in pairs)
    if len(pairs) < 2 or n == 0:
        return None
    statistic = sum((o - n * e) ** 2 / (n * e) for o, e in pairs)
    return chi_square_p_value(statistic, len(pairs) - 1)


def _context(ctx: Mapping[str, Any] | pyorvane.PyContext | None) -> pyorvane.PyContext:
    if ctx is None:
        return pyorvane.make_ctx({})
    if _native.is_context(ctx):
        return ctx
    made = pyorvane.make_ctx(dict(ctx))  # type: ignore[arg-type]
    if made.err() is not None:
        raise ValueError(f"argument 'ctx': {made.err()}")
    return made


def _engine(source: str | os.PathLike[str] | pyorvane.PyOrvane,
            stages: str | None) -> pyorvane.PyOrvane:
    if isinstance(source, (str, os.PathLike)):
        _, engine = read_and_load(source, DEFAULT_STAGES if stages is None else stages)
    else:
        engine = source
    if engine.err() is not None:
        raise PreviewError(engine.err())
    return engine


def _text_slices(ids: Identifiers) -> Iterator[tuple[bytes, int]]:
    """The identifiers as texts of whole lines, with the share of the input each is."""
    if isinstance(ids, (str, os.PathLike)):
        with open(ids, "rb") as f:
            data = f.read()
    else:
        data = "".join(f"{i}\n" for i in ids).encode("utf-8")
    start = 0
    while start < len(data):
        cut = data.find(b"\n", min(len(data), start + _SLICE_BYTES))
        stop = len(data) if cut < 0 else cut + 1
        yield data[start:stop], stop - start
        start = stop


class _Sum:
    """The counts of the slices added up, in the order first met."""

    def __init__(self) -> None:
        self.total = 0
        self.without_variant = 0
        self.variants: dict[str, int] = {}
        self.stops: dict[tuple[str | None, str], int] = {}
        self.errors: dict[str, int] = {}
        self.bucketed: list[int] = []

    def add(self, counts: dict[str, Any]) -> None:
        self.total += counts["total"]
        self.without_variant += counts["without_variant"]
        for name, n in counts["variants"]:
            self.variants[name] = self.variants.get(name, 0) + n
        for stage, reason, n in counts["no_decision"]:
            self.stops[stage, reason] = self.stops.get((stage, reason), 0) + n
        for text, n in counts["errors"]:
            self.errors[text] = self.errors.get(text, 0) + n
        bucketed = counts["bucketed"]
        self.bucketed = [a + b for a, b in zip(self.bucketed, bucketed)] if self.bucketed \
            else list(bucketed)


def preview(source: str | os.PathLike[str] | pyorvane.PyOrvane, feature: str,
            stages: str | None = None, *, users: int | None = None,
            ids: Identifiers | None = None,
            ctx: Mapping[str, Any] | pyorvane.PyContext | None = None,
            progress: bool = False) -> Preview:
    """Decides `feature` for many identifiers and counts the answers.

    `source` is a configuration file (loaded with `stages`, the usual chain when None) or
    an engine. The identifiers are `users` generated ones ("u0", "u1", ...; plain numbers
    when the feature buckets by an integer field), 100,000 when neither `users` nor `ids`
    is given, or `ids`: a file with one identifier per line, or the identifiers
    themselves. Each request is `ctx` (a dict for `pyorvane.make_ctx`, or a context) with
    the identifier in the field the feature buckets by. `progress` draws a progress bar on
    standard error when it is a terminal.

    PreviewError when the file does not load or has no such feature; ValueError for a
    `ctx` make_ctx refuses and for `users` given with `ids` or below 0."""
    if users is not None and ids is not None:
        raise ValueError("give users or ids, not both")
    if users is not None and users < 0:
        raise ValueError(f"argument 'users': must not be negative, not {users}")
    engine = _engine(source, stages)
    context = _context(ctx)
    try:
        names, buckets = _native.preview_ranges(engine, feature)
    except ValueError as exc:
        raise PreviewError(str(exc)) from None
    started = time.perf_counter()
    counted = _Sum()
    if ids is None:
        count = 100_000 if users is None else users
        bar = Progress(count, feature) if progress else None
        for first in range(0, count, _SLICE):
            last = min(count, first + _SLICE)
            counted.add(_native.preview_generated(engine, feature, context, first, last))
            if bar:
                bar.advance(last - first)
    else:
        slices = list(_text_slices(ids))
        bar = Progress(sum(size for _, size in slices), feature) if progress else None
        for text, size in slices:
            counted.add(_native.preview_lines(engine, feature, context, text))
            if bar:
                bar.advance(size)
    if bar:
        bar.close()
    return _result(feature, counted, names, buckets, time.perf_counter() - started)


def _result(feature: str, counted: _Sum, names: list[str], buckets: list[int],
            seconds: float) -> Preview:
    total = counted.total
    reached = sum(counted.bucketed) if names else 0

    def share(n: int) -> float:
        return n / total if total else 0.0

    expected: dict[str, float] = {}
    for name, held in zip(names, buckets):
        expected[name] = expected.get(name, 0.0) + held / 1000
    rows = [VariantCount(name, counted.variants.get(name, 0), share(counted.variants.get(name, 0)),
                         share(reached) * expected[name]) for name in expected]
    rows += [VariantCount(name, n, share(n), None)
             for name, n in counted.variants.items() if name not in expected]
    if counted.without_variant:
        rows.append(VariantCount(None, counted.without_variant, share(counted.without_variant),
                                 None))
    p_value = srm_p_value(counted.bucketed, [b / 1000 for b in buckets]) if names else None
    return Preview(
        feature=feature, total=total, variants=tuple(rows),
        no_decision=tuple(StopCount(stage, reason, n)
                          for (stage, reason), n in counted.stops.items()),
        errors=tuple(ErrorCount(text, n) for text, n in counted.errors.items()),
        srm_p_value=p_value, reached=reached, seconds=seconds)
