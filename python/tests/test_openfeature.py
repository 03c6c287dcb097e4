"""orvane.openfeature.OrvaneProvider through the real openfeature-sdk client: values,
variants, reasons, error codes with the SDK's defaults, exposures, context mapping."""

import datetime
import json

import pytest
from openfeature import api
from openfeature.evaluation_context import EvaluationContext

import orvane
import pyorvane
from orvane.openfeature import OrvaneProvider

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"


def record(name, type="dynamic_config", enabled=True, emit_event=False, **inner_and_top):
    top = {k: inner_and_top.pop(k) for k in ("value", "value_type", "parent_hg_name")
           if k in inner_and_top}
    return {"id": len(name), "name": name, "enabled": enabled, "version": "1", "owner": "o",
            "type": type, "emit_event": emit_event, **top,
            "experiment": {"experiment_version": 3, **inner_and_top}}


def variants(*ranges):
    return [{"name": n, "range_start": s, "range_end": e} for n, s, e in ranges]


CONFIG = {r["name"]: r for r in [
    record("banner", value=True, value_type="Boolean"),
    record("page_size", value=25, value_type="Integer"),
    record("huge", value=2**63, value_type="Integer"),
    record("ratio", value=0.5, value_type="Float"),
    record("greeting", value="hi", value_type="String",
           targeting={"EQ": {"field": "logged_in", "value": True}}),
    record("limits", value={"mb": 5, "types": ["png"]}, value_type="Map"),
    record("off", enabled=False, value=True, value_type="Boolean"),
    record("exp", type="range_variant", emit_event=True, bucket_val="user_id",
           variants=variants(("control_1", 0.0, 0.5), ("treatment", 0.5, 1.0)),
           overrides=[{"qa": {"EQ": {"field": "user_id", "value": "qa_user"}}}]),
    record("hg", type="range_variant", emit_event=True, bucket_val="user_id",
           variants=variants(("holdout", 0.0, 1.0))),
    record("held", type="range_variant", emit_event=True, bucket_val="user_id",
           parent_hg_name="hg", variants=variants(("treatment", 0.0, 1.0))),
    record("unbucketed", type="range_variant", variants=variants(("a", 0.0, 1.0))),
]}


@pytest.fixture(scope="module")
def engine():
    loaded = orvane.load(STAGES, CONFIG)
    assert loaded.err() is None
    return loaded


@pytest.fixture
def client_for(request):
    """A client of a domain of its own, served by the provider given."""

    def make(provider):
        domain = request.node.name
        api.set_provider(provider, domain)
        return api.get_client(domain)

    yield make
    api.clear_providers()


def bucketed_variant(engine, user):
    return engine.choose("exp", pyorvane.make_ctx({"user_id": user})).decision()


U = EvaluationContext("u1")
LOGGED_OUT = EvaluationContext("u1", {"logged_in": False})
LOGGED_IN = EvaluationContext("u1", {"logged_in": True})
QA = EvaluationContext("qa_user")

# method, flag, default, context, value, reason, variant, error code, error message
CASES = [
    ("static boolean", "boolean", "banner", False, U, True, "STATIC", None, None, None),
    ("integer", "integer", "page_size", 1, U, 25, "STATIC", None, None, None),
    ("integer as float", "float", "page_size", 1.0, U, 25.0, "STATIC", None, None, None),
    ("float", "float", "ratio", 0.0, U, 0.5, "STATIC", None, None, None),
    ("map as object", "object", "limits", {}, U, {"mb": 5, "types": ["png"]}, "STATIC",
     None, None, None),
    ("targeted value", "string", "greeting", "x", LOGGED_IN, "hi", "TARGETING_MATCH",
     None, None, None),
    ("targeting excludes", "string", "greeting", "x", LOGGED_OUT, "x", "DEFAULT",
     None, None, None),
    ("disabled", "boolean", "off", False, U, False, "DISABLED", None, None, None),
    ("override", "string", "exp", "none", QA, "qa", "TARGETING_MATCH", "qa", None, None),
    ("held out keeps the default", "string", "held", "none", U, "none", "SPLIT", None,
     None, None),
    ("unknown flag", "boolean", "nope", True, U, True, "ERROR", None, "FLAG_NOT_FOUND",
     'Feature "nope" not found.'),
    ("boolean of an integer", "boolean", "page_size", True, U, True, "ERROR", None,
     "TYPE_MISMATCH", "Dynamic Configuration Feature type mismatch."),
    ("integer above 64 bits", "integer", "huge", 7, U, 7, "ERROR", None, "TYPE_MISMATCH",
     "Number deserialization failed."),
    ("integer of a float", "integer", "ratio", 7, U, 7, "ERROR", None, "TYPE_MISMATCH",
     "Number deserialization failed."),
    ("object of a boolean", "object", "banner", {"d": 1}, U, {"d": 1}, "ERROR", None,
     "TYPE_MISMATCH", "Dynamic Configuration Feature type mismatch."),
    ("engine error", "string", "unbucketed", "d", U, "d", "ERROR", None, "GENERAL",
     'Missing "bucket_val" field in experiment config.'),
    ("context that does not convert", "boolean", "banner", False,
     EvaluationContext("u1", {"build_number": "12"}), False, "ERROR", None, "INVALID_CONTEXT",
     '"build_number" type mismatch (integer).'),
]


