"""orvane._native reaches the engines and contexts pyorvane makes, and refuses what it
cannot read."""

import subprocess
import sys

import pytest

import pyorvane
from companion_support import record
from orvane import _native


def test_feature_names_in_file_order_with_repeats(write_config):
    # Keys and names differ on purpose: the names are what the engine knows features by.
    path = write_config({"k1": record("zeta", 1), "k2": record("alpha", 2),
                         "k3": record("zeta", 3)})
    engine = pyorvane.init("value", path)
    assert engine.err() is None
    assert _native.feature_names(engine) == ["zeta", "alpha", "zeta"]
    assert _native.feature_names(engine=engine) == ["zeta", "alpha", "zeta"]


def test_context_fields_are_make_ctx_keys_in_its_order():
    # make_ctx reports every key whose value it refuses, in the order it reads them, with the
    # type it wanted: that is the list the package takes from the engine.
    ctx = pyorvane.make_ctx({name: object() for name, _ in _native.CONTEXT_FIELDS})
    wanted = {"str": "string", "bool": "bool", "int32": "integer", "int64": "integer"}
    assert ctx.err() == "\n".join(f'"{name}" type mismatch ({wanted[kind]}).'
                                   for name, kind in _native.CONTEXT_FIELDS)
    assert len(_native.CONTEXT_FIELDS) == 13


@pytest.mark.parametrize(
    "make, expected",
    [(lambda: pyorvane.make_ctx({"user_id": "t2_a"}), True),
     (lambda: pyorvane.make_ctx({"build_number": "wrong type"}), True),
     (lambda: pyorvane.init("value", "/nonexistent.json"), False),
     (lambda: {"user_id": "t2_a"}, False),
     (lambda: None, False)],
    ids=["context", "context with err", "engine", "dict", "None"])
def test_is_context(make, expected):
    assert _native.is_context(make()) is expected


@pytest.mark.parametrize(
    "argument, type_name",
    [(3, "int"), (None, "NoneType"), ({}, "dict"),
     (pyorvane.make_ctx({}), "PyContext")],
    ids=["int", "None", "dict", "context"])
def test_feature_names_names_a_wrong_argument(argument, type_name):
    with pytest.raises(TypeError) as raised:
        _native.feature_names(argument)
    assert str(raised.value) == (
        f"argument 'engine': '{type_name}' object cannot be converted to 'PyOrvane'")


def test_feature_names_of_a_failed_engine(failed_engine):
    with pytest.raises(ValueError) as raised:
        _native.feature_names(failed_engine)
    assert str(raised.value) == f"argument 'engine': the engine did not load: {failed_engine.err()}"


def test_refuses_a_pyorvane_that_does_not_state_its_layout():
    # A module of another build stands in for pyorvane: a loaded extension without the
    # exported layout text must be refused before any payload is read.
    script = (
        "import math, sys, types\n"
        "impostor = types.ModuleType('pyorvane')\n"
        "impostor.__file__ = math.__file__\n"
        "sys.modules['pyorvane'] = impostor\n"
        "try:\n"
        "    import orvane._native\n"
        "except ImportError as e:\n"
        "    print(e)\n")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         check=True).stdout
    assert "cannot use the pyorvane module at" in out
    assert "it does not state the layout of its classes" in out
