#!/usr/bin/env python3
"""Calls every engine method and every result method of pyorvane a million times each and
watches the resident memory of the process.

For each method: a warm-up, the resident size (VmRSS), then the measured calls, then the
resident size again. A leak of even one small object per call grows the process by tens of
MiB over a million calls, far beyond the allowed growth; the script exits 1 when any method
grows by more than the bound, or when a call answers differently from its first answer.

    .venv/bin/python scripts/soak.py [--calls N] [--warmup N] [--bound-mib M] [--only NAME]
"""

import argparse
import gc
import pathlib
import sys
import time

import pyorvane

ROOT = pathlib.Path(__file__).resolve().parents[1]
CONFIG = ROOT / "examples" / "experiments.json"
STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"

CONTEXT_FIELDS = [
    {"user_id": "t2_alice", "device_id": "3f2a9c1e-7b4d-4e8a-9c3f-1a2b3c4d5e6f",
     "app_name": "ios", "build_number": 1310, "logged_in": True, "user_is_employee": False,
     "country_code": "US", "locale": "en-US"},
    {"user_id": "t2_qa_bob", "device_id": "web-8812", "app_name": "web", "build_number": 1250,
     "logged_in": True, "user_is_employee": True, "country_code": "DE"},
    {"user_id": "t2_carol", "device_id": "a-55", "app_name": "android", "build_number": 1100,
     "logged_in": False, "country_code": "GB",
     "other_fields": {"plan": "internal", "seats": 3, "ratio": 2.5, "beta": True}},
    # Two conversion failures: the context carries an error.
    {"user_id": 17, "device_id": "dev-5", "app_name": "ios", "build_number": "1300",
     "logged_in": True, "country_code": "CA", "other_fields": {"plan": ["x"]}},
]


def resident_kib():
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS in /proc/self/status")


def build_cases(engine, unloaded, contexts):
    """(name, call) pairs; each call takes the round number and returns something comparable.

    Result objects are made once, outside the measured loop, for the result-method cases, so
    those cases measure the method alone. Engine-method cases make and drop one result object
    per call."""
    ctx = contexts[0]
    pick = lambda i: contexts[i % len(contexts)]
    choice = engine.choose("checkout_express_pay", ctx)
    nothing = engine.choose("dark_launch_recommendations", ctx)
    missing = engine.choose("no_such_feature", ctx)
    every = engine.choose_all(ctx)
    values = engine.get_all_values(ctx)
    experiment = engine.get_experiment("search_ranking_v2")
    typed = {
        "GetBoolRes": engine.get_bool("maintenance_banner", ctx),
        "GetIntegerRes": engine.get_int("feed_page_size", ctx),
        "GetFloatRes": engine.get_float("ranking_temperature", ctx),
        "GetStringRes": engine.get_string("welcome_message", ctx),
        "GetMapRes": engine.get_map("upload_limits", ctx),
        "GetIntegerRes(error)": engine.get_int("maintenance_banner", ctx),
    }
    assert choice.decision() is not None and choice.events(), "example user lost its variant"
    assert missing.err() is not None

    cases = [
        ("make_ctx", lambda i: pyorvane.make_ctx(CONTEXT_FIELDS[i % 4]).err()),
        ("PyContext.err", lambda i: pick(i).err()),
        ("PyContext.inspect", lambda i: pick(i).inspect()),
        ("PyOrvane.err", lambda i: engine.err()),
        ("PyOrvane.choose", lambda i: engine.choose("checkout_express_pay", pick(i)).decision()),
        ("PyOrvane.choose(identifier_type)",
         lambda i: engine.choose("onboarding_flow", pick(i), "user_id").err()),
        ("PyOrvane.choose(missing feature)",
         lambda i: engine.choose("no_such_feature", pick(i)).err()),
        ("PyOrvane.choose_all", lambda i: engine.choose_all(pick(i)).err()),
        ("PyOrvane.get_experiment",
         lambda i: engine.get_experiment("search_ranking_v2").val()["id"]),
        ("PyOrvane.get_experiment(missing)",
         lambda i: engine.get_experiment("no_such_feature").err()),
        ("PyOrvane.get_bool", lambda i: engine.get_bool("maintenance_banner", pick(i)).val()),
        ("PyOrvane.get_int", lambda i: engine.get_int("feed_page_size", pick(i)).val()),
        ("PyOrvane.get_int(wrong type)",
         lambda i: engine.get_int("maintenance_banner", pick(i)).err()),
        ("PyOrvane.get_float", lambda i: engine.get_float("ranking_temperature", pick(i)).val()),
        ("PyOrvane.get_string", lambda i: engine.get_string("support_email", pick(i)).val()),
        ("PyOrvane.get_map", lambda i: len(engine.get_map("upload_limits", pick(i)).val())),
        ("PyOrvane.get_all_values", lambda i: engine.get_all_values(pick(i)).err()),
        ("unloaded PyOrvane.choose_all", lambda i: unloaded.choose_all(pick(i)).err()),
        ("unloaded PyOrvane.get_map", lambda i: unloaded.get_map("upload_limits", pick(i)).err()),
        ("PyDecision.inspect", lambda i: len(choice.inspect())),
        ("PyDecision.decision", lambda i: choice.decision()),
        ("PyDecision.decision_dict", lambda i: choice.decision_dict()),
        ("PyDecision.value_dict", lambda i: choice.value_dict()),
        ("PyDecision.events", lambda i: choice.events()),
        ("PyDecision.err", lambda i: missing.err()),
        ("PyDecision(no decision).inspect", lambda i: nothing.inspect()),
        ("GetAllDecisionsRes.inspect", lambda i: len(every.inspect())),
        ("GetAllDecisionsRes.decisions", lambda i: sorted(every.decisions())),
        ("GetAllDecisionsRes.err", lambda i: every.err()),
        ("get_all_values GetAllDecisionsRes.decisions",
         lambda i: sorted(values.decisions())),
        ("GetExperimentRes.val", lambda i: experiment.val()["name"]),
        ("GetExperimentRes.inspect", lambda i: experiment.inspect()),
        ("GetExperimentRes.err", lambda i: experiment.err()),
    ]
    for label, result in typed.items():
        cases.append((f"{label}.val", lambda i, r=result: r.val()))
        cases.append((f"{label}.inspect", lambda i, r=result: r.inspect()))
        cases.append((f"{label}.err", lambda i, r=result: r.err()))
    return cases


