#!/usr/bin/env python3
"""Times pyorvane's per-request operations against hashlib.sha1 measured in the same run.

    bench.py CONFIG_1K CONFIG_1K_NO_EVENTS CONFIG_10K [--json OUT]

Each figure is the median over several repeats of the mean time per call; the ratio to
the SHA-1 baseline is what the targets are stated in, because the machine is shared and
its absolute speed varies from run to run.
"""
import gc
import hashlib
import itertools
import json
import os
import statistics
import sys
import tempfile
import timeit

import pyorvane

# Results that are not times per call: printed as they are, without a ratio.
FACTS = ("load 10000 features (s)", "rss growth loading 10000 features (KiB)",
         "rss growth over 1,000,000 choose with events (KiB)")

CHAIN = "darkmode targeting overrides holdout mutex_group fractional_availability value"
FULL_CTX = {
    "user_id": "t2_8f3k2j9d",
    "device_id": "3F2504E0-4F89-11D3-9A0C-0305E82C3301",
    "app_name": "ios",
    "build_number": 1234,
    "locale": "en-US",
    "country_code": "US",
    "canonical_url": "https://www.example.com/r/cats/comments/abc123",
    "logged_in": True,
}
# What a service typically knows about a request: a user id and a country. The timed loops
# take the next dict on every call (itertools.cycle, which adds little of its own), so each
# call sees a new user id.
SMALL_CTXS = [{"user_id": f"t2_{i:08x}", "country_code": "US"} for i in range(100000)]


def per_call(fn, number, repeat=7):
    """Median over `repeat` runs of the mean seconds per call."""
    fn()
    times = timeit.repeat(fn, number=number, repeat=repeat)
    return statistics.median(t / number for t in times)


def rss_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def small_config(path):
    """One bucketed experiment without events, one with, and one boolean configuration."""
    def experiment(fid, name, emit):
        return {"id": fid, "name": name, "enabled": True, "version": "1", "owner": "bench",
                "type": "range_variant", "emit_event": emit,
                "start_ts": 1767225600000, "stop_ts": 1798761600000,
                "experiment": {"experiment_version": 3, "shuffle_version": 1, "bucket_val": "user_id",
                               "variants": [{"name": "control_1", "range_start": 0.0, "range_end": 0.5},
                                            {"name": "treatment", "range_start": 0.5, "range_end": 1.0}]}}
    doc = {"quiet": experiment(1, "quiet", False), "loud": experiment(2, "loud", True),
           "flag": {"id": 3, "name": "flag", "enabled": True, "version": "1", "owner": "bench",
                    "type": "dynamic_config", "value": True, "value_type": "Boolean",
                    "experiment": {"experiment_version": 1}}}
    with open(path, "w") as f:
        json.dump(doc, f)


def main():
    config_1k, config_1k_quiet, config_10k = sys.argv[1:4]
    out_json = sys.argv[sys.argv.index("--json") + 1] if "--json" in sys.argv else None
    results = {}

    seed = b"42.my_feature.3t2_8f3k2j9d"
    baseline = per_call(lambda: hashlib.sha1(seed).digest(), 200000)
    results["hashlib.sha1(seed).digest()"] = baseline

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "small.json")
        small_config(path)
        engine = pyorvane.init(CHAIN, path)
        assert engine.err() is None, engine.err()
    ctx = pyorvane.make_ctx(FULL_CTX)
    assert ctx.err() is None
    assert engine.choose("quiet", ctx).err() is None
    assert len(engine.choose("loud", ctx).events()) == 1

    results["make_ctx (8 fields)"] = per_call(lambda: pyorvane.make_ctx(FULL_CTX), 50000)
    small = itertools.cycle(SMALL_CTXS).__next__
    make_ctx = pyorvane.make_ctx
    results["make_ctx (2 fields)"] = per_call(lambda: make_ctx(small()), 50000)
    results["make_ctx + choose, no events"] = per_call(
        lambda: engine.choose("quiet", make_ctx(small())), 50000)
    results["make_ctx + choose + events(), one event"] = per_call(
        lambda: engine.choose("loud", make_ctx(small())).events(), 20000)
    results["choose, bucketed, no events"] = per_call(lambda: engine.choose("quiet", ctx), 50000)
    results["choose, one exposure event"] = per_call(lambda: engine.choose("loud", ctx), 20000)
    results["choose + events(), one event"] = per_call(
        lambda: engine.choose("loud", ctx).events(), 20000)
    results["get_bool"] = per_call(lambda: engine.get_bool("flag", ctx), 100000)

    for label, config in (("choose_all, 1000 features, no events", config_1k_quiet),
                          ("choose_all, 1000 features, with events", config_1k)):
        big = pyorvane.init(CHAIN, config)
        assert big.err() is None, big.err()
        results[label] = per_call(lambda: big.choose_all(ctx), 20, repeat=5)
        del big

    gc.collect()
    before = rss_kib()
    t0 = timeit.default_timer()
    big = pyorvane.init(CHAIN, config_10k)
    load_seconds = timeit.default_timer() - t0
    assert big.err() is None, big.err()
    results["load 10000 features (s)"] = load_seconds
    results["rss growth loading 10000 features (KiB)"] = rss_kib() - before
    del big

    # Resident memory over a million decisions with an event: it must stay flat.
    for _ in range(100000):
        engine.choose("loud", ctx).events()
    start = rss_kib()
    for _ in range(1000000):
        engine.choose("loud", ctx).events()
    results["rss growth over 1,000,000 choose with events (KiB)"] = rss_kib() - start

    width = max(len(k) for k in results)
    print(f"{'operation':<{width}}  {'per call':>12}  {'x sha1':>7}")
    for name, value in results.items():
        if name in FACTS:
            print(f"{name:<{width}}  {value:>12.3f}")
        else:
            print(f"{name:<{width}}  {value * 1e6:>10.3f}us  {value / baseline:>7.2f}")
    if out_json:
        with open(out_json, "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
