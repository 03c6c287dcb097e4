"""orvane.diff: bucket shares counted exactly (checked here against SHA-1 from hashlib and
the engine's own decisions), reseeds flagged, identifiers counted."""

import hashlib

import pytest

import orvane
import pyorvane

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"


def document(variants, shuffle_version=0, targeting=None):
    inner = {"experiment_version": 1, "shuffle_version": shuffle_version,
             "bucket_val": "user_id", "variants": variants}
    if targeting is not None:
        inner["targeting"] = targeting
    return {"a": {"id": 7, "name": "a", "enabled": True, "version": "1", "owner": "o",
                  "type": "range_variant", "experiment": inner}}


def ranges(*spans):
    return [{"name": name, "range_start": start, "range_end": end} for name, start, end in spans]


def bucket(user, shuffle_version=0):
    digest = hashlib.sha1(f"7.a.{shuffle_version}{user}".encode()).hexdigest()
    return int(digest, 16) % 1000


def moved_by_decisions(old_path, new_path):
    """Buckets whose users had a variant in the old file and another or none in the new,
    found by deciding users until every bucket has been seen."""
    old, new = pyorvane.init(STAGES, old_path), pyorvane.init(STAGES, new_path)
    seen = {}
    i = 0
    while len(seen) < 1000:
        ctx = pyorvane.make_ctx({"user_id": f"u{i}"})
        seen[bucket(f"u{i}")] = (old.choose("a", ctx).decision(), new.choose("a", ctx).decision())
        i += 1
    return {b for b, (was, now) in seen.items() if was is not None and was != now}


EDITS = [
    ("raise 10% to 50%", ranges(("on", 0.0, 0.1)), ranges(("on", 0.0, 0.5))),
    ("shift a boundary", ranges(("control", 0.0, 0.5), ("treatment", 0.5, 1.0)),
     ranges(("control", 0.0, 0.45), ("treatment", 0.45, 1.0))),
    ("reorder overlapping ranges", ranges(("x", 0.0, 0.6), ("y", 0.3, 1.0)),
     ranges(("y", 0.3, 1.0), ("x", 0.0, 0.6))),
    ("rename a variant", ranges(("x", 0.0, 0.25)), ranges(("z", 0.0, 0.25))),
]


@pytest.mark.parametrize("old_variants, new_variants", [e[1:] for e in EDITS],
                         ids=[e[0] for e in EDITS])
def test_bucket_share_is_an_exhaustive_count(write_config, old_variants, new_variants):
    old = write_config(document(old_variants), "old.json")
    new = write_config(document(new_variants), "new.json")
    (change,) = orvane.diff(old, new).features
    expected = moved_by_decisions(old, new)
    assert set(change.moved_buckets) == expected
    assert change.bucket_share_moved == len(expected) / 1000
    assert (change.change, change.fields, change.reseeded) == ("changed", ("variants",), False)


@pytest.mark.parametrize(
    "member, value",
    [("shuffle_version", 1), ("id", 8), ("name", "b")], ids=["shuffle_version", "id", "name"])
def test_reseeding_edits(write_config, member, value):
    old_doc = document(ranges(("on", 0.0, 0.5)))
    new_doc = document(ranges(("on", 0.0, 0.5)))
    target = new_doc["a"]["experiment"] if member == "shuffle_version" else new_doc["a"]
    target[member] = value
    (change,) = orvane.diff(write_config(old_doc, "old.json"),
                            write_config(new_doc, "new.json")).features
    assert (change.reseeded, change.reseeded_by, change.bucket_share_moved) == (
        True, (member,), None)


def test_ids_count_the_identifiers_whose_decision_changes(write_config, tmp_path):
    old = write_config(document(ranges(("on", 0.0, 1.0)),
                                targeting={"EQ": {"field": "country_code", "values": ["US"]}}),
                       "old.json")
    new = write_config(document(ranges(("on", 0.0, 1.0)),
                                targeting={"EQ": {"field": "country_code", "values": ["US", "CA"]}}),
                       "new.json")
    ids = tmp_path / "ids.txt"
    ids.write_text("".join(f"u{i}\n" for i in range(200)), encoding="utf-8")
    for country, moved in (("CA", 200), ("US", 0)):
        (change,) = orvane.diff(old, new, ids=ids, ctx={"country_code": country}).features
        assert change.ids_moved == moved
        assert change.moves == ('targeting: moves users who match country_code EQ ["CA"] (now in)',)
    (change,) = orvane.diff(old, new).features
    assert change.ids_moved is None


def test_a_file_that_does_not_load(write_config):
    good = write_config(document([]), "good.json")
    bad = write_config("{", "bad.json")
    with pytest.raises(orvane.DiffError, match="^new configuration .*bad.json: Orvane "
                                               "initialization failed: Json error: "):
        orvane.diff(good, bad)
