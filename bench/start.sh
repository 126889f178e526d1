#!/usr/bin/env bash
# The everyday cost of the launcher: the time from the moment a program is
# started to the first instruction of the client, with the client installed
# and current, through the launcher and started directly. A starter
# (bench/starter.c) records the moment before its CreateProcessW; the
# stand-in client (tests/fixtures/cmdline_probe.c, as VantorConnect.exe)
# records the moment its first instruction runs. The two sides run in
# alternation, BENCH_RUNS pairs (21 by default, at least 5), and for each
# side the median and the 90th percentile are printed, with their ratios. It
# reports; it is not a test, and fails only when a run starts no client.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/prepare.sh" starter E2ELauncherSetup e2e_client

source "$root/scripts/wine-session.sh"
work="$build/bench-start"
rm -rf "$work"
mkdir -p "$work/client"
client_key='HKCU\Software\Morrow Labs\Brix'
cleanup() {
  wine reg delete "$client_key" /f >/dev/null 2>&1 || true
  rm -rf "$work"
  session_stop
}
trap cleanup EXIT INT TERM
runs=${BENCH_RUNS:-21}
[ "$runs" -ge 5 ] || runs=5

# The client installed and current, per user, as its setup leaves it.
cp "$build/bin/e2e/VantorConnect.exe" "$work/client/"
wine reg add "$client_key" /v Path /t REG_SZ /d "$(winepath -w "$work/client")" /f >/dev/null 2>&1
export TESSEL_FIRST_OUT
TESSEL_FIRST_OUT=$(winepath -w "$work/first.txt")
export TESSEL_CMDLINE_OUT
TESSEL_CMDLINE_OUT=$(winepath -w "$work/commandline.txt")
launcher=$(winepath -w "$build/bin/E2ELauncherSetup.exe")
client=$(winepath -w "$work/client/VantorConnect.exe")

# once COMMAND: milliseconds from the start to the client's first instruction.
once() {
  rm -f "$work/first.txt"
  local started
  started=$(wine "$build/bin/starter.exe" "$1" </dev/null 2>/dev/null | tr -d '\r')
  # The launcher does not wait for the client: give it a moment to write.
  for _ in $(seq 200); do [ -s "$work/first.txt" ] && break; sleep 0.01; done
  if [ ! -s "$work/first.txt" ]; then
    echo "no client started by: $1" >&2
    return 1
  fi
  awk -v s="$started" -v c="$(tr -d '\r\n' <"$work/first.txt")" 'BEGIN { printf "%.2f", (c - s) / 10000 }'
}

once "\"$client\"" >/dev/null  # warm both once
once "\"$launcher\"" >/dev/null
direct_times="" launcher_times=""
for _ in $(seq "$runs"); do
  direct_times+=" $(once "\"$client\"")"
  launcher_times+=" $(once "\"$launcher\"")"
done
python3 - "$direct_times" "$launcher_times" <<'PY'
import statistics, sys
direct, launcher = ([float(x) for x in side.split()] for side in sys.argv[1:3])
def p90(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, round(0.9 * (len(ordered) - 1)))]
for name, values in (("Through the launcher", launcher), ("The client, directly", direct)):
    print(f"{name}: median {statistics.median(values):.1f} ms, 90th percentile {p90(values):.1f} ms "
          f"(range {min(values):.1f}-{max(values):.1f} ms, {len(values)} runs)")
print(f"Ratio: median {statistics.median(launcher) / statistics.median(direct):.2f}x, "
      f"90th percentile {p90(launcher) / p90(direct):.2f}x")
PY
