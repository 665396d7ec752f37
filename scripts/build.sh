#!/usr/bin/env bash
# Configures and builds into build/ (warnings are errors). Extra arguments go to cmake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NW_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNW_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
