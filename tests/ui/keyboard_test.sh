#!/usr/bin/env bash
# Drives the dialogs with real key presses through the X server, as a user
# would: Enter gives 113, Escape does nothing, Alt+F4 gives 0, and the radio
# buttons of the install-context dialog follow the arrow keys.
# Needs DISPLAY (the test runner's Xvfb) and the project's Wine prefix.
set -uo pipefail
bin=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0

# start STATE: runs the gallery in the background; sets $pid and $log.
start() {
  log="$out/$1-$RANDOM.txt"
  "$root/scripts/wine-run.sh" "$bin/ui_gallery.exe" "$1" 20000 >"$log" 2>/dev/null &
  pid=$!
  dialog=""
  for _ in $(seq 100); do
    # The dialog is the newest window of that name.
    dialog=$(xdotool search --onlyvisible --name '^Tessel Launcher$' 2>/dev/null | tail -n 1)
    [ -n "$dialog" ] && [ "$(xdotool search --onlyvisible --name '^Tessel Launcher$' | wc -l)" -ge 2 ] && break
    sleep 0.1
  done
  xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
  sleep 0.3
}

finish() { # expected lines...
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  sleep 0.5
  kill "$pid" 2>/dev/null
  for want in "$@"; do
    if ! tr -d '\r' <"$log" | grep -qx "$want"; then
      echo "FAIL: $case: expected \"$want\", got: $(tr -d '\r' <"$log" | tr '\n' '|')"
      status=1
      return
    fi
  done
  echo "ok: $case"
}

case="Enter presses the default button"
start question; xdotool key Return; finish "result 113"

case="Escape does nothing, then Enter"
start question; xdotool key Escape; sleep 0.5
if ! kill -0 "$pid" 2>/dev/null; then echo "FAIL: $case: Escape closed the dialog"; status=1; fi
xdotool key Return; finish "result 113"

case="Alt+F4 closes with 0"
start question; xdotool key alt+F4; finish "result 0"

case="arrow keys move the radio choice"
start context-machine; xdotool key Tab Tab; sleep 0.2; xdotool key Down; sleep 0.2; xdotool key Return
finish "choice 1" "result 113"

exit $status
