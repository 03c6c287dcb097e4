"""orvane.check: the exact load result first, then findings a caller can act on; and no
false alarm on the shipped example or on the configurations the docs show."""

import datetime
import json

import pytest

import orvane
import pyorvane
from companion_support import REPO_ROOT
from docblocks import blocks, doc_pages

EXAMPLE = str(REPO_ROOT / "examples" / "experiments.json")
STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"


def experiment(**members):
    record = {"id": 1, "name": "a", "enabled": True, "version": "1", "owner": "o",
              "type": "range_variant",
              "experiment": {"experiment_version": 1, "bucket_val": "user_id",
                             "variants": [{"name": "on", "range_start": 0.0,
                                           "range_end": 1.0}]}}
    record.update(members)
    return record


@pytest.mark.parametrize(
    "text, stages",
    [("{", None), ('{"a": {"id": 1}}', None), ("{}", "darkmode Targeting")],
    ids=["syntax", "missing member", "stage name"])
def test_load_error_is_the_text_init_gives(write_config, text, stages):
    path = write_config(text)
    report = orvane.check(path, stages)
    assert not report.loaded and not report.ready()
    assert report.load_error == pyorvane.init(stages or STAGES, path).err()


def test_missing_file(tmp_path):
    report = orvane.check(tmp_path / "none.json")
    assert report.load_error.startswith("Orvane initialization failed: Std io error: ")
    assert (report.findings, report.records) == ((), 0)


def test_a_stage_name_that_does_not_load_still_gets_the_documents_findings(write_config):
    path = write_config({"a": experiment(parent_hg_name="nothing")})
    report = orvane.check(path, "targeting fractional-availability")
    assert [(f.code, f.severity, f.key) for f in report.findings] == [
        ("unknown-stage", "error", None), ("missing-parent", "error", "a")]


def test_finding_fields(write_config):
    path = write_config({"k": experiment(name="f", experiment={
        "experiment_version": 1, "bucket_val": "user_id",
        "variants": [{"name": "on", "range_start": 0.0, "range_end": 500}]})})
    (finding,) = orvane.check(path).findings
    assert finding.to_dict() == {
        "code": "range-out-of-bounds", "severity": "error", "key": "k", "feature": "f",
        "line": 1, "column": open(path, encoding="utf-8").read().index('"range_end"') + 1,
        "message": "`on` [0, 500) ends outside [0, 1]",
        "hint": "ranges are shares of users from 0 to 1 with the start first: 0.5 is half "
                "of them (not 50 or 500)"}


@pytest.mark.parametrize(
    "now, codes",
    [("2026-06-01", []), ("2030-01-01", ["schedule"]), (1893456000.0, ["schedule"])],
    ids=["running", "stopped by date", "stopped by seconds"])
def test_schedule_is_judged_at_now(write_config, now, codes):
    path = write_config({"a": experiment(start_ts=1767225600000, stop_ts=1798761600000)})
    when = datetime.date.fromisoformat(now) if isinstance(now, str) else now
    assert [f.code for f in orvane.check(path, now=when).findings] == codes


def test_shipped_example_is_ready_with_notes_only():
    report = orvane.check(EXAMPLE, STAGES)
    assert report.loaded and report.ready(strict=True)
    assert {f.severity for f in report.findings} == {"info"}


def _doc_configurations():
    for page in doc_pages():
        for block in blocks(page):
            if block.kind != "json":
                continue
            parsed = json.loads(block.text)
            if "record" in block.attrs:
                parsed = {block.attrs.get("key") or "record": parsed}
            elif "targeting" in block.attrs:
                parsed = {"f": experiment(name="f", experiment={
                    "experiment_version": 1, "bucket_val": "user_id", "targeting": parsed,
                    "variants": [{"name": "on", "range_start": 0.0, "range_end": 1.0}]})}
            yield f"{page.name}:{block.line}", block.attrs.get("file"), parsed


# Problems the docs' configurations have, by page and file name: an overlap the page
# demonstrates, a test fixture that forces a variant its record does not list, and the
# mistakes the command-line page shows orvane check finding.
DOCS_SHOW = {("configuration.md", "ranges.json"): ["ranges-overlap"],
             ("cookbook.md", "fixture.json"): ["override-unknown-variant"],
             ("cli.md", "typo.json"): ["override-unknown-variant", "ranges-overlap"]}


def test_no_false_alarm_on_the_docs_configurations(tmp_path):
    checked = 0
    for where, name, document in _doc_configurations():
        path = tmp_path / "doc.json"
        path.write_text(json.dumps(document), encoding="utf-8")
        # The pages' schedules are judged at a fixed moment in their runs, so the sweep
        # does not depend on today's date.
        report = orvane.check(path, now=datetime.date(2026, 2, 1))
        assert report.loaded, where
        alarms = [f.code for f in report.findings if f.severity != "info"]
        assert alarms == DOCS_SHOW.get((where.split(":")[0], name), []), (where, report.findings)
        checked += 1
    assert checked >= 10
