#!/usr/bin/env bash
# A whole run answered by a user: the real launcher under Wine asks whether
# to install, and the answer is a real key press (Enter) through the X
# server. The client must then be installed and launched, with exit code 0.
# Needs DISPLAY (the test runner's Xvfb) and the project's Wine prefix.
set -uo pipefail
bin=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
run="$root/scripts/wine-run.sh"
work=$(mktemp -d)
cleanup() {
  "$run" reg delete 'HKCU\Software\Morrow Labs\Brix' /f >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
"$run" reg delete 'HKCU\Software\Morrow Labs\Brix' /f >/dev/null 2>&1
mkdir -p "$work/temp"

windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
temp=$(windows "$work/temp")
install="$temp\\Installed Client"
launcher=$(windows "$bin/E2ELauncherSetup.exe")

# cmd sets the environment of the launcher: Wine takes TMP and TEMP from the
# prefix's registry, not from the Unix environment.
"$run" cmd /c "set TMP=$temp&& set TEMP=$temp&& set TESSEL_FAKE_INSTALL_DIR=$install&& set TESSEL_CMDLINE_OUT=$temp\\client.txt&& $launcher" \
  >/dev/null 2>&1 &
pid=$!

found=""
for _ in $(seq 150); do
  if [ "$(xdotool search --onlyvisible --name '^Tessel Launcher$' 2>/dev/null | wc -l)" -ge 2 ]; then found=yes; break; fi
  sleep 0.1
done
if [ -z "$found" ]; then echo "FAIL: the question did not appear"; kill "$pid"; exit 1; fi
dialog=$(xdotool search --onlyvisible --name '^Tessel Launcher$' | tail -n 1)
xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
sleep 0.3
xdotool key Return

for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid"
code=$?
status=0
[ "$code" -eq 0 ] || { echo "FAIL: exit code $code, expected 0"; status=1; }
registered=$("$run" reg query 'HKCU\Software\Morrow Labs\Brix' /v Path 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
[ "$registered" = "$install" ] || { echo "FAIL: registered folder \"$registered\", expected \"$install\""; status=1; }
sleep 0.5
[ -s "$work/temp/client.txt" ] || { echo "FAIL: the client was not launched"; status=1; }
grep -qx 'Component::CheckRequirements - Client, RESULT_PASSED' <(tr -d '\r' <"$work/temp/VantorLauncher.log") ||
  { echo "FAIL: the log shows no passed verification"; status=1; }
[ $status -eq 0 ] && echo "ok: answered Yes with Enter; installed and launched"
exit $status
