"""Finds the fenced code blocks of the documentation and says how each one is checked.

The documentation pages are README.md and docs/*.md. Every fenced block carries a language
word, optionally followed by `key=value` attributes, and is checked by the docs test
(test_docs.py) according to that word:

- ``python``: run. The python blocks of one page share one namespace and run in page order,
  so a later block may use what an earlier one defined; every page starts afresh.
- ``json``: a whole configuration document, loaded with ``pyorvane.init``; it must load
  without error. ``json file=NAME`` also writes it to NAME, for the page's later blocks.
  ``json record`` is one record (wrapped into a document under the key given by
  ``key=KEY``, else ``record``); ``json targeting`` is one targeting tree (placed into a
  record); both must load.
- ``console``: lines starting with ``$ `` are commands, the lines after each one its expected
  output. Only ``orvane ...`` and ``python ...`` commands are allowed; a block whose program
  is not installed is skipped. Each command must exit 0, or N with ``exit=N``.
- ``output``: the expected standard output of the python or console block just before it.

Expected output matches line by line after trailing blanks are removed; ``...`` stands for any
text (UUIDs, clock readings). Blocks run in a temporary directory holding a copy of the
repository's ``examples/`` (the example configuration is ``examples/experiments.json``).

This module only extracts; mypy and the docs test both build on it (``page_module`` gives
a page's python blocks as one module for a type checker).
"""

from __future__ import annotations

import dataclasses
import pathlib
import re

REPO = pathlib.Path(__file__).resolve().parents[2]
KINDS = ("python", "json", "console", "output")
_FENCE = re.compile(r"^(?P<indent> {0,3})(?P<fence>`{3,}|~{3,})(?P<info>.*)$")


@dataclasses.dataclass(frozen=True)
class Block:
    page: pathlib.Path
    line: int  # 1-based line of the opening fence
    kind: str  # the language word, "" when there is none
    attrs: dict[str, str]  # key=value attributes; bare words map to ""
    text: str

    @property
    def where(self) -> str:
        try:
            name = self.page.relative_to(REPO)
        except ValueError:
            name = self.page
        return f"{name}:{self.line}"


def doc_pages() -> list[pathlib.Path]:
    """README.md, then docs/*.md in name order."""
    return [REPO / "README.md", *sorted((REPO / "docs").glob("*.md"))]


def _parse_info(info: str) -> tuple[str, dict[str, str]]:
    words = info.split()
    if not words:
        return "", {}
    attrs: dict[str, str] = {}
    for word in words[1:]:
        key, _, value = word.partition("=")
        attrs[key] = value
    return words[0], attrs


def blocks(page: pathlib.Path) -> list[Block]:
    """The fenced blocks of `page` in order. An unclosed fence runs to the end of the page."""
    found: list[Block] = []
    lines = page.read_text(encoding="utf-8").splitlines()
    i = 0
    while i < len(lines):
        opening = _FENCE.match(lines[i])
        if not opening:
            i += 1
            continue
        fence = opening["fence"]
        kind, attrs = _parse_info(opening["info"])
        body: list[str] = []
        j = i + 1
        while j < len(lines):
            closing = _FENCE.match(lines[j])
            if (closing and closing["fence"][0] == fence[0]
                    and len(closing["fence"]) >= len(fence) and not closing["info"].strip()):
                break
            body.append(lines[j][len(opening["indent"]):] if lines[j].startswith(
                opening["indent"]) else lines[j].lstrip())
            j += 1
        found.append(Block(page, i + 1, kind, attrs, "\n".join(body) + "\n" if body else ""))
        i = j + 1
    return found


def page_module(page: pathlib.Path) -> str:
    """The python blocks of `page` joined into one module, in the order they run.

    `from __future__` imports move to the top, where a module must have them; every block
    is preceded by a comment naming its place on the page, for reading a type checker's
    line numbers."""
    futures: list[str] = []
    parts: list[str] = []
    for block in blocks(page):
        if block.kind != "python":
            continue
        lines = block.text.splitlines()
        futures += [line for line in lines if line.startswith("from __future__ ")]
        body = [line for line in lines if not line.startswith("from __future__ ")]
        parts.append(f"# {block.where}\n" + "\n".join(body) + "\n")
    return "".join(dict.fromkeys(line + "\n" for line in futures)) + "\n".join(parts)


def match_output(expected: str, actual: str) -> bool:
    """True when `actual` is `expected`, with `...` standing for any text."""
    def tidy(text: str) -> str:
        return "\n".join(line.rstrip() for line in text.strip("\n").splitlines())

    pattern = ".*?".join(re.escape(part) for part in tidy(expected).split("..."))
    return re.fullmatch(pattern, tidy(actual), re.DOTALL) is not None
