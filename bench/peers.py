#!/usr/bin/env python3
"""One scenario in pyorvane and in other products' public SDKs, side by side.

    bench/peers.sh            (makes build/peers-venv with the SDKs, then runs this)

Scenario: experiment `exp1`, control/treatment 50/50 on the user id, targeted to country
US or CA; 100,000 calls with a new user id each, three rounds (the median is shown), and
the time per call as a ratio to an in-process hashlib.sha1 baseline of the same run.
Every SDK is configured from a document in memory and never polls or sends anything: an
SDK whose configuration would need the network is handed an unreachable local address,
and exposure records go to a logger that keeps nothing.

Only SDKs that are installed are run; pyorvane is always run.
"""
import hashlib
import json
import os
import statistics
import sys
import tempfile
import time

CALLS = 100_000
ROUNDS = 3
USERS = [f"user_{i:08d}" for i in range(CALLS)]
COUNTRIES = ["US", "CA", "US", "DE"]  # three of four requests are in the targeted countries


def check_answers(answer):
    """Both systems must answer the scenario alike: nothing outside US and CA, and about
    half of the rest in each variant. `answer(i)` decides for USERS[i]."""
    counts = {}
    for i in range(4000):
        got = answer(i)
        if COUNTRIES[i % 4] == "DE":
            assert got in (None, "none"), (i, got)
        else:
            counts[got] = counts.get(got, 0) + 1
    assert set(counts) == {"control", "treatment"}, counts
    assert abs(counts["control"] - counts["treatment"]) < 300, counts


def per_call(run):
    """Median over ROUNDS of the seconds per call of run(), which makes CALLS calls."""
    run()
    times = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        run()
        times.append((time.perf_counter() - start) / CALLS)
    return statistics.median(times)


def sha1_baseline():
    seeds = [f"exp1.{u}".encode() for u in USERS]

    def run():
        for seed in seeds:
            hashlib.sha1(seed).digest()
    return per_call(run)


def pyorvane_rows():
    import pyorvane

    doc = {"exp1": {
        "id": 1, "name": "exp1", "enabled": True, "version": "1", "owner": "bench",
        "type": "range_variant", "emit_event": True,
        "start_ts": 1767225600000, "stop_ts": 1798761600000,
        "experiment": {
            "experiment_version": 1, "shuffle_version": 0, "bucket_val": "user_id",
            "variants": [{"name": "control", "range_start": 0.0, "range_end": 0.5},
                         {"name": "treatment", "range_start": 0.5, "range_end": 1.0}],
            "targeting": {"EQ": {"field": "country_code", "values": ["US", "CA"]}}}}}
    quiet = json.loads(json.dumps(doc))
    quiet["exp1"]["emit_event"] = False
    chain = "targeting fractional_availability value"
    with tempfile.TemporaryDirectory() as tmp:
        engines = []
        for name, content in (("loud.json", doc), ("quiet.json", quiet)):
            path = os.path.join(tmp, name)
            with open(path, "w") as f:
                json.dump(content, f)
            engine = pyorvane.init(chain, path)
            assert engine.err() is None, engine.err()
            engines.append(engine)
    loud, quiet = engines
    dicts = [{"user_id": u, "country_code": COUNTRIES[i % 4]} for i, u in enumerate(USERS)]
    ctxs = [pyorvane.make_ctx(d) for d in dicts]
    make_ctx = pyorvane.make_ctx
    check_answers(lambda i: quiet.choose("exp1", ctxs[i]).decision())
    assert len(loud.choose("exp1", ctxs[0]).events()) == 1

    def context():
        for d in dicts:
            make_ctx(d)

    def decision():
        for c in ctxs:
            quiet.choose("exp1", c).decision()

    def both():
        for d in dicts:
            quiet.choose("exp1", make_ctx(d)).decision()

    def exposed():
        for d in dicts:
            loud.choose("exp1", make_ctx(d)).events()

    return [per_call(context), per_call(decision), per_call(both), per_call(exposed)]


def eppo_rows():
    import eppo_client
    from eppo_client.config import Config

    class Discard(eppo_client.AssignmentLogger):
        logged = 0

        def log_assignment(self, event):
            Discard.logged += 1

        def log_bandit_action(self, event):
            pass

    def ufc(do_log):
        split = lambda variation, start, end: {  # noqa: E731
            "variationKey": variation,
            "shards": [{"salt": "exp1", "ranges": [{"start": start, "end": end}]}]}
        return json.dumps({
            "createdAt": "2026-01-01T00:00:00.000Z", "format": "SERVER",
            "environment": {"name": "bench"},
            "flags": {"exp1": {
                "key": "exp1", "enabled": True, "variationType": "STRING", "totalShards": 10000,
                "variations": {"control": {"key": "control", "value": "control"},
                               "treatment": {"key": "treatment", "value": "treatment"}},
                "allocations": [{
                    "key": "exp1-allocation", "doLog": do_log,
                    "rules": [{"conditions": [{"attribute": "country", "operator": "ONE_OF",
                                               "value": ["US", "CA"]}]}],
                    "splits": [split("control", 0, 5000), split("treatment", 5000, 10000)]}]}},
        }).encode()

    def client(do_log):
        config = Config(api_key="offline", base_url="http://127.0.0.1:9",
                        assignment_logger=Discard(), poll_interval_seconds=None,
                        initial_configuration=eppo_client.Configuration(
                            flags_configuration=ufc(do_log)))
        return eppo_client.init(config)

    # The SDK keeps one client per process; each row's client is made just before it runs.
    attrs = [{"country": COUNTRIES[i % 4]} for i in range(CALLS)]
    pairs = list(zip(USERS, attrs))

    def context():
        for u, a in pairs:
            {"country": a["country"]}

    quiet = client(False)
    check_answers(lambda i: quiet.get_string_assignment("exp1", USERS[i], attrs[i], "none"))

    def decision():
        for u, a in pairs:
            quiet.get_string_assignment("exp1", u, a, "none")

    def both():
        for u, a in pairs:
            quiet.get_string_assignment("exp1", u, {"country": a["country"]}, "none")

    rows = [per_call(context), per_call(decision), per_call(both)]
    loud = client(True)

    def exposed():
        for u, a in pairs:
            loud.get_string_assignment("exp1", u, {"country": a["country"]}, "none")
    rows.append(per_call(exposed))
    # Every targeted request of the exposed row's runs was logged (and dropped).
    assert Discard.logged == (ROUNDS + 1) * CALLS * 3 // 4, Discard.logged
    return rows


ROWS = ["context alone (2 fields)", "decision, context prebuilt", "context + decision",
        "context + decision + exposure record"]
SYSTEMS = [("pyorvane", pyorvane_rows), ("Eppo", eppo_rows)]


def main():
    base = sha1_baseline()
    results = {}
    for name, rows in SYSTEMS:
        try:
            results[name] = rows()
        except ImportError as e:
            print(f"{name}: not installed ({e})", file=sys.stderr)
    names = list(results)
    print(f"hashlib.sha1 baseline: {base * 1e9:.0f} ns per call")
    print("| per request | " + " | ".join(names) + " |")
    print("|---" * (len(names) + 1) + "|")
    for i, row in enumerate(ROWS):
        cells = [f"{results[n][i] * 1e9:,.0f} ns ({results[n][i] / base:.2f}x)" for n in names]
        print(f"| {row} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
