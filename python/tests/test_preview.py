"""orvane.preview: counts that are choose's answers, shares that follow the ranges, a
sample-ratio check that flags a skewed sample and stays quiet on a sound one, and the
chi-square p-value it rests on checked against closed forms."""

import hashlib
import json
import math

import pytest

import orvane
import pyorvane
from orvane import cli
from orvane.preview import chi_square_p_value, srm_p_value

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"


def experiment(spans, bucket_val="user_id", targeting=None, name="f"):
    inner = {"experiment_version": 1, "bucket_val": bucket_val,
             "variants": [{"name": n, "range_start": s, "range_end": e} for n, s, e in spans]}
    if targeting is not None:
        inner["targeting"] = targeting
    return {"id": 3, "name": name, "enabled": True, "version": "1", "owner": "o",
            "type": "range_variant", "experiment": inner}


SPLIT = [("a", 0.0, 0.2), ("b", 0.2, 0.5), ("c", 0.5, 0.9)]  # 10% in no range


def bucket(user):
    return int(hashlib.sha1(f"3.f.0{user}".encode()).hexdigest(), 16) % 1000


# Closed forms of the chi-square survival function for 1 to 4 degrees of freedom.
CLOSED = {
    1: lambda x: math.erfc(math.sqrt(x / 2)),
    2: lambda x: math.exp(-x / 2),
    3: lambda x: math.erfc(math.sqrt(x / 2)) + math.sqrt(2 * x / math.pi) * math.exp(-x / 2),
    4: lambda x: math.exp(-x / 2) * (1 + x / 2),
}


@pytest.mark.parametrize("degrees", sorted(CLOSED))
@pytest.mark.parametrize("statistic", [0.01, 0.5, 1.0, 2.9, 3.841458820694124, 10.0, 60.0])
def test_chi_square_p_value_matches_closed_forms(degrees, statistic):
    assert chi_square_p_value(statistic, degrees) == pytest.approx(
        CLOSED[degrees](statistic), rel=1e-9, abs=1e-300)


@pytest.mark.parametrize("statistic, degrees, p", [
    (3.841458820694124, 1, 0.05), (11.070497693516351, 5, 0.05), (23.209251158954356, 10, 0.01),
    (0.0, 3, 1.0)], ids=["1 df at 5%", "5 df at 5%", "10 df at 1%", "zero"])
def test_chi_square_p_value_at_table_values(statistic, degrees, p):
    assert chi_square_p_value(statistic, degrees) == pytest.approx(p, rel=1e-9)


def test_srm_p_value_leaves_out_empty_categories():
    assert srm_p_value([50, 50, 0], [0.5, 0.5, 0.0]) == 1.0
    assert srm_p_value([100], [1.0]) is None
    assert srm_p_value([0, 0], [0.5, 0.5]) is None


def test_shares_follow_the_ranges(write_config):
    path = write_config({"f": experiment(SPLIT)})
    result = orvane.preview(path, "f", users=100_000)
    assert result.total == result.reached == 100_000
    assert [(v.variant, v.expected_share) for v in result.variants] == [
        ("a", pytest.approx(0.2)), ("b", pytest.approx(0.3)), ("c", pytest.approx(0.4))]
    for v in result.variants:
        assert abs(v.share - v.expected_share) < 0.005, v
    (gap,) = result.no_decision
    assert (gap.stage, gap.reason) == ("fractional_availability",
                                       "bucket falls in no variant's range")
    assert abs(gap.count / 100_000 - 0.1) < 0.005
    assert not result.srm_flagged


def test_counts_are_chooses_answers(write_config, tmp_path):
    path = write_config({"f": experiment(SPLIT, targeting={"EQ": {"field": "country_code",
                                                                   "value": "NZ"}})})
    users = [f"id-{i}" for i in range(3000)]
    ids = tmp_path / "ids.txt"
    ids.write_text("\n".join(users) + "\n\n", encoding="utf-8")
    engine = pyorvane.init(STAGES, path)
    for country in ("NZ", "AU"):
        expected = {}
        for user in users:
            decision = engine.choose("f", pyorvane.make_ctx({"user_id": user,
                                                             "country_code": country}))
            key = decision.decision() or "no decision"
            expected[key] = expected.get(key, 0) + 1
        result = orvane.preview(path, "f", ids=ids, ctx={"country_code": country})
        counted = {v.variant: v.count for v in result.variants if v.count}
        counted.update({"no decision": sum(s.count for s in result.no_decision)}
                       if result.no_decision else {})
        assert counted == expected, country
        assert result.total == 3000


def test_a_skewed_sample_is_flagged(write_config):
    path = write_config({"f": experiment(SPLIT)})
    # Users drawn only from buckets of "c": a sample no fair draw would give.
    skewed = [u for u in (f"u{i}" for i in range(4000)) if 500 <= bucket(u) < 900][:1000]
    result = orvane.preview(path, "f", ids=skewed)
    assert result.srm_flagged and result.srm_p_value < 1e-100
    assert {v.variant: v.count for v in result.variants} == {"a": 0, "b": 0, "c": 1000}


