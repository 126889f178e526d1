#!/usr/bin/env bash
# One component's retrieval by the launcher against a bare download plus a
# bare MD5 pass, for 256 MiB and 1 GiB served by nginx on 127.0.0.1: wall
# time, peak memory, and window messages per transfer. It reports; it is not
# a test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/prepare.sh" gather_bench

source "$root/scripts/wine-session.sh"
source "$root/scripts/test-servers.sh"
work="$build/bench-work"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work" "$TESSEL_WWW_ROOT"/payload-*; servers_stop; session_stop' EXIT INT TERM

folder=$(winepath -w "$work")
for mib in ${BENCH_SIZES_MIB:-256 1024}; do
  payload="$TESSEL_WWW_ROOT/payload-$mib.bin"
  dd if=/dev/urandom of="$payload" bs=1M count="$mib" status=none
  size=$(stat -c %s "$payload")
  md5=$(md5sum "$payload" | cut -d' ' -f1)
  url="http://127.0.0.1:$TESSEL_HTTP_PORT/payload-$mib.bin"
  # Warm the page cache and the server once.
  cat "$payload" >/dev/null
  read -r _ bare_ok bare_s bare_mb _ < <(wine "$build/bin/gather_bench.exe" bare "$url?bare" "$size" "$md5" "$folder" | tr -d '\r')
  read -r _ gather_ok gather_s gather_mb messages < <(wine "$build/bin/gather_bench.exe" gather "$url?gather" "$size" "$md5" "$folder" | tr -d '\r')
  awk -v mib="$mib" -v bs="$bare_s" -v gs="$gather_s" -v bm="$bare_mb" -v gm="$gather_mb" -v n="$messages" \
      -v bok="$bare_ok" -v gok="$gather_ok" 'BEGIN {
    printf "%d MiB: bare download + MD5 %.2f s (ok=%d), GatherComponents %.2f s (ok=%d): %.3fx\n", mib, bs, bok, gs, gok, gs / bs
    printf "%d MiB: peak working set: bare %.1f MB, GatherComponents %.1f MB; window messages in the transfer: %d\n", mib, bm, gm, n
  }'
  rm -f "$payload"
done
