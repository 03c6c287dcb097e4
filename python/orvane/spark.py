"""Batch decisions over a Spark DataFrame: `orvane.assign` on every Arrow batch of every
partition, through `mapInArrow`.

Each Python worker loads the engine once per path, stages and file content; the engine
is never pickled. The configuration reaches the workers either through a path they all
see, or shipped with `SparkContext.addFile` (`ship=True`).
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Iterator

from orvane import _cluster

if TYPE_CHECKING:
    import pyarrow as pa
    from pyspark.sql import DataFrame

__all__ = ["assign"]

_ANSWER_SCHEMA = "variant string, value string, decided_by string, bucket smallint, error string"


def assign(df: DataFrame, config_path: str, stages: str, feature_name: str,
           identifier_type: str | None = None, threads: int = 1,
           ship: bool = False) -> DataFrame:
    """`df` with the answer columns of `orvane.assign` appended (variant, value,
    decided_by, bucket, error).

    `ship=True` sends the file to every executor with `SparkContext.addFile`; otherwise
    `config_path` must name the file on every worker. `threads` is per batch: Spark already
    runs partitions side by side.
    """
    from pyspark.sql.types import StructType

    _cluster.check_no_clash(df.columns)
    digest = _cluster.file_digest(config_path)
    name = None
    if ship:
        df.sparkSession.sparkContext.addFile(config_path)
        name = os.path.basename(config_path)
    schema = StructType(df.schema.fields + StructType.fromDDL(_ANSWER_SCHEMA).fields)

    def assign_batches(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        import pyarrow as pa

        from orvane.batch import assign as assign_rows

        path = config_path
        if name is not None:
            from pyspark import SparkFiles
            path = SparkFiles.get(name)
        engine = _cluster.engine(path, stages, digest)
        for batch in batches:
            rows = pa.Table.from_batches([batch])
            answers = assign_rows(engine, feature_name, rows, identifier_type, threads)
            yield from _cluster.with_answers(rows, answers).to_batches()

    return df.mapInArrow(assign_batches, schema)
