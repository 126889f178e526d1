#!/usr/bin/env bash
# Checks that a built exe is a 32-bit GUI PE that imports only DLLs that
# ship with Windows, so that it runs on a bare machine.
set -euo pipefail
exe=$1
status=0

kind=$(file -b "$exe")
case "$kind" in
  "PE32 executable (GUI) Intel 80386"*) echo "ok: $kind" ;;
  *) echo "FAIL: not a 32-bit GUI PE: $kind"; status=1 ;;
esac

allowed=" advapi32.dll comctl32.dll comdlg32.dll crypt32.dll gdi32.dll kernel32.dll msi.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll urlmon.dll user32.dll version.dll wininet.dll "
imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "FAIL: no import table found"; status=1; }
for dll in $imports; do
  if [[ "$allowed" == *" $dll "* ]]; then
    echo "ok: imports $dll"
  else
    echo "FAIL: imports $dll, which is not a Windows system DLL"
    status=1
  fi
done

if i686-w64-mingw32-objdump -h "$exe" | grep -q '\.debug'; then
  echo "FAIL: the exe is not stripped"
  status=1
fi
exit $status
