# Sourced by the scripts that serve files on 127.0.0.1. nginx_start PORT ROOT
# PREFIX writes the configuration of tests/servers/nginx.conf.in into PREFIX
# (which also takes nginx's pid file, logs and temp folders) and starts nginx
# in the background, serving ROOT on 127.0.0.1:PORT, throttled under /slow/
# and /fast16m/. Sets nginx_pid. Its output goes to PREFIX/nginx.out, never
# to the caller's pipes.
nginx_start() {
  local port=$1 www=$2 prefix=$3 user=""
  # As root, the workers would otherwise run as nobody.
  if [ "$(id -u)" -eq 0 ]; then user="user root;"; fi
  mkdir -p "$prefix"
  python3 - "${root:?}/tests/servers/nginx.conf.in" "$prefix/nginx.conf" "$port" "$www" "$prefix" "$user" <<'PY'
import sys
src, dst, port, www, prefix, user = sys.argv[1:]
text = open(src).read()
for key, value in (("@PORT@", port), ("@ROOT@", www), ("@PREFIX@", prefix), ("@USER_LINE@", user)):
    text = text.replace(key, value)
open(dst, "w").write(text)
PY
  nginx -p "$prefix/" -c "$prefix/nginx.conf" -g 'daemon off;' </dev/null >"$prefix/nginx.out" 2>&1 &
  nginx_pid=$!
}
