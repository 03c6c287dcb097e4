"""The `orvane` command: exit statuses a CI job can use, JSON a machine can parse, text a
person can read."""

import json
import pathlib
import subprocess
import sys

import pytest

from companion_support import REPO_ROOT
from orvane import cli

EXAMPLE = str(REPO_ROOT / "examples" / "experiments.json")
BIN = pathlib.Path(sys.executable).parent


def record(key, variants, **members):
    return {key: {"id": 1, "name": key, "enabled": True, "version": "1", "owner": "o",
                  "type": "range_variant", **members,
                  "experiment": {"experiment_version": 1, "bucket_val": "user_id",
                                 "variants": [{"name": n, "range_start": s, "range_end": e}
                                              for n, s, e in variants]}}}


@pytest.fixture
def files(write_config):
    return {
        "clean": write_config(record("a", [("on", 0.0, 1.0)]), "clean.json"),
        "warning": write_config(record("a", [("on", 0.0, 1.0)], start_ts=2, stop_ts=1),
                                "warning.json"),
        "error": write_config(record("a", [("on", 0.0, 0.6), ("off", 0.5, 1.0)]), "error.json"),
        "broken": write_config("{", "broken.json"),
    }


@pytest.mark.parametrize(
    "args, status",
    [(["check", "{clean}"], 0), (["check", "{warning}"], 0), (["check", "--strict", "{warning}"], 1),
     (["check", "{error}"], 1), (["check", "{broken}"], 1), (["check", "{clean}", "--stages", "value"], 0),
     (["check", "{clean}", "--stages", "values"], 1), (["check", "--format", "yaml", "{clean}"], 2),
     (["check"], 2), (["diff", "{clean}", "{error}"], 0), (["diff", "{clean}", "{broken}"], 1),
     (["diff", "{clean}"], 2)],
    ids=["clean", "warning", "strict warning", "error", "does not load", "stages",
         "unknown stage", "unknown format", "no file", "diff", "diff of a file that does not load",
         "diff of one file"])
def test_exit_status(files, capsys, args, status):
    argv = [a.format(**files) for a in args]
    try:
        assert cli.main(argv) == status
    except SystemExit as exit:  # argparse's way out of a usage error
        assert exit.code == status


def test_check_json(files, capsys):
    assert cli.main(["check", "--format", "json", files["error"]]) == 1
    report = json.loads(capsys.readouterr().out)
    assert list(report) == ["file", "loaded", "load_error", "findings"]
    assert (report["file"], report["loaded"], report["load_error"]) == (files["error"], True, None)
    assert [list(f) for f in report["findings"]] == [
        ["code", "severity", "key", "feature", "line", "column", "message", "hint"]]
    assert report["findings"][0]["code"] == "ranges-overlap"


def test_check_text(files, capsys):
    cli.main(["check", files["error"]])
    # The finding is placed at the first byte of the second variant, on the file's one line.
    with open(files["error"], encoding="utf-8") as f:
        column = f.read().index('{"name": "off"') + 1
    place = f"{files['error']}:1:{column}"
    assert capsys.readouterr().out.splitlines() == [
        f"{place}  error  ranges-overlap  a: `off` [0.5, 1) overlaps `on` [0, 0.6)",
        " " * (len(place) + 2 + 5 + 2 + 14 + 2)
        + "hint: buckets 500-599 (10.0% of users) go to `on`, the first range that holds them",
        "",
        "1 error in 1 record. Not ready to ship.",
    ]


def test_diff_json(files, capsys):
    assert cli.main(["diff", "--format", "json", files["clean"], files["error"]]) == 0
    assert json.loads(capsys.readouterr().out) == {"features": [
        {"feature": "a", "change": "changed", "fields": ["variants"],
         "bucket_share_moved": 0.4, "reseeded": False, "ids_moved": None}]}


def test_console_script_on_the_example():
    out = subprocess.run([str(BIN / "orvane"), "check", EXAMPLE], capture_output=True,
                         text=True)
    assert out.returncode == 0, out.stdout + out.stderr
    assert out.stdout.splitlines()[-1] == "2 notes in 17 records. Ready to ship."

