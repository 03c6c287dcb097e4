#!/usr/bin/env python3
"""Times batch decisions over a 1,000,000-row table and prints the figures.

    batch.py [--rows N] [--dask] [--spark] [--json OUT]

The table has user_id, country_code, build_number and logged_in; the feature is bucketed
by user_id behind a targeting tree of five leaves. orvane.assign runs with 1 and 2
threads (median of three runs each), next to the Python loop it replaces (make_ctx and
choose per row, timed on a sample). --dask and --spark time the same rows through a
local cluster of two worker processes and a local[2] Spark session, start-up excluded.
"""
import argparse
import json
import os
import resource
import statistics
import sys
import tempfile
import time

import pyarrow as pa

import orvane
import pyorvane

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"
FEATURE = "search_ranking_v2"
CONFIG = {
    FEATURE: {
        "id": 17, "name": FEATURE, "enabled": True, "version": "2", "owner": "search",
        "type": "range_variant", "emit_event": True,
        "experiment": {
            "experiment_version": 2, "shuffle_version": 2, "bucket_val": "user_id",
            "targeting": {"ANY": [
                {"ALL": [{"EQ": {"field": "logged_in", "value": True}},
                         {"GE": {"field": "build_number", "value": 1200}}]},
                {"EQ": {"field": "country_code", "values": ["US", "CA", "GB"]}},
                {"LT": {"field": "build_number", "value": 100}},
                {"EQ": {"field": "country_code", "value": "AU"}},
            ]},
            "variants": [{"name": "control_1", "range_start": 0.0, "range_end": 0.45},
                         {"name": "treatment", "range_start": 0.45, "range_end": 0.9}],
        },
    },
}


def make_table(rows):
    countries = ["US", "DE", "CA", "FR", "GB", "BR", "IN", "AU"]
    return pa.table({
        "user_id": pa.array([f"t2_{i:x}" for i in range(rows)]),
        "country_code": pa.array([countries[i % len(countries)] for i in range(rows)]),
        "build_number": pa.array([1000 + (i * 7) % 500 for i in range(rows)], pa.int32()),
        "logged_in": pa.array([i % 3 != 0 for i in range(rows)]),
    })


def rss_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def median_seconds(fn, repeat=3):
    """Median wall and processor seconds (of this whole process) over `repeat` calls."""
    walls, cpus = [], []
    for _ in range(repeat):
        start, start_cpu = time.perf_counter(), time.process_time()
        fn()
        walls.append(time.perf_counter() - start)
        cpus.append(time.process_time() - start_cpu)
    return statistics.median(walls), statistics.median(cpus)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--dask", action="store_true")
    parser.add_argument("--spark", action="store_true")
    parser.add_argument("--json")
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="orvane-batch-bench-")
    config_path = os.path.join(workdir, "experiments.json")
    with open(config_path, "w") as f:
        json.dump(CONFIG, f)
    engine = pyorvane.init(STAGES, config_path)
    assert engine.err() is None, engine.err()
    table = make_table(args.rows)
    figures = {}

    for threads in (1, 2):
        orvane.assign(engine, FEATURE, table.slice(0, 1000), threads=threads)  # warm up
        seconds, cpu = median_seconds(lambda: orvane.assign(engine, FEATURE, table, threads=threads))
        figures[f"assign, {threads} thread(s), rows/s"] = args.rows / seconds
        # Per second of processor time: what the call gets done per core, even while other
        # work shares the machine.
        figures[f"assign, {threads} thread(s), rows per CPU second"] = args.rows / cpu
    out = orvane.assign(engine, FEATURE, table, threads=2)
    figures["output size (MiB)"] = out.nbytes / 2**20
    # Resident growth of one more call, the answers of the last one freed first: what the
    # call needs beyond its output.
    del out
    before = rss_kib()
    out = orvane.assign(engine, FEATURE, table, threads=2)
    figures["rss growth of one call (MiB)"] = (rss_kib() - before) / 1024
    counts = out.group_by("variant").aggregate([([], "count_all")]).to_pylist()
    del out

    sample = table.slice(0, min(args.rows, 100_000)).to_pylist()
    def python_loop():
        for row in sample:
            engine.choose(FEATURE, pyorvane.make_ctx(row)).decision()
    figures["Python loop of make_ctx and choose, rows/s"] = (
        len(sample) / median_seconds(python_loop, 1)[0])

    if args.dask:
        figures["dask, 2 worker processes, wall seconds"] = time_dask(table, config_path)
    if args.spark:
        figures["spark local[2], wall seconds"] = time_spark(table, config_path)

    for name, value in figures.items():
        print(f"{name:<52} {value:>14,.2f}" if value < 1000 else f"{name:<52} {value:>14,.0f}")
    print("variants:", {r["variant"]: r["count_all"] for r in counts})
    if args.json:
        with open(args.json, "w") as f:
            json.dump(figures, f, indent=1)


def time_dask(table, config_path):
    import dask.dataframe as dd
    from distributed import Client, LocalCluster

    import orvane.dask

    frame = table.to_pandas(types_mapper={pa.string(): __import__("pandas").StringDtype()}.get)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster):
        ddf = dd.from_pandas(frame, npartitions=8).persist()
        start = time.perf_counter()
        orvane.dask.assign(ddf, config_path, STAGES, FEATURE)["variant"].value_counts().compute()
        return time.perf_counter() - start


def time_spark(table, config_path):
    from pyspark.sql import SparkSession

    import orvane.spark

    os.environ["PYSPARK_PYTHON"] = sys.executable
    spark = (SparkSession.builder.master("local[2]").config("spark.ui.enabled", "false")
             .config("spark.driver.memory", "2g")
             .config("spark.sql.execution.arrow.pyspark.enabled", "true").getOrCreate())
    try:
        df = spark.createDataFrame(table.to_pandas()).repartition(8).cache()
        df.count()
        start = time.perf_counter()
        orvane.spark.assign(df, config_path, STAGES, FEATURE).groupBy("variant").count().collect()
        return time.perf_counter() - start
    finally:
        spark.stop()


if __name__ == "__main__":
    main()
