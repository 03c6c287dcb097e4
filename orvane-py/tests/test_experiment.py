"""get_experiment: the Python form of a configured feature."""

import pytest

import pyorvane
from configs import dynamic_config, experiment, expected_feature

FEATURE_KEYS = ["id", "name", "enabled", "type", "version", "owner", "emit_event",
                "platform_bitmask", "value", "value_type", "targeting", "overrides", "variant_set"]
VARIANT_SET_KEYS = ["start_ts", "stop_ts", "shuffle_version", "bucket_val", "variants",
                    "holdout", "mutex_group"]


@pytest.mark.parametrize("key", ["search_ranking", "checkout_button_color", "checkout_express_pay",
                                 "new_editor_rollout", "dark_mode_rollout", "upload_limits",
                                 "welcome_message", "ranking_temperature"])
def test_example_feature_in_its_python_form(example_engine, example_records, key):
    result = example_engine.get_experiment(example_records[key]["name"])
    assert result.err() is None
    assert result.val() == expected_feature(example_records, key)


def test_key_order_of_feature_and_variant_set(example_engine):
    feature = example_engine.get_experiment("checkout_button_color").val()
    assert list(feature) == FEATURE_KEYS
    assert list(feature["variant_set"]) == VARIANT_SET_KEYS
    assert list(feature["variant_set"]["variants"][0]) == ["name", "range_start", "range_end"]
    assert list(feature["variant_set"]["holdout"]) == FEATURE_KEYS
    assert list(feature["variant_set"]["mutex_group"]["variant_set"]) == VARIANT_SET_KEYS


def test_numbers_keep_their_python_types(write_config):
    record = experiment("f", id=4294967295, experiment_version=7, shuffle_version=3,
                        variants=[("v", 0, 0.1)], start_ts=2**63, stop_ts=18446744073709551615,
                        targeting={"GT": {"field": "build_number", "value": 5}})
    feature = pyorvane.init("value", write_config({"f": record})).get_experiment("f").val()
    assert feature["id"] == 4294967295
    assert feature["version"] == 7
    variant_set = feature["variant_set"]
    assert (variant_set["start_ts"], variant_set["stop_ts"], variant_set["shuffle_version"]) == (
        2**63, 18446744073709551615, 3)
    assert variant_set["variants"] == [{"name": "v", "range_start": 0.0,
                                        "range_end": 0.10000000149011612}]
    assert type(variant_set["variants"][0]["range_start"]) is float
    assert feature["targeting"] == {"GT": {"field": "build_number", "value": 5.0}}
    assert type(feature["targeting"]["GT"]["value"]) is float


TREES = [
    {"ALL": []},
    {"ANY": [{"EQ": {"field": "user_id", "value": 5}}, {"NOT": {"NOT": {"ALL": []}}}]},
    {"EQ": {"field": "country_code", "values": ["US", None, 1.5, {"b": 1, "a": [2]}]}},
    {"EQ": {"field": "locale", "value": "en", "values": ["ignored"]}},
    {"NE": {"field": "plan", "value": {"tier": [1, 2]}}},
    {"LE": {"field": "cookie_created_timestamp", "value": -2.5}},
    {"GE": ["build_number", 100]},
    {"EQ": ["USER_ID", True]},
]
TREE_FORMS = [
    {"ALL": []},
    {"ANY": [{"EQ": {"field": "user_id", "value": 5}}, {"NOT": {"NOT": {"ALL": []}}}]},
    {"EQ": {"field": "country_code", "values": ["US", None, 1.5, {"a": [2], "b": 1}]}},
    {"EQ": {"field": "locale", "value": "en"}},
    {"NE": {"field": "plan", "value": {"tier": [1, 2]}}},
    {"LE": {"field": "cookie_created_timestamp", "value": -2.5}},
    {"GE": {"field": "build_number", "value": 100.0}},
    {"EQ": {"field": "USER_ID", "value": True}},
]


@pytest.mark.parametrize("tree, form", list(zip(TREES, TREE_FORMS)), ids=[
    "empty ALL", "nested ANY and NOT", "EQ many values", "EQ with value and values",
    "NE object value", "LE negative float", "GE array form", "EQ array form other field"])
def test_targeting_tree_in_its_python_form(write_config, tree, form):
    record = experiment("f", variants=[("v", 0.0, 1.0)], targeting=tree,
                        overrides=[{"x": tree}, {"y": tree, "z": {"ALL": []}}])
    feature = pyorvane.init("value", write_config({"f": record})).get_experiment("f").val()
    assert feature["targeting"] == form
    assert list(feature["targeting"].values())[0] == list(form.values())[0]
    assert feature["overrides"] == [{"x": form}, {"y": form, "z": {"ALL": []}}]
    operand = list(feature["targeting"].values())[0]
    if isinstance(operand, dict):
        assert list(operand) == list(list(form.values())[0])


