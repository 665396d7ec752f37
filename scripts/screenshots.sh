#!/usr/bin/env bash
# Renders the main window with a discovered simulated fleet, the table filtered and sorted, the
# Set IP and System dialogs and the configuration pages into docs/screenshots/*.png
# (offscreen: no display needed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NW_BUILD_DIR:-$root/build}
[ -x "$build/src/cli/nodewarden" ] || "$root/scripts/build.sh"
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen \
  timeout 120 "$build/src/cli/nodewarden" --screenshots "$root/docs/screenshots" "$@"
