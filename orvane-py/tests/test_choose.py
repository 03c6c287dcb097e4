"""choose and choose_all end to end: decisions, their dictionaries, events and texts."""

import gc
import json

import pytest

import pyorvane
from configs import (ALL_STAGES, EXAMPLE_CONFIG, compact_event, experiment, expected_variant,
                     find_identifier)

BUCKETING = "targeting fractional_availability"


def decision_parts(result):
    return (result.err(), result.decision(), result.decision_dict(), result.value_dict(),
            result.events())


@pytest.mark.parametrize("device", ["dev-1", "dev-2", "8c1b2f1e-aaaa", "tablet-77"])
def test_example_feature_decided_by_its_bucket(example_records, device):
    record = example_records["onboarding_flow"]
    engine = pyorvane.init(BUCKETING, str(EXAMPLE_CONFIG))
    ctx = pyorvane.make_ctx({"device_id": device, "app_name": "android"})
    variant = expected_variant(record, device)
    result = engine.choose("onboarding_flow", ctx)
    assert decision_parts(result) == (
        None, variant,
        {"name": variant, "id": "3002", "version": "1", "experimentName": "onboarding_flow"},
        {"name": "onboarding_flow", "type": "", "value": None},
        [compact_event(0, record, variant, device)])


def test_request_outside_the_targeting_gets_no_decision(example_engine):
    ctx = pyorvane.make_ctx({"device_id": "dev-1", "app_name": "web"})
    result = example_engine.choose("onboarding_flow", ctx)
    assert decision_parts(result) == (None, None, {}, {}, [])
    assert result.inspect() == "err: None, decision: None"


def test_feature_that_is_not_configured(example_engine):
    result = example_engine.choose("Onboarding_Flow", pyorvane.make_ctx({}))
    assert decision_parts(result) == ('Feature "Onboarding_Flow" not found.', None, {}, {}, [])
    assert result.inspect() == (
        'err: Some(GenericError("Feature \\"Onboarding_Flow\\" not found.")), decision: None')


@pytest.mark.parametrize("identifier_type, err", [
    ("user_id", 'Requested identifier_type: "user_id" is incompatible with '
                "experiment's bucket_val = device_id."),
    ("device_id ", 'Requested identifier_type: "device_id " is incompatible with '
                   "experiment's bucket_val = device_id."),
    ("device_id", None),
    (None, None),
], ids=["other field", "trailing blank", "same field", "None"])
def test_identifier_type_is_checked_against_the_bucketing_field(example_engine, identifier_type,
                                                                err):
    ctx = pyorvane.make_ctx({"device_id": "dev-1", "app_name": "ios"})
    result = example_engine.choose("onboarding_flow", ctx, identifier_type)
    plain = example_engine.choose("onboarding_flow", ctx)
    assert result.err() == err
    if err is None:
        assert result.decision() == plain.decision()
        assert result.decision_dict() == plain.decision_dict()
    else:
        assert result.decision() is None


def test_identifier_type_for_a_dynamic_configuration(example_engine):
    result = example_engine.choose("feed_page_size", pyorvane.make_ctx({}), "user_id")
    assert result.err() == "Invalid Feature configuration."


def test_dynamic_configuration_decision_has_a_value_and_no_variant(example_engine):
    result = example_engine.choose("upload_limits", pyorvane.make_ctx({}))
    value = result.value_dict()
    assert (result.err(), result.decision(), result.decision_dict(), result.events()) == (
        None, None, {}, [])
    assert value == {"name": "upload_limits", "type": "map",
                     "value": {"formats": ["jpg", "png", "gif"], "max_mb": 50, "quality": 0.85,
                               "resize": True}}
    assert list(value["value"]) == ["formats", "max_mb", "quality", "resize"]
    assert type(value["value"]["max_mb"]) is int
    assert type(value["value"]["quality"]) is float


