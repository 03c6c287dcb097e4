"""Batch decisions over a Dask DataFrame: `orvane.assign` on every partition.

Each worker process loads the engine from the configuration file itself, once per path,
stages and file content; the engine is never pickled. The file must be readable at the
same path on every worker.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from orvane import _cluster

if TYPE_CHECKING:
    import dask.dataframe as dd
    import pandas as pd

__all__ = ["assign"]


def assign(ddf: dd.DataFrame, config_path: str, stages: str, feature_name: str,
           identifier_type: str | None = None, threads: int = 1) -> dd.DataFrame:
    """`ddf` with the answer columns of `orvane.assign` appended (variant, value,
    decided_by, bucket, error), row for row and with the same index.

    `threads` is per partition: Dask already runs partitions side by side, so one is
    usually right.
    """
    import pandas as pd

    _cluster.check_no_clash(list(ddf.columns))
    digest = _cluster.file_digest(config_path)
    meta = ddf._meta.assign(**{
        "variant": pd.Series(dtype="string"), "value": pd.Series(dtype="string"),
        "decided_by": pd.Series(dtype="string"), "bucket": pd.Series(dtype="Int16"),
        "error": pd.Series(dtype="string"),
    })
    return ddf.map_partitions(_assign_partition, config_path, stages, feature_name,
                              identifier_type, threads, digest, meta=meta)


def _assign_partition(partition: pd.DataFrame, config_path: str, stages: str,
                      feature_name: str, identifier_type: str | None, threads: int,
                      digest: str) -> pd.DataFrame:
    import pandas as pd
    import pyarrow as pa

    from orvane.batch import assign

    engine = _cluster.engine(config_path, stages, digest)
    rows = pa.Table.from_pandas(partition, preserve_index=False)
    answers = assign(engine, feature_name, rows, identifier_type, threads)
    frame = answers.to_pandas(types_mapper={pa.string(): pd.StringDtype(),
                                            pa.int16(): pd.Int16Dtype()}.get)
    frame.index = partition.index
    return pd.concat([partition, frame], axis=1)
