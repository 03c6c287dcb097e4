"""Typed value lookups (get_bool ... get_map) and get_all_values."""

import pytest

import pyorvane
from configs import dynamic_config, experiment

MISMATCH = "Dynamic Configuration Feature type mismatch."
NUMBER = "Number deserialization failed."


@pytest.fixture
def values_engine(write_config):
    records = {
        "flag": dynamic_config("flag", True, "Boolean"),
        "five": dynamic_config("five", 5, "Integer"),
        "five_f": dynamic_config("five_f", 5.0, "Float"),
        "ratio": dynamic_config("ratio", 2.5, "Float"),
        "big": dynamic_config("big", 2**63, "Integer"),
        "low": dynamic_config("low", -2**63, "Integer"),
        "text": dynamic_config("text", 'say "hi"\n', "String"),
        "digits": dynamic_config("digits", "5", "Text"),
        "map": dynamic_config("map", {"z": {"y": 1, "x": [True, None]}, "a": 0.25}, "Map"),
        "empty_map": dynamic_config("empty_map", {}, "Map"),
        "list": dynamic_config("list", [1, 2], "Map"),
        "typeless": dynamic_config("typeless", 3, None),
        "experiment": experiment("experiment", variants=[("v", 0.0, 1.0)]),
    }
    return pyorvane.init("value", write_config(records))


CTX = pyorvane.make_ctx({})

# (method, feature, val(), err(), inspect())
LOOKUPS = [
    ("get_bool", "flag", True, None, "err: None, val: true"),
    ("get_bool", "five", False, MISMATCH, f'err: Some(GenericError("{MISMATCH}")), val: false'),
    ("get_int", "five", 5, None, "err: None, val: 5"),
    ("get_int", "low", -2**63, None, "err: None, val: -9223372036854775808"),
    ("get_int", "five_f", 0, NUMBER, f'err: Some(GenericError("{NUMBER}")), val: 0'),
    ("get_int", "big", 0, NUMBER, f'err: Some(GenericError("{NUMBER}")), val: 0'),
    ("get_int", "digits", 0, MISMATCH, f'err: Some(GenericError("{MISMATCH}")), val: 0'),
    ("get_int", "flag", 0, MISMATCH, f'err: Some(GenericError("{MISMATCH}")), val: 0'),
    ("get_int", "typeless", 3, None, "err: None, val: 3"),
    ("get_float", "ratio", 2.5, None, "err: None, val: 2.5"),
    ("get_float", "five", 5.0, None, "err: None, val: 5.0"),
    ("get_float", "text", 0.0, MISMATCH, f'err: Some(GenericError("{MISMATCH}")), val: 0.0'),
    ("get_string", "text", 'say "hi"\n', None, 'err: None, val: "say \\"hi\\"\\n"'),
    ("get_string", "digits", "5", None, 'err: None, val: "5"'),
    ("get_string", "five", "", MISMATCH, f'err: Some(GenericError("{MISMATCH}")), val: ""'),
    ("get_bool", "nope", False, 'Feature "nope" not found.',
     'err: Some(GenericError("Feature \\"nope\\" not found.")), val: false'),
    ("get_string", "Text", "", 'Feature "Text" not found.',
     'err: Some(GenericError("Feature \\"Text\\" not found.")), val: ""'),
    ("get_float", "experiment", 0.0, "Invalid Feature configuration.",
     'err: Some(GenericError("Invalid Feature configuration.")), val: 0.0'),
]
LOOKUP_IDS = [
    "bool", "bool of integer", "int", "int minimum", "int of float", "int of 2**63",
    "int of numeric text", "int of bool", "int without value type", "float", "float of integer",
    "float of text", "string with escapes", "string of Text type", "string of integer",
    "not found", "not found by letter case", "no decision",
]


@pytest.mark.parametrize("method, feature, val, err, inspected", LOOKUPS, ids=LOOKUP_IDS)
def test_typed_lookup(values_engine, method, feature, val, err, inspected):
    result = getattr(values_engine, method)(feature, CTX)
    assert result.val() == val
    assert type(result.val()) is type(val)
    assert result.err() == err
    assert result.inspect() == inspected


