# Sourced by scripts/test.sh after wine-session.sh: the HTTP servers of the
# download tests, both on 127.0.0.1 and both stopped on exit.
#   nginx         well-behaved; serves $TESSEL_WWW_ROOT at /, and the same
#                 files throttled under /slow/ (256 KiB/s) and /fast16m/
#   fault_server  tests/servers/fault_server.py, which misbehaves on purpose
# Exports TESSEL_HTTP_PORT, TESSEL_FAULT_PORT and TESSEL_WWW_ROOT (a Unix
# path; Wine passes it through, and the tests see it under Z:).
root=${root:?}
build=${build:?}

servers_nginx=""
servers_fault=""
servers_e2e=""
servers_stop() {
  # TERM is nginx's fast shutdown; QUIT would wait for open connections.
  local pid
  for pid in $servers_nginx $servers_fault $servers_e2e; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in $servers_nginx $servers_fault $servers_e2e; do wait "$pid" 2>/dev/null || true; done
  servers_nginx=""
  servers_fault=""
}
trap 'servers_stop; session_stop' EXIT INT TERM

# Two distinct free ports: both sockets are held until both are known.
read -r TESSEL_HTTP_PORT TESSEL_FAULT_PORT < <(python3 -c '
import socket
a, b = socket.socket(), socket.socket()
a.bind(("127.0.0.1", 0)); b.bind(("127.0.0.1", 0))
print(a.getsockname()[1], b.getsockname()[1])
')
TESSEL_WWW_ROOT="$build/test-www"
export TESSEL_HTTP_PORT TESSEL_FAULT_PORT TESSEL_WWW_ROOT

servers_prefix="$build/test-nginx"
rm -rf "$TESSEL_WWW_ROOT" "$servers_prefix"
mkdir -p "$TESSEL_WWW_ROOT" "$servers_prefix"

source "$root/scripts/nginx.sh"
nginx_start "$TESSEL_HTTP_PORT" "$TESSEL_WWW_ROOT" "$servers_prefix"
servers_nginx=$nginx_pid
# Their output goes to files, never to our pipes.
python3 "$root/tests/servers/fault_server.py" "$TESSEL_FAULT_PORT" \
  </dev/null >"$servers_prefix/fault_server.out" 2>&1 &
servers_fault=$!
# The end-to-end launchers carry their addresses inside, so theirs is fixed.
TESSEL_E2E_PORT=18742
export TESSEL_E2E_PORT
python3 "$root/tests/servers/fault_server.py" "$TESSEL_E2E_PORT" \
  </dev/null >"$servers_prefix/e2e_server.out" 2>&1 &
servers_e2e=$!

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
servers_wait nginx "$servers_nginx" "$TESSEL_HTTP_PORT" "$servers_prefix/nginx.out"
servers_wait fault_server "$servers_fault" "$TESSEL_FAULT_PORT" "$servers_prefix/fault_server.out"
servers_wait e2e_server "$servers_e2e" "$TESSEL_E2E_PORT" "$servers_prefix/e2e_server.out"
