"""The module's surface: its namespace, its classes and how arguments are bound."""

import subprocess
import sys

import pytest

import pyorvane
from configs import EXAMPLE_CONFIG

CLASS_METHODS = {
    "PyOrvane": ["err", "choose", "choose_all", "get_experiment", "get_bool", "get_int",
                 "get_float", "get_string", "get_map", "get_all_values"],
    "PyContext": ["inspect", "err"],
    "PyDecision": ["inspect", "decision", "decision_dict", "value_dict", "events", "err"],
    "GetAllDecisionsRes": ["inspect", "decisions", "err"],
    "GetExperimentRes": ["inspect", "val", "err"],
    "GetBoolRes": ["inspect", "val", "err"],
    "GetIntegerRes": ["inspect", "val", "err"],
    "GetFloatRes": ["inspect", "val", "err"],
    "GetStringRes": ["inspect", "val", "err"],
    "GetMapRes": ["inspect", "val", "err"],
}


@pytest.fixture
def instances(unloaded_engine):
    """One instance of every class, by class name."""
    ctx = pyorvane.make_ctx({})
    objects = [unloaded_engine, ctx, unloaded_engine.choose("f", ctx),
               unloaded_engine.choose_all(ctx), unloaded_engine.get_experiment("f"),
               unloaded_engine.get_bool("f", ctx), unloaded_engine.get_int("f", ctx),
               unloaded_engine.get_float("f", ctx), unloaded_engine.get_string("f", ctx),
               unloaded_engine.get_map("f", ctx)]
    return {type(obj).__name__: obj for obj in objects}


def test_module_namespace_holds_only_the_two_functions():
    own = {name for name in vars(pyorvane) if not (name.startswith("__") and name.endswith("__"))}
    assert own == {"init", "make_ctx"}


def test_module_doc_is_empty():
    assert pyorvane.__doc__ == ""


@pytest.mark.parametrize("name", ["init", "make_ctx"])
def test_functions_have_no_doc(name):
    function = getattr(pyorvane, name)
    assert function.__doc__ is None
    assert function.__module__ == "pyorvane"


def test_every_class_is_reachable_through_an_instance(instances):
    assert sorted(instances) == sorted(CLASS_METHODS)


@pytest.mark.parametrize("name", sorted(CLASS_METHODS))
def test_class_reports_builtins_and_its_name(instances, name):
    cls = type(instances[name])
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert not hasattr(pyorvane, name)


@pytest.mark.parametrize("name", sorted(CLASS_METHODS))
def test_class_cannot_be_constructed(instances, name):
    cls = type(instances[name])
    with pytest.raises(TypeError) as raised:
        cls()
    assert str(raised.value) == "No constructor defined"
    with pytest.raises(TypeError) as raised:
        cls(1, key=2)
    assert str(raised.value) == "No constructor defined"


@pytest.mark.parametrize("name", sorted(CLASS_METHODS))
def test_class_methods_in_order_without_docs(instances, name):
    cls = type(instances[name])
    methods = [attr for attr in vars(cls) if not attr.startswith("__")]
    assert methods == CLASS_METHODS[name]
    assert cls.__doc__ == ""
    for method in methods:
        assert getattr(cls, method).__doc__ is None


@pytest.mark.parametrize("name", sorted(CLASS_METHODS))
def test_class_defines_no_repr_comparison_or_hash(instances, name):
    cls = type(instances[name])
    for dunder in ("__repr__", "__str__", "__eq__", "__ne__", "__lt__", "__hash__"):
        assert getattr(cls, dunder) is getattr(object, dunder), dunder
    obj = instances[name]
    assert repr(obj) == f"<{name} object at {hex(id(obj))}>"


@pytest.mark.parametrize("name", sorted(CLASS_METHODS))
def test_instances_take_no_attributes(instances, name):
    with pytest.raises(AttributeError):
        instances[name].extra = 1


@pytest.mark.parametrize("name", sorted(CLASS_METHODS))
def test_methods_take_no_unexpected_arguments(instances, name):
    with pytest.raises(TypeError) as raised:
        instances[name].err(1)
    assert str(raised.value) == f"{name}.err() takes no arguments (1 given)"


@pytest.mark.parametrize("name", CLASS_METHODS)
def test_class_is_final_and_immutable(instances, name):
    cls = type(instances[name])
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    for change in (lambda: setattr(cls, "err", None), lambda: setattr(cls, "extra", 1),
                   lambda: delattr(cls, "err")):
        with pytest.raises(TypeError):
            change()


