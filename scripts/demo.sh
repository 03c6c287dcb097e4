#!/usr/bin/env bash
# Installs everything, builds and installs pyorvane, and runs the quickstart on the
# shipped example configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
.venv/bin/python -m pip install -q .
.venv/bin/python examples/quickstart.py
