"""orvane.explain and orvane.bucket: the explanation agrees with choose whatever the
configuration and context hold, reads as the engine decided, and never crashes."""

import hashlib
import json
import os
import random

import pytest

import orvane
import pyorvane

CHAIN = "darkmode targeting overrides holdout mutex_group fractional_availability value"


def experiment(id, name, variants, **more):
    inner = {"experiment_version": 1, "shuffle_version": 2, "bucket_val": "user_id",
             "variants": [{"name": n, "range_start": a, "range_end": b} for n, a, b in variants]}
    inner.update(more.pop("experiment", {}))
    return {"id": id, "name": name, "enabled": True, "version": "1", "owner": "team",
            "type": "range_variant", "emit_event": True, "experiment": inner, **more}


AB_TEST = {
    "global_holdout": experiment(17, "global_holdout", [("holdout", 0.0, 0.05),
                                                        ("control_1", 0.05, 1.0)]),
    "search": experiment(
        31, "search", [("control_1", 0.0, 0.5), ("treatment", 0.5, 1.0)],
        parent_hg_name="global_holdout",
        experiment={"targeting": {"ALL": [{"EQ": {"field": "logged_in", "value": True}},
                                          {"GE": {"field": "build_number", "value": 1200}}]},
                    "overrides": [{"treatment": {"EQ": {"field": "user_id",
                                                        "values": ["qa_1"]}}}]}),
    "page_size": {"id": 40, "name": "page_size", "enabled": True, "version": "1",
                  "owner": "team", "type": "dynamic_config", "value": 25,
                  "value_type": "Integer", "experiment": {"experiment_version": 1}},
}


@pytest.fixture
def ab_engine(write_config):
    engine = pyorvane.init(CHAIN, write_config(AB_TEST))
    assert engine.err() is None
    return engine


def sha1_bucket(seed):
    return int.from_bytes(hashlib.sha1(seed.encode()).digest(), "big") % 1000


# A user the global holdout holds out: its bucket there is below 50.
HELD_OUT = next(u for u in (f"u{i}" for i in range(1000))
                if sha1_bucket(f"17.global_holdout.2{u}") < 50)
APP = {"logged_in": True, "build_number": 1300}


def steps_text(explanation):
    return " ".join(f"{s.stage}:{s.outcome}" for s in explanation.steps)


@pytest.mark.parametrize(
    "feature, ctx, identifier_type, variant, value, error, decided_by, steps",
    [("search", {"user_id": "qa_1", **APP}, None, "treatment", "treatment", None, "overrides",
      "darkmode:pass targeting:pass overrides:decided"),
     ("search", {"user_id": HELD_OUT, **APP}, "user_id", None, None, None, "holdout",
      "darkmode:pass targeting:pass overrides:pass holdout:decided"),
     ("search", {"user_id": "t2_abc", "logged_in": False}, None, None, None, None, None,
      "darkmode:pass targeting:stop"),
     ("search", {"user_id": "t2_abc", "logged_in": True, "build_number": "new"}, None, None,
      None, None, None, "darkmode:pass targeting:stop"),
     ("search", APP, None, None, None,
      'Missing field "user_id" in context for bucket_val = user_id', None,
      "darkmode:pass targeting:pass overrides:pass holdout:error"),
     ("page_size", {}, None, None, 25, None, "value",
      "darkmode:pass targeting:pass overrides:pass holdout:pass mutex_group:pass "
      "fractional_availability:pass value:decided"),
     ("search", {"user_id": "t2_abc", **APP}, "device_id", None, None,
      'Requested identifier_type: "device_id" is incompatible with experiment\'s '
      "bucket_val = user_id.", None, ""),
     ("nope", {}, None, None, None, 'Feature "nope" not found.', None, "")],
    ids=["override", "held out", "not targeted", "unconverted field", "no identifier", "value",
         "identifier mismatch", "unknown feature"])
