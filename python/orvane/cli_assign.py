"""`orvane assign FILE FEATURE INPUT.parquet OUTPUT.parquet`: every row of a Parquet file
through `orvane.assign`, written with the answer columns appended."""

from __future__ import annotations

import argparse
import sys
import time
from typing import TextIO

DEFAULT_STAGES = ("darkmode targeting overrides holdout mutex_group "
                  "fractional_availability value")
# Rows read, decided and written at a time: bounds memory, and paces the progress bar.
_BATCH_ROWS = 256 * 1024


def add_parser(subparsers: argparse._SubParsersAction) -> None:  # type: ignore[type-arg]
    parser = subparsers.add_parser(
        "assign", help="decide one feature for every row of a Parquet file",
        description="Decide FEATURE for every row of INPUT and write INPUT's columns with "
                    "the answers (variant, value, decided_by, bucket, error) to OUTPUT. "
                    "Columns named like make_ctx's keys fill the context; other columns "
                    "become other_fields entries. No exposure events are made.")
    parser.add_argument("file", metavar="FILE", help="the experiment configuration")
    parser.add_argument("feature", metavar="FEATURE", help="the feature to decide")
    parser.add_argument("input", metavar="INPUT.parquet")
    parser.add_argument("output", metavar="OUTPUT.parquet")
    parser.add_argument("--stages", default=DEFAULT_STAGES,
                        help=f"the decision stages, blank-separated (default: {DEFAULT_STAGES})")
    parser.add_argument("--identifier-type", default=None,
                        help="fail rows unless FEATURE is bucketed by this field")
    parser.add_argument("--threads", type=int, default=None,
                        help="threads deciding rows (default: the machine's cores)")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    import pyarrow as pa
    import pyarrow.parquet as pq
    import pyorvane

    from orvane import _cluster
    from orvane.batch import assign

    engine = pyorvane.init(args.stages, args.file)
    if engine.err() is not None:
        print(f"orvane assign: {args.file}: {engine.err()}", file=sys.stderr)
        return 1
    try:
        source = pq.ParquetFile(args.input)
    except (OSError, ValueError) as error:
        print(f"orvane assign: {args.input}: {error}", file=sys.stderr)
        return 1
    try:
        _cluster.check_no_clash(source.schema_arrow.names)
    except ValueError as error:
        print(f"orvane assign: {args.input}: {error}", file=sys.stderr)
        return 1

    total = source.metadata.num_rows
    progress = _Progress(total, sys.stderr)
    done = errors = 0
    writer = None
    try:
        for batch in source.iter_batches(batch_size=_BATCH_ROWS):
            answers = assign(engine, args.feature, batch, args.identifier_type, args.threads)
            rows = _cluster.with_answers(pa.Table.from_batches([batch]), answers)
            if writer is None:
                writer = pq.ParquetWriter(args.output, rows.schema)
            writer.write_table(rows)
            done += batch.num_rows
            errors += batch.num_rows - answers["error"].null_count
            progress.update(done)
        if writer is None:  # no rows: still write the columns
            empty = source.schema_arrow.empty_table()
            answers = assign(engine, args.feature, empty, args.identifier_type, args.threads)
            pq.write_table(_cluster.with_answers(empty, answers), args.output)
    finally:
        if writer is not None:
            writer.close()
    progress.finish()
    summary = f"{done:,} rows -> {args.output} in {progress.elapsed():.1f} s"
    if errors:
        summary += f", {errors:,} with an error"
    print(summary)
    return 0


class _Progress:
    """A bar on stderr while rows are decided; nothing when stderr is not a terminal."""

    def __init__(self, total: int, stream: TextIO) -> None:
        self._total = total
        self._stream = stream
        self._shown = stream.isatty()
        self._start = time.monotonic()

    def elapsed(self) -> float:
        return time.monotonic() - self._start

    def update(self, done: int) -> None:
        if not self._shown:
            return
        width = 36
        filled = width if self._total == 0 else width * done // self._total
        bar = "#" * filled + " " * (width - filled)
        self._stream.write(f"\r{done:,} / {self._total:,} rows  [{bar}] {self.elapsed():.1f} s")
        self._stream.flush()

    def finish(self) -> None:
        if self._shown:
            self._stream.write("\n")
            self._stream.flush()
