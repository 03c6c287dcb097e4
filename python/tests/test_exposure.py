"""orvane.ExposureLog and orvane.JsonLinesFile: deduplication in a bounded window, the
records, failing sinks and full disks reported but never raised, rotation, fork, exit."""

import json
import logging
import os
import subprocess
import sys
import types

import pytest

import orvane
import orvane.exposure
import pyorvane

STAGES = "holdout fractional_availability"


def experiment(name, id, variants, **top):
    return {"id": id, "name": name, "enabled": True, "version": "1", "owner": "o",
            "type": "range_variant", "emit_event": True, **top,
            "experiment": {"experiment_version": 1, "bucket_val": top.pop("bucket_val", "user_id"),
                           "variants": [{"name": n, "range_start": s, "range_end": e}
                                        for n, s, e in variants]}}


ENGINE = orvane.load(STAGES, {
    "hg": experiment("hg", 1, [("control_1", 0.0, 1.0)]),
    "exp": experiment("exp", 2, [("a", 0.0, 1.0)]),
    "grouped": experiment("grouped", 3, [("b", 0.0, 1.0)], parent_hg_name="hg"),
    "by_device": experiment("by_device", 4, [("c", 0.0, 1.0)], bucket_val="device_id"),
})


def decide(feature, **ctx):
    context = pyorvane.make_ctx(ctx)
    return ENGINE.choose(feature, context), context


@pytest.fixture
def clock(monkeypatch):
    """A monotonic clock the test moves by hand."""
    now = types.SimpleNamespace(t=1000.0)
    monkeypatch.setattr(orvane.exposure, "time",
                        types.SimpleNamespace(monotonic=lambda: now.t))
    return now


def test_record_holds_the_event_in_both_forms():
    records = []
    decision, ctx = decide("grouped", user_id="u1")
    assert orvane.ExposureLog(records.append).log(decision, ctx) == 2
    documents = orvane.event_documents(decision)
    assert records == [
        {"user": "u1", "identifier": "u1", "feature": feature, "variant": variant,
         "event": text, "document": document}
        for (feature, variant), text, document
        in zip([("hg", "control_1"), ("grouped", "b")], decision.events(), documents)]


# (seconds since start, feature, context) -> how many records each log() writes
DEDUP_CASES = [
    ("same exposure twice", [(0, "exp", {"user_id": "u1"}), (1, "exp", {"user_id": "u1"})], [1, 0]),
    ("other user", [(0, "exp", {"user_id": "u1"}), (0, "exp", {"user_id": "u2"})], [1, 1]),
    ("other feature", [(0, "exp", {"user_id": "u1"}), (0, "grouped", {"user_id": "u1"})], [1, 2]),
    ("shared holdout event", [(0, "grouped", {"user_id": "u1"}),
                              (0, "grouped", {"user_id": "u1"})], [2, 0]),
    ("window passed", [(0, "exp", {"user_id": "u1"}), (59, "exp", {"user_id": "u1"}),
                       (60, "exp", {"user_id": "u1"})], [1, 0, 1]),
    ("same user, other device", [(0, "by_device", {"user_id": "u", "device_id": "d1"}),
                                 (0, "by_device", {"user_id": "u", "device_id": "d2"})], [1, 1]),
    ("no user, same device", [(0, "by_device", {"device_id": "d1"}),
                              (0, "by_device", {"device_id": "d1"})], [1, 0]),
    ("no decision", [(0, "exp", {})], [0]),
]


@pytest.mark.parametrize("steps,written", [c[1:] for c in DEDUP_CASES],
                         ids=[c[0] for c in DEDUP_CASES])
def test_deduplication(clock, steps, written):
    exposures = orvane.ExposureLog(lambda record: None, window_seconds=60)
    counts = []
    for at, feature, ctx in steps:
        clock.t = 1000.0 + at
        counts.append(exposures.log(*decide(feature, **ctx)))
    assert counts == written


def test_memory_is_bounded_by_max_keys(clock):
    exposures = orvane.ExposureLog(lambda record: None, max_keys=50)
    for i in range(500):
        exposures.log(*decide("exp", user_id=f"u{i}"))
    assert exposures.tracked == 50
    assert exposures.log(*decide("exp", user_id="u499")) == 0  # still remembered
    assert exposures.log(*decide("exp", user_id="u0")) == 1  # forgotten, so written again
    clock.t += 3600
    exposures.log(*decide("exp", user_id="late"))
    assert exposures.tracked == 1  # the expired ones are gone


# Identifiers the compact text cannot carry unambiguously.
@pytest.mark.parametrize("user", ["x:", ":x", "a::::b", "::::", "", 'ü"\\\n'],
                         ids=["trailing colon", "leading colon", "separator", "only separator",
                              "empty", "escapes"])
def test_fields_of_awkward_identifiers(user):
    records = []
    orvane.ExposureLog(records.append).log(*decide("exp", user_id=user))
    assert [(r["user"], r["identifier"], r["feature"], r["variant"]) for r in records] == [
        (user, user, "exp", "a")]