def test_explanation_agrees_with_choose(ab_engine, feature, ctx, identifier_type, variant,
                                        value, error, decided_by, steps):
    e = orvane.explain(ab_engine, feature, ctx, identifier_type)
    assert (e.feature, e.variant, e.value, e.error, e.decided_by, steps_text(e)) == (
        feature, variant, value, error, decided_by, steps)
    decision = ab_engine.choose(feature, pyorvane.make_ctx(ctx), identifier_type)
    assert (e.variant, e.error) == (decision.decision(), decision.err())


def test_context_conversion_messages_are_kept(ab_engine):
    e = orvane.explain(ab_engine, "search", {"user_id": 5, **APP})
    assert e.context_error == '"user_id" type mismatch (string).'
    assert e.error == 'Missing field "user_id" in context for bucket_val = user_id'
    assert "context: \"user_id\" type mismatch (string)." in str(e).splitlines()


def test_failed_engine_gives_chooses_error(failed_engine):
    e = orvane.explain(failed_engine, "search", pyorvane.make_ctx({}))
    assert (e.error, e.steps, str(e)) == ("Orvane not found.", [],
                                          "search -> error: Orvane not found.")
    with pytest.raises(ValueError, match="the engine did not load"):
        orvane.bucket(failed_engine, "search", "u1")


@pytest.mark.parametrize(
    "call, argument",
    [(lambda e, c: orvane.explain(None, "search", c), "engine"),
     (lambda e, c: orvane.explain(e, 5, c), "feature_name"),
     (lambda e, c: orvane.explain(e, "search", [("user_id", "u")]), "ctx"),
     (lambda e, c: orvane.explain(e, "search", c, identifier_type=1), "identifier_type"),
     (lambda e, c: orvane.bucket(e, "search", 42), "identifier"),
     (lambda e, c: orvane.bucket("engine", "search", "u1"), "engine")],
    ids=["engine", "feature_name", "ctx", "identifier_type", "identifier", "bucket engine"])
def test_wrong_argument_types_name_the_argument(ab_engine, call, argument):
    with pytest.raises(TypeError, match=f"argument '{argument}'"):
        call(ab_engine, pyorvane.make_ctx({}))


@pytest.mark.parametrize(
    "feature, message",
    [("nope", 'Feature "nope" not found.'),
     ("page_size", 'Feature "page_size" does not bucket: it has no variant set.')],
    ids=["unknown", "no variant set"])
def test_bucket_without_bucketing(ab_engine, feature, message):
    with pytest.raises(ValueError) as raised:
        orvane.bucket(ab_engine, feature, "u1")
    assert str(raised.value) == message


def test_to_dict_is_plain_json(ab_engine):
    e = orvane.explain(ab_engine, "search", {"user_id": "t2_abc", **APP})
    data = e.to_dict()
    assert json.loads(json.dumps(data)) == data
    assert [s["stage"] for s in data["steps"]] == [s.stage for s in e.steps]
    assert data["events"] == [{"kind": "Holdout", "feature": "global_holdout",
                               "variant": "control_1"},
                              {"kind": "FracAvail", "feature": "search", "variant": e.variant}]


def test_text_of_a_bucketed_decision(ab_engine):
    # Bucket 0 (31.search.2t2_abc) starts the first range; the holdout group's bucket is
    # 531 (17.global_holdout.2t2_abc).
    ctx = {"user_id": "t2_abc", "logged_in": True, "build_number": 1300}
    assert str(orvane.explain(ab_engine, "search", ctx)) == """\
search -> control_1   (decided by fractional_availability, bucket 0)

  darkmode                     pass      feature enabled
  targeting                    pass      tree is true
    ALL                        true
      EQ logged_in             true      read true, configured true
      GE build_number          true      read 1300, configured 1200
  overrides                    pass      no override matched (1 map)
    override treatment
      EQ user_id               false     read "t2_abc", configured ["qa_1"]
  holdout                      continue  global_holdout gave control_1: continue with its events
    global_holdout             decided   gave control_1
      darkmode                 pass      feature enabled
      targeting                pass      no targeting tree
      overrides                pass      no overrides
      holdout                  pass      no holdout group
      mutex_group              pass      no mutex group
      fractional_availability  decided   bucket 531 falls in control_1 [0.05, 1.0)
        seed                             "17.global_holdout.2t2_abc" -> bucket 531
        holdout                          [0.0, 0.05)  buckets 0-49
        control_1                        [0.05, 1.0)  buckets 50-999   <- matched
  mutex_group                  pass      no mutex group
  fractional_availability      decided   bucket 0 falls in control_1 [0.0, 0.5)
    seed                                 "31.search.2t2_abc" -> bucket 0
    control_1                            [0.0, 0.5)  buckets 0-499   <- matched
    treatment                            [0.5, 1.0)  buckets 500-999

events: Holdout (global_holdout), FracAvail (search)"""


