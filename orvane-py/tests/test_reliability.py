"""Reliability of the module under concurrent use and across os.fork().

One engine is shared by several Python threads that call every engine and result method
on a fixed set of contexts; every answer must equal the one computed on a single thread
before the threads started. A forked child must keep answering as the parent did, and the
random identifiers stamped into exposure events must not repeat between parent and children.

The compact event texts returned by events() hold nothing that changes between calls. The
encoded JSON events are visible only inside PyDecision.inspect(); their client timestamp
(key "5"), event UUID (key "6") and batch UUID (key "8") change on every call, so they are
taken out of the text before comparing and checked on their own.
"""

import json
import os
import pickle
import re
import select
import signal
import sys
import threading
import time
import traceback

import pytest

import pyorvane
from configs import ALL_STAGES, EXAMPLE_CONFIG

UUID4 = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")

# Every feature name of the example configuration, plus one it does not hold.
FEATURES = [
    "global_holdout", "checkout_mutex", "checkout_button_color", "checkout_one_click",
    "checkout_express_pay", "search_ranking_v2", "onboarding_flow",
    "dark_launch_recommendations", "new_editor_rollout", "dark_mode_rollout",
    "feed_page_size", "maintenance_banner", "ranking_temperature", "support_email",
    "welcome_message", "upload_limits", "regional_pricing", "no_such_feature",
]
DYNAMIC = ["feed_page_size", "maintenance_banner", "ranking_temperature", "support_email",
           "welcome_message", "upload_limits", "regional_pricing", "onboarding_flow",
           "no_such_feature"]
IDENTIFIER_TYPES = [None, "user_id", "device_id", "plan"]

CONTEXTS = [
    {},
    {"user_id": "t2_alice", "device_id": "3f2a9c1e-7b4d-4e8a-9c3f-1a2b3c4d5e6f",
     "app_name": "ios", "build_number": 1310, "logged_in": True, "user_is_employee": False,
     "country_code": "US", "locale": "en-US"},
    {"user_id": "t2_qa_bob", "device_id": "web-8812", "app_name": "web", "build_number": 1250,
     "logged_in": True, "user_is_employee": True, "country_code": "DE"},
    {"user_id": "t2_carol", "device_id": "a-55", "app_name": "android", "build_number": 1100,
     "logged_in": False, "user_is_employee": False, "country_code": "GB",
     "other_fields": {"plan": "internal"}},
    {"user_id": "t2_dave", "device_id": "dev-1", "app_name": "android", "build_number": 1400,
     "logged_in": True, "user_is_employee": False, "country_code": "CA",
     "other_fields": {"plan": "pro", "seats": 3, "ratio": 2.5, "beta": True}},
    {"user_id": "t2_erin", "app_name": "ios", "build_number": 1200, "logged_in": True,
     "user_is_employee": False, "country_code": "FR"},
    {"device_id": "D1E2F3A4-B5C6-4D7E-8F90-A1B2C3D4E5F6", "app_name": "ios",
     "country_code": "ES", "logged_in": False},
    {"user_id": "t2_frank", "device_id": "{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}",
     "app_name": "android", "build_number": 2147483647, "logged_in": True,
     "user_is_employee": False, "country_code": "IT", "canonical_url": "https://x.test/a"},
    {"user_id": "t2_gina", "device_id": "tablet-77", "app_name": "web", "build_number": 0,
     "logged_in": True, "user_is_employee": False, "country_code": "US",
     "oauth_client_id": "client-9", "cookie_created_timestamp": 1700000000000,
     "loid_created_timestamp": -1},
    {"user_id": "t2_qa_alice", "device_id": "8c1b2f1e-aaaa", "app_name": "ios",
     "build_number": 1500, "logged_in": True, "user_is_employee": False, "country_code": "US"},
    {"user_id": "t2_hank", "device_id": "dev-2", "logged_in": True, "country_code": "DE",
     "other_fields": {"plan": "internal", "empty": None}},
    {"user_id": "t2_ivy", "device_id": "urn:uuid:12345678-1234-4234-9234-123456789abc",
     "app_name": "android", "build_number": 1250, "logged_in": True,
     "user_is_employee": True, "country_code": "GB", "locale": "en-GB"},
    {"user_id": "t2_jack", "device_id": "dev-3", "app_name": "ios", "build_number": 1199,
     "logged_in": True, "user_is_employee": False, "country_code": "US"},
    {"user_id": "t2_kim", "device_id": "0123456789abcdef0123456789abcdef", "app_name": "ios",
     "build_number": 1300, "logged_in": True, "user_is_employee": False, "country_code": "CA",
     "origin_service": "feed"},
    {"user_id": "t2_lee", "device_id": "dev-4", "app_name": "android", "build_number": 1600,
     "logged_in": True, "country_code": "GB"},
    # Fields of the wrong Python type: the context carries an error and lacks those fields.
    {"user_id": 17, "device_id": "dev-5", "app_name": "ios", "build_number": "1300",
     "logged_in": 1, "country_code": "US"},
    {"user_id": "t2_mia", "device_id": "dev-6", "app_name": "ios", "build_number": 2147483648,
     "logged_in": True, "country_code": "US", "other_fields": {"plan": ["a"]}},
    {"user_id": "t2_ned", "device_id": "dev-7", "app_name": "web", "logged_in": True,
     "user_is_employee": False, "country_code": "BR", "other_fields": {}},
    {"user_id": "t2_olga", "device_id": "dev-8", "app_name": "android", "build_number": 1350,
     "logged_in": True, "user_is_employee": False, "country_code": "US",
     "other_fields": {"plan": "internal", "big": 2 ** 70, "nan": float("nan")}},
    {"user_id": "t2_pat\u00e9", "device_id": "dev-\t9", "app_name": "ios", "build_number": 1310,
     "logged_in": True, "user_is_employee": False, "country_code": "US",
     "locale": "fr-\"CA\""},
]

