#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the reference data server on
# loopback and the program configured against it. Without a display the program runs in a
# virtual one (Xvfb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/bootstrap.sh
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF \
  -DVELMORA_BUILD_BENCHMARKS=OFF

run=$(mktemp -d -t velmora-run-XXXXXX)
"$root/build-release/services/velmora-server" --host 127.0.0.1 --port 0 >"$run/server.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT

port=
for _ in $(seq 1 100); do
  port=$(sed -n 's#^listening on https\?://[^:]*:\([0-9]*\).*#\1#p' "$run/server.log" | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$server" 2>/dev/null || { cat "$run/server.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "the data server did not start" >&2; exit 1; }
echo "data server on 127.0.0.1:$port (log: $run/server.log)"

printf '[data_server]\nhost=127.0.0.1\nport=%s\n' "$port" >"$run/velmora.ini"
export VELMORA_CONFIG="$run/velmora.ini"
cd "$run"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$root/build-release/app/velmora" "$@"
else
  xvfb-run -a -s "-screen 0 1600x900x24" "$root/build-release/app/velmora" "$@"
fi
