#!/usr/bin/env bash
# The main job: installs what is missing, builds, writes the bundled sample market data and
# prints value charts of it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/bootstrap.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCHMARKS=OFF

sample=build/sample
build/tools/velmora-sample --out "$sample"
for chart in "LLGUSD 0" "EURUSD 1"; do
  set -- $chart
  echo
  build/tools/velmora-tool chart --hst "$sample" --code "$1" --period "$2" --format text 2>/dev/null
done
