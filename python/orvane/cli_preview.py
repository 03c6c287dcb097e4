"""`orvane preview FILE FEATURE`: how a feature splits many identifiers, as a table with
bars, and whether the split matches the ranges."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from ._output import Painter, columns, number, percent, print_json
from .cli_diff import context_argument
from .preview import SRM_THRESHOLD, Preview, PreviewError, preview

_BAR_WIDTH = 30


def add_parser(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "preview", help="show how a feature splits many identifiers",
        description="Decide FEATURE for many identifiers (generated, or one per line of a "
                    "file) and count the answers: per variant the count, the share and the "
                    "share the ranges give it; how many got no decision at which stage and "
                    "why; errors; and a sample-ratio check of the split against the ranges.")
    parser.add_argument("file", metavar="FILE")
    parser.add_argument("feature", metavar="FEATURE")
    parser.add_argument("--stages", metavar="'STAGE ...'",
                        help="the stage names the service uses (default: the usual chain)")
    who = parser.add_mutually_exclusive_group()
    who.add_argument("--users", type=_count, metavar="N",
                     help="decide N generated identifiers (default: 100,000)")
    who.add_argument("--ids", metavar="PATH", help="decide the identifiers of a file, one a line")
    parser.add_argument("--ctx", metavar="JSON",
                        help="the other context fields of every request, inline JSON or @path")
    parser.add_argument("--format", choices=("text", "json"), default="text")
    parser.set_defaults(run=run)


def _count(text: str) -> int:
    try:
        value = int(text.replace(",", "").replace("_", ""))
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {text!r}")
    return value


def run(args: argparse.Namespace) -> int:
    try:
        result = preview(args.file, args.feature, args.stages, users=args.users, ids=args.ids,
                         ctx=context_argument(args.ctx), progress=args.format == "text")
    except (PreviewError, ValueError, OSError) as exc:
        print(f"orvane preview: {exc}", file=sys.stderr)
        return 1
    if args.format == "json":
        print_json(result.to_dict())
    else:
        write_text(result)
    return 0


def _bar(share: float) -> str:
    return "#" * round(share * _BAR_WIDTH)


def srm_line(result: Preview) -> str:
    """The sample-ratio verdict in words."""
    p = result.srm_p_value
    if p is None:
        return "Sample ratio check: nothing to compare (no identifier reached bucketing, " \
               "or the ranges name a single group)."
    if result.srm_flagged:
        return (f"Sample ratio MISMATCH: p = {p:.3g}, below {SRM_THRESHOLD}: the "
                f"{number(result.reached)} identifiers that reached bucketing are not split "
                f"as the ranges say.")
    return f"Sample ratio check: p = {p:.3g} over {number(result.reached)} bucketed " \
           f"identifiers: no mismatch."


def _share(count: int, total: int) -> float:
    return count / total if total else 0.0


def write_text(result: Preview) -> None:
    paint = Painter(sys.stdout)
    print(f"{result.feature}: {number(result.total)} identifiers")
    sections = []
    if result.variants:
        rows = [["variant", "count", "share", "expected", ""]]
        for v in result.variants:
            expected = "" if v.expected_share is None else percent(v.expected_share)
            rows.append([v.variant if v.variant is not None else "(decided, no variant)",
                         number(v.count), percent(v.share), expected, _bar(v.share)])
        sections.append(columns(rows, right=(1, 2, 3)))
    if result.no_decision:
        rows = [["no decision", "", "count", "share", ""]]
        for s in result.no_decision:
            share = _share(s.count, result.total)
            rows.append([s.stage or "end of chain", s.reason, number(s.count), percent(share),
                         _bar(share)])
        sections.append(columns(rows, right=(2, 3)))
    if result.errors:
        rows = [["error", "count", "share"]]
        for e in result.errors:
            rows.append([e.error, number(e.count), percent(_share(e.count, result.total))])
        sections.append(columns(rows, right=(1, 2)))
    for lines in sections:
        print()
        for line in lines:
            print(line)
    print()
    verdict = srm_line(result)
    print(paint(verdict, "bad") if result.srm_flagged else verdict)
