"""`orvane explain FILE FEATURE --ctx JSON`: why one request gets its decision."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from ._output import print_json
from ._stages import DEFAULT_STAGES, read_and_load
from .cli_diff import context_argument
from .explain import explain


def add_parser(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "explain", help="explain the decision one request gets",
        description="Decide FEATURE for the request --ctx describes, as choose does, and "
                    "show each stage's outcome, the reason, and what it looked at.")
    parser.add_argument("file", metavar="FILE")
    parser.add_argument("feature", metavar="FEATURE")
    parser.add_argument("--ctx", metavar="JSON", required=True,
                        help="the request's context fields, inline JSON or @path")
    parser.add_argument("--stages", metavar="'STAGE ...'",
                        help="the stage names the service uses (default: the usual chain)")
    parser.add_argument("--identifier-type", metavar="T",
                        help="the identifier type the service passes to choose")
    parser.add_argument("--format", choices=("text", "json"), default="text")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    ctx = context_argument(args.ctx)
    _, engine = read_and_load(args.file, DEFAULT_STAGES if args.stages is None else args.stages)
    if engine.err() is not None:
        print(f"orvane explain: {args.file}: {engine.err()}", file=sys.stderr)
        return 1
    explanation = explain(engine, args.feature, ctx or {}, args.identifier_type)
    if args.format == "json":
        print_json(explanation.to_dict())
    else:
        print(explanation)
    return 0