@pytest.mark.parametrize("key, type_name", [
    ("feed_page_size", "integer"), ("maintenance_banner", "boolean"),
    ("ranking_temperature", "float"), ("support_email", "string"),
    ("welcome_message", "string"), ("upload_limits", "map"),
], ids=["Integer", "Boolean", "Float", "String", "Text", "Map"])
def test_value_dict_type_is_the_display_name(example_engine, example_records, key, type_name):
    ctx = pyorvane.make_ctx({"logged_in": True})
    record = example_records[key]
    assert example_engine.choose(record["name"], ctx).value_dict() == {
        "name": record["name"], "type": type_name, "value": record["value"]}


def test_decision_texts_without_events(write_config):
    path = write_config({"f": experiment("f", id=7, experiment_version=2,
                                         variants=[("v", 0.0, 1.0)])})
    result = pyorvane.init("fractional_availability", path).choose(
        "f", pyorvane.make_ctx({"user_id": "u1"}))
    assert result.inspect() == (
        'err: None, decision: Some(Decision { feature_id: 7, feature_name: "f", '
        'feature_version: 2, variant_name: Some("v"), value: Null, value_type: None, '
        "event_data: [], events: [] })")
    assert result.decision_dict() == {"name": "v", "id": "7", "version": "2", "experimentName": "f"}
    assert result.value_dict() == {"name": "f", "type": "", "value": None}


def test_decision_texts_with_an_event(write_config):
    record = experiment("f", id=7, owner="o", emit_event=True, variants=[("v", 0.0, 1.0)],
                        start_ts=0, stop_ts=100)
    result = pyorvane.init("fractional_availability", write_config({"f": record})).choose(
        "f", pyorvane.make_ctx({"user_id": "u1"}))
    event = compact_event(0, record, "v", "u1")
    assert event == "0::::7::::f::::1::::v::::u1::::user_id::::0::::100::::o"
    assert result.events() == [event]
    text = result.inspect()
    prefix = ('err: None, decision: Some(Decision { feature_id: 7, feature_name: "f", '
              'feature_version: 1, variant_name: Some("v"), value: Null, value_type: None, '
              f'event_data: ["{event}"], events: [Event {{ kind: FracAvail, json: "')
    assert text.startswith(prefix)
    assert text.endswith('" }] })')
    encoded = json.loads(text[len(prefix):-len('" }] })')].replace('\\"', '"'))
    assert list(encoded) == ["1", "2", "3", "5", "6", "8", "112", "129"]
    assert encoded["129"]["rec"]["4"] == {"str": "v"}


def test_events_returns_a_new_list_each_call(write_config):
    record = experiment("f", emit_event=True, variants=[("v", 0.0, 1.0)])
    result = pyorvane.init("fractional_availability", write_config({"f": record})).choose(
        "f", pyorvane.make_ctx({"user_id": "u1"}))
    first = result.events()
    first.append("changed")
    assert result.events() == [compact_event(0, record, "v", "u1")]
    assert result.decision_dict() is not result.decision_dict()


def test_override_decides_with_the_variant_as_string_value(write_config):
    record = experiment("f", id=9, emit_event=True, variants=[("v", 0.0, 1.0)],
                        overrides=[{"forced": {"EQ": {"field": "user_id", "value": "qa"}}}])
    engine = pyorvane.init("overrides fractional_availability", write_config({"f": record}))
    result = engine.choose("f", pyorvane.make_ctx({"user_id": "qa"}))
    assert decision_parts(result) == (
        None, "forced", {"name": "forced", "id": "9", "version": "1", "experimentName": "f"},
        {"name": "f", "type": "string", "value": "forced"},
        [compact_event(1, record, "forced", "qa")])


def test_holdout_decision_carries_the_holdout_value(write_config):
    holdout = experiment("hg", id=1, emit_event=True, variants=[("holdout", 0.0, 1.0)],
                         value={"b": 2, "a": [1.5, None]}, value_type="Map")
    child = experiment("child", id=2, emit_event=True, variants=[("v", 0.0, 1.0)],
                       parent_hg_name="hg")
    engine = pyorvane.init(ALL_STAGES, write_config({"hg": holdout, "child": child}))
    result = engine.choose("child", pyorvane.make_ctx({"user_id": "u1"}))
    assert decision_parts(result) == (
        None, None, {}, {"name": "child", "type": "map", "value": {"a": [1.5, None], "b": 2}},
        [compact_event(2, holdout, "holdout", "u1")])