# --- generated configurations and contexts ---

STAGES = ["darkmode", "locale", "targeting", "overrides", "holdout", "mutex_group",
          "fractional_availability", "value"]
FIELDS = ["user_id", "device_id", "country_code", "build_number", "logged_in", "tier"]
TEXTS = ["US", "us", "DE", "u1", "qa", "1300", "abc", ""]


def random_value(rng):
    return rng.choice([True, False, rng.randrange(-5, 2000), rng.random() * 100,
                       rng.choice(TEXTS), None, [1, "a"], {"k": 1}])


def random_tree(rng, depth=0):
    if depth < 3 and rng.random() < 0.4:
        op = rng.choice(["ALL", "ANY", "NOT"])
        if op == "NOT":
            return {"NOT": random_tree(rng, depth + 1)}
        return {op: [random_tree(rng, depth + 1) for _ in range(rng.randrange(0, 4))]}
    op = rng.choice(["EQ", "EQ", "NE", "GT", "LT", "GE", "LE"])
    field = rng.choice(FIELDS)
    if op in ("GT", "LT", "GE", "LE"):
        return {op: {"field": field, "value": rng.choice([0, 1200, 1300.5, -1])}}
    if op == "EQ" and rng.random() < 0.4:
        return {op: {"field": field,
                     "values": [random_value(rng) for _ in range(rng.randrange(0, 4))]}}
    return {op: {"field": field, "value": random_value(rng)}}


def random_ranges(rng, names):
    variants = []
    for name in names:
        start = round(rng.random(), 2)
        end = round(min(1.0, start + rng.random() * 0.7), 2)
        variants.append({"name": name, "range_start": start, "range_end": end})
    return variants


def random_config(rng):
    """Up to ten records; parents name earlier records only, so groups nest without
    cycles (holdouts of mutex groups of holdouts, and so on)."""
    doc = {}
    keys = []
    for i in range(rng.randrange(2, 11)):
        key = f"k{i}"
        name = rng.choice([f"f{i}", f"f{i}", f"f{i}", "f0"])  # names may repeat
        if rng.random() < 0.15:
            doc[key] = {"id": i, "name": name, "enabled": rng.random() < 0.9, "version": "1",
                        "owner": "o", "type": "dynamic_config",
                        "value": random_value(rng),
                        "value_type": rng.choice(["Boolean", "Integer", "Float", "String",
                                                  "Text", "Map"]),
                        "experiment": {"experiment_version": 1}}
            keys.append(key)
            continue
        names = rng.sample(["holdout", "control_1", "a", "b", *[f"f{j}" for j in range(10)]],
                           rng.randrange(1, 4))
        inner = {"experiment_version": 1, "shuffle_version": rng.randrange(0, 4),
                 "variants": random_ranges(rng, names)}
        if rng.random() < 0.9:
            inner["bucket_val"] = rng.choice(["user_id", "user_id", "device_id", "tier",
                                              "build_number"])
        if rng.random() < 0.4:
            inner["targeting"] = random_tree(rng)
        if rng.random() < 0.3:
            inner["overrides"] = [{rng.choice(["a", "b", "qa"]): random_tree(rng)
                                   for _ in range(rng.randrange(1, 3))}
                                  for _ in range(rng.randrange(1, 3))]
        record = {"id": rng.choice([i, rng.randrange(2 ** 32)]), "name": name,
                  "enabled": rng.random() < 0.9, "version": "1", "owner": "o",
                  "type": rng.choice(["range_variant", "feature_rollout"]),
                  "emit_event": rng.random() < 0.7, "start_ts": 1, "stop_ts": 2,
                  "experiment": inner}
        if keys and rng.random() < 0.4:
            record["parent_hg_name"] = rng.choice(keys)
        if keys and rng.random() < 0.3:
            record["parent_meg_name"] = rng.choice(keys)
        doc[key] = record
        keys.append(key)
    return doc


