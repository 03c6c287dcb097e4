"""The type information shipped with the distribution agrees with the modules, and the
code users read (the examples, the companion package) passes mypy --strict against it."""

import ast
import inspect
import subprocess
import sys

import pyorvane
from companion_support import REPO_ROOT
from docblocks import doc_pages, page_module
from orvane import _native

MYPY_CACHE = REPO_ROOT / "build" / "mypy-cache"


def run(*args):
    return subprocess.run([sys.executable, "-m", *args], cwd=REPO_ROOT, capture_output=True,
                          text=True)


def test_pyorvane_stub_matches_the_module():
    result = run("mypy.stubtest", "pyorvane", "--mypy-config-file", "/dev/null",
                 "--allowlist", "orvane-py/stubtest-allowlist.txt")
    assert result.returncode == 0, result.stdout + result.stderr


def test_examples_and_package_pass_strict_mypy():
    result = run("mypy", "--strict", "--cache-dir", str(MYPY_CACHE), "examples",
                 "python/orvane")
    assert result.returncode == 0, result.stdout + result.stderr


def test_docs_python_blocks_pass_strict_mypy(tmp_path):
    # Each page's python blocks run as one module, so each is checked as one.
    for page in doc_pages():
        name = "_".join(page.relative_to(REPO_ROOT).with_suffix("").parts).lower()
        (tmp_path / f"{name}.py").write_text(page_module(page), encoding="utf-8")
    result = run("mypy", "--strict", "--cache-dir", str(MYPY_CACHE), str(tmp_path))
    assert result.returncode == 0, result.stdout + result.stderr


def parameter_names(function):
    return [argument.arg for argument in function.args.args]


def stub_classes():
    tree = ast.parse((REPO_ROOT / "orvane-py/pyorvane.pyi").read_text(encoding="utf-8"))
    return {node.name: {method.name: signature_of(method) for method in node.body
                        if isinstance(method, ast.FunctionDef)}
            for node in tree.body if isinstance(node, ast.ClassDef)
            and not any(isinstance(base, ast.Name) and base.id == "TypedDict"
                        for base in node.bases)}


def signature_of(method):
    """Parameter names after self, each with whether it has a default."""
    names = parameter_names(method)[1:]
    defaults = len(method.args.defaults)
    return [(name, i >= len(names) - defaults) for i, name in enumerate(names)]


def runtime_classes():
    # The classes are reachable only through instances; a failed engine still answers
    # every method with an instance of its result class.
    engine = pyorvane.init("value", "/nonexistent.json")
    ctx = pyorvane.make_ctx({})
    instances = [engine, ctx, engine.choose("f", ctx), engine.choose_all(ctx),
                 engine.get_experiment("f"), engine.get_bool("f", ctx),
                 engine.get_int("f", ctx), engine.get_float("f", ctx),
                 engine.get_string("f", ctx), engine.get_map("f", ctx)]
    return {cls.__name__: {name: runtime_signature(member) for name, member in vars(cls).items()
                           if not name.startswith("__")}
            for cls in map(type, instances)}


def runtime_signature(method):
    if method.__text_signature__ is None:  # methods without parameters carry none
        return []
    return [(p.name, p.default is not p.empty)
            for p in inspect.signature(method).parameters.values()][1:]


def test_pyorvane_stub_declares_every_class_method_with_its_parameters():
    # stubtest cannot reach the classes (they are not module attributes), so their
    # methods are compared here: names, parameter names, which have defaults.
    assert stub_classes() == runtime_classes()


def stub_functions():
    tree = ast.parse((REPO_ROOT / "python/orvane/_native.pyi").read_text(encoding="utf-8"))
    return {node.name: parameter_names(node) for node in tree.body
            if isinstance(node, ast.FunctionDef)}


def runtime_functions():
    # stubtest cannot read nanobind's functions; their signature text ("def f(a: T) -> R")
    # is Python syntax.
    found = {}
    for name in dir(_native):
        function = getattr(_native, name)
        if name.startswith("_") or not callable(function):
            continue
        signature = function.__nb_signature__[0][0]
        found[name] = parameter_names(ast.parse(f"{signature}: ...").body[0])
    return found


def test_native_stub_declares_every_function_with_its_parameters():
    assert stub_functions() == runtime_functions()
