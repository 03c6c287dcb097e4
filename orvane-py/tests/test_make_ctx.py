"""make_ctx: conversion of a dict into a request context, its err() and inspect()."""

import math

import pytest

import pyorvane

# Declaration order of the context's fields, which inspect() follows.
FIELDS = ["user_id", "locale", "country_code", "device_id", "canonical_url", "origin_service",
          "user_is_employee", "logged_in", "app_name", "build_number", "oauth_client_id",
          "cookie_created_timestamp", "loid_created_timestamp", "other_fields"]


def some(text, indent):
    """Some(...) around an already rendered one-line value, laid out at `indent` blanks."""
    pad = " " * indent
    return f"Some(\n{pad}    {text},\n{pad})"


def other_fields_text(entries):
    """Pretty text of other_fields; entries are (key, alternative, payload) in map order."""
    if not entries:
        return some("{}", 4)
    lines = ["{"]
    for key, alternative, payload in entries:
        lines.append(f'            "{key}": {alternative}(\n                {payload},\n            ),')
    lines.append("        }")
    return some("\n".join(lines), 4)


def context_text(**present):
    """The pretty Context text; `present` maps field names to their rendered value."""
    lines = ["Context {"]
    for field in FIELDS:
        if field not in present:
            lines.append(f"    {field}: None,")
        elif field == "other_fields":
            lines.append(f"    {field}: {other_fields_text(present[field])},")
        else:
            lines.append(f"    {field}: {some(present[field], 4)},")
    lines.append("}")
    return "\n".join(lines)


def inspect_text(err, **present):
    err_text = "None"
    if err is not None:
        escaped = err.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
        err_text = f'Some(\n    GenericError(\n        "{escaped}",\n    ),\n)'
    return f"err: {err_text} \ncontext: {context_text(**present)}"


def mismatch(key, word):
    return f'"{key}" type mismatch ({word}).'


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BrokenIndex:
    def __index__(self):
        raise ValueError("no index")


class AsFloat:
    def __float__(self):
        return 1.5


class Huge(int):
    pass


class Text(str):
    pass


