"""Reference counts: no call keeps or drops a reference it does not own."""

import gc
import sys
import weakref

import pytest

import pyorvane

ROUNDS = 200


class Index:
    def __index__(self):
        return 3


class Sentinel:
    pass


def refcount_change(action, *watched):
    """How much the reference counts of `watched` grew over ROUNDS calls of `action`."""
    action()  # let caches and interned strings settle
    before = [sys.getrefcount(obj) for obj in watched]
    for _ in range(ROUNDS):
        action()
    after = [sys.getrefcount(obj) for obj in watched]
    return [a - b for a, b in zip(after, before)]


def test_make_ctx_keeps_no_reference_to_its_input():
    user = "user-" + str(id(object()))
    index = Index()
    value = "v-" + str(id(object()))
    other = {"k": value, "i": index, "bad": None}
    ctx_dict = {"user_id": user, "build_number": index, "other_fields": other}
    assert refcount_change(lambda: pyorvane.make_ctx(ctx_dict),
                           ctx_dict, user, index, other, value) == [0, 0, 0, 0, 0]


def test_make_ctx_failures_keep_no_reference():
    surrogate = "\ud800" + str(id(object()))
    bad = [1]
    ctx_dict = {"user_id": surrogate, "other_fields": {"a": bad}, "logged_in": 1}
    assert refcount_change(lambda: pyorvane.make_ctx(ctx_dict),
                           ctx_dict, surrogate, bad) == [0, 0, 0]


def test_type_errors_keep_no_reference(unloaded_engine):
    wrong = ["not", "a", "dict"]

    def call():
        with pytest.raises(TypeError):
            pyorvane.make_ctx(wrong)

    assert refcount_change(call, wrong) == [0]


def test_engine_methods_keep_no_reference_to_their_arguments(unloaded_engine):
    ctx = pyorvane.make_ctx({"user_id": "u"})
    name = "feature-" + str(id(object()))
    identifier = "user_id-" + str(id(object()))

    def call():
        unloaded_engine.choose(name, ctx, identifier)
        unloaded_engine.choose_all(ctx, identifier)
        unloaded_engine.get_experiment(name)
        unloaded_engine.get_map(name, ctx)
        unloaded_engine.get_all_values(ctx)

    assert refcount_change(call, ctx, name, identifier, unloaded_engine) == [0, 0, 0, 0]


def test_map_val_returns_the_stored_dict_without_leaking(unloaded_engine):
    res = unloaded_engine.get_map("f", pyorvane.make_ctx({}))
    stored = res.val()
    assert refcount_change(lambda: res.val(), stored) == [0]
    assert res.val() is stored


def test_results_are_freed_with_their_last_reference(unloaded_engine):
    res = unloaded_engine.get_map("f", pyorvane.make_ctx({}))
    stored = res.val()
    sentinel = Sentinel()
    stored["sentinel"] = sentinel
    ref = weakref.ref(sentinel)
    del sentinel, stored, res
    assert ref() is None


def test_cycle_through_a_stored_dict_is_collected(unloaded_engine):
    gc.collect()
    res = unloaded_engine.get_map("f", pyorvane.make_ctx({}))
    stored = res.val()
    stored["result"] = res  # the dict now refers back to its result object
    sentinel = Sentinel()
    stored["sentinel"] = sentinel
    ref = weakref.ref(sentinel)
    del sentinel, stored, res
    assert ref() is not None  # kept alive by the cycle until the collector runs
    gc.collect()
    assert ref() is None