def test_get_map_converts_nested_values(values_engine):
    result = values_engine.get_map("map", CTX)
    val = result.val()
    assert result.err() is None
    assert val == {"a": 0.25, "z": {"x": [True, None], "y": 1}}
    assert list(val) == ["a", "z"]
    assert list(val["z"]) == ["x", "y"]
    assert type(val["z"]["y"]) is int
    assert result.inspect() == f"err: None, val: Py({hex(id(val))})"


def test_get_map_val_is_the_same_object_on_every_call(values_engine):
    result = values_engine.get_map("map", CTX)
    first = result.val()
    first["added"] = 1
    assert result.val() is first
    assert result.val()["added"] == 1
    assert values_engine.get_map("map", CTX).val() is not first


@pytest.mark.parametrize("feature, err", [
    ("empty_map", None), ("list", "Invalid Feature configuration."), ("five", MISMATCH),
    ("nope", 'Feature "nope" not found.'),
], ids=["empty object", "array passes the value stage", "integer", "not found"])
def test_get_map_failures_keep_an_empty_dict(values_engine, feature, err):
    result = values_engine.get_map(feature, CTX)
    assert (result.val(), result.err()) == ({}, err)
    assert result.val() is result.val()


def test_get_map_of_an_array_decided_by_a_holdout(write_config):
    holdout = experiment("hg", variants=[("holdout", 0.0, 1.0)], value=[1, 2], value_type="Map")
    child = experiment("child", variants=[("v", 0.0, 1.0)], parent_hg_name="hg")
    engine = pyorvane.init("holdout fractional_availability",
                           write_config({"hg": holdout, "child": child}))
    ctx = pyorvane.make_ctx({"user_id": "u1"})
    result = engine.get_map("child", ctx)
    assert (result.val(), result.err()) == ({}, MISMATCH)
    assert engine.choose("child", ctx).value_dict() == {"name": "child", "type": "map",
                                                        "value": [1, 2]}


def test_typed_lookups_by_keyword(values_engine):
    assert values_engine.get_int(feature_name="five", ctx=CTX).val() == 5


def test_get_all_values_holds_every_dynamic_configuration(example_engine, example_records):
    ctx = pyorvane.make_ctx({"logged_in": True, "country_code": "DE"})
    result = example_engine.get_all_values(ctx)
    decisions = result.decisions()
    assert result.err() is None
    dynamic = {r["name"]: r for r in example_records.values() if r["type"] == "dynamic_config"}
    assert sorted(decisions) == sorted(dynamic)
    for name, decision in decisions.items():
        record = dynamic[name]
        assert decision.err() is None
        assert decision.decision() is None
        assert decision.decision_dict() == {}
        assert decision.events() == []
        assert decision.value_dict()["value"] == record["value"]


@pytest.mark.parametrize("value_type, default, type_name", [
    ("Boolean", False, "boolean"), ("Integer", 0, "integer"), ("Float", 0.0, "float"),
    ("String", "", "string"), ("Text", "", "string"), ("Map", {}, "map"), (None, None, ""),
], ids=["Boolean", "Integer", "Float", "String", "Text", "Map", "no value type"])
def test_get_all_values_substitutes_the_default_of_a_failed_decision(write_config, value_type,
                                                                     default, type_name):
    record = dynamic_config("cfg", "unused", value_type, id=3,
                            targeting={"EQ": {"field": "logged_in", "value": True}})
    engine = pyorvane.init("targeting value", write_config({"cfg": record}))
    entry = engine.get_all_values(pyorvane.make_ctx({})).decisions()["cfg"]
    value = entry.value_dict()
    assert (entry.err(), entry.decision(), entry.events()) == (None, None, [])
    assert value == {"name": "cfg", "type": type_name, "value": default}
    assert type(value["value"]) is type(default)


def test_get_all_values_entry_text(write_config):
    engine = pyorvane.init("value", write_config({"c": dynamic_config("c", 1.5, "Float", id=8)}))
    assert engine.get_all_values(CTX).inspect() == (
        'err: None, decisions: Some({"c": PyDecision { decision: Some(Decision { feature_id: 8, '
        'feature_name: "c", feature_version: 1, variant_name: None, value: Number(1.5), '
        "value_type: Some(Float), event_data: [], events: [] }), err: None }})")
