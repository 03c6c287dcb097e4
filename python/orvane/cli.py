"""The `orvane` command line: one argparse subcommand per module listed in COMMANDS.

Each listed module defines `add_parser(subparsers)`, which adds its subparser and sets
`run` as a default: a function taking the parsed arguments and returning the exit code.
"""

from __future__ import annotations

import argparse
import importlib
import sys
from collections.abc import Sequence

from orvane import __version__

# Modules of the subcommands, in the order `orvane --help` lists them.
COMMANDS: tuple[str, ...] = ("orvane.cli_check", "orvane.cli_explain", "orvane.cli_preview",
                             "orvane.cli_diff", "orvane.cli_assign",
                             "orvane.cli_report")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="orvane",
        description="Check, explain, preview and report on Orvane experiment configurations.",
    )
    parser.add_argument("--version", action="version", version=f"orvane {__version__}")
    subparsers = parser.add_subparsers(title="commands", metavar="COMMAND")
    for name in COMMANDS:
        importlib.import_module(name).add_parser(subparsers)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    run = getattr(args, "run", None)
    if run is None:
        # No subcommand: say what there is, and fail as a usage error does.
        parser.print_help(sys.stderr)
        return 2
    return int(run(args))
