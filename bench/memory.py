"""Memory that answers hold and the peaks of their debug texts, for request values of many
megabytes and for a choose_all over a large configuration.

    python bench/memory.py CONFIG   CONFIG: a generated configuration (bench/make_config.py)

Prints the bytes a kept decision with one event holds per identifier byte, and for each
debug text the peak rise of resident memory while it is built, as a multiple of its size.
"""

import gc
import sys

import pyorvane

ALL_STAGES = "darkmode targeting overrides holdout mutex_group fractional_availability value"
EXAMPLE = "examples/experiments.json"
ID_BYTES = 20 * 1024 * 1024


def status(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1]) * 1024
    raise KeyError(key)


def peak_factor(make):
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # the high-water mark starts again from the current size
    before = status("VmRSS:")
    text = make()
    return (status("VmHWM:") - before) / len(text), len(text)


def main():
    ctx = pyorvane.make_ctx({"user_id": "u" * ID_BYTES})
    engine = pyorvane.init("fractional_availability", EXAMPLE)
    gc.collect()
    before = status("VmRSS:")
    kept = [engine.choose("search_ranking_v2", ctx) for _ in range(4)]
    held = (status("VmRSS:") - before) / len(kept) / ID_BYTES
    assert len(kept[0].events()) == 1
    print(f"{'kept decision, one event: bytes held per identifier byte':58} {held:8.2f}")
    for label, make in (("PyContext.inspect(), 20 MiB identifier", ctx.inspect),
                        ("PyDecision.inspect(), 20 MiB identifier", kept[0].inspect)):
        factor, size = peak_factor(make)
        print(f"{label + ': peak / text':58} {factor:8.2f}   ({size / 2**20:.0f} MiB text)")
    del kept
    large = pyorvane.init(ALL_STAGES, sys.argv[1])
    answers = large.choose_all(pyorvane.make_ctx(
        {"user_id": "t2_abc", "logged_in": True, "build_number": 1300, "country_code": "US"}))
    gc.collect()
    factor, size = peak_factor(answers.inspect)
    label = f"choose_all over {len(answers.decisions())} features, inspect(): peak / text"
    print(f"{label:58} {factor:8.2f}   ({size / 2**20:.0f} MiB text)")


if __name__ == "__main__":
    main()