_EVENT_JSON = re.compile(r'json: "((?:[^"\\]|\\.)*)"')
_DEBUG_ESCAPE = re.compile(r'\\(u\{[0-9a-f]+\}|.)')
_ADDRESS = re.compile(r"Py\(0x([0-9a-f]+)\)")
_ENTRY_SPLIT = re.compile(r', (?="[^"]*": PyDecision \{ )')
_DEBUG_CHARS = {'"': '"', "\\": "\\", "n": "\n", "r": "\r", "t": "\t"}


def _undebug(text):
    """Reverses the string escapes of the debug texts."""
    def one(match):
        code = match.group(1)
        if code.startswith("u{"):
            return chr(int(code[2:-1], 16))
        return _DEBUG_CHARS[code]
    return _DEBUG_ESCAPE.sub(one, text)


def split_events(text, stamps):
    """Replaces the per-call parts of each encoded event in a debug text by fixed marks.

    Appends (timestamp, event UUID, batch UUID) of every event to `stamps` and returns the
    text with the whole event replaced by its normalised JSON."""
    def one(match):
        event = json.loads(_undebug(match.group(1)))
        stamp = (event["5"]["i64"], event["6"]["str"], event["8"]["str"])
        stamps.append(stamp)
        event["5"], event["6"], event["8"] = "<ts>", "<event-uuid>", "<batch-uuid>"
        return "json: " + json.dumps(event, sort_keys=False, separators=(",", ":"))
    return _EVENT_JSON.sub(one, text)


def check_batch(stamps):
    """Events of one decision share timestamp and batch UUID; each event has its own UUID."""
    for _, event_uuid, batch_uuid in stamps:
        assert UUID4.match(event_uuid), event_uuid
        assert UUID4.match(batch_uuid), batch_uuid
    assert len({s[0] for s in stamps}) <= 1, stamps
    assert len({s[2] for s in stamps}) <= 1, stamps
    assert len({s[1] for s in stamps}) == len(stamps), stamps