SUBPROCESS_CASES = {
    # A second import after the first module died must work and keep working to exit.
    "second import": ("import gc, sys, pyorvane\n"
                      "pyorvane.make_ctx({})\n"
                      "del pyorvane\n"
                      "del sys.modules['pyorvane']\n"
                      "gc.collect()\n"
                      "import pyorvane\n"
                      "print(type(pyorvane.make_ctx({'user_id': 'u1'})).__name__)\n",
                      "PyContext"),
    # An engine held in a global while a daemon thread lives: exit says nothing.
    "quiet exit": ("import threading, time, pyorvane\n"
                   f"e = pyorvane.init('value', {str(EXAMPLE_CONFIG)!r})\n"
                   "d = e.choose('search_ranking_v2', pyorvane.make_ctx({'user_id': 'u'}))\n"
                   "def spin():\n"
                   "    while True:\n"
                   "        pyorvane.make_ctx({'user_id': 'u'})\n"
                   "threading.Thread(target=spin, daemon=True).start()\n"
                   "time.sleep(0.2)\n"
                   "print('done')\n",
                   "done"),
}


@pytest.mark.parametrize("case", SUBPROCESS_CASES)
def test_process_runs_to_a_clean_exit(case):
    code, printed = SUBPROCESS_CASES[case]
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert (run.returncode, run.stdout.strip(), run.stderr) == (0, printed, "")


