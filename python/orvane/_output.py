"""How the commands write for people: aligned columns, shares with one decimal, colour
and progress bars only on a terminal."""

from __future__ import annotations

import importlib
import json
import os
import sys
import time
from collections.abc import Iterator, Sequence
from typing import IO, Any

_STYLES = {"error": "31;1", "warning": "33", "info": "36", "ok": "32;1", "bad": "31;1",
           "dim": "2", "bold": "1"}


def on_terminal(stream: IO[str]) -> bool:
    isatty = getattr(stream, "isatty", None)
    return bool(isatty and isatty())


def colour_wanted(stream: IO[str]) -> bool:
    """Colour on a terminal, unless NO_COLOR is set or the terminal is dumb."""
    return (on_terminal(stream) and "NO_COLOR" not in os.environ
            and os.environ.get("TERM") != "dumb")


class Painter:
    def __init__(self, stream: IO[str]) -> None:
        self.enabled = colour_wanted(stream)

    def __call__(self, text: str, style: str) -> str:
        if not self.enabled or not text:
            return text
        return f"\x1b[{_STYLES[style]}m{text}\x1b[0m"


def percent(share: float) -> str:
    """A share as people compare them: 40.0%."""
    return f"{share * 100:.1f}%"


def number(count: int) -> str:
    return f"{count:,}"


def plural(count: int, word: str, words: str | None = None) -> str:
    return f"{number(count)} {word if count == 1 else (words or word + 's')}"


def columns(rows: Sequence[Sequence[str]], right: Sequence[int] = ()) -> list[str]:
    """Rows as lines with aligned columns, two blanks apart; the columns listed in
    `right` are aligned to the right (numbers). Trailing blanks are dropped."""
    widths = [max((len(row[i]) for row in rows if i < len(row)), default=0)
              for i in range(max((len(row) for row in rows), default=0))]
    lines = []
    for row in rows:
        cells = [cell.rjust(widths[i]) if i in right else cell.ljust(widths[i])
                 for i, cell in enumerate(row)]
        lines.append("  ".join(cells).rstrip())
    return lines


def print_json(document: Any, stream: IO[str] | None = None) -> None:
    print(json.dumps(document, indent=2, ensure_ascii=False), file=stream or sys.stdout)


class Progress:
    """A progress bar on standard error, drawn only when it is a terminal: by tqdm when
    installed (the `cli` extra), else by a small bar of our own."""

    def __init__(self, total: int, label: str, stream: IO[str] | None = None) -> None:
        self.total = total
        self.label = label
        self.stream = stream or sys.stderr
        self.done = 0
        self.started = time.perf_counter()
        self._last_draw = 0.0
        self._bar: Any = None
        self.shown = on_terminal(self.stream)
        if self.shown:
            try:
                tqdm = importlib.import_module("tqdm").tqdm
            except ImportError:
                return
            self._bar = tqdm(total=total, desc=label, file=self.stream, unit=" ids",
                             unit_scale=True, leave=False)

    def advance(self, count: int) -> None:
        self.done += count
        if not self.shown:
            return
        if self._bar is not None:
            self._bar.update(count)
            return
        now = time.perf_counter()
        if now - self._last_draw < 0.1 and self.done < self.total:
            return
        self._last_draw = now
        width = 30
        filled = width * self.done // max(self.total, 1)
        self.stream.write(f"\r{self.label} [{'#' * filled}{' ' * (width - filled)}] "
                          f"{percent(self.done / max(self.total, 1))} "
                          f"{now - self.started:.1f} s")
        self.stream.flush()

    def close(self) -> None:
        if not self.shown:
            return
        if self._bar is not None:
            self._bar.close()
        else:
            self.stream.write("\r\x1b[K")
            self.stream.flush()


def chunks(total: int, size: int) -> Iterator[tuple[int, int]]:
    """(start, stop) of consecutive slices of range(total), `size` long."""
    for start in range(0, total, size):
        yield start, min(total, start + size)