def decision_parts(result, uuids):
    stamps = []
    inspected = split_events(result.inspect(), stamps)
    check_batch(stamps)
    for _, event_uuid, batch_uuid in stamps:
        uuids.append(("event", event_uuid))
    if stamps:
        uuids.append(("batch", stamps[0][2]))
    return (result.err(), result.decision(), result.decision_dict(), result.value_dict(),
            result.events(), inspected)


def all_decisions_parts(result, uuids):
    decisions = result.decisions()
    stamps = []
    inspected = split_events(result.inspect(), stamps)
    if decisions is None:
        entries = inspected
    else:
        head, tail = "err: None, decisions: Some({", "})"
        assert inspected.startswith(head) and inspected.endswith(tail), inspected
        body = inspected[len(head):-len(tail)]
        entries = sorted(_ENTRY_SPLIT.split(body)) if body else []
        assert len(entries) == len(decisions), inspected
    mapped = None
    if decisions is not None:
        mapped = {name: decision_parts(one, uuids) for name, one in decisions.items()}
        # Every call builds new objects: a second decisions() shares none of them.
        again = result.decisions()
        assert again is not decisions
        assert all(again[name] is not decisions[name] for name in decisions)
    return result.err(), mapped, entries


def typed_parts(result):
    value = result.val()
    text = result.inspect()
    if isinstance(result.val(), dict) or value is None and "Some(Py(" in text:
        # GetMapRes and GetExperimentRes hand out the object they hold, and name its address.
        assert result.val() is value
        addresses = _ADDRESS.findall(text)
        assert addresses == [format(id(value), "x")], (text, id(value))
        text = _ADDRESS.sub("Py(<address>)", text)
    return result.err(), type(value).__name__, value, text


def snapshot(engine, context_fields, uuids):
    """Everything the engine answers for one context, in a form that compares with ==."""
    ctx = pyorvane.make_ctx(context_fields)
    answers = {"engine_err": engine.err(), "ctx_err": ctx.err(), "ctx_inspect": ctx.inspect()}
    for name in FEATURES:
        for identifier_type in IDENTIFIER_TYPES:
            result = engine.choose(name, ctx, identifier_type)
            answers["choose", name, identifier_type] = decision_parts(result, uuids)
        answers["get_experiment", name] = typed_parts(engine.get_experiment(name))
    for identifier_type in IDENTIFIER_TYPES:
        answers["choose_all", identifier_type] = all_decisions_parts(
            engine.choose_all(ctx, identifier_type), uuids)
    answers["get_all_values"] = all_decisions_parts(engine.get_all_values(ctx), uuids)
    for name in DYNAMIC:
        for method in ("get_bool", "get_int", "get_float", "get_string", "get_map"):
            answers[method, name] = typed_parts(getattr(engine, method)(name, ctx))
    # A caller may change the dict that get_map hands out; later calls must not see it.
    held = engine.get_map("upload_limits", ctx)
    held.val()["changed_by_caller"] = True
    assert held.val()["changed_by_caller"] is True
    assert "changed_by_caller" not in engine.get_map("upload_limits", ctx).val()
    return answers


@pytest.fixture
def fast_switching():
    """Makes the interpreter switch threads far more often than by default."""
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(previous)


def test_contexts_cover_what_they_should(example_engine):
    """The fixed contexts reach variants, overrides, errors and conversion failures alike."""
    uuids = []
    answers = [snapshot(example_engine, fields, uuids) for fields in CONTEXTS]
    variants = {a["choose", n, None][1] for a in answers for n in FEATURES} - {None}
    errors = {a["choose", n, t][0] for a in answers for n in FEATURES for t in IDENTIFIER_TYPES}
    assert {"treatment_semantic", "express", "enabled", "short_flow"} <= variants
    assert 'Feature "no_such_feature" not found.' in errors
    assert sum(a["ctx_err"] is not None for a in answers) == 2
    assert uuids, "no context produced exposure events"