# (ctx_dict, fields as rendered in inspect(), err())
CASES = [
    ({}, {}, None),
    ({"user_id": "t2_a", "locale": "en-US", "device_id": "d", "canonical_url": "https://x/y",
      "country_code": "US", "origin_service": "web", "app_name": "ios",
      "oauth_client_id": "c1"},
     {"user_id": '"t2_a"', "locale": '"en-US"', "device_id": '"d"',
      "canonical_url": '"https://x/y"', "country_code": '"US"', "origin_service": '"web"',
      "app_name": '"ios"', "oauth_client_id": '"c1"'}, None),
    ({"user_id": None, "build_number": None, "other_fields": None}, {}, None),
    ({"unknown": 5, "USER_ID": 3}, {}, None),
    ({"user_id": 5}, {}, mismatch("user_id", "string")),
    ({"locale": b"en"}, {}, mismatch("locale", "string")),
    ({"device_id": "\ud800"}, {}, mismatch("device_id", "string")),
    ({"user_id": 'say "hi"\\\n'}, {"user_id": '"say \\"hi\\"\\\\\\n"'}, None),
    ({"logged_in": True, "user_is_employee": False},
     {"logged_in": "true", "user_is_employee": "false"}, None),
    ({"logged_in": 1}, {}, mismatch("logged_in", "bool")),
    ({"user_is_employee": 0}, {}, mismatch("user_is_employee", "bool")),
    ({"logged_in": "true"}, {}, mismatch("logged_in", "bool")),
    ({"build_number": True}, {"build_number": "1"}, None),
    ({"build_number": 2147483647}, {"build_number": "2147483647"}, None),
    ({"build_number": -2147483648}, {"build_number": "-2147483648"}, None),
    ({"build_number": 2147483648}, {}, mismatch("build_number", "integer")),
    ({"build_number": -2147483649}, {}, mismatch("build_number", "integer")),
    ({"build_number": 7.0}, {}, mismatch("build_number", "integer")),
    ({"build_number": "7"}, {}, mismatch("build_number", "integer")),
    ({"build_number": Index(42)}, {"build_number": "42"}, None),
    ({"build_number": BrokenIndex()}, {}, mismatch("build_number", "integer")),
    ({"cookie_created_timestamp": -1, "loid_created_timestamp": 1767225600123},
     {"cookie_created_timestamp": "-1", "loid_created_timestamp": "1767225600123"}, None),
    ({"cookie_created_timestamp": 2**63 - 1, "loid_created_timestamp": -2**63},
     {"cookie_created_timestamp": "9223372036854775807",
      "loid_created_timestamp": "-9223372036854775808"}, None),
    ({"cookie_created_timestamp": 2**63}, {}, mismatch("cookie_created_timestamp", "integer")),
    ({"loid_created_timestamp": Huge(2**64)}, {}, mismatch("loid_created_timestamp", "integer")),
    ({"user_id": 5, "logged_in": 1, "build_number": "7"}, {},
     "\n".join([mismatch("user_id", "string"), mismatch("logged_in", "bool"),
                mismatch("build_number", "integer")])),
    ({"other_fields": {"a": True, "b": "text", "c": 3, "d": 2.5, "e": None, "f": math.nan}},
     {"other_fields": [("a", "Bool", "true"), ("b", "String", '"text"'), ("c", "Number", "3"),
                       ("d", "Number", "2.5")]}, None),
    ({"other_fields": {}}, {"other_fields": []}, None),
    ({"other_fields": {"n": None, "inf": math.inf, "ninf": -math.inf}}, {"other_fields": []}, None),
    ({"other_fields": {"seven": 7, "seven_f": 7.0, "neg": -4, "big": 2**70}},
     {"other_fields": [("big", "Number", "1.1805916207174113e21"), ("neg", "Number", "-4"),
                       ("seven", "Number", "7"), ("seven_f", "Number", "7.0")]}, None),
    ({"other_fields": {"i": Index(9), "f": AsFloat(), "s": Text("x")}},
     {"other_fields": [("f", "Number", "1.5"), ("i", "Number", "9"), ("s", "String", '"x"')]},
     None),
    ({"other_fields": {"zeta": 1, "alpha": 2}},
     {"other_fields": [("alpha", "Number", "2"), ("zeta", "Number", "1")]}, None),
    ({"other_fields": {"a": [1]}, "user_id": "u"}, {"user_id": '"u"'},
     mismatch("other_fields", "hashmap")),
    ({"other_fields": {"a": {"b": 1}}}, {}, mismatch("other_fields", "hashmap")),
    ({"other_fields": {1: "a"}}, {}, mismatch("other_fields", "hashmap")),
    ({"other_fields": [("a", 1)]}, {}, mismatch("other_fields", "hashmap")),
    ({"other_fields": {"a": 1, "b": b"x"}}, {}, mismatch("other_fields", "hashmap")),
    ({"other_fields": {"a": "\udc80"}}, {}, mismatch("other_fields", "hashmap")),
    ({"other_fields": {"\udc80": "a"}}, {}, mismatch("other_fields", "hashmap")),
    ({"other_fields": {"a": 10**400}}, {}, mismatch("other_fields", "hashmap")),
    ({"other_fields": {"a": BrokenIndex()}}, {}, mismatch("other_fields", "hashmap")),
    ({"other_fields": "a=1", "logged_in": None, "device_id": 1.5}, {},
     "\n".join([mismatch("device_id", "string"), mismatch("other_fields", "hashmap")])),
]
IDS = [
    "empty dict", "every string field", "None means absent", "unknown keys ignored",
    "user_id number", "locale bytes", "device_id lone surrogate", "string escapes",
    "booleans", "logged_in one", "user_is_employee zero", "logged_in string",
    "build_number True", "build_number max", "build_number min", "build_number above range",
    "build_number below range", "build_number float", "build_number string",
    "build_number __index__", "build_number __index__ raises", "timestamps",
    "timestamps at 64-bit limits", "timestamp above range", "timestamp int subclass too big",
    "three mismatches in key order", "other_fields kinds", "other_fields empty",
    "other_fields all dropped", "other_fields numbers", "other_fields protocols",
    "other_fields sorted keys", "other_fields list value", "other_fields dict value",
    "other_fields int key", "other_fields not a dict", "other_fields bytes value",
    "other_fields surrogate value", "other_fields surrogate key", "other_fields huge int",
    "other_fields __index__ raises", "mismatches across kinds",
]


