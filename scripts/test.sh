#!/usr/bin/env bash
# Sets up the machine when needed, builds everything, and runs every test
# under Wine. Extra arguments go to ctest (for example -R log -V).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/prepare.sh" all

source "$root/scripts/wine-session.sh"
source "$root/scripts/test-servers.sh"
cd "$build"
ctest --output-on-failure "$@"
