#!/usr/bin/env bash
# Fuzzes the parsers of untrusted input with libFuzzer under ASan+UBSan:
#   scripts/fuzz.sh [SECONDS per target, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/bootstrap.sh
if ! command -v clang++ >/dev/null || ! dpkg-query -W libclang-rt-14-dev >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi
seconds=${1:-60}
targets=(fuzz_data_server_replies fuzz_mt4_import fuzz_settings_store)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_FUZZ=ON \
  -DVELMORA_SANITIZE=ON -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz --target "${targets[@]}"
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== $target (${seconds}s)"
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=65536 "$corpus"
done
