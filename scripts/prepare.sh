# Sourced by the runner scripts after they have set `root`: sets the machine
# up when needed, configures the build in $BUILD_DIR (build/ by default) and
# builds the targets given (at least one; "all" is everything). Sets `build`.
build="${BUILD_DIR:-${root:?}/build}"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
for target in "$@"; do cmake --build "$build" --target "$target"; done
