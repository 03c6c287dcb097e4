"""The Dask and Spark routes on real clusters (two worker processes; Spark local[2]),
checked against orvane.assign on the same rows. Slow: kept to one test per route."""

import json
import os
import sys

import pandas as pd
import pyarrow as pa
import pytest

import orvane
import orvane.dask
import orvane.spark
import pyorvane

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"
CONFIG = {
    "split": {"id": 11, "name": "split", "enabled": True, "version": "1", "owner": "o",
              "type": "range_variant", "emit_event": True,
              "experiment": {"experiment_version": 1, "shuffle_version": 0, "bucket_val": "user_id",
                             "targeting": {"NE": {"field": "country_code", "value": "DE"}},
                             "variants": [{"name": "a", "range_start": 0, "range_end": 0.5},
                                          {"name": "b", "range_start": 0.5, "range_end": 0.9}]}},
}
ANSWERS = ["variant", "value", "decided_by", "bucket", "error"]


@pytest.fixture(scope="module")
def config_path(tmp_path_factory):
    path = tmp_path_factory.mktemp("cluster") / "experiments.json"
    path.write_text(json.dumps(CONFIG))
    return str(path)


@pytest.fixture(scope="module")
def frame():
    n = 2000
    return pd.DataFrame({
        "i": range(n),
        "user_id": pd.array([None if i % 97 == 0 else f"u{i}" for i in range(n)], dtype="string"),
        "country_code": pd.array([["US", "DE", None][i % 3] for i in range(n)], dtype="string"),
        "build_number": pd.array([None if i % 5 == 0 else 1000 + i for i in range(n)], dtype="Int64"),
    })


def expected_answers(config_path, frame):
    engine = pyorvane.init(STAGES, config_path)
    table = pa.Table.from_pandas(frame, preserve_index=False)
    return orvane.assign(engine, "split", table).to_pylist()


def answers_of(result):
    rows = result.sort_values("i")[ANSWERS].astype(object).to_dict("records")
    return [{k: (None if pd.isna(v) else v) for k, v in row.items()} for row in rows]


def test_dask_route(config_path, frame):
    import dask.dataframe as dd
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        ddf = dd.from_pandas(frame, npartitions=6)
        result = orvane.dask.assign(ddf, config_path, STAGES, "split").compute()
        # Each worker process loaded the engine once, for all its partitions.
        loads = client.run(lambda: __import__("orvane._cluster").__dict__["_cluster"].loads)
    assert sorted(loads.values()) == [1, 1]
    assert list(result.columns) == list(frame.columns) + ANSWERS
    assert answers_of(result) == expected_answers(config_path, frame)


def test_spark_route(config_path, frame):
    from pyspark.sql import SparkSession

    os.environ["PYSPARK_PYTHON"] = sys.executable
    spark = (SparkSession.builder.master("local[2]").appName("orvane-test")
             .config("spark.ui.enabled", "false")
             .config("spark.sql.execution.arrow.pyspark.enabled", "true")
             .getOrCreate())
    try:
        df = spark.createDataFrame(frame).repartition(3)
        result = orvane.spark.assign(df, config_path, STAGES, "split", ship=True).toPandas()
    finally:
        spark.stop()
    assert list(result.columns) == list(frame.columns) + ANSWERS
    assert answers_of(result) == expected_answers(config_path, frame)
