"""orvane.assign and orvane.assign_all against choose, row by row, over generated tables
of every column type the conversion knows, with nulls and rejected values."""

import decimal
import hashlib
import json
import random
import re

import pyarrow as pa
import pytest

import orvane
import pyorvane
from orvane.batch import _context_dict

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"


# A variant name too long for a short-string buffer: answers that outlived the decision
# they point into would show garbage here.
LONG = "treatment_with_a_name_past_sso"


def record(name, id, bucket_val="user_id", variants=(("control_1", 0, 0.3), (LONG, 0.3, 0.7)),
           **extra):
    inner = {"experiment_version": 2, "shuffle_version": 1, "bucket_val": bucket_val,
             "variants": [{"name": n, "range_start": s, "range_end": e} for n, s, e in variants]}
    for key in ("targeting", "overrides"):
        if key in extra:
            inner[key] = extra.pop(key)
    return {"id": id, "name": name, "enabled": True, "version": "1", "owner": "o",
            "type": "range_variant", "emit_event": True, "experiment": inner, **extra}


CONFIG = {
    "hg": record("hg", 90, variants=(("holdout", 0, 0.1), ("control_1", 0.1, 0.2)),
                 value={"held": True}, value_type="Map"),
    "tree": record(
        "tree", 1, parent_hg_name="hg",
        targeting={"ANY": [{"EQ": {"field": "country_code", "values": ["US", "CA"]}},
                           {"ALL": [{"GE": {"field": "build_number", "value": 1200}},
                                    {"EQ": {"field": "logged_in", "value": True}}]},
                           {"EQ": {"field": "plan", "value": "pro"}},
                           {"LT": {"field": "score", "value": 0.5}}]},
        overrides=[{"forced": {"EQ": {"field": "tier", "value": "gold"}}}]),
    "by_device": record("by_device", 2, bucket_val="device_id"),
    "by_tier": record("by_tier", 3, bucket_val="tier"),
    "by_build": record("by_build", 4, bucket_val="build_number"),
    "late": record("late", 5, start_ts=2**63),
    "cfg": {"id": 6, "name": "cfg", "enabled": True, "version": "1", "owner": "o",
            "type": "dynamic_config", "value": {"b": [1, 2.5], "a": "x"}, "value_type": "Map",
            "experiment": {"experiment_version": 1}},
}


@pytest.fixture(scope="module")
def engine(tmp_path_factory):
    path = tmp_path_factory.mktemp("batch") / "config.json"
    path.write_text(json.dumps(CONFIG))
    loaded = pyorvane.init(STAGES, str(path))
    assert loaded.err() is None
    return loaded


def generated_table(rows, seed=7):
    """Every make_ctx key in a column of a type it accepts (some wider than the key
    allows), other columns of every kind, nulls everywhere."""
    rng = random.Random(seed)

    def maybe(value, null_share=0.15):
        return None if rng.random() < null_share else value

    def text(prefix):
        return [maybe(f"{prefix}{rng.randrange(50)}") for _ in range(rows)]

    columns = {
        "user_id": pa.array(text("u"), pa.large_string()),
        # Views hold strings of up to 12 bytes themselves, longer ones in data buffers.
        "device_id": pa.array([maybe(rng.choice(["d", "device-identifier-"]) + str(rng.randrange(50)))
                               for _ in range(rows)], pa.string_view()),
        "locale": pa.array(text("l")),
        "canonical_url": pa.array(text("https://x/")),
        "country_code": pa.array([maybe(rng.choice(["US", "CA", "DE", "us"])) for _ in range(rows)]
                                 ).dictionary_encode(),
        "origin_service": pa.array(text("s")),
        "user_is_employee": pa.array([maybe(rng.random() < 0.5) for _ in range(rows)]),
        "logged_in": pa.array([maybe(rng.random() < 0.5) for _ in range(rows)]),
        "app_name": pa.array(text("app")),
        # Beyond the 32-bit range now and then: that row's error.
        "build_number": pa.array([maybe(rng.choice([1100, 1300, -4, 2**31, 0])) for _ in range(rows)],
                                 pa.int64()),
        "oauth_client_id": pa.array(text("c")),
        "cookie_created_timestamp": pa.array([maybe(rng.choice([0, 2**63 + 5, 1700000000000]))
                                              for _ in range(rows)], pa.uint64()),
        "loid_created_timestamp": pa.array([maybe(rng.randrange(-5, 5)) for _ in range(rows)],
                                           pa.int16()),
        "plan": pa.array([maybe(rng.choice(["pro", "free"])) for _ in range(rows)]),
        "score": pa.array([maybe(rng.choice([0.25, 2.5, float("nan"), float("inf")]))
                           for _ in range(rows)]),
        "big": pa.array([maybe(rng.choice([3, 2**64 - 1])) for _ in range(rows)], pa.uint64()),
        "price": pa.array([maybe(decimal.Decimal(rng.choice(["1.10", "-0.30"]))) for _ in range(rows)],
                          pa.decimal128(5, 2)),
        "other_fields": pa.array([maybe({"tier": maybe(rng.choice(["gold", "silver", "7"])),
                                         "n": maybe(rng.randrange(3))}) for _ in range(rows)],
                                 pa.struct([("tier", pa.string()), ("n", pa.int64())])),
        # Bytes are no value make_ctx takes: the rows where it is set fail.
        "blob": pa.array([b"x" if rng.random() < 0.05 else None for _ in range(rows)], pa.binary()),
    }
    return pa.table(columns)


