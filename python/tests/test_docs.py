"""Runs every fenced code block of README.md and docs/*.md, so the pages cannot drift from
the engine. How each kind of block is checked is described in docblocks.py."""

from __future__ import annotations

import __future__
import contextlib
import functools
import io
import json
import operator
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import types
import warnings

import pytest

import pyorvane
from docblocks import KINDS, REPO, Block, blocks, doc_pages, match_output, page_module

ALL_STAGES = "darkmode locale targeting overrides holdout mutex_group fractional_availability value"
COMMANDS = {"orvane", "python"}


def _load(block: Block, path: pathlib.Path, document: object) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(json.dumps(document) if not isinstance(document, str) else document,
                    encoding="utf-8")
    err = pyorvane.init(ALL_STAGES, str(path)).err()
    assert err is None, f"{block.where}: the configuration does not load: {err}"


def _check_json(block: Block, workdir: pathlib.Path) -> None:
    try:
        parsed = json.loads(block.text)
    except json.JSONDecodeError as exc:
        pytest.fail(f"{block.where}: not JSON: {exc}")
    scratch = workdir / ".docs" / f"block-{block.line}.json"
    if "record" in block.attrs:
        _load(block, scratch, {block.attrs.get("key") or "record": parsed})
    elif "targeting" in block.attrs:
        record = {"id": 1, "name": "f", "enabled": True, "version": "1", "owner": "docs",
                  "type": "range_variant", "experiment": {"experiment_version": 1,
                                                          "targeting": parsed}}
        _load(block, scratch, {"f": record})
    else:
        _load(block, workdir / block.attrs["file"] if block.attrs.get("file") else scratch,
              block.text)


FUTURE_FLAGS = functools.reduce(operator.or_, (getattr(__future__, name).compiler_flag
                                                for name in __future__.all_feature_names))


def _run_python(block: Block, module: types.ModuleType) -> str:
    # A page's blocks form one module, so a `from __future__` import in an earlier block
    # holds for the later ones; the flags travel in the module's namespace.
    flags = module.__dict__.get("__docs_future_flags__", 0)
    # Leading blank lines make tracebacks point at the page's own line numbers.
    code = compile("\n" * block.line + block.text, str(block.page), "exec", flags=flags,
                   dont_inherit=True)
    module.__dict__["__docs_future_flags__"] = flags | (code.co_flags & FUTURE_FLAGS)
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(code, module.__dict__)
    return out.getvalue()


def _console_commands(block: Block) -> list[tuple[str, str]]:
    """(command, expected output) pairs of a console block."""
    commands: list[tuple[str, str]] = []
    for line in block.text.splitlines():
        if line.startswith("$ "):
            commands.append((line[2:], ""))
        elif commands:
            command, expected = commands[-1]
            commands[-1] = (command, expected + line + "\n")
        elif line.strip():
            pytest.fail(f"{block.where}: console text before the first `$ ` command")
    return commands


def _run_console(block: Block, workdir: pathlib.Path) -> str | None:
    """Runs the block's commands; returns their joined output, or None when the program is
    not installed."""
    bindir = str(pathlib.Path(sys.executable).parent)
    path = bindir + os.pathsep + os.environ.get("PATH", "")
    outputs = []
    for command, expected in _console_commands(block):
        argv = shlex.split(command)
        assert argv[0] in COMMANDS, f"{block.where}: the docs run only {sorted(COMMANDS)}"
        if argv[0] == "python":
            argv[0] = sys.executable
        elif shutil.which(argv[0], path=path) is None:
            return None
        done = subprocess.run(argv, cwd=workdir, env={**os.environ, "PATH": path},
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=120, check=False)
        wanted = int(block.attrs.get("exit", "0"))
        assert done.returncode == wanted, (
            f"{block.where}: `{command}` exited {done.returncode}, not {wanted}:\n{done.stdout}")
        if expected.strip():
            assert match_output(expected, done.stdout), (
                f"{block.where}: `{command}` printed\n{done.stdout}\ninstead of\n{expected}")
        outputs.append(done.stdout)
    return "".join(outputs)


@pytest.mark.parametrize("page", doc_pages(), ids=lambda page: page.name)
def test_page_blocks_run(page: pathlib.Path, tmp_path: pathlib.Path,
                         monkeypatch: pytest.MonkeyPatch) -> None:
    shutil.copytree(REPO / "examples", tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    module = types.ModuleType(f"docs_{page.stem.lower()}")
    monkeypatch.setitem(sys.modules, module.__name__, module)

    found = blocks(page)
    skipped = []
    for i, block in enumerate(found):
        assert block.kind in KINDS, f"{block.where}: unknown block kind {block.kind!r}"
        follows = found[i - 1] if i > 0 else None
        if block.kind == "output":
            assert follows is not None and follows.kind in ("python", "console"), (
                f"{block.where}: an output block must follow a python or console block")
            continue
        expected = found[i + 1].text if i + 1 < len(found) and found[i + 1].kind == "output" \
            else None
        if block.kind == "json":
            _check_json(block, tmp_path)
            continue
        printed = _run_python(block, module) if block.kind == "python" \
            else _run_console(block, tmp_path)
        if printed is None:
            skipped.append(block.where)
        elif expected is not None:
            assert match_output(expected, printed), (
                f"{block.where} printed\n{printed}\ninstead of\n{expected}")
    if skipped:
        warnings.warn(f"not installed, so not run: {', '.join(skipped)}", stacklevel=1)


@pytest.mark.parametrize("expected, actual, matches", [
    ("a\nb\n", "a  \nb", True),
    ("a\nb\n", "a\nc\n", False),
    ("id ...-4...\n", "id 1f0e-4abc\n", True),
    ("one\n...\nfour\n", "one\ntwo\nthree\nfour\n", True),
    ("one\n", "one\ntwo\n", False),
], ids=["trailing blanks", "different line", "ellipsis in a line", "ellipsis over lines",
        "extra line"])
def test_output_matching(expected: str, actual: str, matches: bool) -> None:
    assert match_output(expected, actual) is matches


def test_fences_attributes_and_page_module(tmp_path: pathlib.Path) -> None:
    page = tmp_path / "page.md"
    page.write_text("text\n\n```python\nx = 1\n```\n\n````json file=a.json key\n"
                    "{\"```\": 1}\n```\n````\n\n```python\nfrom __future__ import annotations\n"
                    "print(x)\n```\n", encoding="utf-8")
    found = blocks(page)
    assert [(b.line, b.kind, b.attrs) for b in found] == [
        (3, "python", {}), (7, "json", {"file": "a.json", "key": ""}), (12, "python", {})]
    assert found[1].text == "{\"```\": 1}\n```\n"
    assert page_module(page) == (f"from __future__ import annotations\n# {page}:3\nx = 1\n\n"
                                 f"# {page}:12\nprint(x)\n")


def _anchors(page: pathlib.Path) -> set[str]:
    """The anchors of a page's headings, made the way GitHub makes them."""
    headings = re.findall(r"^#+ (.+)$", page.read_text(encoding="utf-8"), re.MULTILINE)
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-") for h in headings}


@pytest.mark.parametrize("page", doc_pages(), ids=lambda page: page.name)
def test_links_reach_their_page_and_heading(page: pathlib.Path) -> None:
    text = page.read_text(encoding="utf-8")
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        linked = (page.parent / path).resolve() if path else page
        assert linked.exists(), f"{page.name}: link to missing {target}"
        if anchor:
            assert anchor in _anchors(linked), f"{page.name}: no heading for {target}"
