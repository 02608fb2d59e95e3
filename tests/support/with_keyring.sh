#!/usr/bin/env bash
# Runs a command under a private session bus with an unlocked Secret Service keyring, in a
# throw-away home folder, so that tests never touch the user's own keyring.
set -euo pipefail
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run VELMORA_TEST_KEYRING=1
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
exec dbus-run-session -- bash -c '
  printf "velmora-test" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  exec "$@"' keyring "$@"
