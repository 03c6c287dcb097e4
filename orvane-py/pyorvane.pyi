# Types of the pyorvane extension module.
#
# The module holds two functions, init and make_ctx. The classes their results belong to
# (PyOrvane, PyContext, PyDecision and the Get...Res results) are not reachable from the
# module at run time, and neither are the dictionary shapes declared here: they exist for
# annotations only. Import them under `if TYPE_CHECKING:` (or write the annotations as
# strings, or use `from __future__ import annotations`):
#
#     from typing import TYPE_CHECKING
#     if TYPE_CHECKING:
#         from pyorvane import PyDecision, PyOrvane
#
# Nothing raises for bad content: every result carries err(), None on success.

from typing import Any, Literal, TypeAlias, TypedDict, final, type_check_only

# A JSON value as the engine hands it out: None, bool, int, float, str, list or dict
# (with str keys). Typed as Any, as json.loads is, since its shape is the configuration's.
JsonValue: TypeAlias = Any

ValueTypeName: TypeAlias = Literal["Boolean", "Integer", "Float", "String", "Text", "Map"]
FeatureType: TypeAlias = Literal["dynamic_config", "range_variant", "feature_rollout"]

# The value of one other_fields entry. Anything else makes the whole other_fields absent
# and is reported by err(); None and non-finite floats are dropped silently.
OtherFieldValue: TypeAlias = bool | int | float | str | None

@type_check_only
class ContextDict(TypedDict, total=False):
    """make_ctx's argument. Every key may be left out or None (absent). A value of another
    type leaves its field absent and adds a line to the context's err()."""

    user_id: str | None
    locale: str | None
    device_id: str | None
    canonical_url: str | None
    country_code: str | None
    origin_service: str | None
    user_is_employee: bool | None
    logged_in: bool | None
    app_name: str | None
    build_number: int | None  # fits in 32 signed bits
    oauth_client_id: str | None
    cookie_created_timestamp: int | None  # fits in 64 signed bits
    loid_created_timestamp: int | None  # fits in 64 signed bits
    other_fields: dict[str, OtherFieldValue] | None

@type_check_only
class DecisionDict(TypedDict, total=False):
    """PyDecision.decision_dict(): empty without a decision or without a variant name,
    otherwise all four keys."""

    name: str  # the variant
    id: str  # the feature id, in decimal
    version: str  # the feature version, in decimal
    experimentName: str  # the feature name

@type_check_only
class ValueDict(TypedDict, total=False):
    """PyDecision.value_dict(): empty without a decision, otherwise all three keys."""

    name: str  # the feature name
    type: Literal["boolean", "integer", "float", "string", "map", ""]  # "" without a type
    value: JsonValue

# Targeting trees as get_experiment() writes them: one key, the operator.
@type_check_only
class EqOne(TypedDict):
    field: str
    value: JsonValue

@type_check_only
class EqMany(TypedDict):
    field: str
    values: list[JsonValue]

@type_check_only
class FieldValue(TypedDict):
    field: str
    value: JsonValue

@type_check_only
class FieldThreshold(TypedDict):
    field: str
    value: float  # a threshold written as 5 in the file reads back as 5.0

@type_check_only
class AllTree(TypedDict):
    ALL: list[TargetingTree]

@type_check_only
class AnyTree(TypedDict):
    ANY: list[TargetingTree]

@type_check_only
class NotTree(TypedDict):
    NOT: TargetingTree

@type_check_only
class EqTree(TypedDict):
    EQ: EqOne | EqMany

@type_check_only
class NeTree(TypedDict):
    NE: FieldValue

@type_check_only
class GtTree(TypedDict):
    GT: FieldThreshold

@type_check_only
class LtTree(TypedDict):
    LT: FieldThreshold

@type_check_only
class GeTree(TypedDict):
    GE: FieldThreshold

@type_check_only
class LeTree(TypedDict):
    LE: FieldThreshold

TargetingTree: TypeAlias = (
    AllTree | AnyTree | NotTree | EqTree | NeTree | GtTree | LtTree | GeTree | LeTree
)

@type_check_only
class VariantDict(TypedDict):
    name: str
    range_start: float  # the 32-bit value widened: 0.1 reads back as 0.10000000149011612
    range_end: float

