#!/usr/bin/env bash
# The packager's hash command as a packager runs it, checked against md5sum
# and the files' real sizes.
set -uo pipefail
bin=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1234567 /dev/urandom >"$work/setup.exe"
head -c 99 /dev/urandom >"$work/client.cab"
cat >"$work/in.xml" <<'XML'
<QvDeploy version="2"><Components>
<Component name="Setup" display="Setup" filename="setup.exe" size="0"/>
<Component name="Cab" display="Cab" filename="client.cab"/>
</Components></QvDeploy>
XML
windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
"$root/scripts/wine-run.sh" "$bin/VantorPack.exe" hash "$(windows "$work/in.xml")" "$(windows "$work")" -o "$(windows "$work/out.xml")"
code=$?
status=0
[ "$code" -eq 0 ] || { echo "FAIL: exit code $code"; status=1; }
for file in setup.exe client.cab; do
  want="filename=\"$file\" size=\"$(stat -c %s "$work/$file")\" md5=\"$(md5sum "$work/$file" | cut -d' ' -f1)\""
  grep -qF "$want" "$work/out.xml" || { echo "FAIL: $file: expected $want in: $(cat "$work/out.xml")"; status=1; }
done
"$root/scripts/wine-run.sh" "$bin/VantorPack.exe" hash "$(windows "$work/none.xml")" "$(windows "$work")" -o "$(windows "$work/o.xml")" 2>"$work/err"
code=$?
[ "$code" -eq 2 ] || { echo "FAIL: a missing document gave exit code $code"; status=1; }
grep -qF "VantorPack hash: cannot read" "$work/err" || { echo "FAIL: no message for a missing document"; status=1; }
[ ! -e "$work/o.xml" ] || { echo "FAIL: output left after a failure"; status=1; }
[ $status -eq 0 ] && echo "ok: sizes and digests match stat and md5sum"
exit $status