@pytest.mark.parametrize("ctx_dict, fields, err", CASES, ids=IDS)
def test_make_ctx(ctx_dict, fields, err):
    ctx = pyorvane.make_ctx(ctx_dict)
    assert type(ctx).__name__ == "PyContext"
    assert ctx.err() == err
    assert ctx.inspect() == inspect_text(err, **fields)


def test_inspect_of_two_mismatches_shows_escaped_generic_error():
    ctx = pyorvane.make_ctx({"user_id": 1, "locale": 2})
    assert ctx.inspect() == (
        "err: Some(\n"
        "    GenericError(\n"
        '        "\\"user_id\\" type mismatch (string).\\n\\"locale\\" type mismatch (string).",\n'
        "    ),\n"
        ") \n"
        "context: " + context_text())


def test_make_ctx_reads_the_dict_without_its_overrides():
    class Tracking(dict):
        def __getitem__(self, key):
            raise KeyError(key)

        def get(self, key, default=None):
            raise KeyError(key)

    ctx = pyorvane.make_ctx(Tracking(user_id="u7", build_number=3))
    assert ctx.err() is None
    assert ctx.inspect() == inspect_text(None, user_id='"u7"', build_number="3")


def test_make_ctx_leaves_no_python_error_behind():
    # A pending error would surface as SystemError on the next call that checks for one.
    ctx = pyorvane.make_ctx({"user_id": "\ud800", "build_number": BrokenIndex(),
                             "other_fields": {"x": "\udfff"}})
    assert ctx.err() == "\n".join([mismatch("user_id", "string"),
                                   mismatch("build_number", "integer"),
                                   mismatch("other_fields", "hashmap")])
    assert int("5") == 5