@type_check_only
class VariantSetDict(TypedDict):
    start_ts: int
    stop_ts: int
    shuffle_version: int
    bucket_val: str | None  # a context field name
    variants: list[VariantDict]
    holdout: FeatureDict | None  # the parent feature, whole
    mutex_group: FeatureDict | None

@type_check_only
class FeatureDict(TypedDict):
    """GetExperimentRes.val(): a feature as loaded, keys in this order."""

    id: int
    name: str
    enabled: bool
    type: FeatureType
    version: int
    owner: str
    emit_event: bool
    platform_bitmask: int
    value: JsonValue  # None when the record has none
    value_type: ValueTypeName | None
    targeting: TargetingTree | None
    overrides: list[dict[str, TargetingTree]] | None  # variant name -> tree, per map
    variant_set: VariantSetDict | None

@final
@type_check_only
class PyContext:
    def err(self) -> str | None: ...
    def inspect(self) -> str: ...

@final
@type_check_only
class PyDecision:
    def inspect(self) -> str: ...
    def decision(self) -> str | None: ...  # the variant name
    def decision_dict(self) -> DecisionDict: ...
    def value_dict(self) -> ValueDict: ...
    def events(self) -> list[str]: ...  # compact exposure event texts
    def err(self) -> str | None: ...

@final
@type_check_only
class GetAllDecisionsRes:
    def inspect(self) -> str: ...
    def decisions(self) -> dict[str, PyDecision] | None: ...  # None when err() is set
    def err(self) -> str | None: ...

@final
@type_check_only
class GetExperimentRes:
    def inspect(self) -> str: ...
    def val(self) -> FeatureDict | None: ...  # the same dict on every call
    def err(self) -> str | None: ...

@final
@type_check_only
class GetBoolRes:
    def inspect(self) -> str: ...
    def val(self) -> bool: ...  # False when err() is set
    def err(self) -> str | None: ...

@final
@type_check_only
class GetIntegerRes:
    def inspect(self) -> str: ...
    def val(self) -> int: ...  # 0 when err() is set
    def err(self) -> str | None: ...

@final
@type_check_only
class GetFloatRes:
    def inspect(self) -> str: ...
    def val(self) -> float: ...  # 0.0 when err() is set
    def err(self) -> str | None: ...

@final
@type_check_only
class GetStringRes:
    def inspect(self) -> str: ...
    def val(self) -> str: ...  # "" when err() is set
    def err(self) -> str | None: ...

@final
@type_check_only
class GetMapRes:
    def inspect(self) -> str: ...
    def val(self) -> dict[str, JsonValue]: ...  # the same dict on every call; {} on error
    def err(self) -> str | None: ...

@final
@type_check_only
class PyOrvane:
    def err(self) -> str | None: ...
    def choose(
        self, feature_name: str, ctx: PyContext, identifier_type: str | None = None
    ) -> PyDecision: ...
    def choose_all(self, ctx: PyContext, identifier_type: str | None = None) -> GetAllDecisionsRes: ...
    def get_experiment(self, feature_name: str) -> GetExperimentRes: ...
    def get_bool(self, feature_name: str, ctx: PyContext) -> GetBoolRes: ...
    def get_int(self, feature_name: str, ctx: PyContext) -> GetIntegerRes: ...
    def get_float(self, feature_name: str, ctx: PyContext) -> GetFloatRes: ...
    def get_string(self, feature_name: str, ctx: PyContext) -> GetStringRes: ...
    def get_map(self, feature_name: str, ctx: PyContext) -> GetMapRes: ...
    def get_all_values(self, ctx: PyContext) -> GetAllDecisionsRes: ...

def init(decisionmakers: str, filename: str) -> PyOrvane:
    """Loads the configuration file with the given chain of decision stages. Always
    returns an engine: check its err() before use."""

def make_ctx(ctx_dict: ContextDict | dict[Any, Any]) -> PyContext:
    """Converts a request's fields into a context. Always returns one: err() lists the
    keys whose values had the wrong type (those fields are left absent). Any dict is
    accepted, as at run time; annotate it as ContextDict to have its keys checked."""
