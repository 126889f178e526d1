#!/usr/bin/env bash
# Sets up the machine when needed, builds the launcher, and runs it under
# Wine with the given arguments (for example /silent). Prints its exit code
# and the log it wrote, if any.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target VantorLauncher

source "$root/scripts/wine-session.sh"
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
log="$temp/VantorLauncher.log"
before=$(stat -c %Y "$log" 2>/dev/null || echo none)

set +e
wine "$build/bin/VantorLauncher.exe" "$@"
code=$?
set -e
echo "VantorLauncher.exe exited with code $code"
if [ -f "$log" ] && [ "$(stat -c %Y "$log")" != "$before" ]; then
  echo "--- $log"
  cat "$log"
else
  echo "(no log written by this run)"
fi
exit $code
