#!/usr/bin/env bash
# The packager's tool as a packager runs it: validate, hash and stamp from
# the command line, with their output, exit codes and the files they leave.
# Sizes and digests are checked against stat, md5sum and sha256sum.
set -uo pipefail
bin=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
status=0
fail() { echo "FAIL: $*"; status=1; }
pack() { "$root/scripts/wine-run.sh" "$bin/VantorPack.exe" "$@" </dev/null >out 2>err; code=$?; tr -d '\r' <out >stdout; tr -d '\r' <err >stderr; }
expect() { # expect CODE STDOUT STDERR: exact texts
  [ "$code" -eq "$1" ] || fail "exit code $code, expected $1 (${FUNCNAME[1]:-}): $(cat stdout stderr)"
  [ "$(cat stdout)" = "$2" ] || fail "standard output: expected \"$2\", got \"$(cat stdout)\""
  [ "$(cat stderr)" = "$3" ] || fail "standard error: expected \"$3\", got \"$(cat stderr)\""
}

head -c 1234567 /dev/urandom >setup.exe
head -c 99 /dev/urandom >client.cab
cat >in.xml <<'XML'
<QvDeploy version="2">
<Conditions>
<Condition name="QvInstalled" type="reg" op="exists" path="HKCU\Software\T\Path"/>
<Condition name="InstallContextDlgShow" type="admin" value="0"/>
<Condition name="InstallContextDlgPerUserDefault" type="admin" value="0"/>
</Conditions>
<Components>
<Component name="Setup" display="Setup" check="QvInstalled" dest="[TempFolder]\S" filename="setup.exe" size="0">
<Location type="download" file="http://127.0.0.1/setup.exe"/>
</Component>
<Component name="Cab" display="Cab" check="QvInstalled" dest="[TempFolder]\S" filename="client.cab">
<Location type="download" file="http://127.0.0.1/client.cab"/>
</Component>
</Components>
<Installer name="Setup"/>
</QvDeploy>
XML

# Before hashing, the document lacks what hash fills in.
pack validate in.xml
expect 1 'in.xml:8: error: component "Setup": size "0" counts as no size
in.xml:8: warning: component "Setup" has no md5 and no signer; its file is not verified
in.xml:11: error: component "Cab" has no size
in.xml:11: warning: component "Cab" has no md5 and no signer; its file is not verified
in.xml: 2 errors, 2 warnings' ''

# Neither file is signed: random bytes are not even a form that can carry a signature.
pack hash in.xml . -o hashed.xml
expect 0 'component "Setup": no trusted signer: WinVerifyTrust failed (0x800B0003)
component "Cab": no trusted signer: WinVerifyTrust failed (0x800B0003)' ''
for file in setup.exe client.cab; do
  want="filename=\"$file\" size=\"$(stat -c %s "$file")\" md5=\"$(md5sum "$file" | cut -d' ' -f1)\" sha256=\"$(sha256sum "$file" | cut -d' ' -f1)\""
  grep -qF "$want" hashed.xml || fail "$file: expected $want in: $(cat hashed.xml)"
done
pack validate hashed.xml
expect 0 'hashed.xml: 0 errors, 0 warnings' ''

echo '<Client/>' >client.xml
pack stamp "$bin/VantorLauncher.exe" hashed.xml client.xml -o Stamped.exe
expect 0 '' ''
[ -s Stamped.exe ] || fail "no stamped launcher"
cmp -s "$bin/VantorLauncher.exe" Stamped.exe && fail "the stamped launcher is the prebuilt one"

# The documents that the project ships and demonstrates have no errors; the
# shipped one gives no digests.
cp "$bin/../resources/deployment.xml" shipped.xml
pack validate shipped.xml
[ "$code" -eq 0 ] && [ "$(tail -n 1 stdout)" = "shipped.xml: 0 errors, 7 warnings" ] ||
  fail "the shipped document: $(cat stdout stderr)"
cp "$bin/../demo/deployment.xml" demo.xml
pack validate demo.xml
expect 0 'demo.xml: 0 errors, 0 warnings' ''

# Refusals leave nothing behind.
pack stamp "$bin/VantorLauncher.exe" in.xml -o Refused.exe
expect 1 "$(head -n 4 <<'TEXT'
in.xml:8: error: component "Setup": size "0" counts as no size
in.xml:8: warning: component "Setup" has no md5 and no signer; its file is not verified
in.xml:11: error: component "Cab" has no size
in.xml:11: warning: component "Cab" has no md5 and no signer; its file is not verified
TEXT
)" 'VantorPack stamp: in.xml has 2 errors; nothing was stamped'
pack stamp client.xml hashed.xml -o Refused.exe
expect 1 '' 'VantorPack stamp: client.xml is not a 32-bit Windows program'
pack stamp "$bin/VantorLauncher.exe" hashed.xml -o missing/Refused.exe
expect 1 '' 'VantorPack stamp: cannot write missing/Refused.exe'
printf 'not xml' >bad.xml
pack validate bad.xml
expect 2 '' 'VantorPack validate: bad.xml: not an XML document: Error document empty.'
pack hash none.xml . -o o.xml
expect 2 '' 'VantorPack hash: cannot read none.xml'
# A ".local" beside the tool: it does not run.
cp "$bin/VantorPack.exe" Local.exe && mkdir Local.exe.local
"$root/scripts/wine-run.sh" ./Local.exe validate in.xml </dev/null >out 2>err; code=$?
tr -d '\r' <out >stdout; tr -d '\r' <err >stderr
expect 3 '' "VantorPack: $(winepath -w "$work")\\Local.exe.local is beside the tool, and Windows could load DLLs from it: it does not run"
rm -rf Local.exe Local.exe.local
pack frobnicate
[ "$code" -eq 2 ] && grep -q "usage: VantorPack validate DOC.xml" stderr || fail "no usage for an unknown command"
leftover=$(ls | grep -v -x -e setup.exe -e client.cab -e in.xml -e hashed.xml -e client.xml -e Stamped.exe \
  -e bad.xml -e shipped.xml -e demo.xml -e out -e err -e stdout -e stderr)
[ -z "$leftover" ] || fail "files left behind: $leftover"
[ $status -eq 0 ] && echo "ok: validate, hash and stamp from the command line"
exit $status
