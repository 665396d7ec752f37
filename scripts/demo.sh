#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: the console window over a simulated
# fleet of devices on 127.0.0.1 (nothing is broadcast). Without a display the command line
# discovers the fleet, sets its addresses, upgrades its firmware keeping each configuration
# (one device's shown before and after), and prints the log; that run ends by itself.
# Arguments go to the program: e.g. scripts/demo.sh 20 for twenty devices.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build=${NW_BUILD_DIR:-$root/build}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
exec "$build/src/cli/nodewarden" --demo "$@"
