#!/usr/bin/env bash
# Checks that a built exe is a 32-bit GUI PE of at most 320 KB that imports
# only DLLs that ship with Windows, so that it runs on a bare machine.
set -euo pipefail
exe=$1
status=0

kind=$(file -b "$exe")
case "$kind" in
  "PE32 executable (GUI) Intel 80386"*) echo "ok: $kind" ;;
  *) echo "FAIL: not a 32-bit GUI PE: $kind"; status=1 ;;
esac

allowed=" advapi32.dll comdlg32.dll crypt32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll "
# Bound at the start, these would be looked for in the exe's own folder
# first: the exe delay-loads them, from the system folder only.
delayed=" comctl32.dll msi.dll urlmon.dll version.dll wininet.dll wintrust.dll crypt32.dll userenv.dll "
imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "FAIL: no import table found"; status=1; }
for dll in $imports; do
  if [[ "$delayed" == *" $dll "* ]]; then
    echo "FAIL: imports $dll at its start; it must be delay-loaded"
    status=1
  elif [[ "$allowed" == *" $dll "* ]]; then
    echo "ok: imports $dll"
  else
    echo "FAIL: imports $dll, which is not a Windows system DLL"
    status=1
  fi
done

# Each delay-loaded DLL's name is in the exe, where its delay-import
# descriptor names it.
for dll in $delayed; do
  if grep -qaF "$dll" "$exe"; then
    echo "ok: delay-loads $dll"
  else
    echo "FAIL: does not delay-load $dll"
    status=1
  fi
done

# The launcher is the first thing a user downloads and waits for.
limit=337920
size=$(stat -c %s "$exe")
if [ "$size" -le "$limit" ]; then
  echo "ok: $size bytes, at most $limit"
else
  echo "FAIL: $size bytes, more than $limit"
  status=1
fi

if i686-w64-mingw32-objdump -h "$exe" | grep -q '\.debug'; then
  echo "FAIL: the exe is not stripped"
  status=1
fi
exit $status
