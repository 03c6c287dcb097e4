#!/usr/bin/env python3
"""Figures of the companion package in a service: reloading a large configuration, what
concurrent readers see meanwhile, and a flag evaluation through the OpenFeature SDK next
to the engine's own lookup.

    service.py CONFIG_10K

Times per call are the median over repeats of the mean per call; reload times the median
of several reloads. Needs the openfeature extra (openfeature-sdk).
"""
import os
import statistics
import sys
import tempfile
import threading
import time
import timeit

from openfeature import api
from openfeature.evaluation_context import EvaluationContext

import orvane
import pyorvane
from orvane.openfeature import OrvaneProvider

STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"
EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples",
                       "experiments.json")
CTX = {"user_id": "t2_abc", "logged_in": True, "user_is_employee": False, "build_number": 1300,
       "country_code": "US"}


def per_call(fn, number, repeat=7):
    fn()
    return statistics.median(t / number for t in timeit.repeat(fn, number=number, repeat=repeat))


def line(name, seconds, base=None):
    ratio = f"{seconds / base:8.2f}" if base else ""
    print(f"{name:<58}{seconds * 1e6:10.3f}us{ratio}")


def openfeature_costs():
    engine = pyorvane.init(STAGES, EXAMPLE)
    assert engine.err() is None, engine.err()
    ctx = pyorvane.make_ctx(CTX)
    provider = OrvaneProvider(engine)
    api.set_provider(provider, "bench")
    client = api.get_client("bench")
    evaluation = EvaluationContext("t2_abc", {k: v for k, v in CTX.items() if k != "user_id"})
    assert client.get_boolean_details("maintenance_banner", True, evaluation).error_code is None
    assert client.get_string_value("search_ranking_v2", "x", evaluation) != "x"

    print("operation (per call; ratio to get_bool)                   per call   x get_bool")
    base = per_call(lambda: engine.get_bool("maintenance_banner", ctx), 200000)
    line("engine.get_bool (context made beforehand)", base, base)
    line("make_ctx + get_bool", per_call(
        lambda: engine.get_bool("maintenance_banner", pyorvane.make_ctx(CTX)), 100000), base)
    line("provider.resolve_boolean_details (no SDK)", per_call(
        lambda: provider.resolve_boolean_details("maintenance_banner", True, evaluation),
        50000), base)
    line("client.get_boolean_value (through the SDK)", per_call(
        lambda: client.get_boolean_value("maintenance_banner", True, evaluation), 20000), base)
    line("client.get_boolean_details (through the SDK)", per_call(
        lambda: client.get_boolean_details("maintenance_banner", True, evaluation), 20000), base)
    line("client.get_string_value, experiment variant", per_call(
        lambda: client.get_string_value("search_ranking_v2", "x", evaluation), 20000), base)
    line("engine.choose, experiment variant (context made beforehand)", per_call(
        lambda: engine.choose("search_ranking_v2", ctx), 100000), base)
    api.clear_providers()


