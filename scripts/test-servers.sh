# Sourced by scripts/test.sh after wine-session.sh: the servers of the
# download tests, all on 127.0.0.1 at free ports, all stopped on exit.
#   nginx         well-behaved; serves $TESSEL_WWW_ROOT at /, and the same
#                 files throttled under /slow/ (256 KiB/s) and /fast16m/
#   fault_server  tests/servers/fault_server.py, which misbehaves on purpose
#   tinyproxy     an open HTTP proxy, whose log is $TESSEL_PROXY_LOG, and one
#                 that asks for a login (BasicAuth: every request gets 407)
#   fault_server  over TLS, three times, for https://localhost:PORT/: with a
#                 certificate for localhost from a CA that the Wine prefix
#                 trusts, with one for localhost signed by itself, and with
#                 one for other.invalid from the trusted CA
# Exports TESSEL_HTTP_PORT, TESSEL_FAULT_PORT, TESSEL_PROXY_PORT,
# TESSEL_AUTH_PROXY_PORT, TESSEL_TLS_PORT, TESSEL_TLS_SELF_PORT,
# TESSEL_TLS_OTHER_PORT, and TESSEL_WWW_ROOT and TESSEL_PROXY_LOG (Unix
# paths; Wine passes them through, and the tests see them under Z:).
root=${root:?}
build=${build:?}

servers_pids=""
servers_stop() {
  # TERM is nginx's fast shutdown; QUIT would wait for open connections.
  local pid
  for pid in $servers_pids; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in $servers_pids; do wait "$pid" 2>/dev/null || true; done
  servers_pids=""
}
trap 'servers_stop; session_stop' EXIT INT TERM

# Distinct free ports: every socket is held until all are known.
read -r TESSEL_HTTP_PORT TESSEL_FAULT_PORT TESSEL_PROXY_PORT TESSEL_AUTH_PROXY_PORT \
  TESSEL_TLS_PORT TESSEL_TLS_SELF_PORT TESSEL_TLS_OTHER_PORT < <(python3 -c '
import socket
held = [socket.socket() for _ in range(7)]
for s in held: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in held))
')
TESSEL_WWW_ROOT="$build/test-www"
servers_prefix="$build/test-nginx"
TESSEL_PROXY_LOG="$servers_prefix/proxy.log"
export TESSEL_HTTP_PORT TESSEL_FAULT_PORT TESSEL_PROXY_PORT TESSEL_AUTH_PROXY_PORT TESSEL_TLS_PORT \
  TESSEL_TLS_SELF_PORT TESSEL_TLS_OTHER_PORT TESSEL_WWW_ROOT TESSEL_PROXY_LOG

rm -rf "$TESSEL_WWW_ROOT" "$servers_prefix"
mkdir -p "$TESSEL_WWW_ROOT" "$servers_prefix"

# Every server's output goes to a file, never to our pipes.
servers_waits=()
servers_start() { # name port log command...
  local name=$1 port=$2 log=$3
  shift 3
  "$@" </dev/null >"$log" 2>&1 &
  servers_pids="$servers_pids $!"
  servers_waits+=("$name $! $port $log")
}

source "$root/scripts/nginx.sh"
nginx_start "$TESSEL_HTTP_PORT" "$TESSEL_WWW_ROOT" "$servers_prefix"
servers_pids="$servers_pids $nginx_pid"
servers_waits+=("nginx $nginx_pid $TESSEL_HTTP_PORT $servers_prefix/nginx.out")

fault_server=$root/tests/servers/fault_server.py
servers_start fault_server "$TESSEL_FAULT_PORT" "$servers_prefix/fault_server.out" \
  python3 "$fault_server" "$TESSEL_FAULT_PORT"
# The end-to-end launchers carry their addresses inside, so theirs is fixed.
TESSEL_E2E_PORT=18742
export TESSEL_E2E_PORT
servers_start e2e_server "$TESSEL_E2E_PORT" "$servers_prefix/e2e_server.out" \
  python3 "$fault_server" "$TESSEL_E2E_PORT"

# Each proxy has a configuration of its own, so that the system's (and a
# system proxy on port 8888) never come into it. It stays in the foreground
# (-d) so that its pid is ours to stop.
proxy_start() { # name port [config lines...]
  local name=$1 port=$2
  shift 2
  {
    echo "Port $port"
    echo "Listen 127.0.0.1"
    echo "Allow 127.0.0.1"
    echo "Timeout 60"
    echo "MaxClients 50"
    echo "LogLevel Connect"
    echo "LogFile \"$servers_prefix/$name.log\""
    printf '%s\n' "$@"
  } >"$servers_prefix/$name.conf"
  servers_start "$name" "$port" "$servers_prefix/$name.out" tinyproxy -d -c "$servers_prefix/$name.conf"
}
# A proxy test that was killed leaves its proxy in the prefix's settings,
# where every later download would meet it: each run starts without one.
internet_settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
wine reg add "$internet_settings" /v ProxyEnable /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
wine reg delete "$internet_settings" /v ProxyServer /f </dev/null >/dev/null 2>&1 || true
proxy_start proxy "$TESSEL_PROXY_PORT"
proxy_start auth_proxy "$TESSEL_AUTH_PROXY_PORT" "BasicAuth tessel not-a-secret"

tls_dir="$build/test-tls"
"$root/tests/servers/make_tls.sh" "$tls_dir" "$build/bin"
for tls in localhost:TLS self:TLS_SELF other:TLS_OTHER; do
  port_name=TESSEL_${tls#*:}_PORT
  servers_start "tls_${tls%%:*}" "${!port_name}" "$servers_prefix/tls_${tls%%:*}.out" \
    python3 "$fault_server" --tls "$tls_dir/${tls%%:*}.pem" "$tls_dir/${tls%%:*}.key" "${!port_name}"
done

servers_up() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}
servers_wait() { # name pid port log
  for _ in $(seq 100); do
    servers_up "$3" && return 0
    if ! kill -0 "$2" 2>/dev/null; then
      echo "test-servers: $1 exited at start:" >&2
      cat "$4" >&2 || true
      return 1
    fi
    sleep 0.05
  done
  echo "test-servers: $1 is not listening on 127.0.0.1:$3 after 5 s:" >&2
  cat "$4" >&2 || true
  return 1
}
for entry in "${servers_waits[@]}"; do
  # shellcheck disable=SC2086 # four words: name pid port log
  servers_wait $entry
done
