#!/usr/bin/env bash
# Runs every benchmark once and prints a table: what ran, how long it took, and its figure
# (the last line it printed). Full outputs go to BUILD/bench-logs/. Builds first when a
# benchmark is missing. Everything stays on 127.0.0.1.
#
#   bench/run_all.sh [--quick]     NW_BUILD_DIR overrides build/
# --quick runs the long ones shorter (a 5 s wait, fleets of 500 only), to check the runner.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${NW_BUILD_DIR:-$root/build}
quick=0
[ "${1:-}" = --quick ] && quick=1

if [ ! -x "$build/bench/bench_wait" ] || [ ! -x "$build/src/sim/ktr4200-sim" ]; then
  bash "$root/scripts/build.sh" || exit 1
fi
bin=$build/bench
sim=$build/src/sim/ktr4200-sim
nw=$build/src/cli/nodewarden
logs=$build/bench-logs
mkdir -p "$logs"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

rows=()
failed=0
# Seconds since a `date +%s%N` stamp, one decimal.
elapsed() {
  local ms=$((($(date +%s%N) - $1) / 1000000))
  printf '%d.%d' $((ms / 1000)) $((ms % 1000 / 100))
}
# run LABEL COMMAND...: runs the command, keeps its output, adds a table row.
run() {
  local label=$1
  shift
  local log="$logs/$(echo "$label" | tr -c 'A-Za-z0-9_\n' '_').log"
  if [ ! -x "$1" ]; then
    rows+=("$(printf '%-34s %8s  %s' "$label" "-" "not built: $(basename "$1")")")
    return
  fi
  echo "bench: $label" >&2
  local t0=$(date +%s%N)
  timeout -k 10 1200 "$@" >"$log" 2>"$log.err"
  local rc=$?
  local secs=$(elapsed "$t0")
  local figure
  figure=$(grep -v '^[[:space:]]*$' "$log" | tail -1)
  if [ $rc -ne 0 ]; then
    failed=1
    figure="FAILED (exit $rc): ${figure:-$(tail -1 "$log.err")}"
  fi
  rows+=("$(printf '%-34s %7ss  %s' "$label" "$secs" "$figure")")
}

# The command line's peak resident memory for a Discover that lists 1,000 devices.
cli_memory() {
  local devices=$1
  local home port simpid out
  home=$(mktemp -d)
  port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf '[System]\r\nNimpAddress=127.0.0.1\r\nNimpPort=%s\r\n' "$port" >"$home/system.ini"
  "$sim" --bind 127.0.0.1 --port "$port" --devices "$devices" --state-file "$home/state.json" &
  simpid=$!
  sleep 1
  out=$( { /usr/bin/time -f 'peak_rss_kb %M wall_s %e' timeout 120 "$nw" --home "$home" discover --json \
           2>"$home/log" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)))'; } 2>&1)
  kill "$simpid" 2>/dev/null
  wait "$simpid" 2>/dev/null
  local listed rss wall
  listed=$(echo "$out" | head -1)
  rss=$(grep -o 'peak_rss_kb [0-9]*' "$home/log" | awk '{print $2}')
  wall=$(grep -o 'wall_s [0-9.]*' "$home/log" | awk '{print $2}')
  rm -rf "$home"
  echo "nodewarden discover: ${listed:-?} of $devices listed, ${wall:-?} s, peak resident memory ${rss:-?} kB"
}

if [ $quick -eq 1 ]; then
  run "wait CPU (5 s)" "$bin/bench_wait" 5
  run "discover 500" "$bin/bench_discover" 500 "$sim" 1
  run "batch upgrade 1, 50" "$bin/bench_batch" 64 "$sim" 1 50
  run "batch Set IP 1, 50" "$bin/bench_batch" --op setip 64 "$sim" 1 50
else
  run "wait CPU (30 s)" "$bin/bench_wait" 30
  run "NIMP burst 2000 replies" "$bin/bench_nimp_burst" 2000
  run "fleet answers 2000" "$bin/bench_sim_discover" 2000
  for n in 500 1000 2000; do
    run "discover $n (5 runs)" "$bin/bench_discover" "$n" "$sim" 5
  done
  run "batch Set IP 1, 50, 250" "$bin/bench_batch" --op setip 64 "$sim" 1 50 250
  run "batch config write 2, 50, 250" "$bin/bench_batch" --op config 64 "$sim" 2 50 250
  run "batch backup 1, 50, 250" "$bin/bench_batch" --op backup 64 "$sim" 1 50 250
  run "batch upgrade 4 KiB 1, 50, 250" "$bin/bench_batch" 4 "$sim" 1 50 250
  run "batch upgrade 64 KiB 1, 50, 250" "$bin/bench_batch" 64 "$sim" 1 50 250
  run "TFTP vs tftpd-hpa" "$bin/bench_tftp"
  run "window start-up, 1000 listed" "$bin/bench_gui_window"
fi
if [ -x "$nw" ] && [ -x "$sim" ]; then
  echo "bench: command line memory" >&2
  t0=$(date +%s%N)
  figure=$(cli_memory 1000 2>/dev/null)
  rows+=("$(printf '%-34s %7ss  %s' "command line, 1000 listed" "$(elapsed "$t0")" "$figure")")
fi

printf '%-34s %8s  %s\n' benchmark time "figure (last line printed)"
printf '%s\n' "${rows[@]}"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "outputs: $logs"
exit $failed
