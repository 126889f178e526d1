#!/usr/bin/env bash
# The demo: sets up the machine when needed, builds the demo launcher
# (DemoLauncher.exe, with the deployment of demo/), serves its components
# from nginx on 127.0.0.1:$DEMO_PORT (18741 by default), and runs it under
# Wine in the project's prefix. The launcher downloads and checks the
# components, runs the setup program, which installs a real MSI package, and
# starts the client. At the end it prints the launcher's log of this run, its
# exit code, the client's registry values and the client's command line.
#
#   scripts/run.sh [switches]     extra arguments go to the launcher
#
# Without KEEP_DISPLAY=1 and a DISPLAY, the launcher runs on an Xvfb screen
# with /silent, and a screenshot is taken every half second into
# build/demo-screenshots/. With them, it runs on your display and asks its
# questions.
#
# Each run first removes a previous demo install, so that it shows the whole
# installation. DEMO_KEEP=1 keeps it, and the launcher then finds the client
# installed and current and only starts it. DEMO_UPGRADE=1 puts the older
# client (5.2.0.100) in place first, and the launcher upgrades it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
port="${DEMO_PORT:-18741}"

# The demo packages' product codes (demo/msi/*.wxs).
demo_products=("{9DC8599B-D6E7-4920-A7FD-81AF8860DD59}" "{0D064E8B-11D4-4A97-BCCB-50DC10D56CC7}")
dotnet_root='HKLM\SOFTWARE\Microsoft\NET Framework Setup'
dotnet_key="$dotnet_root\\NDP\\v4\\Full"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DDEMO_PORT="$port" >/dev/null
cmake --build "$build" --target DemoLauncher

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "run.sh: something already listens on 127.0.0.1:$port; set DEMO_PORT to another port" >&2
  exit 1
fi

source "$root/scripts/wine-session.sh"

demo_nginx=""
demo_dotnet_added=()
demo_shots=""
demo_stop() {
  [ -n "$demo_shots" ] && kill "$demo_shots" 2>/dev/null || true
  if [ -n "$demo_nginx" ]; then
    kill -TERM "$demo_nginx" 2>/dev/null || true
    wait "$demo_nginx" 2>/dev/null || true
  fi
  local added
  for added in "${demo_dotnet_added[@]}"; do
    case $added in
      key:*) wine reg delete "$dotnet_root" /f "/reg:${added#key:}" ;;
      value:*) wine reg delete "$dotnet_key" /v Release /f "/reg:${added#value:}" ;;
    esac </dev/null >/dev/null 2>&1 || true
  done
  demo_nginx=""
  demo_shots=""
  demo_dotnet_added=()
}
trap 'demo_stop; session_stop' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# nginx, with the tests' configuration, serving build/demo-www.
www="$build/demo-www"
nginx_prefix="$build/demo-nginx"
rm -rf "$nginx_prefix"
mkdir -p "$nginx_prefix"
source "$root/scripts/nginx.sh"
nginx_start "$port" "$www" "$nginx_prefix"
demo_nginx=$nginx_pid
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  if ! kill -0 "$demo_nginx" 2>/dev/null; then
    echo "run.sh: nginx exited at start:" >&2
    cat "$nginx_prefix/nginx.out" "$nginx_prefix/error.log" >&2 2>/dev/null || true
    exit 1
  fi
  sleep 0.05
done

wine_quiet() { wine "$@" </dev/null >/dev/null 2>&1; }

# The deployment checks for .NET Framework 4.6.1 or later, which a Wine prefix
# lacks and which the demo does not serve: say that it is there, in both
# registry views, and take it away again at the end.
for view in 32 64; do
  if ! wine reg query "$dotnet_root" "/reg:$view" </dev/null >/dev/null 2>&1; then
    demo_dotnet_added+=("key:$view")
  elif ! wine reg query "$dotnet_key" /v Release "/reg:$view" </dev/null >/dev/null 2>&1; then
    demo_dotnet_added+=("value:$view")
  else
    continue
  fi
  wine_quiet reg add "$dotnet_key" /v Release /t REG_DWORD /d 394270 /f "/reg:$view"
done

temp=$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
log="$temp/VantorLauncher.log"
cmdline="$temp/VantorConnect-commandline.txt"
rm -f "$cmdline"
log_before=$(stat -c '%y %s' "$log" 2>/dev/null || echo none)

if [ "${DEMO_KEEP:-0}" != 1 ]; then
  for product in "${demo_products[@]}"; do wine_quiet msiexec /x "$product" /qn || true; done
  wine_quiet reg delete 'HKCU\Software\Morrow Labs\Brix' /f || true
fi
if [ "${DEMO_UPGRADE:-0}" = 1 ]; then
  local_app=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% </dev/null 2>/dev/null | tr -d '\r')" 2>/dev/null)
  mkdir -p "$local_app/Tessel/Client"
  cp "$build/demo/client-5.2.0.100/VantorConnect.exe" "$local_app/Tessel/Client/"
  wine_quiet reg add 'HKCU\Software\Morrow Labs\Brix' /v Path /t REG_SZ \
    /d "$(winepath -w "$local_app/Tessel/Client")\\" /f
  echo "Put the older client, 5.2.0.100, in place."
fi

args=("$@")
interactive=0
if [ "${KEEP_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then interactive=1; fi
shots="$build/demo-screenshots"
if [ "$interactive" = 0 ]; then
  args=(/silent "${args[@]}")
  rm -rf "$shots"
  mkdir -p "$shots"
fi

echo "Running DemoLauncher.exe ${args[*]}"
set +e
wine "$build/bin/DemoLauncher.exe" "${args[@]}" </dev/null &
launcher=$!
if [ "$interactive" = 0 ]; then
  (
    n=0
    while kill -0 "$launcher" 2>/dev/null; do
      import -window root "$shots/$(printf '%04d' "$n").png" >/dev/null 2>&1
      n=$((n + 1))
      sleep 0.5
    done
  ) &
  demo_shots=$!
fi
wait "$launcher"
code=$?
if [ -n "$demo_shots" ]; then wait "$demo_shots" 2>/dev/null; demo_shots=""; fi
set -e

echo
echo "--- the launcher's log of this run ($log)"
# The launcher writes its log afresh each time it runs.
if [ -f "$log" ] && [ "$(stat -c '%y %s' "$log")" != "$log_before" ]; then
  tr -d '\r' <"$log"
else
  echo "(no log written by this run)"
fi
echo
# The shell sees only the low 8 bits of a Windows exit code.
case "$code" in
  66) code="1602 (the user declined or cancelled)" ;;
  67) code="1603 (an error was reported)" ;;
esac
echo "--- exit code: $code"
echo
echo "--- the client's registry values"
for hive in HKCU HKLM; do
  if values=$(wine reg query "$hive\\Software\\Morrow Labs\\Brix" </dev/null 2>/dev/null); then
    printf '%s\n' "$values" | tr -d '\r' | grep -v '^$'
  else
    echo "$hive\\Software\\Morrow Labs\\Brix: (none)"
  fi
done
echo
echo "--- the client's command line ($cmdline)"
if [ -f "$cmdline" ]; then
  iconv -f UTF-16LE -t UTF-8 "$cmdline"
  echo
else
  echo "(the client was not started)"
fi
if [ "$interactive" = 0 ]; then
  echo
  echo "--- $(ls "$shots" | wc -l) screenshots in $shots"
fi
exit $code
