#!/usr/bin/env bash
# Installs everything and runs every test: the C++ core through CTest (once as built for
# release, once under the sanitizers), each fuzz target briefly, the Python module and
# the documentation's code blocks through pytest, and then the packaging: a source
# distribution turned into a repaired manylinux wheel and tested, on each Python 3.10-3.13
# the machine has. Fails when any test fails or when a runner finds nothing to run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test

echo "== C++ core (warnings are errors)"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_WERROR=ON >/dev/null
cmake --build build/test
ctest --test-dir build/test --output-on-failure --no-tests=error -j2

echo "== C++ core under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON >/dev/null
cmake --build build/asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure --no-tests=error -j2

echo "== Fuzz targets, briefly, over their seed corpora"
bash scripts/fuzz.sh "${ORVANE_FUZZ_SECONDS:-30}"
# Test-only: the event tests compile the shipped Thrift schema with the Thrift compiler.
command -v thrift >/dev/null || { apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq thrift-compiler >/dev/null; }
# Test-only: the report test renders a page in headless Chromium, and must not skip here.
command -v chromium >/dev/null || { apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium >/dev/null; }
export ORVANE_REQUIRE_BROWSER=1 ORVANE_TEST_ARTIFACTS="$PWD/build/test-artifacts"

echo "== Python module"
.venv/bin/python -m pip install -q ".[test]"
status=0
.venv/bin/python -m pytest -q orvane-py/tests python/tests || status=$?
if [ "$status" -eq 5 ]; then
  echo "pytest collected no tests" >&2
  exit 1
fi
[ "$status" -eq 0 ] || exit "$status"

echo "== The source distribution and the manylinux wheel, on every Python from 3.10 to 3.13"
bash scripts/test-pythons.sh