def soak(name, call, calls, warmup, period):
    """Runs the case; returns (calls per second, RSS after warm-up, RSS at end, mismatches)."""
    first = [call(i) for i in range(period)]
    for i in range(warmup):
        call(i)
    gc.collect()
    before = resident_kib()
    mismatches = 0
    started = time.perf_counter()
    for i in range(calls):
        answer = call(i)
        if i < 1000 or i % 997 == 0:
            if answer != first[i % period]:
                mismatches += 1
    elapsed = time.perf_counter() - started
    gc.collect()
    after = resident_kib()
    return calls / elapsed, before, after, mismatches, elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--warmup", type=int, default=20_000)
    parser.add_argument("--bound-mib", type=float, default=16.0)
    parser.add_argument("--only", default=None, help="run only cases whose name holds this")
    args = parser.parse_args()

    engine = pyorvane.init(STAGES, str(CONFIG))
    if engine.err() is not None:
        raise SystemExit(engine.err())
    unloaded = pyorvane.init(STAGES, str(CONFIG) + ".missing")
    contexts = [pyorvane.make_ctx(fields) for fields in CONTEXT_FIELDS]
    cases = build_cases(engine, unloaded, contexts)
    if args.only:
        cases = [case for case in cases if args.only in case[0]]

    bound_kib = int(args.bound_mib * 1024)
    period = 12  # a multiple of the number of contexts
    print(f"{args.calls} calls per case after {args.warmup} warm-up calls; "
          f"allowed growth {args.bound_mib:g} MiB", flush=True)
    print(f"{'case':<46} {'calls/s':>12} {'RSS warm KiB':>13} {'RSS end KiB':>12} "
          f"{'growth KiB':>11}", flush=True)
    failed = []
    start_rss = resident_kib()
    total_calls = 0
    total_started = time.perf_counter()
    for name, call in cases:
        rate, before, after, mismatches, _ = soak(name, call, args.calls, args.warmup, period)
        total_calls += args.calls
        growth = after - before
        verdict = ""
        if growth > bound_kib:
            verdict = "  GREW"
            failed.append(name)
        if mismatches:
            verdict += f"  {mismatches} CHANGED ANSWERS"
            failed.append(name)
        print(f"{name:<46} {rate:>12,.0f} {before:>13} {after:>12} {growth:>11}{verdict}",
              flush=True)
    elapsed = time.perf_counter() - total_started
    print(f"total: {len(cases)} cases, {total_calls:,} calls in {elapsed:.1f} s; "
          f"RSS {start_rss} KiB at start, {resident_kib()} KiB at end", flush=True)
    if failed:
        print("FAILED: " + ", ".join(sorted(set(failed))), flush=True)
        return 1
    print("soak passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
