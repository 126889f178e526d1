# Sourced by the runner scripts: the project's Wine prefix, one persistent
# wineserver, and (unless KEEP_DISPLAY=1 and a DISPLAY is set) an Xvfb screen
# with a window manager. Everything started here is stopped on exit.
root=${root:?}
export WINEPREFIX="$root/.wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Set where Wine's 32-bit side runs in qemu (scripts/i386-emulation.sh): there
# a fault in 32-bit code reaches Wine as an illegal instruction, and the tests
# that provoke one say so.
[ -e /proc/sys/fs/binfmt_misc/tessel-i386 ] && export TESSEL_I386_EMULATED=1

session_xvfb=""
session_wm=""
session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$session_wm" ] && kill "$session_wm" 2>/dev/null || true
  [ -n "$session_xvfb" ] && kill "$session_xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap session_stop EXIT INT TERM

if [ "${KEEP_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
  display=90
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  session_xvfb=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
  export DISPLAY=":$display"
  openbox >/dev/null 2>&1 &
  session_wm=$!
fi

# Kept alive for the whole session, so that each program starts in
# milliseconds rather than seconds. Its output must not hold our pipes open.
wineserver -k >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 </dev/null
# The first program starts Wine's own services, which live on and would keep
# the pipes of whichever program started them open: start them here instead.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