def reload_figures(config_10k):
    with open(config_10k, "rb") as f:
        first = f.read()
    # A second configuration of the same size: one value changed.
    second = first.replace(b'"owner":"bench"', b'"owner":"BENCH"', 1)
    assert second != first
    print(f"configuration: {config_10k}, {len(first) / 2**20:.1f} MiB")

    times = []
    for _ in range(5):
        t0 = time.perf_counter()
        engine = pyorvane.init(STAGES, config_10k)
        times.append(time.perf_counter() - t0)
        assert engine.err() is None, engine.err()
    print(f"pyorvane.init of the file, median of 5            {statistics.median(times) * 1e3:9.1f} ms")
    times = []
    for _ in range(5):
        t0 = time.perf_counter()
        orvane.load(STAGES, first)
        times.append(time.perf_counter() - t0)
    print(f"orvane.load of its bytes, median of 5             {statistics.median(times) * 1e3:9.1f} ms")

    # One thread spins beside a load: its longest pause is how long the load kept it from
    # the interpreter lock.
    for name, load in [("pyorvane.init", lambda: pyorvane.init(STAGES, config_10k)),
                       ("orvane.load", lambda: orvane.load(STAGES, first))]:
        done, longest = threading.Event(), [0.0]

        def spin():
            last = time.perf_counter()
            while not done.is_set():
                now = time.perf_counter()
                longest[0], last = max(longest[0], now - last), now

        spinner = threading.Thread(target=spin)
        spinner.start()
        time.sleep(0.1)
        load()
        done.set()
        spinner.join()
        print(f"longest pause of a thread spinning beside {name:<14}{longest[0] * 1e3:9.1f} ms")

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "live.json")

        def replace(data):
            with open(path + ".tmp", "wb") as f:
                f.write(data)
            os.replace(path + ".tmp", path)

        replace(first)
        source = orvane.EngineSource(path, STAGES)
        times = []
        for i in range(6):
            replace(second if i % 2 == 0 else first)
            t0 = time.perf_counter()
            assert source.refresh()
            times.append(time.perf_counter() - t0)
        print(f"EngineSource.refresh() swapping in a new file, median of 6 {statistics.median(times) * 1e3:8.1f} ms")
        unchanged = per_call(source.refresh, 20000)
        print(f"EngineSource.refresh() with the file unchanged     {unchanged * 1e6:9.2f} us")

        # Readers in threads ask the engine without pause while the main thread swaps the
        # configuration back and forth: every answer must come, from one or the other. The
        # same readers without reloads give the longest call the machine causes by itself.
        def readers_during(seconds_or_reloads, reloading, readers=4):
            done = threading.Event()
            results = []

            def read():
                ctx = pyorvane.make_ctx(CTX)
                answers, errors, longest = {}, 0, 0.0
                while not done.is_set():
                    t0 = time.perf_counter()
                    engine = source.engine
                    decision = engine.choose("feature_0", ctx)
                    longest = max(longest, time.perf_counter() - t0)
                    errors += decision.err() is not None
                    answers[id(engine)] = answers.get(id(engine), 0) + 1
                results.append((answers, errors, longest))

            threads = [threading.Thread(target=read) for _ in range(readers)]
            for t in threads:
                t.start()
            t0 = time.perf_counter()
            swapped = 0
            # Every engine stays referenced here, so that no id() is reused by a later one.
            kept = {id(source.engine): (source.engine, "first")}
            if reloading:
                for i in range(seconds_or_reloads):
                    replace(second if i % 2 == 0 else first)
                    swapped += source.refresh()
                    kept[id(source.engine)] = (source.engine, "second" if i % 2 == 0 else "first")
            else:
                time.sleep(seconds_or_reloads)
            elapsed = time.perf_counter() - t0
            done.set()
            for t in threads:
                t.join()
            by_content = {}
            for answers, _, _ in results:
                for key, n in answers.items():
                    content = kept[key][1] if key in kept else "an unknown engine"
                    by_content[content] = by_content.get(content, 0) + n
            return (elapsed, swapped, by_content, sum(e for _, e, _ in results),
                    max(l for _, _, l in results))

        elapsed, _, answers, errors, longest = readers_during(10, False)
        print(f"4 reader threads (choose of one feature), {elapsed:.1f} s without reloads:")
        print(f"  answers {answers}, errors {errors}, longest single call {longest * 1e3:.1f} ms")
        elapsed, swapped, answers, errors, longest = readers_during(20, True)
        print(f"the same readers during 20 reloads ({elapsed:.1f} s, {swapped} swapped in):")
        print(f"  answers {answers}, errors {errors}, longest single call {longest * 1e3:.1f} ms")


def main():
    print(f"machine load before: {os.getloadavg()[0]:.2f}")
    openfeature_costs()
    print()
    reload_figures(sys.argv[1])


if __name__ == "__main__":
    main()
