#!/usr/bin/env bash
# Every test: installs what is missing, checks formatting, builds with warnings as errors and
# runs the suite, then runs it again under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the logic and network tests under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/bootstrap.sh

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# No test writes into the user's home: where we can (root, a mount namespace, the tree outside
# the home), the suite runs with the home mounted read-only.
with_read_only_home() {
  case "$root/" in "$HOME"/*) "$@"; return ;; esac
  if [ -d "$HOME" ] && [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    unshare -m sh -c 'mount --bind -o ro "$HOME" "$HOME" && exec "$@"' sh "$@"
  else
    "$@"
  fi
}

jobs=$(nproc)
echo "== build and tests"
scripts/build.sh build -DVELMORA_WERROR=ON
with_read_only_home ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizers"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_WERROR=ON \
  -DVELMORA_BUILD_BENCHMARKS=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== thread sanitizer (logic and network)"
tsan_tests=(test_http_client test_server_sync test_data_server test_velmora_tool test_self_update)
cmake -S "$root" -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_TSAN=ON \
  -DVELMORA_WERROR=ON -DVELMORA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan --target "${tsan_tests[@]}"
labels=$(IFS='|'; echo "^(${tsan_tests[*]})\$")
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L "$labels"
