#!/usr/bin/env bash
# The side-by-side run of bench/peers.py: other products' public SDKs from PyPI in a
# virtual environment of their own (build/peers-venv), beside the pyorvane module built
# into .venv (bash scripts/install-deps.sh; pip install .), which is copied in alone so
# that nothing else of .venv is seen. Nothing is fetched at run time and nothing is sent.
#
#   bash bench/peers.sh
set -euo pipefail
cd "$(dirname "$0")/.."
venv=build/peers-venv
[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q eppo-server-sdk
module_dir=build/peers-module
mkdir -p "$module_dir"
cp "$(.venv/bin/python -c 'import pyorvane; print(pyorvane.__file__)')" "$module_dir/"
PYTHONPATH="$module_dir" "$venv/bin/python" bench/peers.py
