#!/usr/bin/env bash
# MD5 throughput of the launcher's integrity check against md5sum, on the
# same 256 MiB file with a warm cache. Not a test: it reports, it never fails
# on speed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/prepare.sh" md5_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/payload.bin"
dd if=/dev/urandom of="$file" bs=1M count="${BENCH_MIB:-256}" status=none
md5sum "$file" >/dev/null  # warm the cache

best_md5sum=999999
for _ in 1 2 3; do
  start=$(date +%s.%N)
  md5sum "$file" >/dev/null
  end=$(date +%s.%N)
  best_md5sum=$(awk -v s="$start" -v e="$end" -v b="$best_md5sum" 'BEGIN { t = e - s; print (t < b) ? t : b }')
done

source "$root/scripts/wine-session.sh"
read -r seconds rate < <(wine "$build/bin/md5_bench.exe" "$(winepath -w "$file")" 3 | tr -d '\r')

bytes=$(stat -c %s "$file")
awk -v s="$seconds" -v r="$rate" -v m="$best_md5sum" -v b="$bytes" 'BEGIN {
  printf "System::VerifyMd5 (64 KiB reads): %.3f s, %.1f MB/s\n", s, r
  printf "md5sum:                           %.3f s, %.1f MB/s\n", m, b / m / 1e6
  printf "ratio:                            %.2fx the time of md5sum\n", s / m
}'
