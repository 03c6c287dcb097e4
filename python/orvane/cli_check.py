"""`orvane check FILE`: the load result, then the findings, then whether it can ship."""

from __future__ import annotations

import argparse
import datetime
import re
import sys
from typing import Any

from ._output import Painter, plural, print_json
from .check import CheckReport, Finding, check

_LOAD_POSITION = re.compile(r" at line (\d+) column (\d+)")


def add_parser(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "check", help="check a configuration file before it ships",
        description="Load FILE as pyorvane.init does, then report problems of meaning: "
                    "misspelt members, ranges that skew a split, groups that hold nobody, "
                    "overrides of unknown variants, values of the wrong type and more. "
                    "Exit status 0 when there is no error (with --strict, no warning "
                    "either), 1 otherwise, 2 for a usage error.")
    parser.add_argument("file", metavar="FILE")
    parser.add_argument("--stages", metavar="'STAGE ...'",
                        help="the stage names the service passes to pyorvane.init; checked "
                             "for unknown names and orders that change meaning")
    parser.add_argument("--format", choices=("text", "json"), default="text")
    parser.add_argument("--strict", action="store_true", help="fail on warnings too")
    parser.add_argument("--now", type=_moment, metavar="WHEN",
                        help="judge schedules at this moment (YYYY-MM-DD, an ISO date and "
                             "time, or seconds since the epoch) instead of the current time")
    parser.set_defaults(run=run)


def _moment(text: str) -> datetime.datetime | float:
    try:
        return float(text)
    except ValueError:
        pass
    try:
        return datetime.datetime.fromisoformat(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a date, a time or a number: {text!r}") from None


def run(args: argparse.Namespace) -> int:
    report = check(args.file, args.stages, now=args.now)
    if args.format == "json":
        print_json(report.to_dict())
    else:
        write_text(report, args.strict)
    return 0 if report.ready(args.strict) else 1


def _place(report: CheckReport, finding: Finding) -> str:
    if finding.line is not None:
        return f"{report.file}:{finding.line}:{finding.column}"
    if finding.key is None:
        return "--stages"
    return report.file


def write_text(report: CheckReport, strict: bool) -> None:
    paint = Painter(sys.stdout)
    if report.load_error is not None:
        where = _LOAD_POSITION.search(report.load_error)
        place = f"{report.file}:{where[1]}:{where[2]}" if where else report.file
        print(f"{place}  {paint('error', 'error')}  {report.load_error}")
    if report.findings:
        places = [_place(report, f) for f in report.findings]
        place_width = max(len(p) for p in places)
        severity_width = max(len(f.severity) for f in report.findings)
        code_width = max(len(f.code) for f in report.findings)
        message_at = place_width + severity_width + code_width + 6
        for finding, place in zip(report.findings, places):
            severity = paint(finding.severity, finding.severity)
            severity += " " * (severity_width - len(finding.severity))
            subject = f"{finding.feature}: " if finding.feature is not None else ""
            print(f"{place.ljust(place_width)}  {severity}  {finding.code.ljust(code_width)}  "
                  f"{subject}{finding.message}")
            if finding.hint:
                print(" " * message_at + "hint: " + finding.hint)
    if report.findings or report.load_error is not None:
        print()
    print(_summary(report, strict, paint))


def _summary(report: CheckReport, strict: bool, paint: Painter) -> str:
    parts = [plural(report.errors, "error")] if report.errors else []
    if report.warnings:
        parts.append(plural(report.warnings, "warning"))
    notes = report.count("info")
    if notes:
        parts.append(plural(notes, "note"))
    if not report.loaded:
        more = f" ({', '.join(parts)} more)" if parts else ""
        return f"Does not load{more}. " + paint("Not ready to ship.", "bad")
    counted = ", ".join(parts) if parts else "No problems"
    where = f"in {plural(report.records, 'record')}"
    if report.ready(strict):
        verdict = paint("Ready to ship.", "ok")
    elif report.errors:
        verdict = paint("Not ready to ship.", "bad")
    else:
        verdict = paint("Not ready to ship (--strict counts warnings).", "bad")
    return f"{counted} {where}. {verdict}"
