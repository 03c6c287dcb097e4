"""`orvane diff OLD NEW`: what an edit moves, feature by feature."""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any

from ._output import Painter, number, percent, plural, print_json
from .diff import DiffError, DiffReport, FeatureDiff, diff


def add_parser(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "diff", help="show what an edit of a configuration moves",
        description="Compare two configuration files feature by feature: what was added, "
                    "removed or changed, the exact share of users whose variant changes, "
                    "and which edits reseed a feature. With --ids, count the identifiers "
                    "whose decision changes.")
    parser.add_argument("old", metavar="OLD")
    parser.add_argument("new", metavar="NEW")
    parser.add_argument("--stages", metavar="'STAGE ...'",
                        help="the stage names the service uses (default: the usual chain)")
    parser.add_argument("--ids", metavar="PATH",
                        help="a file of identifiers, one per line, to decide in both versions")
    parser.add_argument("--ctx", metavar="JSON",
                        help="other context fields of those requests, inline JSON or @path")
    parser.add_argument("--format", choices=("text", "json"), default="text")
    parser.set_defaults(run=run)


def context_argument(text: str | None) -> dict[str, Any] | None:
    """--ctx: inline JSON or @path of a JSON file, holding an object."""
    if text is None:
        return None
    try:
        if text.startswith("@"):
            with open(text[1:], encoding="utf-8") as f:
                value = json.load(f)
        else:
            value = json.loads(text)
    except (OSError, ValueError) as exc:
        raise SystemExit(f"orvane: error: --ctx: {exc}") from None
    if not isinstance(value, dict):
        raise SystemExit("orvane: error: --ctx: expected a JSON object")
    return value


def run(args: argparse.Namespace) -> int:
    try:
        report = diff(args.old, args.new, args.stages, ids=args.ids,
                      ctx=context_argument(args.ctx))
    except (DiffError, ValueError, OSError) as exc:
        print(f"orvane diff: {exc}", file=sys.stderr)
        return 1
    if args.format == "json":
        print_json(report.to_dict())
    else:
        write_text(report)
    return 0


def _details(report: DiffReport, f: FeatureDiff) -> list[str]:
    lines = []
    if f.reseeded:
        lines.append(f"reseeded by {', '.join(f.reseeded_by)}: every user is bucketed afresh")
    elif f.bucket_share_moved is not None and (f.moved_buckets or f.newly_assigned_buckets
                                               or "variants" in f.fields):
        line = f"{percent(f.bucket_share_moved)} of users change variant"
        if f.newly_assigned_buckets:
            line += f"; {percent(f.newly_assigned_share)} newly get one"
        lines.append(line)
    for move in f.moves:
        lines.append(move)
    if f.ids_moved is not None and report.identifiers:
        lines.append(f"{number(f.ids_moved)} of {plural(report.identifiers, 'identifier')} "
                     f"({percent(f.ids_moved / report.identifiers)}) get another decision")
    elif f.moves:
        lines[-1] += " (add --ids to count them)"
    return lines


def write_text(report: DiffReport) -> None:
    paint = Painter(sys.stdout)
    shown = [f for f in report.features if f.change != "unchanged"]
    rows = [(f, f.feature, f.change, ",".join(f.fields)) for f in shown]
    name_width = max((len(r[1]) for r in rows), default=0)
    field_width = max((len(r[3]) for r in rows), default=0)
    style = {"added": "ok", "removed": "bad", "changed": "warning"}
    for f, name, change, fields in rows:
        details = _details(report, f)
        head = f"{name.ljust(name_width)}  {paint(change, style[change])}{' ' * (9 - len(change))}"
        if not details:
            print(f"{head}  {fields}".rstrip())
            continue
        print(f"{head}  {fields.ljust(field_width)}  {details[0]}")
        for detail in details[1:]:
            print(" " * (name_width + 2 + 9 + 2 + field_width + 2) + detail)
    if shown:
        print()
    print(_summary(report))


def _summary(report: DiffReport) -> str:
    counts = {kind: sum(1 for f in report.features if f.change == kind)
              for kind in ("changed", "added", "removed", "unchanged")}
    reseeded = sum(1 for f in report.features if f.reseeded)
    if not (counts["changed"] or counts["added"] or counts["removed"]):
        return f"No changes in {plural(counts['unchanged'], 'feature')}."
    parts = []
    if counts["changed"]:
        parts.append(f"{number(counts['changed'])} changed"
                     + (f" ({number(reseeded)} reseeded)" if reseeded else ""))
    if counts["added"]:
        parts.append(f"{number(counts['added'])} added")
    if counts["removed"]:
        parts.append(f"{number(counts['removed'])} removed")
    parts.append(f"{number(counts['unchanged'])} unchanged")
    return ", ".join(parts) + "."