def test_failing_sink_is_reported_not_raised(caplog):
    failures = [OSError("disk full"), OSError("disk full"), None]

    def sink(record):
        failure = failures.pop(0)
        if failure:
            raise failure

    exposures = orvane.ExposureLog(sink)
    with caplog.at_level(logging.WARNING, logger="orvane.exposure"):
        written = [exposures.log(*decide("exp", user_id=u)) for u in ("u1", "u2", "u3")]
    assert written == [0, 0, 1]
    assert [r.getMessage() for r in caplog.records] == [
        f"exposure sink {sink!r} failed: OSError: disk full",
        f"exposure sink {sink!r} works again; 2 records were lost"]


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def test_json_lines_file(tmp_path):
    path = tmp_path / "exposures.jsonl"
    exposures = orvane.ExposureLog(str(path))
    records = []
    for user in ("u1", "u2", "u1"):
        decision, ctx = decide("grouped", user_id=user)
        if exposures.log(decision, ctx):
            orvane.ExposureLog(records.append).log(decision, ctx)
    assert isinstance(exposures.sink, orvane.JsonLinesFile)
    exposures.flush()
    assert read_lines(path) == records and len(records) == 4


def test_rotation_keeps_whole_lines(tmp_path):
    path = tmp_path / "x.jsonl"
    sink = orvane.JsonLinesFile(path, max_bytes=2000, backups=2, buffer_bytes=1)
    sent = [{"n": i, "pad": "p" * 100} for i in range(100)]
    for record in sent:
        sink(record)
    kept = [r for name in ("x.jsonl.2", "x.jsonl.1", "x.jsonl") for r in read_lines(tmp_path / name)]
    assert sorted(os.listdir(tmp_path)) == ["x.jsonl", "x.jsonl.1", "x.jsonl.2"]
    assert all((tmp_path / n).stat().st_size <= 2000 for n in os.listdir(tmp_path))
    assert kept == sent[-len(kept):] and len(kept) > 30


def test_full_disk_holds_lines_then_writes_them(tmp_path, caplog):
    link = tmp_path / "exposures.jsonl"
    link.symlink_to("/dev/full")  # every write fails with ENOSPC
    sink = orvane.JsonLinesFile(link, buffer_bytes=1, max_pending_bytes=2000)
    exposures = orvane.ExposureLog(sink)
    with caplog.at_level(logging.WARNING, logger="orvane.exposure"):
        written = [exposures.log(*decide("exp", user_id=f"u{i}")) for i in range(12)]
        held = sum(written)
        link.unlink()  # space again
        exposures.log(*decide("exp", user_id="after"))
    assert 0 < held < 12  # accepted until the pending bytes ran out, then refused
    assert [r["user"] for r in read_lines(link)] == [f"u{i}" for i in range(held)] + ["after"]
    messages = [r.getMessage() for r in caplog.records]
    assert messages[0].startswith(f"{sink!r} cannot be written, holding exposures: [Errno 28]")
    assert f"exposure sink {sink!r} works again; {12 - held} records were lost" in messages
    assert f"{sink!r} is written again" in messages


def test_forked_workers_write_files_of_their_own(tmp_path):
    sink = orvane.JsonLinesFile(tmp_path / "exposures-{pid}.jsonl")
    exposures = orvane.ExposureLog(sink)
    exposures.log(*decide("exp", user_id="parent"))  # held, not yet written
    pid = os.fork()
    if pid == 0:
        try:
            exposures.log(*decide("exp", user_id="child"))
            exposures.flush()
        finally:
            os._exit(0)
    os.waitpid(pid, 0)
    exposures.flush()
    assert [r["user"] for r in read_lines(tmp_path / f"exposures-{os.getpid()}.jsonl")] == ["parent"]
    assert [r["user"] for r in read_lines(tmp_path / f"exposures-{pid}.jsonl")] == ["child"]


def test_buffered_exposures_are_written_at_exit(tmp_path):
    path = tmp_path / "exposures.jsonl"
    script = f"""
import orvane, pyorvane
engine = orvane.load("fractional_availability", {json.dumps(ENGINE_DOC)!r})
exposures = orvane.ExposureLog(orvane.JsonLinesFile({str(path)!r}, flush_seconds=3600))
for user in ("u1", "u2"):
    ctx = pyorvane.make_ctx({{"user_id": user}})
    exposures.log(engine.choose("exp", ctx), ctx)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=60)
    assert (done.returncode, done.stderr) == (0, "")
    assert [r["user"] for r in read_lines(path)] == ["u1", "u2"]


ENGINE_DOC = {"exp": experiment("exp", 2, [("a", 0.0, 1.0)])}


def test_relative_path_stays_where_it_was_given(tmp_path, monkeypatch):
    (tmp_path / "elsewhere").mkdir()
    monkeypatch.chdir(tmp_path)
    sink = orvane.JsonLinesFile("exposures.jsonl")
    sink({"n": 1})
    monkeypatch.chdir(tmp_path / "elsewhere")  # a daemon changing directory, say
    sink.flush()
    assert read_lines(tmp_path / "exposures.jsonl") == [{"n": 1}]