def test_threads_sharing_one_engine_agree_with_one_thread(example_engine, fast_switching):
    uuids = []
    expected = [snapshot(example_engine, fields, uuids) for fields in CONTEXTS]
    unloaded = pyorvane.init(ALL_STAGES, str(EXAMPLE_CONFIG) + ".missing")
    unloaded_expected = snapshot(unloaded, CONTEXTS[1], [])
    assert unloaded_expected["engine_err"] is not None

    threads_count = 8
    deadline = time.monotonic() + 3.0
    start = threading.Barrier(threads_count)
    failures = []
    checked = [0] * threads_count
    seen_uuids = [[] for _ in range(threads_count)]

    def work(index):
        try:
            start.wait()
            order = list(range(len(CONTEXTS)))
            offset = index * len(CONTEXTS) // threads_count
            order = order[offset:] + order[:offset]
            while True:
                for position in order:
                    got = snapshot(example_engine, CONTEXTS[position], seen_uuids[index])
                    if got != expected[position]:
                        diff = [k for k in expected[position] if got.get(k) != expected[position][k]]
                        failures.append((index, position, diff[:5]))
                        return
                    assert snapshot(unloaded, CONTEXTS[1], []) == unloaded_expected
                    checked[index] += 1
                    if checked[index] >= 3 and time.monotonic() > deadline:
                        return
        except BaseException:
            failures.append((index, traceback.format_exc()))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(threads_count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    assert not failures, failures
    assert all(count >= 3 for count in checked), checked
    # Every event and every batch drew its own random identifier, whichever thread it ran on.
    every = uuids + [u for per_thread in seen_uuids for u in per_thread]
    assert len(every) > len(uuids)
    values = [u for _, u in every]
    assert len(set(values)) == len(values)


FORK_CONTEXTS = [CONTEXTS[i] for i in (1, 2, 3, 4, 9, 11, 13, 18)]


def _fork_answers(engine):
    uuids = []
    return [snapshot(engine, fields, uuids) for fields in FORK_CONTEXTS], uuids


def _read_all(fd, pid, seconds):
    """Reads the pipe to its end; kills the child if it does not finish in time."""
    chunks = []
    limit = time.monotonic() + seconds
    while True:
        left = limit - time.monotonic()
        if left <= 0:
            os.kill(pid, signal.SIGKILL)
            raise AssertionError(f"child {pid} did not answer in {seconds} s")
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                return b"".join(chunks)
            chunks.append(chunk)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_engine_keeps_working_in_forked_children(example_engine):
    before, before_uuids = _fork_answers(example_engine)
    assert before_uuids

    children = []
    for _ in range(2):
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            # The child must never return into the test runner.
            status = 1
            try:
                os.close(read_end)
                payload = pickle.dumps(("ok",) + _fork_answers(example_engine))
                status = 0
            except BaseException:
                payload = pickle.dumps(("error", traceback.format_exc()))
            try:
                with os.fdopen(write_end, "wb") as out:
                    out.write(payload)
            finally:
                os._exit(status)
        os.close(write_end)
        children.append((pid, read_end))

    after, after_uuids = _fork_answers(example_engine)
    assert after == before

    every = before_uuids + after_uuids
    for pid, read_end in children:
        try:
            payload = _read_all(read_end, pid, 300)
        finally:
            os.close(read_end)
        _, status = os.waitpid(pid, 0)
        answer = pickle.loads(payload)
        assert answer[0] == "ok", answer
        assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, status
        answers, uuids = answer[1], answer[2]
        assert answers == before
        assert len(uuids) == len(before_uuids)
        every += uuids

    # Parent and children each drew their own random identifiers after the fork.
    values = [u for _, u in every]
    assert len(set(values)) == len(values)
