#!/usr/bin/env bash
# The set-up's package step against a stand-in apt-get: a registry caught
# mid-sync, an install that only the release's own suite resolves, and one
# that nothing resolves. Checks the lines it prints, its exit code and the
# apt-get calls it makes.
set -uo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/apt-install.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
suite=$( . /etc/os-release && echo "$VERSION_CODENAME")

mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$STANDIN/calls"
case "$1" in
  update)
    [ "$STANDIN_UPDATE" = ok ] && exit 0
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
    echo "   Release file created at: Mon, 07 Dec 2026 23:22:40 +0000"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  install)
    attempt=$(grep -c '^install' "$STANDIN/calls")
    read -ra results <<<"$STANDIN_INSTALL"
    if [ "${results[attempt - 1]}" = refused ]; then
      echo "E: Unable to correct problems, you have held broken packages."
      exit 100
    fi
    for a in "$@"; do case "$a" in install|-*|"$STANDIN_SUITE") ;; *) echo "$a" >>"$STANDIN/installed" ;; esac; done ;;
esac
EOF
cat >"$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
grep -qx "${!#}" "$STANDIN/installed" 2>/dev/null && printf 'install ok installed'
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

warning="setup: warning: apt could not fetch the index bookworm-security/main/binary-i386/Packages.xz (File has unexpected size (374820 != 376004). Mirror sync in progress?); going on with the indexes it has"
retry="setup: the packages could not be installed as they stand (Unable to correct problems, you have held broken packages.); trying once more with $suite, the release's own suite, as the target release"
install="install -y -qq --no-install-recommends wine32:i386 nginx-light"

status=0
# NAME | UPDATE | INSTALL RESULTS | EXIT | STDERR | CALLS
check() {
  local name=$1 update=$2 installs=$3 want_rc=$4 want_err=$5 want_calls=$6
  rm -f "$work/calls" "$work/installed"
  STANDIN="$work" STANDIN_UPDATE=$update STANDIN_INSTALL=$installs STANDIN_SUITE=$suite \
    PATH="$work/bin:$PATH" "$script" wine32:i386 nginx-light >/dev/null 2>"$work/err"
  local rc=$?
  local err calls
  err=$(cat "$work/err")
  calls=$(cat "$work/calls")
  if [ "$rc" != "$want_rc" ] || [ "$err" != "$want_err" ] || [ "$calls" != "$want_calls" ]; then
    printf 'FAIL: %s\n  exit %s, expected %s\n  stderr:\n%s\n  expected:\n%s\n  calls:\n%s\n  expected:\n%s\n' \
      "$name" "$rc" "$want_rc" "$err" "$want_err" "$calls" "$want_calls"
    status=1
  else
    echo "ok: $name"
  fi
}

check "an index caught mid-sync is a warning" midsync "ok" 0 \
  "$warning" \
  "update -qq
$install"
check "an install that cannot be resolved is tried once with the release's suite" ok "refused ok" 0 \
  "$retry" \
  "update -qq
$install
install -y -qq --no-install-recommends -t $suite wine32:i386 nginx-light"
check "when both installs are refused, the packages and the index are named" midsync "refused refused" 1 \
  "$warning
$retry
E: Unable to correct problems, you have held broken packages.
setup: these packages could not be installed: wine32:i386 nginx-light
setup: apt could not fetch the index bookworm-security/main/binary-i386/Packages.xz: the package registry is probably caught mid-sync. Wait for it to finish, then run this command again." \
  "update -qq
$install
install -y -qq --no-install-recommends -t $suite wine32:i386 nginx-light"
exit $status
