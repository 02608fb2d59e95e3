#!/usr/bin/env bash
# Runs the program given as $1 (with the rest as its arguments) and returns when neither it nor
# a program that replaced it runs any more: a self-update ends the program, and the updater
# from the same folder replaces it and starts the new one, which must find the services (and
# the display) still there. Only this run's processes count: the updater and the restarted
# program inherit a token of this run in their environment, so another copy of the same
# program running elsewhere is not waited for.
set -uo pipefail
program=$(readlink -f "$1")
shift
folder=$(dirname "$program")
export VELMORA_RUN_TOKEN="run-$$-$(date +%s%N)"
"$program" "$@"
status=$?

# Whether a process of this run is the program or the updater of that folder.
update_running() {
  local environment pid target
  for environment in /proc/[0-9]*/environ; do
    pid=${environment#/proc/}
    pid=${pid%/environ}
    target=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
    case "$target" in
      "$folder/velmora" | "$folder/velmora (deleted)" | "$folder/velmora-update") ;;
      *) continue ;;
    esac
    tr '\0' '\n' <"$environment" 2>/dev/null | grep -qx "VELMORA_RUN_TOKEN=$VELMORA_RUN_TOKEN" &&
      return 0
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
