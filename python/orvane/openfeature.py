"""An OpenFeature provider answering flags from an Orvane engine.

    from openfeature import api
    from orvane.openfeature import OrvaneProvider

    api.set_provider(OrvaneProvider(source))
    client = api.get_client()
    client.get_boolean_value("maintenance_banner", False, EvaluationContext("t2_abc", {...}))

Needs the `openfeature-sdk` distribution (the `openfeature` extra of this package).
"""

from __future__ import annotations

import datetime
import logging
from collections.abc import Callable, Mapping
from typing import TYPE_CHECKING, Any, TypeVar, cast

import pyorvane
from openfeature.evaluation_context import EvaluationContext
from openfeature.exception import ErrorCode
from openfeature.flag_evaluation import FlagResolutionDetails, Reason
from openfeature.provider import AbstractProvider, Metadata

from orvane import _native

if TYPE_CHECKING:
    from pyorvane import ContextDict

__all__ = ["OrvaneProvider"]

log = logging.getLogger("orvane.openfeature")

T = TypeVar("T")

# The context keys make_ctx knows. Its 64-bit integers are millisecond timestamps, which an
# evaluation context may also give as datetimes.
_KNOWN_KEYS = frozenset(name for name, _ in _native.CONTEXT_FIELDS)
_TIMESTAMP_KEYS = frozenset(name for name, kind in _native.CONTEXT_FIELDS if kind == "int64")

# The engine's own texts for a value of the wrong kind, as its typed lookups give them.
_TYPE_MISMATCH = "Dynamic Configuration Feature type mismatch."
_NUMBER_MISMATCH = "Number deserialization failed."

def _milliseconds(moment: datetime.datetime) -> int:
    return int(moment.timestamp() * 1000)


def _other_field(value: Any) -> Any:
    """The form an extra attribute takes in the context, or None to leave it out. Lists
    and maps are left out: no targeting condition can compare them, so they would only
    read as absent anyway."""
    if isinstance(value, (bool, str, int, float)):
        return value
    if isinstance(value, datetime.datetime):
        return value.isoformat()
    return None


def _typed(kind: type, value: Any, variant: str | None) -> tuple[Any, str | None]:
    """The decided value as a flag of `kind`, or the error text, as the typed lookups
    judge it: booleans, strings and maps only of their kind, integers that fit 64 bits,
    any number as a float."""
    if kind is str:
        if variant is not None:  # an experiment answers with its variant name
            return variant, None
        return (value, None) if isinstance(value, str) else (None, _TYPE_MISMATCH)
    if kind is bool:
        return (value, None) if isinstance(value, bool) else (None, _TYPE_MISMATCH)
    if kind is int:
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            return None, _TYPE_MISMATCH
        if isinstance(value, float) or not -(2**63) <= value < 2**63:
            return None, _NUMBER_MISMATCH
        return value, None
    if kind is float:
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            return None, _TYPE_MISMATCH
        return float(value), None
    return (value, None) if isinstance(value, dict) else (None, _TYPE_MISMATCH)


