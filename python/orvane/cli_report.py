"""`orvane report FILE -o report.html`: the configuration as one page to look at."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from .cli_check import _moment
from .diff import DiffError
from .report import report_with_summary


def add_parser(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "report", help="write an HTML report of a configuration",
        description="Write one self-contained HTML page showing every feature of FILE: "
                    "its split as a bar over the 1,000 buckets, its targeting, overrides "
                    "and value, the holdout and mutex groups it sits in, and the findings "
                    "of orvane check. With --against, also what the edit from OLD moves. "
                    "Exit status 0 when the page is written, whatever the findings; 1 when "
                    "it cannot be, or when a file of --against does not load.")
    parser.add_argument("file", metavar="FILE")
    parser.add_argument("-o", "--output", metavar="PATH", required=True,
                        help="where to write the page ('-' for standard output)")
    parser.add_argument("--against", metavar="OLD",
                        help="the configuration before the edit, to show what it moves")
    parser.add_argument("--stages", metavar="'STAGE ...'",
                        help="the stage names the service uses (default: the usual chain)")
    parser.add_argument("--now", type=_moment, metavar="WHEN",
                        help="judge schedules at this moment instead of the current time")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    try:
        page, summary = report_with_summary(args.file, args.stages, args.against,
                                            now=args.now)
    except (DiffError, OSError) as exc:
        print(f"orvane report: {exc}", file=sys.stderr)
        return 1
    if args.output == "-":
        sys.stdout.write(page)
        print(summary, file=sys.stderr)
        return 0
    try:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(page)
    except OSError as exc:
        print(f"orvane report: {exc}", file=sys.stderr)
        return 1
    # On standard error, as the page itself may go to standard output.
    print(f"Wrote {args.output}: {summary}", file=sys.stderr)
    return 0