def test_control_holdout_lets_the_feature_decide_after_the_holdout_event(write_config):
    holdout = experiment("hg", id=1, emit_event=True, variants=[("control_1", 0.0, 1.0)])
    child = experiment("child", id=2, emit_event=True, variants=[("v", 0.0, 1.0)],
                       parent_hg_name="hg")
    engine = pyorvane.init(ALL_STAGES, write_config({"hg": holdout, "child": child}))
    result = engine.choose("child", pyorvane.make_ctx({"user_id": "u1"}))
    assert result.decision() == "v"
    assert result.events() == [compact_event(2, holdout, "control_1", "u1"),
                               compact_event(0, child, "v", "u1")]


def test_choose_all_holds_every_experiment_and_no_dynamic_configuration(example_engine,
                                                                        example_records):
    ctx = pyorvane.make_ctx({"user_id": "t2_abc", "device_id": "dev-1", "app_name": "ios",
                             "country_code": "US", "logged_in": True, "build_number": 1300,
                             "user_is_employee": False})
    result = example_engine.choose_all(ctx)
    decisions = result.decisions()
    assert result.err() is None
    assert sorted(decisions) == sorted(r["name"] for r in example_records.values()
                                       if r["type"] != "dynamic_config")
    for name, decision in decisions.items():
        alone = example_engine.choose(name, ctx)
        assert type(decision).__name__ == "PyDecision"
        assert decision.err() == alone.err()
        assert decision.decision() == alone.decision()
        assert decision.decision_dict() == alone.decision_dict()
        assert decision.value_dict() == alone.value_dict()
        assert len(decision.events()) == len(alone.events())


def test_choose_all_with_identifier_type_keeps_only_that_bucketing(example_engine,
                                                                   example_records):
    ctx = pyorvane.make_ctx({"device_id": "dev-1", "app_name": "ios"})
    decisions = example_engine.choose_all(ctx, "device_id").decisions()
    assert sorted(decisions) == sorted(
        r["name"] for r in example_records.values()
        if r["type"] != "dynamic_config" and r["experiment"].get("bucket_val") == "device_id")
    assert example_engine.choose_all(ctx, identifier_type=None).decisions().keys() == \
        example_engine.choose_all(ctx).decisions().keys()


def test_choose_all_keeps_a_failing_feature_as_its_entry(write_config):
    engine = pyorvane.init("fractional_availability",
                           write_config({"f": experiment("f", variants=[("v", 0.0, 1.0)],
                                                         bucket_val=None)}))
    result = engine.choose_all(pyorvane.make_ctx({"user_id": "u1"}))
    assert result.err() is None
    entry = result.decisions()["f"]
    assert (entry.err(), entry.decision()) == (
        'Missing "bucket_val" field in experiment config.', None)
    assert result.inspect() == (
        'err: None, decisions: Some({"f": PyDecision { decision: None, err: Some(GenericError('
        '"Missing \\"bucket_val\\" field in experiment config.")) }})')


def test_choose_all_entry_texts(write_config):
    engine = pyorvane.init("fractional_availability",
                           write_config({"f": experiment("f", id=4, variants=[("v", 0.0, 1.0)])}))
    result = engine.choose_all(pyorvane.make_ctx({"user_id": "u1"}))
    assert result.inspect() == (
        'err: None, decisions: Some({"f": PyDecision { decision: Some(Decision { feature_id: 4, '
        'feature_name: "f", feature_version: 1, variant_name: Some("v"), value: Null, '
        "value_type: None, event_data: [], events: [] }), err: None }})")


