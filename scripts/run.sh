#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the reference services (data server,
# website with the account pages, SMS gateway) on loopback and the program configured against
# them. Without a display the program runs in a
# virtual one (Xvfb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/bootstrap.sh
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF \
  -DVELMORA_BUILD_BENCHMARKS=OFF

run=$(mktemp -d -t velmora-run-XXXXXX)
# A demo account, already active, so that a newcomer can log in at once.
demo_user=demo
demo_password=velmora-demo
"$root/build-release/services/velmora-server" accounts add "$demo_user" "$demo_password" --active \
  --db "$run/accounts.db" >/dev/null
"$root/build-release/services/velmora-server" --host 127.0.0.1 --port 0 --website-port 0 \
  --sms-port 0 --db "$run/accounts.db" --outbox "$run/sms-outbox.txt" >"$run/server.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT

# The port in the line "NAME listening on http://HOST:PORT".
port_of() {
  sed -n "s#^$1 listening on https\\?://[^:]*:\\([0-9]*\\).*#\\1#p" "$run/server.log" | head -n 1
}
port=
sms_port=
for _ in $(seq 1 100); do
  sms_port=$(port_of sms) # printed last, once all three listen
  [ -n "$sms_port" ] && break
  kill -0 "$server" 2>/dev/null || { cat "$run/server.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$sms_port" ] || { echo "the reference services did not start" >&2; exit 1; }
port=$(port_of data)
website_port=$(port_of website)
echo "data server on 127.0.0.1:$port, website on 127.0.0.1:$website_port," \
  "SMS gateway on 127.0.0.1:$sms_port (log: $run/server.log)"
echo "demo account: user $demo_user, password $demo_password (用户中心 → 登录)"
echo "verification codes of new registrations: http://127.0.0.1:$sms_port/outbox"
echo "folder of this run (accounts.db): $run"

printf '[data_server]\nhost=127.0.0.1\nport=%s\n[website]\nhost=127.0.0.1\nport=%s\naddress=http://127.0.0.1:%s/\n[sms_gateway]\nhost=127.0.0.1\nport=%s\n' \
  "$port" "$website_port" "$website_port" "$sms_port" >"$run/velmora.ini"
export VELMORA_CONFIG="$run/velmora.ini"
cd "$run"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$root/scripts/run-program.sh" "$root/build-release/app/velmora" "$@"
else
  xvfb-run -a -s "-screen 0 1600x900x24" \
    "$root/scripts/run-program.sh" "$root/build-release/app/velmora" "$@"
fi
