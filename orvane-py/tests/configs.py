"""Builders for small configurations, and independent computations of what the engine
must answer for them (bucket of an identifier, Python form of a record)."""

import hashlib
import pathlib
import struct

EXAMPLE_CONFIG = pathlib.Path(__file__).resolve().parents[2] / "examples" / "experiments.json"

# Every stage, in the order a service normally chains them.
ALL_STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"


def experiment(name, id=1, type="range_variant", enabled=True, version="1", owner="team",
               emit_event=False, variants=None, bucket_val="user_id", shuffle_version=0,
               experiment_version=1, targeting=None, overrides=None, **extra):
    inner = {"experiment_version": experiment_version, "shuffle_version": shuffle_version}
    if bucket_val is not None:
        inner["bucket_val"] = bucket_val
    if variants is not None:
        inner["variants"] = [
            {"name": n, "range_start": start, "range_end": end} for n, start, end in variants
        ]
    if targeting is not None:
        inner["targeting"] = targeting
    if overrides is not None:
        inner["overrides"] = overrides
    record = {"id": id, "name": name, "enabled": enabled, "version": version,
              "owner": owner, "type": type, "emit_event": emit_event, "experiment": inner}
    record.update(extra)
    return record


def dynamic_config(name, value, value_type, id=1, experiment_version=1, targeting=None):
    record = experiment(name, id=id, type="dynamic_config", bucket_val=None,
                        experiment_version=experiment_version, targeting=targeting)
    record["value"] = value
    record["value_type"] = value_type
    return record


def bucket(feature_id, name, shuffle_version, identifier):
    """SHA-1 of "<id>.<name>.<shuffle_version><identifier>", big-endian, modulo 1000."""
    seed = f"{feature_id}.{name}.{shuffle_version}{identifier}".encode("utf-8")
    return int.from_bytes(hashlib.sha1(seed).digest(), "big") % 1000


def f32(number):
    """The single-precision value nearest to `number`, widened back to a Python float."""
    return struct.unpack("f", struct.pack("f", number))[0]


def expected_variant(record, identifier):
    """The variant that bucketing picks for `identifier`, or None."""
    inner = record["experiment"]
    x = f32(f32(bucket(record["id"], record["name"], inner.get("shuffle_version", 0),
                       identifier)) / f32(1000.0))
    for variant in inner.get("variants", []):
        if f32(variant["range_start"]) <= x < f32(variant["range_end"]):
            return variant["name"]
    return None


def find_identifier(record, variant, prefix="user"):
    """An identifier that buckets into `variant` for `record`."""
    for i in range(10000):
        identifier = f"{prefix}{i}"
        if expected_variant(record, identifier) == variant:
            return identifier
    raise AssertionError(f"no identifier lands in {variant}")


def _tree(tree):
    (op, operand), = tree.items()
    if op in ("ALL", "ANY"):
        return {op: [_tree(child) for child in operand]}
    if op == "NOT":
        return {op: _tree(operand)}
    if op in ("GT", "LT", "GE", "LE"):
        return {op: {"field": operand["field"], "value": float(operand["value"])}}
    if op == "EQ" and "value" not in operand:
        return {op: {"field": operand["field"], "values": list(operand["values"])}}
    return {op: {"field": operand["field"], "value": operand["value"]}}


def _sorted_json(value):
    if isinstance(value, dict):
        return {k: _sorted_json(value[k]) for k in sorted(value)}
    if isinstance(value, list):
        return [_sorted_json(v) for v in value]
    return value


def expected_feature(records, key):
    """The Python form of the record stored under `key`, with parents resolved by key."""
    record = records[key]
    inner = record["experiment"]
    variant_set = None
    if record["type"] != "dynamic_config":
        parent = lambda name: expected_feature(records, name) if name in records else None
        variant_set = {
            "start_ts": record.get("start_ts", 0),
            "stop_ts": record.get("stop_ts", 0),
            "shuffle_version": inner.get("shuffle_version", 0),
            "bucket_val": inner.get("bucket_val"),
            "variants": [{"name": v["name"], "range_start": f32(v["range_start"]),
                          "range_end": f32(v["range_end"])} for v in inner.get("variants", [])],
            "holdout": parent(record.get("parent_hg_name")),
            "mutex_group": parent(record.get("parent_meg_name")),
        }
    targeting = inner.get("targeting")
    overrides = inner.get("overrides")
    return {
        "id": record["id"],
        "name": record["name"],
        "enabled": record["enabled"],
        "type": record["type"],
        "version": inner["experiment_version"],
        "owner": record["owner"],
        "emit_event": record.get("emit_event", False),
        "platform_bitmask": 0,
        "value": _sorted_json(record["value"]) if record.get("value") is not None else None,
        "value_type": record.get("value_type"),
        "targeting": _tree(targeting) if targeting is not None else None,
        "overrides": None if overrides is None else [
            {variant: _tree(tree) for variant, tree in entry.items()} for entry in overrides],
        "variant_set": variant_set,
    }


def compact_event(kind, record, variant, identifier):
    """The compact text of an exposure event for `record`."""
    inner = record["experiment"]
    return "::::".join(str(part) for part in (
        kind, record["id"], record["name"], inner["experiment_version"], variant, identifier,
        inner["bucket_val"], record.get("start_ts", 0), record.get("stop_ts", 0),
        record["owner"]))
