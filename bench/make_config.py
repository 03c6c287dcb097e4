#!/usr/bin/env python3
"""Writes a generated experiment configuration for benchmarks.

    make_config.py N OUT.json [--no-events]

N features: about a tenth dynamic configurations, the rest experiments and rollouts with
targeting trees of 5 to 20 leaves, overrides, and a few holdout and mutex groups shared
by many experiments. With --no-events no record emits exposure events. The same
arguments always give the same file.
"""
import json
import random
import sys

FIELDS_STR = ["country_code", "locale", "app_name", "origin_service"]


def leaf(rng):
    kind = rng.randrange(5)
    if kind == 0:
        return {"EQ": {"field": rng.choice(FIELDS_STR), "value": rng.choice(["US", "DE", "en-US", "ios"])}}
    if kind == 1:
        return {"EQ": {"field": rng.choice(FIELDS_STR), "values": ["US", "CA", "GB", "ios", "android"]}}
    if kind == 2:
        return {"NE": {"field": "country_code", "value": "XX"}}
    if kind == 3:
        return {rng.choice(["GE", "GT"]): {"field": "build_number", "value": rng.randrange(1000)}}
    return {"EQ": {"field": "logged_in", "value": True}}


def tree(rng, leaves):
    items = [leaf(rng) for _ in range(leaves)]
    # Group the leaves into a few nested ANY/ALL levels so evaluation walks a real tree.
    while len(items) > 4:
        grouped = []
        for i in range(0, len(items), 3):
            chunk = items[i:i + 3]
            grouped.append({"ANY": chunk} if len(chunk) > 1 else chunk[0])
        items = grouped
    return {"ALL": [{"NOT": {"EQ": {"field": "country_code", "value": "XX"}}}, {"ANY": items + [{"ALL": []}]}]}


def experiment(rng, i, groups):
    variants = [
        {"name": "control_1", "range_start": 0.0, "range_end": 0.5},
        {"name": "treatment", "range_start": 0.5, "range_end": 1.0},
    ]
    record = {
        "id": i, "name": f"feature_{i}", "enabled": True, "version": "1", "owner": "bench",
        "type": rng.choice(["range_variant", "feature_rollout"]), "emit_event": True,
        "start_ts": 1767225600000, "stop_ts": 1798761600000,
        "experiment": {
            "experiment_version": 1 + i % 7, "shuffle_version": i % 3, "bucket_val": "user_id",
            "variants": variants,
            "targeting": tree(rng, rng.randrange(5, 21)),
            "overrides": [{"treatment": {"EQ": {"field": "user_id", "values": [f"qa_{i}_a", f"qa_{i}_b"]}}}],
        },
    }
    if groups and rng.random() < 0.5:
        record["parent_hg_name"] = rng.choice(groups["holdout"])
    if groups and rng.random() < 0.3:
        record["parent_meg_name"] = rng.choice(groups["mutex"])
    return record


def dynamic_config(rng, i):
    kind = rng.choice(["Boolean", "Integer", "Float", "String", "Map"])
    value = {"Boolean": True, "Integer": i, "Float": i / 10, "String": f"value {i}",
             "Map": {"limit": i, "on": True}}[kind]
    return {"id": i, "name": f"config_{i}", "enabled": True, "version": "1", "owner": "bench",
            "type": "dynamic_config", "value": value, "value_type": kind,
            "experiment": {"experiment_version": 1}}


def main():
    n, out = int(sys.argv[1]), sys.argv[2]
    emit = "--no-events" not in sys.argv[3:]
    rng = random.Random(n)
    doc = {}
    groups = {"holdout": [f"holdout_{g}" for g in range(3)], "mutex": [f"mutex_{g}" for g in range(5)]}
    for g, key in enumerate(groups["holdout"]):
        doc[key] = experiment(rng, 900000 + g, None)
        doc[key]["name"] = key
        doc[key]["experiment"]["variants"] = [
            {"name": "holdout", "range_start": 0.0, "range_end": 0.02},
            {"name": "control_1", "range_start": 0.02, "range_end": 0.04}]
        del doc[key]["experiment"]["targeting"]
    for g, key in enumerate(groups["mutex"]):
        doc[key] = experiment(rng, 910000 + g, None)
        doc[key]["name"] = key
        del doc[key]["experiment"]["targeting"]
    for i in range(n - len(doc)):
        doc[f"key_{i}"] = dynamic_config(rng, i) if i % 10 == 9 else experiment(rng, i, groups)
    for record in doc.values():
        if "emit_event" in record:
            record["emit_event"] = emit
    with open(out, "w") as f:
        json.dump(doc, f, separators=(",", ":"))


if __name__ == "__main__":
    main()
