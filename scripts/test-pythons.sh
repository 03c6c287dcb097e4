#!/usr/bin/env bash
# Runs the distribution check (scripts/dist-check.sh: source distribution, manylinux
# wheel, the Python tests against it) on every CPython from the supported floor, 3.10, to
# 3.13 that this machine has: on PATH as python3.X or installed by pyenv. A version the
# machine lacks is reported and skipped; finding none at all is a failure, since then the
# packaging went unchecked.
set -euo pipefail
cd "$(dirname "$0")/.."

find_python() {
  local minor=$1 candidate
  for candidate in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3."$minor".*/bin/python3 \
                   "$(command -v "python3.$minor" || true)"; do
    # pyenv's shims answer for versions that are not installed; ask the interpreter itself.
    if [ -x "$candidate" ] &&
       "$candidate" -c "import sys, venv; sys.exit(sys.version_info[:2] != (3, $minor))" 2>/dev/null; then
      echo "$candidate"
      return
    fi
  done
}

tested=()
for minor in 10 11 12 13; do
  python=$(find_python "$minor")
  if [ -z "$python" ]; then
    echo "== Python 3.$minor: not on this machine, skipped"
    continue
  fi
  bash scripts/dist-check.sh "$python"
  tested+=("3.$minor")
done
[ "${#tested[@]}" -gt 0 ] || { echo "no Python from 3.10 to 3.13 found" >&2; exit 1; }
echo "== Distribution checked on Python ${tested[*]}"