def test_sub_interpreter_import_is_refused():
    pytest.importorskip("_testcapi")
    code = ("import sys\n"
            "try:\n"
            "    import pyorvane\n"
            "except ImportError as error:\n"
            "    sys.stdout.write('refused: ' + str(error))\n")
    run = subprocess.run([sys.executable, "-c",
                          f"import _testcapi; _testcapi.run_in_subinterp({code!r})"],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout == ("refused: pyorvane cannot be imported in a sub-interpreter; "
                          "import it in the main interpreter")


CTX = pyorvane.make_ctx({"user_id": "u1"})

# (call, exact TypeError message)
BINDING_ERRORS = [
    (lambda e: pyorvane.init(), "init() missing 2 required positional arguments: "
                                "'decisionmakers' and 'filename'"),
    (lambda e: pyorvane.init("value"), "init() missing 1 required positional argument: 'filename'"),
    (lambda e: pyorvane.init(filename="x"),
     "init() missing 1 required positional argument: 'decisionmakers'"),
    (lambda e: pyorvane.init("a", "b", "c"), "init() takes 2 positional arguments but 3 were given"),
    (lambda e: pyorvane.init("a", "b", mode=1), "init() got an unexpected keyword argument 'mode'"),
    (lambda e: pyorvane.init("a", "b", decisionmakers="c"),
     "init() got multiple values for argument 'decisionmakers'"),
    (lambda e: pyorvane.init(1, "f"),
     "argument 'decisionmakers': 'int' object cannot be converted to 'PyString'"),
    (lambda e: pyorvane.init("value", b"f.json"),
     "argument 'filename': 'bytes' object cannot be converted to 'PyString'"),
    (lambda e: pyorvane.init(None, None),
     "argument 'decisionmakers': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda e: pyorvane.make_ctx(), "make_ctx() missing 1 required positional argument: 'ctx_dict'"),
    (lambda e: pyorvane.make_ctx({}, {}), "make_ctx() takes 1 positional argument but 2 were given"),
    (lambda e: pyorvane.make_ctx([]),
     "argument 'ctx_dict': 'list' object cannot be converted to 'PyDict'"),
    (lambda e: pyorvane.make_ctx(ctx_dict=None),
     "argument 'ctx_dict': 'NoneType' object cannot be converted to 'PyDict'"),
    (lambda e: pyorvane.make_ctx(CTX),
     "argument 'ctx_dict': 'PyContext' object cannot be converted to 'PyDict'"),
    (lambda e: e.choose("f"), "PyOrvane.choose() missing 1 required positional argument: 'ctx'"),
    (lambda e: e.choose("f", CTX, None, 1),
     "PyOrvane.choose() takes from 2 to 3 positional arguments but 4 were given"),
    (lambda e: e.choose(1, CTX),
     "argument 'feature_name': 'int' object cannot be converted to 'PyString'"),
    (lambda e: e.choose(1, {}),
     "argument 'feature_name': 'int' object cannot be converted to 'PyString'"),
    (lambda e: e.choose("f", {"user_id": "1"}),
     "argument 'ctx': 'dict' object cannot be converted to 'PyContext'"),
    (lambda e: e.choose("f", CTX, 5),
     "argument 'identifier_type': 'int' object cannot be converted to 'PyString'"),
    (lambda e: e.choose("f", CTX, identifier_type=b"user_id"),
     "argument 'identifier_type': 'bytes' object cannot be converted to 'PyString'"),
    (lambda e: e.choose_all({}), "argument 'ctx': 'dict' object cannot be converted to 'PyContext'"),
    (lambda e: e.choose_all(CTX, 1.5),
     "argument 'identifier_type': 'float' object cannot be converted to 'PyString'"),
    (lambda e: e.choose_all(), "PyOrvane.choose_all() missing 1 required positional argument: 'ctx'"),
    (lambda e: e.get_experiment(None),
     "argument 'feature_name': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda e: e.get_experiment("f", CTX),
     "PyOrvane.get_experiment() takes 1 positional argument but 2 were given"),
    (lambda e: e.get_bool("f", "ctx"), "argument 'ctx': 'str' object cannot be converted to 'PyContext'"),
    (lambda e: e.get_int("f", None), "argument 'ctx': 'NoneType' object cannot be converted to 'PyContext'"),
    (lambda e: e.get_float(["f"], CTX),
     "argument 'feature_name': 'list' object cannot be converted to 'PyString'"),
    (lambda e: e.get_string("f", ctx=e),
     "argument 'ctx': 'PyOrvane' object cannot be converted to 'PyContext'"),
    (lambda e: e.get_map("f"), "PyOrvane.get_map() missing 1 required positional argument: 'ctx'"),
    (lambda e: e.get_map("f", CTX, name="g"),
     "PyOrvane.get_map() got an unexpected keyword argument 'name'"),
    (lambda e: e.get_all_values(ctx={}),
     "argument 'ctx': 'dict' object cannot be converted to 'PyContext'"),
    (lambda e: e.get_all_values(CTX, ctx=CTX),
     "PyOrvane.get_all_values() got multiple values for argument 'ctx'"),
]
BINDING_IDS = [
    "init no arguments", "init missing filename", "init missing decisionmakers",
    "init three positional", "init unknown keyword", "init repeated keyword",
    "init decisionmakers int", "init filename bytes", "init both None",
    "make_ctx no arguments", "make_ctx two positional", "make_ctx list", "make_ctx None keyword",
    "make_ctx PyContext", "choose missing ctx", "choose four positional",
    "choose feature_name int", "choose checks feature_name first", "choose ctx dict",
    "choose identifier_type int", "choose identifier_type bytes", "choose_all ctx dict",
    "choose_all identifier_type float", "choose_all missing ctx", "get_experiment None",
    "get_experiment two positional", "get_bool ctx str", "get_int ctx None",
    "get_float feature_name list", "get_string ctx engine", "get_map missing ctx",
    "get_map unknown keyword", "get_all_values ctx dict", "get_all_values repeated ctx",
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS, ids=BINDING_IDS)
def test_argument_errors_raise_type_error(unloaded_engine, call, message):
    with pytest.raises(TypeError) as raised:
        call(unloaded_engine)
    assert str(raised.value) == message


class Text(str):
    pass


class Mapping(dict):
    def __getitem__(self, key):
        raise AssertionError("make_ctx must read the dict directly")


def test_arguments_by_keyword_and_subclasses(tmp_path):
    engine = pyorvane.init(decisionmakers=Text("value"), filename=Text(tmp_path / "none.json"))
    assert engine.err().startswith("Orvane initialization failed: ")
    ctx = pyorvane.make_ctx(ctx_dict=Mapping(user_id=Text("u1")))
    assert ctx.err() is None
    assert 'user_id: Some(\n        "u1",\n    ),' in ctx.inspect()
    result = engine.choose(feature_name=Text("f"), ctx=ctx, identifier_type=Text("user_id"))
    assert result.err() == "Orvane not found."


def test_lone_surrogate_in_a_str_argument_raises_the_encoding_error(unloaded_engine):
    with pytest.raises(UnicodeEncodeError):
        unloaded_engine.choose("\ud800", pyorvane.make_ctx({}))
