#!/usr/bin/env bash
# Two figures of the launcher's speed, each side run several times in
# alternation (A B A B ...), with the median and the range of the ratio. It
# reports; it is not a test, and fails only when a run ends without the
# right file.
#
# 1. Retrieval: one component of 256 MiB and one of 1 GiB, served by nginx on
#    127.0.0.1, fetched the way the launcher does (Component::GatherComponents
#    on a worker thread: download into a temporary file, rename, size and MD5
#    check, progress to a real window), against a bare URLDownloadToFileW of
#    the same file followed by the same size and MD5 check done plainly.
#    Also the peak working set of each side, and the window messages that
#    the transfer caused.
# 2. Check-only: a launcher whose client is installed and current, with
#    nothing to fetch, against a minimal program that creates, shows and
#    closes one window; both as whole processes under Wine.
#
# BENCH_SIZES_MIB="64 256" picks other sizes (an empty one runs only the
# check-only figure), BENCH_RUNS the runs per side (at least 5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/prepare.sh" gather_bench min_window E2ELauncherSetup e2e_client

source "$root/scripts/wine-session.sh"
source "$root/scripts/test-servers.sh"
# On the prefix's own drive: Wine shows Z:\ as a link, which a run with
# administrator rights (every run under Wine) does not write through.
work="$WINEPREFIX/drive_c/tessel-bench-work"
rm -rf "$work"
mkdir -p "$work"
client_key='HKCU\Software\Morrow Labs\Brix'
cleanup() {
  wine reg delete "$client_key" /f >/dev/null 2>&1 || true
  rm -rf "$work" "$TESSEL_WWW_ROOT"/payload-*
  servers_stop
  session_stop
}
trap cleanup EXIT INT TERM
runs=${BENCH_RUNS:-5}
[ "$runs" -ge 5 ] || runs=5
failed=0

# summary LABEL A-TIMES B-TIMES: the median of each side and the median,
# minimum and maximum of the pairwise ratios B/A.
summary() {
  python3 - "$@" <<'PY'
import statistics, sys
label, a, b = sys.argv[1], [float(x) for x in sys.argv[2].split()], [float(x) for x in sys.argv[3].split()]
ratios = [y / x for x, y in zip(a, b)]
print(f"{label}: {statistics.median(b):.3f} s against {statistics.median(a):.3f} s; "
      f"ratio median {statistics.median(ratios):.3f}x (min {min(ratios):.3f}x, max {max(ratios):.3f}x, {len(ratios)} pairs)")
PY
}

folder=$(winepath -w "$work")
for mib in ${BENCH_SIZES_MIB-256 1024}; do
  payload="$TESSEL_WWW_ROOT/payload-$mib.bin"
  dd if=/dev/urandom of="$payload" bs=1M count="$mib" status=none
  size=$(stat -c %s "$payload")
  md5=$(md5sum "$payload" | cut -d' ' -f1)
  url="http://127.0.0.1:$TESSEL_HTTP_PORT/payload-$mib.bin"
  cat "$payload" >/dev/null  # warm the page cache
  bare_times="" gather_times="" bare_peak=0 gather_peak=0 messages=0
  for run in $(seq "$runs"); do
    for side in bare gather; do
      read -r _ ok seconds peak count < <(wine "$build/bin/gather_bench.exe" "$side" "$url?$side$run" "$size" "$md5" \
        "$folder" | tr -d '\r')
      if [ "$ok" != 1 ]; then
        echo "$mib MiB: run $run of $side ended without the right file"
        failed=1
      fi
      if [ "$side" = bare ]; then
        bare_times+=" $seconds"
        bare_peak=$(awk -v a="$bare_peak" -v b="$peak" 'BEGIN { print (b > a) ? b : a }')
      else
        gather_times+=" $seconds"
        gather_peak=$(awk -v a="$gather_peak" -v b="$peak" 'BEGIN { print (b > a) ? b : a }')
        messages=$count
      fi
    done
  done
  summary "$mib MiB retrieval, launcher against bare" "$bare_times" "$gather_times"
  echo "$mib MiB peak working set: bare $bare_peak MB, launcher $gather_peak MB; window messages in one transfer: $messages"
  rm -f "$payload"
done

# The client installed and current, per user, as its setup leaves it.
install="$work/client"
mkdir -p "$install"
cp "$build/bin/e2e/VantorConnect.exe" "$install/"
wine reg add "$client_key" /v Path /t REG_SZ /d "$(winepath -w "$install")" /f >/dev/null 2>&1
elapsed() { # elapsed PROGRAM: seconds of one whole run
  local start end
  start=$(date +%s%N)
  wine "$1" </dev/null >/dev/null 2>&1 || true
  end=$(date +%s%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", (e - s) / 1e9 }'
}
elapsed "$build/bin/min_window.exe" >/dev/null  # warm both once
elapsed "$build/bin/E2ELauncherSetup.exe" >/dev/null
window_times="" launcher_times=""
for _ in $(seq "$runs"); do
  window_times+=" $(elapsed "$build/bin/min_window.exe")"
  launcher_times+=" $(elapsed "$build/bin/E2ELauncherSetup.exe")"
done
summary "Check-only run, launcher against one window" "$window_times" "$launcher_times"
exit $failed
