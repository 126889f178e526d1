#!/usr/bin/env bash
# Wine runs Windows' 32-bit programs as i386 Linux processes. Some virtual
# machines run 64-bit user code only: there the kernel refuses every i386
# program ("Exec format error"), Wine's 32-bit side among them. On such a
# machine this hands i386 programs to qemu's user-mode emulator through the
# kernel's binfmt_misc, and does nothing on any other.
#
# The emulator is trixie's qemu-i386: bookworm's (7.2) takes about a minute
# to start one Wine program, trixie's (10.0) about a second. It is a static
# binary, so it is only fetched and unpacked into .deps, never installed:
# apt fetches it through a source list, index folder and cache of the
# project's own, and checks it against trixie's signed Release file as it
# checks every package. The system's sources and packages stay as they are.
#
# The registration is the kernel's and lasts until the next boot; the
# set-up runs this each time, so it is made again after one. The F flag makes
# the kernel open the emulator once, at registration, so that it serves in
# chroots and containers as well.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
qemu_deps="$root/.deps/qemu-i386"
emulator="$qemu_deps/root/usr/bin/qemu-i386"
binfmt=/proc/sys/fs/binfmt_misc
entry=tessel-i386

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

# The i386 dynamic loader comes with wine32's libc6:i386.
runs_i386() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
runs_i386 && exit 0

if [ ! -x "$emulator" ]; then
  echo "setup: this machine's kernel runs no i386 program; fetching trixie's qemu-i386 to run Wine's 32-bit side" >&2
  apt_dir="$qemu_deps/apt"
  rm -rf "$qemu_deps"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" \
    >"$apt_dir/sources.list"
  apt_own=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=-
           -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
           -o APT::Architectures::=amd64 -qq)
  if ! (apt-get "${apt_own[@]}" update && cd "$apt_dir" && apt-get "${apt_own[@]}" download qemu-user \
        && mkdir -p "$qemu_deps/root" \
        && dpkg-deb --fsys-tarfile qemu-user_*.deb | tar -x -C "$qemu_deps/root" ./usr/bin/qemu-i386) \
       >"$qemu_deps/apt.log" 2>&1; then
    cat "$qemu_deps/apt.log" >&2
    echo "setup: trixie's qemu-user could not be fetched, and without it Wine cannot run here." \
         "If apt could not fetch an index, wait for the package registry to finish its sync, then run this command again." >&2
    exit 1
  fi
  rm -rf "$apt_dir" "$qemu_deps/apt.log"
fi

mountpoint -q "$binfmt" || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
[ -e "$binfmt/$entry" ] && echo -1 | "${sudo[@]}" tee "$binfmt/$entry" >/dev/null
# An i386 ELF executable or shared object: class 32-bit, little-endian,
# machine 3 (i386); the mask ignores the ABI version and the padding.
printf '%s' ":$entry:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$emulator:F" \
  | "${sudo[@]}" tee "$binfmt/register" >/dev/null
if ! runs_i386; then
  echo "setup: this machine's kernel runs no i386 program, and handing them to $emulator did not help either;" \
       "Wine's 32-bit side cannot run here" >&2
  exit 1
fi
echo "setup: i386 programs run through $emulator on this machine" >&2
