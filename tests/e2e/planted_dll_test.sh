#!/usr/bin/env bash
# No DLL is taken from the program's folder. A DLL that leaves a marker when
# it is loaded is put beside copies of the launcher and of the packager's
# tool, under the name of each DLL that their runs load and that is not a
# KnownDLL, and Wine is told to prefer a DLL found there (NAME=n,b), as
# Windows does. A whole run of the launcher (download, size and MD5 check,
# the install question answered with Enter, the setup program, the client
# started) and the packager's validate and hash must then load none of them,
# and end exactly as they do with nothing planted: same log, output and exit
# code. Needs the test runner's Wine session, DISPLAY and nginx.
set -uo pipefail
bin=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
run="$root/scripts/wine-run.sh"
: "${TESSEL_HTTP_PORT:?needs the test servers of scripts/test.sh}" "${TESSEL_WWW_ROOT:?}"

# What a run loads besides the KnownDLLs, as Wine 8 reports it (+loaddll).
# uxtheme.dll is loaded by comctl32's start-up, which the programs put off
# until their DLL search is confined. Left out are version.dll, which Wine's
# own user32 imports and so loads from the program's folder when told to,
# before the program runs; and msimg32.dll, which Wine's uxtheme delay-loads
# by a search that ignores the program's DLL directories. Windows does
# neither. scripts/check-exe.sh checks that the launcher binds none of its
# planting-prone DLLs, comctl32 and version.dll among them, at its start.
planted=(bcrypt cabinet comctl32 crypt32 dbghelp mpr msi msisip mspatcha odbccp32 rsaenh sxs urlmon uxtheme
         wininet wintrust)
overrides="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
for name in "${planted[@]}"; do overrides+=";$name=n,b"; done
export WINEDLLOVERRIDES="$overrides"

work=$(mktemp -d)
payload="$TESSEL_WWW_ROOT/planted-dll"
cleanup() {
  "$run" reg delete 'HKCU\Software\Morrow Labs\Brix' /f >/dev/null 2>&1
  rm -rf "$work" "$payload"
}
trap cleanup EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
plant() { for name in "${planted[@]}"; do cp "$bin/fixtures/planted_dll.dll" "$1/$name.dll"; done; }
markers() { (cd "$1" && ls -- *.loaded 2>/dev/null | tr '\n' ' '); }
windows() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

mkdir -p "$work/pack" "$work/app" "$work/temp" "$payload"
cp "$bin/e2e/SetupStandard.exe" "$bin/e2e/VantorConnect.exe" "$payload/"
# Not a program: hash's signature check then asks every signature format
# provider, msisip among them, whether the file is theirs.
head -c 4096 /dev/urandom >"$payload/client.cab"
# The setup program is downloaded and checked by its MD5; a product code
# that nothing has is asked of Windows Installer before the client's version.
cat >"$work/deployment.xml" <<XML
<QvDeploy version="2">
  <PackageVersion value="11.4.8.18902"/>
  <Flags silent="false" silentinstaller="true" showinstallcontext="false" skiplaunch="false"/>
  <Conditions>
    <Condition name="SilentInstaller" type="flag" value="silentinstaller"/>
    <Condition name="OldProduct" type="prod" value="{6F0E8D7A-2C1B-4E55-9A3D-0B7C4E2F9A11}"/>
    <Condition name="Current" type="qv" op="gteq" path="HKCU\Software\Morrow Labs\Brix\Path"/>
    <Condition name="QvInstalled" type="or" value="OldProduct, Current"/>
  </Conditions>
  <Components>
    <Component name="Client" display="Tessel Client" check="QvInstalled" dest="[TempFolder]\Standard" filename="VantorConnect.exe" requiresadmin="false">
      <Location type="download" file="http://127.0.0.1:$TESSEL_HTTP_PORT/planted-dll/VantorConnect.exe"/>
    </Component>
    <Component name="Cab" display="Tessel Client" check="QvInstalled" dest="[TempFolder]\Standard" filename="client.cab" requiresadmin="false">
      <Location type="download" file="http://127.0.0.1:$TESSEL_HTTP_PORT/planted-dll/client.cab"/>
    </Component>
    <Component name="Setup" display="Tessel Installer" check="QvInstalled" dest="[TempFolder]\Standard" filename="SetupStandard.exe" requiresadmin="false">
      <Location type="download" file="http://127.0.0.1:$TESSEL_HTTP_PORT/planted-dll/SetupStandard.exe"/>
    </Component>
  </Components>
  <Strings>
    <String name="InstallerArgs" check="SilentInstaller" passstring="/exebasicui /qb" failstring="/exefullui"/>
  </Strings>
  <Installer name="Setup" args="\$InstallerArgs"/>
  <LaunchQV min="5.1.0" reg="HKCU\Software\Morrow Labs\Brix\Path" config="[TempFolder]\QvConfig.xml"/>
