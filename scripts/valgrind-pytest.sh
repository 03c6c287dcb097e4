#!/usr/bin/env bash
# Runs the Python test suite once under valgrind's memcheck and fails when a definite leak
# or an invalid memory access has a stack frame in the pyorvane module or the Orvane core.
#
# The module is built a second time with debug information and without stripping, into
# build/valgrind, and put ahead of the virtual environment's copy on PYTHONPATH, so that
# reports name our functions and source lines; the installed module is left as it is.
# PYTHONMALLOC=malloc sends every Python allocation through malloc, where memcheck sees it.
# The interpreter's own leftovers at exit may be reported and are not ours: only records
# that pass through our code count. Forked children log on their own (one file per pid).
#
#   bash scripts/valgrind-pytest.sh [extra pytest arguments]
# Logs: build/valgrind/logs/vg.<pid>.log; summary: build/valgrind/summary.txt
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if ! command -v valgrind >/dev/null; then
  echo "Installing valgrind"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq valgrind >/dev/null
fi
[ -x .venv/bin/python ] || bash scripts/install-deps.sh test
.venv/bin/python -c 'import pytest' 2>/dev/null || .venv/bin/python -m pip install -q pytest

work=build/valgrind
rm -rf "$work/site" "$work/wheel" "$work/logs"
mkdir -p "$work/site" "$work/wheel" "$work/logs"

echo "== building pyorvane with debug information"
.venv/bin/python -m pip wheel -q --no-deps -w "$work/wheel" \
  -C cmake.build-type=RelWithDebInfo -C install.strip=false -C build-dir="$work/cmake" .
.venv/bin/python -m pip install -q --no-deps --target "$work/site" "$work"/wheel/pyorvane-*.whl
module=$(PYTHONPATH="$work/site" .venv/bin/python -c 'import pyorvane; print(pyorvane.__file__)')
case "$module" in
  "$root/$work/site/"*) echo "module under test: $module" ;;
  *) echo "the debug build is not the module imported: $module" >&2; exit 1 ;;
esac

echo "== pytest under valgrind"
started=$(date +%s)
status=0
PYTHONPATH="$root/$work/site" PYTHONMALLOC=malloc PYTHONDONTWRITEBYTECODE=1 \
  valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite --num-callers=40 --fullpath-after= \
    --log-file="$root/$work/logs/vg.%p.log" \
    .venv/bin/python -m pytest -q -p no:cacheprovider orvane-py/tests "$@" || status=$?
seconds=$(( $(date +%s) - started ))

.venv/bin/python - "$root" "$work/logs" "$seconds" "$status" <<'EOF' | tee "$work/summary.txt"
import glob, os, re, sys

root, logs, seconds, status = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
ours = re.compile(r"pyorvane|orvane::|" + re.escape(root) + r"/orvane(-py)?/")
faults = re.compile(
    r"definitely lost in loss record|^Invalid (read|write|free)|^Mismatched free|"
    r"^Source and destination overlap|^Conditional jump or move depends on uninitialised|"
    r"^Use of uninitialised value|^Syscall param .* uninitialised|fishy value")
prefix = re.compile(r"^==\d+== ?")

ours_found, others = [], {}
processes = 0
for path in sorted(glob.glob(os.path.join(logs, "vg.*.log"))):
    processes += 1
    lines = [prefix.sub("", line.rstrip("\n")) for line in open(path, errors="replace")]
    blocks, block = [], []
    for line in lines:
        if line.strip():
            block.append(line)
        elif block:
            blocks.append(block)
            block = []
    if block:
        blocks.append(block)
    for block in blocks:
        if not faults.search(block[0]):
            continue
        kind = re.sub(r"[\d,]+", "N", block[0])
        if any(ours.search(line) for line in block):
            ours_found.append((os.path.basename(path), block))
        else:
            others[kind] = others.get(kind, 0) + 1
    for line in lines:
        if line.strip().startswith(("ERROR SUMMARY", "definitely lost:", "indirectly lost:")):
            print(f"{os.path.basename(path)}: {line.strip()}")

print(f"valgrind pytest: {seconds} s, pytest exit {status}, {processes} process log(s)")
print(f"records through pyorvane/Orvane code: {len(ours_found)}")
for name, block in ours_found:
    print(f"--- {name}")
    print("\n".join(block))
if others:
    print("records outside our code (interpreter, libraries):")
    for kind, count in sorted(others.items()):
        print(f"  {count} x {kind}")
if status != 0:
    print("FAILED: pytest did not pass under valgrind")
if ours_found:
    print("FAILED: definite leaks or invalid accesses in pyorvane/Orvane code")
sys.exit(1 if status != 0 or ours_found else 0)
EOF
