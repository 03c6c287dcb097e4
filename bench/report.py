#!/usr/bin/env python3
"""Times orvane.report on a generated configuration, whole and by phase.

    report.py CONFIG.json [--repeat N]

Prints, as the median of N runs (3 by default): the whole report, the same against an
edited copy (every tenth experiment's first range narrowed, every hundredth reseeded), and
the phases of the plain one: the check, the load, the engine's feature forms and the HTML.
Wall time and processor time are both shown, since the machine is shared; the page size
and the load average before the runs say how to read them.
"""

import argparse
import gc
import json
import os
import statistics
import sys
import tempfile
import time

import pyorvane

import orvane
from orvane import _native
from orvane._stages import DEFAULT_STAGES

report_module = sys.modules["orvane.report"]


def timed(call, repeat):
    """(median wall seconds, median processor seconds, last result)."""
    walls, cpus, result = [], [], None
    for _ in range(repeat):
        wall, cpu = time.perf_counter(), time.process_time()
        result = call()
        walls.append(time.perf_counter() - wall)
        cpus.append(time.process_time() - cpu)
    return statistics.median(walls), statistics.median(cpus), result


def edited_copy(path, out):
    with open(path) as f:
        doc = json.load(f)
    for i, record in enumerate(doc.values()):
        variants = record["experiment"].get("variants") or []
        if i % 10 == 0 and variants:
            variants[0]["range_end"] = variants[0]["range_end"] * 0.9
        if i % 100 == 0:
            inner = record["experiment"]
            inner["shuffle_version"] = inner.get("shuffle_version", 0) + 1
    with open(out, "w") as f:
        json.dump(doc, f)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("config")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    n = args.repeat
    print(f"configuration: {args.config}, {os.path.getsize(args.config) / 2**20:.1f} MiB, "
          f"load average before: {os.getloadavg()[0]:.2f}")
    rows = []
    wall, cpu, page = timed(lambda: orvane.report(args.config), n)
    rows.append(("orvane.report, whole", wall, cpu))
    with tempfile.TemporaryDirectory() as tmp:
        edited = os.path.join(tmp, "edited.json")
        edited_copy(args.config, edited)
        wall, cpu, against = timed(lambda: orvane.report(edited, against=args.config), n)
        rows.append(("orvane.report against an edited copy", wall, cpu))
    # The phases, with the collector off as report() runs them.
    gc.disable()
    wall, cpu, checked = timed(lambda: orvane.check(args.config), n)
    rows.append(("  orvane.check", wall, cpu))
    wall, cpu, engine = timed(lambda: pyorvane.init(DEFAULT_STAGES, args.config), n)
    rows.append(("  load", wall, cpu))
    wall, cpu, forms = timed(lambda: _native.report_features(engine), n)
    rows.append(("  feature forms (_native.report_features)", wall, cpu))
    page_of = report_module._Page(args.config, checked, forms, None, [],
                                  int(time.time() * 1000), None)
    wall, cpu, _ = timed(lambda: "".join(page_of.render()), n)
    rows.append(("  HTML", wall, cpu))
    gc.enable()
    print(f"{'phase (median of ' + str(n) + ')':<48}{'wall s':>9}{'cpu s':>9}")
    for name, wall, cpu in rows:
        print(f"{name:<48}{wall:>9.2f}{cpu:>9.2f}")
    print(f"features: {len(forms):,}; page: {len(page.encode()) / 2**20:.1f} MiB; "
          f"against: {len(against.encode()) / 2**20:.1f} MiB")


if __name__ == "__main__":
    main()
