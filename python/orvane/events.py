"""The exposure events of a decision as the engine encodes them for a pipeline: JSON
documents in the field-number encoding of Apache Thrift's JSON protocol, whose schema is
the Thrift IDL file `events.thrift` shipped in this package."""

from __future__ import annotations

from importlib import resources
from typing import TYPE_CHECKING

from . import _native

if TYPE_CHECKING:
    from importlib.abc import Traversable

    import pyorvane

__all__ = ["event_documents", "event_schema"]


def event_documents(decision: pyorvane.PyDecision) -> list[str]:
    """The Thrift-JSON documents of `decision`'s exposure events, in event order, byte for
    byte as the engine built them (the compact texts of `decision.events()` describe the
    same events in the same order). Empty when the decision has no events, no decision or
    an error. TypeError when `decision` is not a PyDecision."""
    return _native.event_documents(decision)


def event_schema() -> Traversable:
    """The Thrift IDL file describing the documents (`events.thrift` in this package)."""
    return resources.files(__package__).joinpath("events.thrift")
