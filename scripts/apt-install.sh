#!/usr/bin/env bash
# Refreshes apt's indexes and installs the Debian packages given, for the
# set-up. With no package given it only refreshes the indexes.
#
# A package registry caught mid-sync serves an index that does not match its
# Release file; apt refuses that index and keeps the ones it has. That is a
# warning here, one line for each index, and the set-up goes on: it fails only
# when a package it needs cannot be installed.
#
# Such a missing index can leave one architecture with only the release's own
# packages while the other has its updates, and a Multi-Arch: same library
# must have the same version on both (wine32 needs the i386 twins of amd64
# libraries). So an install that fails is tried once more with the release's
# own suite as the target release. That never downgrades: apt gives a target
# release priority 990, below the 1000 that a downgrade needs, and -y without
# --allow-downgrades refuses one in any case. apt's sources, signatures and
# hash checks are left as they are.
#
# Usage: apt-install.sh [PACKAGE...]
# Exits 0 when every package given is installed; otherwise names the packages
# and any index that failed, says what to do, and exits 1.
set -uo pipefail

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# apt's lines are "E: Failed to fetch URL  REASON [IP: ADDRESS PORT]"; the
# index is named by its path under dists/, as the registry names it.
failed=()
if ! "${sudo[@]}" apt-get update -qq >"$out" 2>&1; then
  while IFS= read -r line; do
    case "$line" in
      "E: Failed to fetch "*)
        rest=${line#E: Failed to fetch }
        url=${rest%%  *}
        reason=${rest#"$url"}
        reason=${reason#  }
        reason=${reason% \[IP: *\]}
        index=${url#*/dists/}
        failed+=("$index")
        echo "setup: warning: apt could not fetch the index $index${reason:+ ($reason)}; going on with the indexes it has" >&2
        ;;
      "E: Some index files failed to download."*) ;;
      [EW]:*) echo "setup: warning: apt-get update: $line" >&2 ;;
    esac
  done <"$out"
  if [ ${#failed[@]} -eq 0 ]; then
    echo "setup: warning: apt-get update failed; going on with the indexes apt has" >&2
  fi
else
  cat "$out" >&2
fi

[ $# -eq 0 ] && exit 0

install() {
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "$@" >"$out" 2>&1
}

# apt's notes (debconf's "delaying package configuration", for one) are shown
# only when the installation fails.
install "$@" && exit 0

suite=$( . /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
if [ -n "$suite" ]; then
  error=$(grep -m1 '^E: ' "$out")
  error=${error#E: }
  echo "setup: the packages could not be installed as they stand${error:+ ($error)};" \
       "trying once more with $suite, the release's own suite, as the target release" >&2
  install -t "$suite" "$@" && exit 0
fi

cat "$out" >&2
left=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || left+=("$p")
done
echo "setup: these packages could not be installed: ${left[*]:-$*}" >&2
if [ ${#failed[@]} -gt 0 ]; then
  indexes=$(IFS=,; echo "${failed[*]}")
  echo "setup: apt could not fetch the index ${indexes//,/, }: the package registry is probably caught mid-sync." \
       "Wait for it to finish, then run this command again." >&2
else
  echo "setup: apt's own account is above. Once it is mended, run this command again." >&2
fi
exit 1
