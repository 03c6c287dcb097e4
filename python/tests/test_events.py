"""orvane.event_documents: the documents the engine holds, byte for byte, and readable by
Apache Thrift's own JSON protocol with code generated from the shipped IDL."""

import importlib
import re
import shutil
import subprocess
import sys

import pytest
from thrift.protocol.TJSONProtocol import TJSONProtocol
from thrift.transport.TTransport import TMemoryBuffer

import orvane
import pyorvane

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"


def experiment(name, id, variants, emit_event=True, **top):
    return {"id": id, "name": name, "enabled": True, "version": "x", "owner": "team-" + name,
            "type": "range_variant", "emit_event": emit_event, "start_ts": 1700000000000,
            "stop_ts": 1800000000000, **top,
            "experiment": {"experiment_version": id + 1, "bucket_val": "user_id",
                           "variants": [{"name": n, "range_start": s, "range_end": e}
                                        for n, s, e in variants],
                           "overrides": [{"forced": {"EQ": {"field": "user_id",
                                                            "value": "qa"}}}]}}


CONFIG = {
    "hg": experiment("hg", 10, [("control_1", 0.0, 1.0)]),
    "exp": experiment("exp", 20, [("a", 0.0, 1.0)], parent_hg_name="hg"),
    "quiet": experiment("quiet", 30, [("a", 0.0, 1.0)], emit_event=False),
    "broken": {**experiment("broken", 40, [("a", 0.0, 1.0)]), "stop_ts": 2**63},
}
ENGINE = orvane.load(STAGES, CONFIG)
FULL = {"user_id": 'u "1" \\ ü\n', "device_id": "{4D3C2B1A-0000-4000-8000-0000000000AB}",
        "canonical_url": "https://example.com/a?b=c", "country_code": "DE", "app_name": "ios",
        "build_number": 1300, "locale": "de-DE", "logged_in": False, "user_is_employee": True,
        "cookie_created_timestamp": 1600000000123}

_JSON_IN_DEBUG = re.compile(r'json: "((?:[^"\\]|\\.)*)"')


def documents_in_debug_text(decision):
    """The json texts of the decision's events as its inspect() text quotes them."""
    def unquote(text):
        return re.sub(r'\\u\{([0-9a-f]+)\}|\\(.)',
                      lambda m: chr(int(m.group(1), 16)) if m.group(1)
                      else {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(2), m.group(2)), text)
    return [unquote(found) for found in _JSON_IN_DEBUG.findall(decision.inspect())]


DECISION_CASES = [
    ("two events, holdout first", "exp", FULL, 2),
    ("override, bare context", "exp", {"user_id": "qa"}, 1),
    ("no events", "quiet", FULL, 0),
    ("no decision", "exp", {"device_id": "x"}, 0),
    ("error", "broken", FULL, 0),
    ("unknown feature", "nope", FULL, 0),
]


@pytest.mark.parametrize("feature,ctx,count", [c[1:] for c in DECISION_CASES],
                         ids=[c[0] for c in DECISION_CASES])
def test_documents_are_those_the_decision_holds(feature, ctx, count):
    decision = ENGINE.choose(feature, pyorvane.make_ctx(ctx))
    documents = orvane.event_documents(decision)
    assert documents == documents_in_debug_text(decision)
    assert len(documents) == len(decision.events()) == count


def test_rejects_what_is_not_a_decision():
    with pytest.raises(TypeError, match="argument 'decision'"):
        orvane.event_documents(ENGINE)


@pytest.fixture(scope="module")
def thrift_types(tmp_path_factory):
    """The Python code Apache Thrift's compiler generates from the shipped IDL."""
    compiler = shutil.which("thrift")
    assert compiler, "the Thrift compiler is needed (Debian: thrift-compiler; scripts/test.sh installs it)"
    out = tmp_path_factory.mktemp("thrift")
    with orvane.event_schema().open("rb") as idl:
        (out / "events.thrift").write_bytes(idl.read())
    subprocess.run([compiler, "--gen", "py", "-out", str(out), str(out / "events.thrift")],
                   check=True)
    sys.path.insert(0, str(out))
    try:
        yield importlib.import_module("orvane_events.ttypes")
    finally:
        sys.path.remove(str(out))


def decode(types, document):
    event = types.Event()
    event.read(TJSONProtocol(TMemoryBuffer(document.encode())))
    return event


def encode(event):
    out = TMemoryBuffer()
    event.write(TJSONProtocol(out))
    return out.getvalue().decode()


def test_thrift_reads_every_field(thrift_types):
    t = thrift_types
    decision = ENGINE.choose("exp", pyorvane.make_ctx(FULL))
    first, second = (decode(t, d) for d in orvane.event_documents(decision))
    assert first.client_timestamp == second.client_timestamp > 1700000000000
    assert first.batch_id == second.batch_id and first.uuid != second.uuid
    for event in (first, second):
        assert re.fullmatch(r"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}",
                            event.uuid)
        event.uuid = event.batch_id = event.client_timestamp = None
    shared = dict(
        source="experiment", action="expose", noun="user_id",
        app=t.App(name="ios", build_number=1300, locale="de-DE"),
        platform=t.Platform(device_id="4d3c2b1a-0000-4000-8000-0000000000ab"),
        request=t.Request(canonical_url="https://example.com/a?b=c"),
        user=t.User(id=FULL["user_id"], logged_in=False,
                    cookie_created_timestamp=1600000000123, is_employee=True),
        geo=t.Geo(country_code="DE"))
    def exposure(name, id, variant):
        return t.Experiment(id=id, name=name, owner="team-" + name, variant=variant,
                            start_ts=1700000000000, stop_ts=1800000000000,
                            bucket_field="user_id", version=str(id + 1),
                            identifier=FULL["user_id"], is_override=False)
    assert first == t.Event(experiment=exposure("hg", 10, "control_1"), **shared)
    assert second == t.Event(experiment=exposure("exp", 20, "a"), **shared)


def test_thrift_writes_back_the_same_bytes(thrift_types):
    for ctx in (FULL, {"user_id": "qa"}, {"user_id": "u", "app_name": "web"}):
        for document in orvane.event_documents(ENGINE.choose("exp", pyorvane.make_ctx(ctx))):
            assert encode(decode(thrift_types, document)) == document
