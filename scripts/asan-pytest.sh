#!/usr/bin/env bash
# Runs the Python test suites against a build of both extension modules with
# AddressSanitizer and UndefinedBehaviorSanitizer, and fails on the first report.
#
# The modules are built into build/asan-py and put ahead of the virtual environment's copy
# on PYTHONPATH; the sanitizer runtime is preloaded, since the interpreter itself is not
# built with it. Leak detection is off: the interpreter keeps objects alive at exit by
# design (scripts/valgrind-pytest.sh looks for leaks in our code). Left out: the tests that
# measure resident memory or cap the address space (the sanitizer's shadow memory and
# quarantine change both), the cluster and typing tests (other processes, no module code),
# and the docs' blocks (they start the command line and services in further processes,
# where the preloaded runtime has stalled a run; the same code runs in the other tests).
#
#   bash scripts/asan-pytest.sh [extra pytest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
[ -x .venv/bin/python ] || bash scripts/install-deps.sh test

work=build/asan-py
rm -rf "$work/site" "$work/wheel"
mkdir -p "$work/site" "$work/wheel"
echo "== building pyorvane and orvane._native with AddressSanitizer"
.venv/bin/python -m pip wheel -q --no-deps -w "$work/wheel" \
  -C cmake.define.ORVANE_SANITIZE=ON -C cmake.build-type=RelWithDebInfo \
  -C install.strip=false -C build-dir="$work/cmake" .
.venv/bin/python -m pip install -q --no-deps --target "$work/site" "$work"/wheel/pyorvane-*.whl
# libstdc++ too: the sanitizer finds the real __cxa_throw only in a library loaded with it.
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
module=$(PYTHONPATH="$work/site" .venv/bin/python -c 'import pyorvane; print(pyorvane.__file__)')
case "$module" in
  "$root/$work/site/"*) echo "module under test: $module" ;;
  *) echo "the sanitized build is not the module imported: $module" >&2; exit 1 ;;
esac

echo "== pytest against the sanitized modules"
PYTHONPATH="$root/$work/site" .venv/bin/python -m pytest -q -p no:cacheprovider orvane-py/tests python/tests \
    --ignore=orvane-py/tests/test_memory.py --ignore=python/tests/test_batch_cluster.py \
    --ignore=python/tests/test_typing.py --ignore=python/tests/test_docs.py \
    -k "not out_of_memory" "$@"
