"""init(): load failures never raise; an engine that failed to load answers every method
with OrvaneNotFound and the method's default value."""

import re

import pytest

import pyorvane
from configs import experiment

ADDRESS = re.compile(r"Py\(0x[0-9a-f]+\)")


def test_missing_file(tmp_path):
    engine = pyorvane.init("value", str(tmp_path / "absent.json"))
    assert type(engine).__name__ == "PyOrvane"
    assert engine.err() == ('Orvane initialization failed: Std io error: '
                            '"No such file or directory (os error 2)".')


@pytest.mark.parametrize("stages, message", [
    ("Darkmode", 'Invalid decisionmaker name: \\"Darkmode\\"'),
    ("value fractional-availability", 'Invalid decisionmaker name: \\"fractional-availability\\"'),
    ("value\tbogus holdout", 'Invalid decisionmaker name: \\"bogus\\"'),
], ids=["letter case", "hyphen", "second of three"])
def test_unknown_stage_name(write_config, stages, message):
    engine = pyorvane.init(stages, write_config({}))
    assert engine.err() == (f'Orvane initialization failed: Invalid DecisionMaker: "{message}".')


def test_missing_file_is_reported_before_a_bad_stage_name(tmp_path):
    engine = pyorvane.init("bogus", str(tmp_path / "absent.json"))
    assert engine.err().startswith("Orvane initialization failed: Std io error: ")


@pytest.mark.parametrize("document, message", [
    ("[]", "invalid type: sequence, expected a map at line 1 column 1"),
    ('{"a": {"id": 1}}', "missing field `name` at line 1 column 15"),
], ids=["top-level array", "record without name"])
def test_configuration_that_does_not_read(write_config, document, message):
    engine = pyorvane.init("value", write_config(document))
    assert engine.err() == f'Orvane initialization failed: Json error: "{message}".'


@pytest.mark.parametrize("stages", ["", "   ", "value locale", " \tvalue\n locale  "],
                         ids=["empty", "blanks", "two names", "white space around names"])
def test_stage_lists_that_load(write_config, stages):
    engine = pyorvane.init(stages, write_config({"a": experiment("a")}))
    assert engine.err() is None


CTX = pyorvane.make_ctx({"user_id": "u1"})

# (call on an engine without engine, its inspect() text, what its value reader returns)
DEFAULTS = [
    (lambda e: e.get_bool("f", CTX), "err: Some(OrvaneNotFound), val: false", False),
    (lambda e: e.get_int("f", CTX), "err: Some(OrvaneNotFound), val: 0", 0),
    (lambda e: e.get_float("f", CTX), "err: Some(OrvaneNotFound), val: 0.0", 0.0),
    (lambda e: e.get_string("f", CTX), 'err: Some(OrvaneNotFound), val: ""', ""),
    (lambda e: e.get_map("f", CTX), "err: Some(OrvaneNotFound), val: Py(ADDRESS)", {}),
    (lambda e: e.get_experiment("f"), "err: Some(OrvaneNotFound), val: None", None),
    (lambda e: e.choose("f", CTX), "err: Some(OrvaneNotFound), decision: None", None),
    (lambda e: e.choose("f", CTX, "user_id"), "err: Some(OrvaneNotFound), decision: None", None),
    (lambda e: e.choose_all(CTX), "err: Some(OrvaneNotFound), decisions: None", None),
    (lambda e: e.get_all_values(CTX), "err: Some(OrvaneNotFound), decisions: None", None),
]
DEFAULT_IDS = ["get_bool", "get_int", "get_float", "get_string", "get_map", "get_experiment",
               "choose", "choose with identifier", "choose_all", "get_all_values"]


def read_value(result):
    name = type(result).__name__
    if name == "PyDecision":
        return result.decision()
    if name == "GetAllDecisionsRes":
        return result.decisions()
    return result.val()


@pytest.mark.parametrize("call, inspected, value", DEFAULTS, ids=DEFAULT_IDS)
def test_unloaded_engine_answers_orvane_not_found(unloaded_engine, call, inspected, value):
    result = call(unloaded_engine)
    assert result.err() == "Orvane not found."
    assert ADDRESS.sub("Py(ADDRESS)", result.inspect()) == inspected
    got = read_value(result)
    assert got == value
    assert type(got) is type(value)


def test_unloaded_engine_map_default_is_the_stored_dict(unloaded_engine):
    result = unloaded_engine.get_map("f", CTX)
    stored = result.val()
    assert result.inspect() == f"err: Some(OrvaneNotFound), val: Py({hex(id(stored))})"
    stored["k"] = 1
    assert result.val() is stored
    assert result.val() == {"k": 1}


def test_unloaded_engine_decision_readers(unloaded_engine):
    result = unloaded_engine.choose("f", CTX)
    assert result.decision_dict() == {}
    assert result.value_dict() == {}
    assert result.events() == []