def choose_row(engine, feature, row, identifier_type=None):
    """(variant, value, error) as make_ctx and choose give them for one row."""
    ctx = pyorvane.make_ctx(_context_dict(row, 0))
    if ctx.err() is not None:
        return (None, None, ctx.err())
    decision = engine.choose(feature, ctx, identifier_type)
    if decision.err() is not None:
        return (None, None, decision.err())
    value = decision.value_dict().get("value")
    return (decision.decision(), value, None)


def answers(table):
    return [(r["variant"], None if r["value"] is None else json.loads(r["value"]), r["error"])
            for r in table.to_pylist()]


def test_every_feature_answers_as_choose_does_row_by_row(engine):
    table = generated_table(400)
    rows = table.to_pylist(maps_as_pydicts="strict")
    kinds = set()
    for feature in ["tree", "by_device", "by_tier", "by_build", "late", "cfg"]:
        expected = [choose_row(engine, feature, row) for row in rows]
        kinds |= {(v is not None, json.dumps(value) if value else None, e is not None)
                  for v, value, e in expected}
        got = orvane.assign(engine, feature, table, threads=2)
        assert got.schema == pa.schema([("variant", pa.string()), ("value", pa.string()),
                                        ("decided_by", pa.string()), ("bucket", pa.int16()),
                                        ("error", pa.string())])
        assert answers(got) == expected, feature
        # The same rows as dicts go through make_ctx itself.
        assert answers(orvane.assign(engine, feature, rows)) == expected, feature
    # The generated rows meet every kind of answer: variants, values, neither, errors.
    assert {(v, e) for v, _, e in kinds} == {(True, False), (False, False), (False, True)}
    assert any(value is not None for _, value, _ in kinds)


def test_decided_by_and_bucket(engine):
    table = pa.table({"user_id": [f"u{i}" for i in range(300)], "plan": ["pro"] * 300,
                      "other_fields": pa.array([{"tier": "gold" if i == 0 else None}
                                                for i in range(300)])})
    got = orvane.assign(engine, "tree", table, threads=1).to_pylist()
    assert got[0] == {"variant": "forced", "value": '"forced"', "decided_by": "overrides",
                      "bucket": None, "error": None}
    deciders = {(r["decided_by"], r["variant"] is not None, r["bucket"] is not None) for r in got}
    # Forced by the override, held out (the group's value, no variant), bucketed into a
    # variant, or bucketed into no variant.
    assert deciders == {("overrides", True, False), ("holdout", False, False),
                        ("fractional_availability", True, True), (None, False, True)}
    for i, r in enumerate(got):
        if r["bucket"] is not None:
            seed = f"1.tree.1u{i}".encode()
            assert r["bucket"] == int.from_bytes(hashlib.sha1(seed).digest(), "big") % 1000


def test_assign_all_is_choose_all_in_long_format(engine):
    table = generated_table(60, seed=3)
    rows = table.to_pylist(maps_as_pydicts="strict")
    got = orvane.assign_all(engine, table, threads=2)
    assert got.column_names == ["row", "feature", "variant", "value", "decided_by", "bucket", "error"]
    by_row = {}
    for r in got.to_pylist():
        by_row.setdefault(r["row"], {})[r["feature"]] = (
            r["variant"], None if r["value"] is None else json.loads(r["value"]), r["error"])
    assert sorted(by_row) == list(range(60))
    for i, row in enumerate(rows):
        ctx = pyorvane.make_ctx(_context_dict(row, i))
        if ctx.err() is not None:
            assert set(by_row[i].values()) == {(None, None, ctx.err())}
            continue
        decisions = engine.choose_all(ctx).decisions()
        assert set(by_row[i]) == set(decisions)
        for name, d in decisions.items():
            expected = (None, None, d.err()) if d.err() else (d.decision(), d.value_dict().get("value"), None)
            assert by_row[i][name] == expected, (i, name)
    only_device = orvane.assign_all(engine, table, identifier_type="device_id")
    assert set(only_device["feature"].to_pylist()) == {"by_device"}


def test_thread_counts_and_chunking_give_identical_tables(engine):
    table = pa.concat_tables([generated_table(3000, seed=s) for s in (1, 2)])
    one = orvane.assign(engine, "tree", table, threads=1)
    assert orvane.assign(engine, "tree", table, threads=2).equals(one)
    assert orvane.assign(engine, "tree", table.combine_chunks(), threads=3).equals(one)
    assert orvane.assign_all(engine, table, threads=2).equals(orvane.assign_all(engine, table, threads=1))


