#!/usr/bin/env bash
# Runs a Windows executable under Wine in the project's prefix. CTest uses it
# as the cross-compiling emulator; the test runner keeps a wineserver alive.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/.wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
