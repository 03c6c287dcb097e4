#!/usr/bin/env bash
# Instructions per call of the hot operations, counted by callgrind: each operation runs
# once with N = 1 and once with a larger N in fresh processes, and the difference is
# divided by the extra calls. Counts repeat from run to run where times on this shared
# machine do not, so a change to the engine is judged by these.
#
#   bash bench/callgrind.sh [DIR]   DIR holds the pyorvane module to count (default: the
#                                   one installed in .venv); CONFIG_1K may name the
#                                   1,000-feature configuration (default: generated)
#   OPERATIONS="explain_loud:1001" bash bench/callgrind.sh   counts other operations of
#                                   bench/calls.py (NAME:CALLS each)
set -euo pipefail
cd "$(dirname "$0")/.."
work=build/bench-data
mkdir -p "$work"
config=${CONFIG_1K:-$work/features_1k.json}
[ -f "$config" ] || python3 bench/make_config.py 1000 "$config"
if [ $# -gt 0 ]; then export PYTHONPATH="$1"; fi
export PYTHONHASHSEED=0

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null \
    .venv/bin/python bench/calls.py "$1" "$2" "$config" 2>&1 |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

printf '%-14s %14s\n' operation "instr/call"
for spec in ${OPERATIONS:-make_ctx_full:10001 make_ctx_small:10001 ctx_choose_quiet:10001 ctx_choose_loud:10001 choose_quiet:10001 choose_loud:10001 choose_loud_events:10001 get_bool:10001 choose_all:21}; do
  op=${spec%%:*} n=${spec##*:}
  one=$(instructions "$op" 1)
  many=$(instructions "$op" "$n")
  printf '%-14s %14d\n' "$op" $(( (many - one) / (n - 1) ))
done
