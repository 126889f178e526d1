#!/usr/bin/env bash
# The demo deployment, whole: the demo launcher downloads its components
# from nginx, checks them against the digests that the packager's tool wrote
# into its document, runs the setup program, which installs the real
# per-machine MSI package, verifies and starts the client. Checks the exit
# code, the log, the registry, the installed client and its command line;
# removes the install.
# Needs the test runner's Wine session (DISPLAY and the project's prefix).
set -uo pipefail
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
run="$root/scripts/wine-run.sh"
port=18741
products=("{9DC8599B-D6E7-4920-A7FD-81AF8860DD59}" "{0D064E8B-11D4-4A97-BCCB-50DC10D56CC7}")
dotnet='HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Full'
quiet() { "$run" "$@" </dev/null >/dev/null 2>&1; }

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "FAIL: 127.0.0.1:$port is taken"; exit 1
fi
prefix=$(mktemp -d)
source "$root/scripts/nginx.sh"
nginx_start "$port" "$build/demo-www" "$prefix"
cleanup() {
  for product in "${products[@]}"; do quiet msiexec /x "$product" /qn; done
  for view in 32 64; do quiet reg delete "$dotnet" /v Release /f "/reg:$view"; done
  kill -TERM "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done

for product in "${products[@]}"; do quiet msiexec /x "$product" /qn; done
quiet reg delete 'HKCU\Software\Morrow Labs\Brix' /f
# The demo does not serve the .NET Framework: its check is made to pass.
for view in 32 64; do quiet reg add "$dotnet" /v Release /t REG_DWORD /d 394270 /f "/reg:$view"; done

temp=$(winepath -u "$("$run" cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
rm -f "$temp/VantorConnect-commandline.txt"

"$run" "$build/bin/DemoLauncher.exe" /silent </dev/null >/dev/null 2>&1
code=$?
status=0
[ "$code" -eq 0 ] || { echo "FAIL: exit code $code (low 8 bits), expected 0"; status=1; }
registered=$("$run" reg query 'HKLM\Software\Morrow Labs\Brix' /v Path 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
case "$registered" in
  *'\Tessel\Client\') ;;
  *) echo "FAIL: HKLM Brix Path is \"$registered\""; status=1 ;;
esac
sleep 0.5
line=$(tr -d '\0\r' <"$temp/VantorConnect-commandline.txt" 2>/dev/null)
case "$line" in
  "\"${registered}VantorConnect.exe\" /l"*'\QvConfig.xml') ;;
  *) echo "FAIL: the client's command line is \"$line\""; status=1 ;;
esac
log=$(tr -d '\r' <"$temp/VantorLauncher.log")
for want in 'Deploy::ParseConfig - return: RESULT_PASSED' 'Component::CheckRequirements - PerMachineQvSetup, RESULT_FAILED' \
            'Component::CheckRequirements - PerMachineQvSetup, RESULT_PASSED' 'CondString::Evaluate - InstallerArgs, /exebasicui /qb' \
            "System::VerifySha256 - Generated Sha256 $(sha256sum "$build/demo-www/SetupEnterprise.exe" | cut -d' ' -f1)"; do
  grep -qxF "$want" <<<"$log" || { echo "FAIL: the log lacks \"$want\""; status=1; }
done
[ $status -eq 0 ] && echo "ok: the demo installed the per-machine package and started the client"
exit $status