class Raises:
    """A value whose conversion raises `error`, through every protocol make_ctx reads."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error


class CollidesWithUserId:
    """A key equal in hash to "user_id" whose comparison raises."""

    def __hash__(self):
        return hash("user_id")

    def __eq__(self, other):
        raise KeyboardInterrupt


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3), MemoryError(),
                                   RuntimeError("bug in __index__")],
                         ids=lambda e: type(e).__name__)
@pytest.mark.parametrize("make", [
    lambda v: {"build_number": v},
    lambda v: {"other_fields": {"seats": v}},
], ids=["integer field", "other_fields value"])
def test_make_ctx_lets_errors_that_are_not_about_the_value_through(make, error):
    with pytest.raises(type(error)):
        pyorvane.make_ctx(make(Raises(error)))
    # Conversion failures proper still become messages, and nothing is left pending.
    for failure in (TypeError("t"), ValueError("v"), OverflowError("o")):
        assert pyorvane.make_ctx(make(Raises(failure))).err() is not None
    assert int("5") == 5


def test_make_ctx_lets_a_failing_key_comparison_through():
    with pytest.raises(KeyboardInterrupt):
        pyorvane.make_ctx({CollidesWithUserId(): 1})


def test_other_fields_value_that_changes_the_dict_while_read():
    fields = {}

    class Mutating:
        def __index__(self):
            fields.clear()
            return 4

    fields["a"] = Mutating()
    ctx = pyorvane.make_ctx({"other_fields": fields})
    assert ctx.err() in (None, mismatch("other_fields", "hashmap"))


def test_context_is_independent_of_the_dict_after_make_ctx():
    source = {"user_id": "before", "other_fields": {"k": "v"}}
    ctx = pyorvane.make_ctx(source)
    source["user_id"] = "after"
    source["other_fields"]["k"] = "changed"
    assert ctx.inspect() == inspect_text(None, user_id='"before"',
                                         other_fields=[("k", "String", '"v"')])


class EqualsUserId:
    """A key that is not a str but equals "user_id", in hash and comparison."""

    def __hash__(self):
        return hash("user_id")

    def __eq__(self, other):
        return other == "user_id"


class NeverEqual(str):
    """A str subclass with the text of a known key that compares unequal to everything."""

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


class OwnViews(dict):
    """A dict subclass whose views and iteration lie about its entries."""

    def __iter__(self):
        return iter(["user_id"])

    def keys(self):
        return ["user_id"]

    def items(self):
        return [("user_id", "fake")]


def runtime_str(text):
    """The text as a str made at run time, so it is not the interned literal."""
    return "".join(list(text))


def index_that_replaces(key, value, result):
    """A dict whose build_number, when read as an integer, stores `value` under `key`."""
    ctx_dict = {}

    class Replacing:
        def __index__(self):
            ctx_dict[key] = value
            return result

    ctx_dict["other_fields"] = {"before": 1}
    ctx_dict["build_number"] = Replacing()
    return ctx_dict


# (dict as make_ctx receives it, a plain dict of literal keys that must convert the same way)
SAME_AS = [
    (lambda: {NeverEqual("user_id"): "x", "locale": "en"}, {"locale": "en"}),
    (lambda: {Text("user_id"): "x"}, {"user_id": "x"}),
    (lambda: {EqualsUserId(): "x", "locale": "en"}, {"user_id": "x", "locale": "en"}),
    (lambda: {"user_id": "a", EqualsUserId(): "b"}, {"user_id": "b"}),
    (lambda: {runtime_str("user_id"): "u", runtime_str("build_number"): 3},
     {"user_id": "u", "build_number": 3}),
    (lambda: {"üser_id": "u", "user_id\0": "v", "USER_ID": "w", 7: "z"}, {}),
    (lambda: OwnViews(locale="en", app_name=5), {"locale": "en", "app_name": 5}),
    (lambda: {"other_fields": 1, "build_number": "7", "logged_in": 0, "user_id": 2},
     {"user_id": 2, "logged_in": 0, "build_number": "7", "other_fields": 1}),
    (lambda: index_that_replaces("other_fields", {"after": 2}, 4),
     {"build_number": 4, "other_fields": {"after": 2}}),
    (lambda: index_that_replaces("loid_created_timestamp", "late", 4),
     {"build_number": 4, "loid_created_timestamp": "late", "other_fields": {"before": 1}}),
]
SAME_AS_IDS = [
    "str subclass unequal to its text", "str subclass key", "non-str key equal to user_id",
    "str key then an equal non-str key", "keys made at run time", "near misses of known keys",
    "dict subclass with its own views", "mismatches inserted in reverse key order",
    "__index__ replaces other_fields", "__index__ adds a later key",
]
# Enough unknown keys that make_ctx cannot take the dict for a small one.
PADDING = {f"unused_{i}": i for i in range(40)}


def answer(ctx_dict):
    ctx = pyorvane.make_ctx(ctx_dict)
    return ctx.err(), ctx.inspect()


@pytest.mark.parametrize("make, plain", SAME_AS, ids=SAME_AS_IDS)
def test_make_ctx_reads_small_and_large_dicts_alike(make, plain):
    expected = answer(plain)
    assert answer(make()) == expected
    assert answer({**PADDING, **plain}) == expected
    padded = make()
    padded.update(PADDING)
    assert answer(padded) == expected