def test_choose_all_on_an_empty_configuration(write_config):
    result = pyorvane.init("value", write_config({})).choose_all(pyorvane.make_ctx({}))
    assert (result.err(), result.decisions(), result.inspect()) == (
        None, {}, "err: None, decisions: Some({})")


def test_decisions_builds_new_objects_on_every_call(example_engine):
    result = example_engine.choose_all(pyorvane.make_ctx({"user_id": "t2_abc"}))
    first, second = result.decisions(), result.decisions()
    assert first is not second
    assert first.keys() == second.keys()
    for name in first:
        assert first[name] is not second[name]
        assert decision_parts(first[name]) == decision_parts(second[name])


def test_bucketing_field_missing_from_the_context(example_engine):
    result = example_engine.choose("onboarding_flow", pyorvane.make_ctx({"app_name": "ios"}))
    assert result.err() == 'Missing field "device_id" in context for bucket_val = device_id'


def test_results_outlive_the_engine(write_config):
    record = experiment("f", emit_event=True, variants=[("v", 0.0, 1.0)])
    engine = pyorvane.init("fractional_availability", write_config({"f": record}))
    ctx = pyorvane.make_ctx({"user_id": "u1"})
    result = engine.choose("f", ctx)
    everything = engine.choose_all(ctx)
    del engine
    gc.collect()
    assert result.decision() == "v"
    assert everything.decisions()["f"].events() == [compact_event(0, record, "v", "u1")]


def test_worked_bucketing_example(write_config):
    record = experiment("my_feature", id=42, shuffle_version=3,
                        variants=[("control_1", 0.0, 0.25), ("treatment", 0.25, 0.5),
                                  ("treatment_2", 0.5, 0.75)])
    engine = pyorvane.init("fractional_availability", write_config({"k": record}))
    assert engine.choose("my_feature", pyorvane.make_ctx({"user_id": "u1234"})).decision() == \
        "treatment_2"


@pytest.mark.parametrize("variant", ["a", "b", "c"])
def test_identifiers_land_in_the_variant_of_their_bucket(write_config, variant):
    record = experiment("split", id=11, shuffle_version=5,
                        variants=[("a", 0.0, 0.3), ("b", 0.3, 0.6), ("c", 0.6, 1.0)])
    engine = pyorvane.init("fractional_availability", write_config({"split": record}))
    user = find_identifier(record, variant)
    assert engine.choose("split", pyorvane.make_ctx({"user_id": user})).decision() == variant


def test_other_fields_entry_as_identifier_type(write_config):
    record = experiment("f", variants=[("v", 0.0, 1.0)], bucket_val="account")
    engine = pyorvane.init("fractional_availability", write_config({"f": record}))
    ctx = pyorvane.make_ctx({"other_fields": {"account": 12345}})
    result = engine.choose("f", ctx, "account")
    assert (result.err(), result.decision()) == (None, "v")
    assert engine.choose("f", ctx, "Account").err() == (
        'Requested identifier_type: "Account" is incompatible with '
        "experiment's bucket_val = account.")


def test_context_with_conversion_errors_is_used_as_it_is(write_config):
    record = experiment("f", variants=[("v", 0.0, 1.0)])
    engine = pyorvane.init("fractional_availability", write_config({"f": record}))
    ctx = pyorvane.make_ctx({"user_id": "u1", "build_number": "x"})
    assert ctx.err() == '"build_number" type mismatch (integer).'
    assert engine.choose("f", ctx).decision() == "v"


def test_calls_from_several_threads_agree(example_engine, example_records):
    import threading

    record = example_records["onboarding_flow"]
    devices = [f"device-{i}" for i in range(40)]
    expected = {device: expected_variant(record, device) for device in devices}
    seen = {}
    failures = []

    def work(chunk):
        for device in chunk:
            ctx = pyorvane.make_ctx({"device_id": device, "app_name": "ios"})
            result = example_engine.choose("onboarding_flow", ctx)
            if result.err() is not None:
                failures.append(result.err())
            seen[device] = result.decision()

    threads = [threading.Thread(target=work, args=(devices[i::4],)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert seen == expected