@pytest.mark.parametrize("make_table, rows", [
    (lambda: pa.table({"user_id": pa.array([], pa.string())}), 0),
    (lambda: [], 0),
    (lambda: pa.table({"plan": ["pro", "pro"]}), 2),
    (lambda: pa.record_batch({"user_id": ["u1"]}), 1),
], ids=["empty table", "empty list", "no usable column", "record batch"])
def test_edge_tables(engine, make_table, rows):
    got = orvane.assign(engine, "tree", make_table())
    assert got.num_rows == rows
    assert got.column_names == ["variant", "value", "decided_by", "bucket", "error"]
    if rows == 2:  # no user_id: bucketing cannot run
        assert got["error"].to_pylist() == [
            'Missing field "user_id" in context for bucket_val = user_id'] * 2


@pytest.mark.parametrize("feature, identifier_type, error", [
    ("missing", None, 'Feature "missing" not found.'),
    ("tree", "device_id",
     'Requested identifier_type: "device_id" is incompatible with experiment\'s bucket_val = user_id.'),
    ("cfg", "user_id", "Invalid Feature configuration."),
], ids=["unknown feature", "identifier mismatch", "identifier on a dynamic configuration"])
def test_feature_level_errors_are_every_rows_error(engine, feature, identifier_type, error):
    table = generated_table(20)
    got = orvane.assign(engine, feature, table, identifier_type=identifier_type)
    assert got.to_pylist() == [{"variant": None, "value": None, "decided_by": None,
                                "bucket": None, "error": error}] * 20


def test_failed_engine_answers_every_row(failed_engine):
    table = pa.table({"user_id": ["a", "b"]})
    assert orvane.assign(failed_engine, "x", table)["error"].to_pylist() == ["Orvane not found."] * 2
    got = orvane.assign_all(failed_engine, table)
    assert got["row"].to_pylist() == [0, 1]
    assert got["feature"].to_pylist() == [None, None]
    assert got["error"].to_pylist() == ["Orvane not found."] * 2


def test_map_column_and_list_rows(engine):
    table = pa.table({"user_id": ["a", "b", "c"],
                      "other_fields": pa.array([[("tier", "gold")], None, [("tier", "x")]],
                                               pa.map_(pa.string(), pa.string()))})
    rows = table.to_pylist(maps_as_pydicts="strict")
    assert answers(orvane.assign(engine, "by_tier", table)) == [
        choose_row(engine, "by_tier", row) for row in rows]
    # A row's bad value is that row's error, with make_ctx's messages.
    got = orvane.assign(engine, "by_tier", [{"user_id": 5, "logged_in": 1}, {"tier": [1]}])
    assert got["error"].to_pylist() == [
        '"user_id" type mismatch (string).\n"logged_in" type mismatch (bool).',
        '"other_fields" type mismatch (hashmap).']


@pytest.mark.parametrize("call, error", [
    (lambda e: orvane.assign(e, 5, []), (TypeError, "argument 'feature_name'")),
    (lambda e: orvane.assign(e, "tree", [], identifier_type=1), (TypeError, "argument 'identifier_type'")),
    (lambda e: orvane.assign(e, "tree", [], threads=0), (ValueError, "argument 'threads'")),
    (lambda e: orvane.assign(e, "tree", "user_id"), (TypeError, "argument 'table'")),
    (lambda e: orvane.assign(e, "tree", [["u1"]]), (TypeError, "row 0 is a list")),
    (lambda e: orvane.assign(None, "tree", []), (TypeError, "argument 'engine'")),
], ids=["feature name", "identifier type", "threads", "table", "row", "engine"])
def test_argument_errors(engine, call, error):
    kind, text = error
    with pytest.raises(kind, match=text):
        call(engine)


def test_assign_command_appends_the_answers(engine, tmp_path, capsys):
    import pyarrow.parquet as pq

    from orvane.cli import main

    config = tmp_path / "config.json"
    config.write_text(json.dumps(CONFIG))
    table = generated_table(300, seed=11)
    pq.write_table(table, tmp_path / "in.parquet")
    out = tmp_path / "out.parquet"
    assert main(["assign", str(config), "tree", str(tmp_path / "in.parquet"), str(out),
                 "--stages", STAGES, "--threads", "2"]) == 0
    written = pq.read_table(out)
    expected = orvane.assign(engine, "tree", table)
    assert written.column_names == table.column_names + expected.column_names
    assert written.select(expected.column_names).equals(expected)
    captured = capsys.readouterr()
    errors = sum(e is not None for e in expected["error"].to_pylist())
    assert re.fullmatch(rf"300 rows -> {re.escape(str(out))} in \d+\.\d s, {errors} with an error\n",
                        captured.out), captured.out
    assert captured.err == ""  # no progress bar outside a terminal
    # An engine that does not load, and a table that already has answer columns, fail.
    assert main(["assign", str(tmp_path / "missing.json"), "tree", str(tmp_path / "in.parquet"),
                 str(out)]) == 1
    assert main(["assign", str(config), "tree", str(out), str(tmp_path / "again.parquet"),
                 "--stages", STAGES]) == 1
    assert "already has the answer column(s) variant, value, decided_by, bucket, error" in (
        capsys.readouterr().err)