class OrvaneProvider(AbstractProvider):
    """Resolves OpenFeature flags with an Orvane engine (a `PyOrvane`, or an
    `orvane.EngineSource` whose current engine answers each evaluation).

    The evaluation context becomes the request context: the targeting key goes to
    `targeting_key` (a context key, "user_id" by default), attributes named like a context
    key go to that key, datetimes as milliseconds for the two timestamps, and all other
    attributes go to `other_fields` (datetimes as ISO 8601 text; lists and maps are left
    out). Boolean, integer, float and object flags read a dynamic configuration's value;
    a string flag on an experiment resolves to the variant name.

    Reasons: TARGETING_MATCH for an override or a targeted configuration, SPLIT for a
    bucketed variant or a request held out (which keeps the default value), STATIC for an untargeted configuration, DISABLED for a
    disabled feature without decision, DEFAULT for any other request without decision,
    ERROR with FLAG_NOT_FOUND, TYPE_MISMATCH, INVALID_CONTEXT or GENERAL and the
    engine's message. `on_exposure`, when given, receives the compact text of every
    exposure event of a resolved flag, one call per event; its failures are logged.
    """

    def __init__(self, engine_or_source: Any, *,
                 on_exposure: Callable[[str], object] | None = None,
                 targeting_key: str = "user_id") -> None:
        super().__init__()
        if hasattr(engine_or_source, "choose"):
            self._engine_of: Callable[[], Any] = lambda: engine_or_source
        elif hasattr(engine_or_source, "engine"):
            self._engine_of = lambda: engine_or_source.engine
        else:
            raise TypeError("argument 'engine_or_source': expected a PyOrvane or an "
                            f"EngineSource, not {type(engine_or_source).__name__}")
        if not isinstance(targeting_key, str):
            raise TypeError("argument 'targeting_key': expected str, not "
                            f"{type(targeting_key).__name__}")
        self._on_exposure = on_exposure
        self._targeting_key = targeting_key
        # What get_experiment says of each flag, for the reasons; engines never change,
        # so it holds until the source swaps in another engine.
        self._facts_engine: Any = None
        self._facts: dict[str, tuple[bool, bool]] = {}

    def get_metadata(self) -> Metadata:
        return Metadata(name="orvane")

    def context_dict(self, evaluation_context: EvaluationContext | None) -> ContextDict:
        """The make_ctx dictionary for an evaluation context."""
        ctx: dict[str, Any] = {}
        other: dict[str, Any] = {}
        attributes: Mapping[str, Any] = evaluation_context.attributes if evaluation_context else {}
        targeting = evaluation_context.targeting_key if evaluation_context else None
        items = list(attributes.items())
        if targeting is not None:
            items.append((self._targeting_key, targeting))
        for key, value in items:
            if key in _TIMESTAMP_KEYS and isinstance(value, datetime.datetime):
                ctx[key] = _milliseconds(value)
            elif key in _KNOWN_KEYS:
                ctx[key] = value  # a wrong type is reported by make_ctx
            else:
                converted = _other_field(value)
                if converted is not None:
                    other[key] = converted
        if other:
            ctx["other_fields"] = other
        return cast("ContextDict", ctx)

    def _flag_facts(self, engine: Any, flag_key: str) -> tuple[bool, bool]:
        """(enabled, has targeting) of the flag's record."""
        if engine is not self._facts_engine:
            self._facts_engine, self._facts = engine, {}
        facts = self._facts.get(flag_key)
        if facts is None:
            record = engine.get_experiment(flag_key).val() or {}
            facts = (bool(record.get("enabled")), record.get("targeting") is not None)
            self._facts[flag_key] = facts
        return facts

    def _resolve(self, kind: type, flag_key: str, default: T,
                 evaluation_context: EvaluationContext | None) -> FlagResolutionDetails[T]:
        engine = self._engine_of()
        failed = engine.err()
        if failed is not None:
            return FlagResolutionDetails(default, ErrorCode.GENERAL, failed, Reason.ERROR)
        ctx = pyorvane.make_ctx(self.context_dict(evaluation_context))
        if ctx.err() is not None:
            return FlagResolutionDetails(default, ErrorCode.INVALID_CONTEXT, ctx.err(), Reason.ERROR)
        decision = engine.choose(flag_key, ctx)
        failed = decision.err()
        if failed is not None:
            code = (ErrorCode.FLAG_NOT_FOUND if failed == f'Feature "{flag_key}" not found.'
                    else ErrorCode.GENERAL)
            return FlagResolutionDetails(default, code, failed, Reason.ERROR)
        decided = decision.value_dict()
        if not decided:
            enabled, _ = self._flag_facts(engine, flag_key)
            return FlagResolutionDetails(default, reason=Reason.DEFAULT if enabled else Reason.DISABLED)
        variant = decision.decision()
        value = decided["value"]
        # Only a holdout decides without a variant and without a value (the value stage
        # passes null on), so the flag keeps its default for a request held out.
        held_out = variant is None and value is None
        if held_out:
            resolved: Any = default
        else:
            resolved, mismatch = _typed(kind, value, variant)
            if mismatch is not None:
                return FlagResolutionDetails(default, ErrorCode.TYPE_MISMATCH, mismatch, Reason.ERROR)
        if self._on_exposure is not None:
            events = decision.events()
            if events:
                self._expose(events)
        if variant is not None:
            reason = Reason.SPLIT if value is None else Reason.TARGETING_MATCH
        elif held_out:
            reason = Reason.SPLIT
        else:
            reason = Reason.TARGETING_MATCH if self._flag_facts(engine, flag_key)[1] else Reason.STATIC
        return FlagResolutionDetails(resolved, reason=reason, variant=variant)

    def _expose(self, events: list[str]) -> None:
        for event in events:
            try:
                self._on_exposure(event)  # type: ignore[misc]
            except Exception:  # the caller's sink must never fail a flag evaluation
                log.exception("on_exposure failed for %s", event)

    def resolve_boolean_details(self, flag_key: str, default_value: bool,
                                evaluation_context: EvaluationContext | None = None
                                ) -> FlagResolutionDetails[bool]:
        return self._resolve(bool, flag_key, default_value, evaluation_context)

    def resolve_string_details(self, flag_key: str, default_value: str,
                               evaluation_context: EvaluationContext | None = None
                               ) -> FlagResolutionDetails[str]:
        return self._resolve(str, flag_key, default_value, evaluation_context)

    def resolve_integer_details(self, flag_key: str, default_value: int,
                                evaluation_context: EvaluationContext | None = None
                                ) -> FlagResolutionDetails[int]:
        return self._resolve(int, flag_key, default_value, evaluation_context)

    def resolve_float_details(self, flag_key: str, default_value: float,
                              evaluation_context: EvaluationContext | None = None
                              ) -> FlagResolutionDetails[float]:
        return self._resolve(float, flag_key, default_value, evaluation_context)

    def resolve_object_details(self, flag_key: str, default_value: Any,
                               evaluation_context: EvaluationContext | None = None
                               ) -> FlagResolutionDetails[Any]:
        return self._resolve(dict, flag_key, default_value, evaluation_context)
