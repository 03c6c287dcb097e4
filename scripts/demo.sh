#!/usr/bin/env bash
# Installs everything, builds and installs pyorvane, and runs the quickstart on the
# shipped example configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh module
# The first build compiles the engine and both modules (a few minutes); later runs reuse
# build/ and take seconds.
echo "Building and installing pyorvane and orvane"
mkdir -p build
# scikit-build-core's steps and the compiler's progress, live; the whole log stays in build/.
if ! .venv/bin/python -m pip install -v --progress-bar off --no-build-isolation . 2>&1 | tee build/demo-install.log |
    grep --line-buffered -E '^ *(\*\*\*|\[[0-9]+/[0-9]+\])'; then
  .venv/bin/python -c 'import pyorvane' 2>/dev/null ||
    { tail -40 build/demo-install.log >&2; echo "the build failed; log: build/demo-install.log" >&2; exit 1; }
fi
.venv/bin/python examples/quickstart.py