def test_errors_and_decisions_without_variant(write_config):
    path = write_config({
        "f": experiment([("on", 0.0, 1.0)], bucket_val="build_number"),
        "hg": {**experiment([("holdout", 0.0, 1.0)], bucket_val="build_number", name="hg"),
               "id": 4},
    })
    result = orvane.preview(path, "f", ids=["10", "x", "y"])
    assert [e.to_dict() for e in result.errors] == [
        {"error": "identifier is not an integer, as build_number needs", "count": 2}]
    document = json.loads(open(path, encoding="utf-8").read())
    document["f"]["parent_hg_name"] = "hg"
    held = orvane.preview(write_config(document, "held.json"), "hg", users=10)
    assert [(v.variant, v.count) for v in held.variants] == [("holdout", 10)]
    held = orvane.preview(write_config(document, "held.json"), "f", ids=["1", "2"])
    assert [(v.variant, v.count, v.expected_share) for v in held.variants] == [
        ("on", 0, 0.0), (None, 2, None)]


@pytest.mark.parametrize("make_args, error, match", [
    (lambda p: (p, "nope"), orvane.PreviewError, 'Feature "nope" not found.'),
    (lambda p: (p + ".missing", "f"), orvane.PreviewError, "Std io error"),
    (lambda p: (p, "f", None, {"users": 5, "ids": ["u"]}), ValueError, "users or ids"),
    (lambda p: (p, "f", None, {"ctx": {"build_number": "x"}}), ValueError, "argument 'ctx'"),
], ids=["unknown feature", "missing file", "users and ids", "bad ctx"])
def test_refusals(write_config, make_args, error, match):
    args = make_args(write_config({"f": experiment(SPLIT)}))
    kwargs = args[3] if len(args) > 3 else {}
    with pytest.raises(error, match=match):
        orvane.preview(*args[:3], **kwargs)


def test_cli_json_and_text(write_config, capsys):
    path = write_config({"f": experiment([("on", 0.0, 0.5), ("off", 0.5, 1.0)])})
    assert cli.main(["preview", path, "f", "--users", "1000", "--format", "json"]) == 0
    report = json.loads(capsys.readouterr().out)
    assert list(report) == ["feature", "total", "variants", "no_decision", "errors",
                            "srm_p_value"]
    assert [list(v) for v in report["variants"]] == [
        ["variant", "count", "share", "expected_share"]] * 2
    assert sum(v["count"] for v in report["variants"]) == report["total"] == 1000
    assert 0.001 < report["srm_p_value"] <= 1
    on, off = (v["count"] for v in report["variants"])
    assert cli.main(["preview", path, "f", "--users", "1000"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[:3] == ["f: 1,000 identifiers", "", "variant  count  share  expected"]
    assert lines[3].startswith(f"on       {on:5,}  {on / 10:4.1f}%     50.0%  #")
    assert lines[-1].startswith("Sample ratio check: p = ")


@pytest.mark.parametrize("args, status", [
    (["preview", "{path}", "nope"], 1), (["preview", "{path}", "f", "--users", "-1"], 2),
    (["preview", "{path}", "f", "--users", "5", "--ids", "x"], 2),
    (["preview", "{path}", "f", "--ctx", "[1]"], 1),
    (["explain", "{path}", "f"], 2), (["explain", "{path}.none", "f", "--ctx", "{{}}"], 1),
    (["explain", "{path}", "nope", "--ctx", "{{}}"], 0),
], ids=["unknown feature", "negative users", "users and ids", "ctx not an object",
        "explain without ctx", "explain of a missing file", "explain of an unknown feature"])
def test_cli_exit_status(write_config, capsys, args, status):
    path = write_config({"f": experiment(SPLIT)})
    try:
        assert cli.main([a.format(path=path) for a in args]) == status
    except SystemExit as exit:  # a message for code exits with status 1
        assert (exit.code if isinstance(exit.code, int) else 1) == status


def test_cli_explain_is_the_explanation(write_config, capsys, tmp_path):
    path = write_config({"f": experiment(SPLIT)})
    ctx_file = tmp_path / "ctx.json"
    ctx_file.write_text('{"user_id": "u7"}', encoding="utf-8")
    expected = orvane.explain(pyorvane.init(STAGES, path), "f", {"user_id": "u7"})
    assert cli.main(["explain", path, "f", "--ctx", f"@{ctx_file}", "--format", "json"]) == 0
    assert json.loads(capsys.readouterr().out) == expected.to_dict()
    assert cli.main(["explain", path, "f", "--ctx", '{"user_id": "u7"}']) == 0
    assert capsys.readouterr().out == str(expected) + "\n"
