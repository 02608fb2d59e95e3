#!/usr/bin/env bash
# Runs the program given as $1 (with the rest as its arguments) and returns when neither it nor
# a program that replaced it runs any more: a self-update ends the program, and the updater
# from the same folder replaces it and starts the new one, which must find the services (and
# the display) still there.
set -uo pipefail
program=$(readlink -f "$1")
shift
folder=$(dirname "$program")
"$program" "$@"
status=$?

# Whether a process of this user runs the program or the updater of that folder.
update_running() {
  local exe target
  for exe in /proc/[0-9]*/exe; do
    target=$(readlink "$exe" 2>/dev/null) || continue
    case "$target" in
      "$folder/velmora" | "$folder/velmora (deleted)" | "$folder/velmora-update") return 0 ;;
    esac
  done
  return 1
}
# The updater starts within moments of the program's end.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  update_running && break
  sleep 0.2
done
while update_running; do
  sleep 1
done
exit "$status"