def test_dynamic_configuration_has_no_variant_set(write_config):
    record = dynamic_config("cfg", {"b": 1, "a": 2}, "Map", id=5)
    record["parent_hg_name"] = "cfg"
    feature = pyorvane.init("value", write_config({"cfg": record})).get_experiment("cfg").val()
    assert feature == {"id": 5, "name": "cfg", "enabled": True, "type": "dynamic_config",
                       "version": 1, "owner": "team", "emit_event": False,
                       "platform_bitmask": 0, "value": {"a": 2, "b": 1}, "value_type": "Map",
                       "targeting": None, "overrides": None, "variant_set": None}
    assert list(feature["value"]) == ["a", "b"]


def test_parent_resolved_by_key_and_compiled_recursively(write_config):
    records = {
        "top": experiment("top_name", id=1, variants=[("holdout", 0.0, 0.1)]),
        "mid": experiment("mid_name", id=2, variants=[("v", 0.0, 1.0)], parent_hg_name="top"),
        "leaf": experiment("leaf_name", id=3, variants=[("w", 0.0, 1.0)],
                           parent_hg_name="mid", parent_meg_name="dangling"),
    }
    feature = pyorvane.init("value", write_config(records)).get_experiment("leaf_name").val()
    assert feature == expected_feature(records, "leaf")
    holdout = feature["variant_set"]["holdout"]
    assert holdout["name"] == "mid_name"
    assert holdout["variant_set"]["holdout"]["name"] == "top_name"
    assert feature["variant_set"]["mutex_group"] is None


def test_unknown_name(example_engine):
    result = example_engine.get_experiment("search_ranking")  # the key, not the name
    assert (result.val(), result.err()) == (None, 'Feature "search_ranking" not found.')
    assert result.inspect() == (
        'err: Some(GenericError("Feature \\"search_ranking\\" not found.")), val: None')


def test_val_is_the_stored_object_and_keeps_changes(example_engine):
    result = example_engine.get_experiment("feed_page_size")
    first = result.val()
    first["owner"] = "someone else"
    assert result.val() is first
    assert result.val()["owner"] == "someone else"
    assert result.inspect() == f"err: None, val: Some(Py({hex(id(first))}))"
    fresh = example_engine.get_experiment("feed_page_size").val()
    assert fresh is not first
    assert fresh["owner"] == "feed"


def _group_chain(n, hg_next=True, meg_next=False):
    """f0 .. f(n-1): each names the next as holdout group (and as mutex group)."""
    def parents(i):
        nxt = f"f{i + 1}" if i + 1 < n else None
        return {k: nxt for k, on in (("parent_hg_name", hg_next), ("parent_meg_name", meg_next))
                if on and nxt}
    return {f"f{i}": experiment(f"f{i}", id=i + 1, variants=[("holdout", 0.0, 0.1), ("a", 0.1, 1.0)],
                                **parents(i)) for i in range(n)}


def test_group_named_twice_is_written_once(write_config):
    # Each level names the next as both groups: writing each parent in full doubles the
    # work per level, so 40 levels would never finish.
    records = _group_chain(40, meg_next=True)
    engine = pyorvane.init("value", write_config(records))
    feature = engine.get_experiment("f0").val()
    for depth in range(39):
        variant_set = feature["variant_set"]
        assert variant_set["holdout"] is variant_set["mutex_group"]
        feature = variant_set["holdout"]
        assert feature["name"] == f"f{depth + 1}"
    assert feature["variant_set"]["holdout"] is None
    short = _group_chain(6, meg_next=True)
    assert (pyorvane.init("value", write_config(short, "short.json")).get_experiment("f0").val()
            == expected_feature(short, "f0"))


def test_deep_group_chain_in_its_python_form(write_config):
    # Far deeper than the C stack allows a recursive writer to go.
    n = 50_000
    engine = pyorvane.init("holdout fractional_availability", write_config(_group_chain(n)))
    assert engine.err() is None
    feature, depth = engine.get_experiment("f0").val(), 0
    while feature["variant_set"]["holdout"] is not None:
        feature, depth = feature["variant_set"]["holdout"], depth + 1
    assert (depth, feature["name"]) == (n - 1, f"f{n - 1}")
