#!/usr/bin/env bash
# Screenshots of every window, dialog and message box, in several languages
# and at 96 and 144 dpi, into build/screenshots/ (build output, not kept in
# the repository). Look at them after a change to the interface.
#   scripts/screenshots.sh [LANG ...]    default: en_US fr_FR ja_JP ru_RU zh_CN
#   scripts/screenshots.sh --docs        refreshes the pictures in docs/images/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/prepare.sh" ui_gallery

source "$root/scripts/wine-session.sh"
out="$build/screenshots"
mkdir -p "$out"
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(en_US fr_FR ja_JP ru_RU zh_CN)

set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
trap 'set_dpi 96; session_stop' EXIT INT TERM

shoot() { # lang dpi state
  LANG="$1.UTF-8" LC_ALL="$1.UTF-8" wine "$build/bin/ui_gallery.exe" "$3" 3000 >/dev/null 2>&1 &
  local pid=$!
  sleep 1.8
  import -window root -crop 760x520+260+250 "$out/$1-$2dpi-$3.png"
  wait "$pid" || true
}

if [ "${1:-}" = --docs ]; then
  # The progress window and the install question, in English at 96 dpi,
  # trimmed to what is on the black screen.
  set_dpi 96
  for state in tall question; do
    shoot en_US 96 "$state"
    convert "$out/en_US-96dpi-$state.png" -trim +repage "$root/docs/images/$state.png"
  done
  echo "pictures in $root/docs/images"
  exit 0
fi

for dpi in 96 144; do
  set_dpi "$dpi"
  for state in compact tall; do shoot en_US "$dpi" "$state"; done
done
set_dpi 96
for lang in "${languages[@]}"; do
  for state in compact tall question context-user context-machine error notice; do
    shoot "$lang" 96 "$state"
  done
done
echo "screenshots in $out"