def random_context(rng):
    ctx = {}
    for field in FIELDS:
        if rng.random() < 0.75:
            if field in ("user_id", "device_id", "country_code"):
                ctx[field] = rng.choice(TEXTS + [f"user{rng.randrange(10 ** 6)}"])
            elif field == "build_number":
                ctx[field] = rng.choice([1200, 1300, -4, "1300"])  # a text does not convert
            elif field == "logged_in":
                ctx[field] = rng.choice([True, False])
            else:
                ctx[field] = random_value(rng)
    return ctx


def test_explain_agrees_with_choose_on_generated_configurations(tmp_path):
    rng = random.Random(int(os.environ.get("ORVANE_EXPLAIN_SEED", "13")))
    configurations = int(os.environ.get("ORVANE_EXPLAIN_CONFIGS", "300"))
    seen = dict.fromkeys(["explained", "loaded", "decided", "errors", "none", "bucketed",
                          "nested"], 0)
    for n in range(configurations):
        doc = random_config(rng)
        path = tmp_path / f"c{n}.json"
        path.write_text(json.dumps(doc))
        chain = " ".join(rng.choice([STAGES, rng.choices(STAGES, k=rng.randrange(1, 9))]))
        engine = pyorvane.init(chain, str(path))
        seen["loaded"] += engine.err() is None
        names = sorted({r["name"] for r in doc.values()}) + ["missing"]
        for _ in range(4):
            ctx = pyorvane.make_ctx(random_context(rng))
            for name in names:
                identifier_type = rng.choice([None, None, None, "user_id", "tier"])
                e = orvane.explain(engine, name, ctx, identifier_type)
                seen["explained"] += 1
                decision = engine.choose(name, ctx, identifier_type)
                expected_value = decision.value_dict().get("value")
                where = f"config {n} {name} {ctx.inspect()} {identifier_type}"
                assert (e.variant, e.value, e.error) == (
                    decision.decision(), expected_value, decision.err()), where
                assert len(e.events) == len(decision.events()), where
                if e.bucket is not None:
                    assert e.bucket == sha1_bucket(e.seed), where
                    seen["bucketed"] += 1
                seen["nested"] += any("explanation" in s.details for s in e.steps)
                seen["errors"] += e.error is not None
                seen["decided"] += e.decided_by is not None
                seen["none"] += e.error is None and e.decided_by is None
                json.dumps(e.to_dict())
                str(e)
        check_buckets(engine, doc, rng)
    print(f"\n{configurations} configurations: {seen}")
    # The generator must reach every kind of answer, or the agreement proves little.
    assert min(seen.values()) > configurations // 10, seen


def check_buckets(engine, doc, rng):
    """orvane.bucket agrees with SHA-1 of the seed for every feature whose name is its own."""
    if engine.err() is not None:
        return
    names = [r["name"] for r in doc.values()]
    for record in doc.values():
        inner = record["experiment"]
        if names.count(record["name"]) > 1 or "bucket_val" not in inner:
            continue
        identifier = rng.choice(TEXTS + ["t2_" + str(rng.randrange(10 ** 9)), "é✓"])
        seed = f"{record['id']}.{record['name']}.{inner['shuffle_version']}{identifier}"
        assert orvane.bucket(engine, record["name"], identifier) == sha1_bucket(seed), seed
