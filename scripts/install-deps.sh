#!/usr/bin/env bash
# Installs what Orvane needs for one purpose, skipping what is already there: the Debian
# packages of the toolchain and libraries, and a Python virtual environment in .venv.
#
#   bash scripts/install-deps.sh [module|test|bench]
#     module (default)  building and installing the Python modules (the demo)
#     test              also GoogleTest, for the C++ tests
#     bench             also Google Benchmark, for the C++ benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."
purpose=${1:-module}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
python_has_headers() {
  python3 -c 'import sysconfig, os, venv, ensurepip
assert os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h"))' 2>/dev/null
}

wanted=(g++ nlohmann-json3-dev libssl-dev)
case "$purpose" in
  module) ;;
  test) wanted+=(libgtest-dev) ;;
  bench) wanted+=(libgtest-dev libbenchmark-dev) ;;
  *) echo "usage: install-deps.sh [module|test|bench]" >&2; exit 2 ;;
esac
# cmake and ninja may come from pip; a Python from elsewhere (pyenv) brings its own
# headers and venv module.
command -v cmake >/dev/null || wanted+=(cmake)
command -v ninja >/dev/null || wanted+=(ninja-build)
command -v python3 >/dev/null && python_has_headers || wanted+=(python3 python3-dev python3-venv)

missing=()
for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/python -m pip install -q --upgrade pip >/dev/null
# The build requirements live in the environment too, so that builds can skip pip's
# isolated environment: its path changes on every run and forces a rebuild of nanobind.
.venv/bin/python -m pip install -q "scikit-build-core>=0.11" "nanobind>=3.1,<4" >/dev/null
