"""What an edit of a configuration moves: `orvane.diff`.

Per feature: added, removed, changed (in which members) or unchanged. For a bucketed
feature the share of users whose variant changes is counted exactly over the 1,000
buckets, not sampled; an edit of `shuffle_version`, `id`, `name` or `bucket_val` reseeds
the feature, so every user is bucketed afresh. Edits of targeting, overrides and groups
move the users who match them; with identifiers, `diff` counts how many of those get
another decision.
"""

from __future__ import annotations

import dataclasses
import os
from collections.abc import Iterable, Mapping
from typing import Any, Literal, TypeAlias, Union

import pyorvane

from . import _native
from ._stages import DEFAULT_STAGES, read_and_load

__all__ = ["DiffError", "DiffReport", "FeatureDiff", "diff"]

ChangeKind = Literal["added", "removed", "changed", "unchanged"]
Identifiers = Union[str, "os.PathLike[str]", Iterable[str]]


class DiffError(ValueError):
    """One of the two configurations does not load; the message names it and gives the
    text `pyorvane.init` gives."""


@dataclasses.dataclass(frozen=True)
class FeatureDiff:
    """One feature in the two versions.

    `fields` names the members that differ, in the order of the configuration format,
    then "holdout" or "mutex_group" when the group's own record changed.
    `bucket_share_moved` is the share of the 1,000 buckets that had a variant and now
    have another or none (None when the feature is not bucketed in both versions, or is
    reseeded); `newly_assigned_share` the share that had none and now has one.
    `moves` says, one line each, which other users move; `ids_moved` counts the given
    identifiers whose decision changes (None without identifiers).
    """

    feature: str
    change: ChangeKind
    fields: tuple[str, ...]
    bucket_share_moved: float | None
    reseeded: bool
    ids_moved: int | None
    reseeded_by: tuple[str, ...] = ()
    moved_buckets: tuple[int, ...] | None = None
    newly_assigned_buckets: tuple[int, ...] = ()
    moves: tuple[str, ...] = ()

    @property
    def newly_assigned_share(self) -> float:
        return len(self.newly_assigned_buckets) / 1000

    def to_dict(self) -> dict[str, Any]:
        """{"feature", "change", "fields", "bucket_share_moved", "reseeded", "ids_moved"}."""
        return {"feature": self.feature, "change": self.change, "fields": list(self.fields),
                "bucket_share_moved": self.bucket_share_moved, "reseeded": self.reseeded,
                "ids_moved": self.ids_moved}


@dataclasses.dataclass(frozen=True)
class DiffReport:
    """The features of the new configuration in its order, then those removed."""

    old: str
    new: str
    features: tuple[FeatureDiff, ...]
    identifiers: int | None  # how many identifiers were decided, when any were given

    def to_dict(self) -> dict[str, Any]:
        """{"features": [FeatureDiff.to_dict(), ...]}."""
        return {"features": [f.to_dict() for f in self.features]}


def _identifiers(ids: Identifiers) -> list[str]:
    if isinstance(ids, (str, os.PathLike)):
        with open(ids, encoding="utf-8") as f:
            return [line.rstrip("\r\n") for line in f if line.strip()]
    return [str(i) for i in ids]


def _context(ctx: Mapping[str, Any] | pyorvane.PyContext | None) -> pyorvane.PyContext | None:
    if ctx is None or _native.is_context(ctx):
        return ctx
    made = pyorvane.make_ctx(dict(ctx))  # type: ignore[arg-type]
    if made.err() is not None:
        raise ValueError(f"argument 'ctx': {made.err()}")
    return made


# What read_and_load returns; pyorvane names its classes only for type checkers.
Loaded: TypeAlias = "tuple[bytes | None, pyorvane.PyOrvane]"


def _loaded_bytes(path: str | os.PathLike[str], loaded: Loaded, which: str) -> bytes:
    data, engine = loaded
    error = engine.err()
    if error is not None or data is None:
        raise DiffError(f"{which} configuration {os.fspath(path)}: "
                        f"{error or 'could not be read'}")
    return data


def diff(old: str | os.PathLike[str], new: str | os.PathLike[str], stages: str | None = None,
         *, ids: Identifiers | None = None,
         ctx: Mapping[str, Any] | pyorvane.PyContext | None = None) -> DiffReport:
    """Compares the configuration files `old` and `new` feature by feature.

    Both must load with `stages` (the usual chain when None); DiffError otherwise. `ids`
    (a file with one identifier per line, or the identifiers themselves) makes `diff`
    decide every changed feature for each identifier in both versions and count those
    whose decision changes; each request is `ctx` (a dict for `pyorvane.make_ctx`, or a
    context) with the identifier in the feature's bucketing field.
    """
    chain = DEFAULT_STAGES if stages is None else stages
    return diff_loaded(old, read_and_load(old, chain), new, read_and_load(new, chain), chain,
                       ids=ids, ctx=ctx)


def diff_loaded(old: str | os.PathLike[str], old_loaded: Loaded, new: str | os.PathLike[str],
                new_loaded: Loaded, chain: str, *, ids: Identifiers | None = None,
                ctx: Mapping[str, Any] | pyorvane.PyContext | None = None) -> DiffReport:
    """`diff` of two files already read and loaded by `read_and_load` with `chain`, for
    tools that need the engines too and should not load the files twice."""
    old_data = _loaded_bytes(old, old_loaded, "old")
    new_data = _loaded_bytes(new, new_loaded, "new")
    identifiers = None if ids is None else _identifiers(ids)
    raw = _native.diff_texts(old_data, new_data, chain, identifiers, _context(ctx))
    features = []
    for item in raw:
        moved = item["moved_buckets"]
        features.append(FeatureDiff(
            feature=item["feature"], change=item["change"], fields=tuple(item["fields"]),
            bucket_share_moved=None if moved is None else len(moved) / 1000,
            reseeded=item["reseeded"], ids_moved=item["ids_moved"],
            reseeded_by=tuple(item["reseeded_by"]),
            moved_buckets=None if moved is None else tuple(moved),
            newly_assigned_buckets=tuple(item["added_buckets"]), moves=tuple(item["moves"])))
    return DiffReport(old=os.fspath(old), new=os.fspath(new), features=tuple(features),
                      identifiers=None if identifiers is None else len(identifiers))
