#!/usr/bin/env bash
# scripts/run-program.sh waits for its own program and the updater that program starts, and
# not for another copy of the same program running elsewhere.
set -euo pipefail
runner=$(cd "$(dirname "$0")/../.." && pwd)/scripts/run-program.sh
dir=$(mktemp -d -t velmora-run-program-XXXXXX)
other=
trap '[ -n "$other" ] && kill "$other" 2>/dev/null; rm -rf "$dir"' EXIT
# Stand-ins: a shell as the program, which starts its "updater" (a sleep) and ends at once.
cp "$(command -v bash)" "$dir/velmora"
cp "$(command -v sleep)" "$dir/velmora-update"

# Another copy of the program, not of this run, keeps running all along.
"$dir/velmora" -c 'while :; do sleep 1; done' &
other=$!

start=$(date +%s)
"$runner" "$dir/velmora" -c '"$(dirname "$0")/velmora-update" 3 & exit 0'
took=$(( $(date +%s) - start ))
if [ "$took" -lt 3 ]; then
  echo "returned after ${took}s, before the updater of its run ended" >&2
  exit 1
fi
if [ "$took" -gt 30 ]; then
  echo "returned after ${took}s: it waited for another copy of the program" >&2
  exit 1
fi
echo "returned after ${took}s"
