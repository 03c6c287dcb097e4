#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on) and runs each
# for a given number of seconds over its seed corpus and any inputs kept from earlier runs.
#
#   scripts/fuzz.sh SECONDS_PER_TARGET [target ...]     (targets: config_fuzz decide_fuzz)
#
# New interesting inputs are kept in build/fuzz-corpus/<target>; crash inputs land in
# build/fuzz-artifacts and must be fixed and added to orvane/fuzz/seeds as regressions.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(config_fuzz decide_fuzz)

# clang and the runtime package of its own major version (14 on Debian 12, 19 on Debian 13).
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  command -v clang++ >/dev/null || apt-get install -y -qq clang >/dev/null
  major=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
  apt-get install -y -qq "libclang-rt-$major-dev" >/dev/null
fi

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DORVANE_FUZZ=ON -DORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz --target "${targets[@]}"

rm -rf build/fuzz-artifacts && mkdir -p build/fuzz-artifacts
for target in "${targets[@]}"; do
  seeds=(orvane/fuzz/seeds/${target%_fuzz})
  corpus=build/fuzz-corpus/$target
  mkdir -p "$corpus"
  # The reader's own test documents and the example seed the configuration target too, and
  # the rich configuration joins its corpus (libFuzzer takes directories only).
  if [ "$target" = config_fuzz ]; then
    seeds+=(orvane/tests/testdata/config examples)
    cp orvane/fuzz/rich_config.json "$corpus/"
  fi
  echo "== $target for ${seconds}s"
  build/fuzz/orvane/fuzz/$target "$corpus" "${seeds[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix=build/fuzz-artifacts/ -print_final_stats=1 2>&1 |
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY|Done)' || true
  # libFuzzer exits non-zero on any finding; the pipe above hides it, so check again.
  if ls build/fuzz-artifacts/crash-* build/fuzz-artifacts/leak-* build/fuzz-artifacts/timeout-* >/dev/null 2>&1; then
    echo "$target found a problem: see build/fuzz-artifacts" >&2
    exit 1
  fi
done
