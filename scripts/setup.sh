#!/usr/bin/env bash
# One-time, idempotent set-up of a Debian 12 machine for building and testing
# the launcher: packages, the i386 architecture for wine32, deb-src entries,
# the TinyXML source with Debian's patches, and a project-local Wine prefix.
# Each step checks first and does nothing when it is already done.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/.deps"
prefix="$root/.wineprefix"

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

packages=(
  cmake ninja-build file python3
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 wine64
  xvfb xauth openbox xdotool imagemagick
  dpkg-dev googletest wixl nginx-light openssl osslsigncode tinyproxy
  fonts-wqy-microhei
)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
  need_update=1
fi

src_list=/etc/apt/sources.list.d/debian-src.sources
if [ ! -f "$src_list" ]; then
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
    | "${sudo[@]}" tee "$src_list" >/dev/null
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ! -d "$deps/tinyxml" ] && ! ls /var/lib/apt/lists/*_source_Sources* >/dev/null 2>&1; then
  need_update=1
fi

if [ "$need_update" -eq 1 ] || [ "${#missing[@]}" -gt 0 ]; then
  "$root/scripts/apt-install.sh" "${missing[@]}"
fi
if [ "${#missing[@]}" -gt 0 ]; then
  # The package starts a system-wide proxy on port 8888. The tests run their
  # own on free ports, so it is stopped and kept from starting at boot; this
  # is done once, when it is installed, and never overrides a choice made
  # after that.
  if printf '%s\n' "${missing[@]}" | grep -qx tinyproxy; then
    if [ -d /run/systemd/system ]; then
      "${sudo[@]}" systemctl disable --now tinyproxy >/dev/null 2>&1 || true
    else
      "${sudo[@]}" update-rc.d tinyproxy disable >/dev/null 2>&1 || true
      "${sudo[@]}" invoke-rc.d tinyproxy stop >/dev/null 2>&1 || true
    fi
  fi
fi

# A kernel that runs no i386 program needs an emulator for Wine's 32-bit side.
"$root/scripts/i386-emulation.sh"

# TinyXML 2.6.2 from Debian's source package, unpacked with Debian's patches.
if [ ! -f "$deps/tinyxml/tinyxml.cpp" ]; then
  rm -rf "$deps/tinyxml" "$deps/tinyxml-src"
  mkdir -p "$deps/tinyxml-src"
  if ! (cd "$deps/tinyxml-src" && apt-get source --download-only tinyxml >apt.log 2>&1 \
        && dpkg-source -x tinyxml_*.dsc unpacked >>apt.log 2>&1); then
    cat "$deps/tinyxml-src/apt.log" >&2
    echo "setup: TinyXML's source package could not be fetched and unpacked." \
         "If apt could not fetch an index above, wait for the package registry to finish its sync," \
         "then run this command again." >&2
    exit 1
  fi
  mv "$deps/tinyxml-src/unpacked" "$deps/tinyxml"
  rm -rf "$deps/tinyxml-src"
fi
# Debian's patches are all kept but one: the one that forces TinyXML's STL
# mode, which pulls the C++ streams (about 1 MB) into the launcher. Its
# security fixes (CVE-2021-42260, CVE-2023-34194) and the entity fix stay.
if grep -q '^	#define TIXML_USE_STL' "$deps/tinyxml/tinyxml.h"; then
  (cd "$deps/tinyxml" && patch -R -p1 -s <debian/patches/enforce-use-stl.patch)
fi

# A Wine prefix of the project's own, so tests never touch the user's ~/.wine.
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" WINEDEBUG=-all wineserver -w
fi

# Wine draws Chinese, Japanese and Korean as boxes unless the font that it picks
# has a linked font with those glyphs. Without Wine's own fonts, "MS Shell Dlg",
# Tahoma and the rest all end up as DejaVu Sans (fontconfig's sans-serif), so
# that is the face to link to WenQuanYi Micro Hei, which covers all three
# scripts. Links for the missing faces themselves would not do: Wine would then
# draw all text in them, Latin too, with the linked font.
cjk_link='wqy-microhei.ttc,WenQuanYi Micro Hei'
if ! grep -qF "\"DejaVu Sans\"=str(7):\"$cjk_link\\0\"" "$prefix/system.reg"; then
  WINEPREFIX="$prefix" WINEDEBUG=-all wine reg add \
    'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "DejaVu Sans" /t REG_MULTI_SZ /d "$cjk_link" /f >/dev/null 2>&1
  # Wait until Wine has written the registry out. A server that a session
  # keeps alive would make this wait for ever, and holds the link already.
  WINEPREFIX="$prefix" WINEDEBUG=-all timeout 30 wineserver -w || true
fi