</QvDeploy>
XML

# The packager's tool: with the DLLs planted beside a copy of it, its output,
# exit code and document are those of the tool with nothing planted.
pack() { # pack NAME PROGRAM ARGS...: output in $work/pack-NAME
  local name=$1 program=$2
  shift 2
  (cd "$work" && "$run" "$program" "$@" </dev/null >"pack-$name" 2>&1)
  echo "exit code $?" >>"$work/pack-$name"
}
cp "$bin/VantorPack.exe" "$work/pack/"
plant "$work/pack"
pack validate-clean "$bin/VantorPack.exe" validate deployment.xml
pack validate-planted "$work/pack/VantorPack.exe" validate deployment.xml
pack hash-clean "$bin/VantorPack.exe" hash deployment.xml "$payload" -o clean.xml
pack hash-planted "$work/pack/VantorPack.exe" hash deployment.xml "$payload" -o hashed.xml
for command in validate hash; do
  cmp -s "$work/pack-$command-clean" "$work/pack-$command-planted" ||
    fail "VantorPack $command with DLLs planted: $(cat "$work/pack-$command-planted"), expected: $(cat "$work/pack-$command-clean")"
done
cmp -s "$work/clean.xml" "$work/hashed.xml" || fail "VantorPack hash wrote another document with DLLs planted"
found=$(markers "$work/pack")
[ -z "$found" ] || fail "VantorPack loaded the planted $found"

"$run" "$bin/VantorPack.exe" stamp "$bin/VantorLauncher.exe" "$work/clean.xml" -o "$work/app/VantorLauncher.exe" \
  </dev/null >"$work/stamp.out" 2>&1 || fail "stamp: $(cat "$work/stamp.out")"

# One run of the launcher, answered with Enter; the log, exit code and the
# client's command line land in $work/run-NAME.
launch() {
  local name=$1 temp install
  "$run" reg delete 'HKCU\Software\Morrow Labs\Brix' /f >/dev/null 2>&1
  rm -rf "$work/temp" && mkdir "$work/temp"
  temp=$(windows "$work/temp")
  install="$temp\\Installed Client"
  # cmd sets the environment: Wine takes TMP and TEMP from the prefix's
  # registry, not from the Unix environment. The launcher's folder is the
  # current folder too.
  (cd "$work/app" && "$run" cmd /c "set TMP=$temp&& set TEMP=$temp&& set TESSEL_FAKE_INSTALL_DIR=$install&& set TESSEL_CMDLINE_OUT=$temp\\client.txt&& VantorLauncher.exe" \
    </dev/null >/dev/null 2>&1) &
  local pid=$! found=""
  for _ in $(seq 150); do
    if [ "$(xdotool search --onlyvisible --name '^Tessel Launcher$' 2>/dev/null | wc -l)" -ge 2 ]; then found=yes; break; fi
    sleep 0.1
  done
  if [ -n "$found" ]; then
    dialog=$(xdotool search --onlyvisible --name '^Tessel Launcher$' | tail -n 1)
    xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
    sleep 0.3
    xdotool key Return
  else
    fail "$name: the question did not appear"
  fi
  for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    # A planted DLL that was loaded can leave the launcher, or Wine's
    # debugger, waiting for ever.
    fail "$name: the launcher did not end"
    "$run" taskkill /f /im VantorLauncher.exe >/dev/null 2>&1
    "$run" taskkill /f /im winedbg.exe >/dev/null 2>&1
  fi
  wait "$pid"
  echo "exit code $?" >"$work/run-$name"
  sleep 0.5
  [ -s "$work/temp/client.txt" ] || echo "the client was not launched" >>"$work/run-$name"
  # The configuration's folder has a new random name in each run.
  tr -d '\r' <"$work/temp/VantorLauncher.log" | sed 's/\\QV[0-9A-F]\{8\}\\/\\QV########\\/g' >>"$work/run-$name"
}
launch clean
plant "$work/app"
launch planted
grep -qx 'exit code 0' "$work/run-clean" || fail "the run with nothing planted: $(head -n 3 "$work/run-clean")"
found=$(markers "$work/app")
[ -z "$found" ] || fail "the launcher loaded the planted $found"
diff "$work/run-clean" "$work/run-planted" >"$work/diff" ||
  fail "the run with DLLs planted differs from the one without:"$'\n'"$(cat "$work/diff")"
[ $status -eq 0 ] && echo "ok: ${#planted[@]} DLLs planted beside the launcher and the packager's tool; none loaded"
exit $status
