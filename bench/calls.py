#!/usr/bin/env python3
"""Calls one pyorvane operation N times, for counting instructions per call under callgrind.

    calls.py OPERATION N CONFIG_1K

OPERATION is make_ctx_full (8 fields), make_ctx_small (user id and country, a new user
each call), ctx_choose_quiet (make_ctx_small then choose, no event), ctx_choose_loud (the
same with one exposure event, read by events()), choose_quiet (bucketed, no event),
choose_loud (one exposure event), choose_loud_events (the same read by events()),
choose_loud_documents (the same read by orvane.event_documents), get_bool, choose_all (over
CONFIG_1K), or explain_loud (orvane.explain of choose_loud's decision). bench/callgrind.sh runs it twice, with N = 1
and a larger N, and divides the difference, so loading and interpreter start-up cancel out.
"""
import itertools
import os
import sys
import tempfile

import pyorvane

from bench import CHAIN, FULL_CTX, SMALL_CTXS, small_config


def main():
    operation, count, config_1k = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "small.json")
        small_config(path)
        engine = pyorvane.init(CHAIN, config_1k if operation == "choose_all" else path)
    assert engine.err() is None, engine.err()
    ctx = pyorvane.make_ctx(FULL_CTX)
    small = itertools.cycle(SMALL_CTXS).__next__
    make_ctx = pyorvane.make_ctx
    calls = {
        "make_ctx_full": lambda: make_ctx(FULL_CTX),
        "make_ctx_small": lambda: make_ctx(small()),
        "ctx_choose_quiet": lambda: engine.choose("quiet", make_ctx(small())),
        "ctx_choose_loud": lambda: engine.choose("loud", make_ctx(small())).events(),
        "choose_quiet": lambda: engine.choose("quiet", ctx),
        "choose_loud": lambda: engine.choose("loud", ctx),
        "choose_loud_events": lambda: engine.choose("loud", ctx).events(),
        "choose_loud_documents": lambda: orvane.event_documents(engine.choose("loud", ctx)),
        "get_bool": lambda: engine.get_bool("flag", ctx),
        "choose_all": lambda: engine.choose_all(ctx),
        "explain_loud": lambda: orvane.explain(engine, "loud", ctx),
    }
    if operation.startswith("explain") or operation.endswith("documents"):
        import orvane  # only here, so that the other operations count pyorvane alone
    call = calls[operation]
    for _ in range(count):
        call()


if __name__ == "__main__":
    main()