@pytest.mark.parametrize("method,flag,default,context,value,reason,variant,code,message",
                         [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_resolution_through_the_sdk(engine, client_for, method, flag, default, context,
                                    value, reason, variant, code, message):
    client = client_for(OrvaneProvider(engine))
    details = getattr(client, f"get_{method}_details")(flag, default, context)
    assert (details.value, details.reason, details.variant) == (value, reason, variant)
    assert (details.error_code, details.error_message) == (code, message)
    assert getattr(client, f"get_{method}_value")(flag, default, context) == value


def test_experiment_resolves_to_its_bucketed_variant(engine, client_for):
    client = client_for(OrvaneProvider(engine))
    for user in ("u1", "u2", "u3", "u4"):
        details = client.get_string_details("exp", "none", EvaluationContext(user))
        expected = bucketed_variant(engine, user)
        assert (details.value, details.variant, details.reason) == (expected, expected, "SPLIT")


def test_failed_engine_answers_the_default_with_its_error(tmp_path, client_for):
    failed = pyorvane.init(STAGES, str(tmp_path / "missing.json"))
    details = client_for(OrvaneProvider(failed)).get_integer_details("page_size", 3, U)
    assert (details.value, details.reason, details.error_code) == (3, "ERROR", "GENERAL")
    assert details.error_message == failed.err()


def test_exposures_are_the_compact_event_texts(engine, client_for):
    exposed = []
    client = client_for(OrvaneProvider(engine, on_exposure=exposed.append))
    for context, flag in [(QA, "exp"), (U, "exp"), (U, "held"), (U, "banner")]:
        client.get_string_value(flag, "none", context)
    expected = [text for user, flag in [("qa_user", "exp"), ("u1", "exp"), ("u1", "held")]
                for text in engine.choose(flag, pyorvane.make_ctx({"user_id": user})).events()]
    assert exposed == expected and len(expected) == 3
    assert exposed[2].startswith("2::::2::::hg::::3::::holdout::::u1::::user_id::::")


def test_failing_exposure_sink_does_not_fail_the_flag(engine, client_for, caplog):
    def broken(text):
        raise OSError("disk full")

    client = client_for(OrvaneProvider(engine, on_exposure=broken))
    details = client.get_string_details("exp", "none", QA)
    assert (details.value, details.error_code) == ("qa", None)
    assert [r.getMessage().split(" for ")[0] for r in caplog.records] == ["on_exposure failed"]


WHEN = datetime.datetime(2026, 1, 2, 3, 4, 5, tzinfo=datetime.timezone.utc)
CONTEXT_CASES = [
    ("targeting key", "user_id", EvaluationContext("u1"), {"user_id": "u1"}),
    ("no context", "user_id", None, {}),
    ("known keys and the rest", "user_id",
     EvaluationContext("u1", {"logged_in": True, "build_number": 7, "plan": "pro",
                              "score": 2.5, "tags": ["a"], "seen": WHEN,
                              "cookie_created_timestamp": WHEN}),
     {"user_id": "u1", "logged_in": True, "build_number": 7, "cookie_created_timestamp":
      1767323045000, "other_fields": {"plan": "pro", "score": 2.5,
                                      "seen": "2026-01-02T03:04:05+00:00"}}),
    ("targeting key wins over the attribute", "user_id",
     EvaluationContext("u1", {"user_id": "u2"}), {"user_id": "u1"}),
    ("targeting key to another field", "device_id",
     EvaluationContext("d1", {"user_id": "u2"}), {"user_id": "u2", "device_id": "d1"}),
    ("targeting key to an extra field", "account",
     EvaluationContext("a1"), {"other_fields": {"account": "a1"}}),
]


@pytest.mark.parametrize("key,context,expected", [c[1:] for c in CONTEXT_CASES],
                         ids=[c[0] for c in CONTEXT_CASES])
def test_context_mapping(engine, key, context, expected):
    assert OrvaneProvider(engine, targeting_key=key).context_dict(context) == expected


@pytest.mark.parametrize("method,lookup,kind", [("boolean", "get_bool", bool),
                                                ("integer", "get_int", int),
                                                ("float", "get_float", float),
                                                ("string", "get_string", str),
                                                ("object", "get_map", dict)],
                         ids=["boolean", "integer", "float", "string", "object"])
def test_value_flags_agree_with_the_typed_lookups(engine, client_for, method, lookup, kind):
    client = client_for(OrvaneProvider(engine))
    ctx = pyorvane.make_ctx({"user_id": "u1", "logged_in": True})
    for flag, rec in CONFIG.items():
        if rec["type"] != "dynamic_config" or not rec["enabled"]:
            continue
        direct = getattr(engine, lookup)(flag, ctx)
        details = getattr(client, f"get_{method}_details")(flag, None, LOGGED_IN)
        if direct.err() is None:
            assert (details.value, details.error_message) == (direct.val(), None), flag
            assert type(details.value) is kind, flag
        else:
            assert (details.value, details.error_message) == (None, direct.err()), flag


def test_source_swaps_are_seen(tmp_path, client_for):
    path = tmp_path / "config.json"
    path.write_text(json.dumps({"banner": CONFIG["banner"]}))
    source = orvane.EngineSource(path, STAGES)
    client = client_for(OrvaneProvider(source))
    assert client.get_boolean_details("banner", False, U).reason == "STATIC"
    targeted = dict(CONFIG["banner"], enabled=False)
    path.write_text(json.dumps({"banner": targeted}))
    assert source.refresh()
    details = client.get_boolean_details("banner", True, U)
    assert (details.value, details.reason) == (True, "DISABLED")


def test_rejects_what_is_not_an_engine():
    with pytest.raises(TypeError, match="argument 'engine_or_source'"):
        OrvaneProvider("config.json")
