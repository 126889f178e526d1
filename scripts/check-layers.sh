#!/usr/bin/env bash
# Checks that no folder includes a header of a folder above it:
# app -> ui -> deploy -> components, conditions, config -> system -> log.
set -uo pipefail
cd "$(dirname "$0")/.."
declare -A level=([app]=6 [ui]=5 [deploy]=4 [components]=3 [conditions]=3 [config]=3 [system]=2 [log]=1)
status=0
for folder in "${!level[@]}"; do
  while IFS=: read -r file include; do
    target=${include#*\"}
    target=${target%%/*}
    if [ -n "${level[$target]:-}" ] && [ "${level[$target]}" -gt "${level[$folder]}" ]; then
      echo "FAIL: $file includes ${include#*#include }, from a folder above it"
      status=1
    fi
  done < <(grep -H '^#include "' "$folder"/*.h "$folder"/*.cpp 2>/dev/null)
done
[ $status -eq 0 ] && echo "ok: no folder includes one above it"
exit $status
