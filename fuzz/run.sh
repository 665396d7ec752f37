#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) and runs each for SECONDS,
# starting from the seeds of make_seeds.py plus whatever earlier runs kept in the corpus.
# Prints one row per target: executions, corpus size and findings (crash, leak, hang or
# out-of-memory inputs, saved under the build folder's artifacts/). Exit status 1 when
# anything was found or a target could not run.
#
#   fuzz/run.sh SECONDS [TARGET...]      NW_FUZZ_BUILD_DIR overrides build-fuzz/
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
build=${NW_FUZZ_BUILD_DIR:-$root/build-fuzz}
all=(fuzz_nimp_reply fuzz_tftp_server fuzz_config_files fuzz_condition fuzz_edit_constraint
     fuzz_profile fuzz_decrypt)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNW_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >"$build/fuzz-build.log" 2>&1 || {
  tail -40 "$build/fuzz-build.log"
  exit 1
}
python3 "$root/fuzz/make_seeds.py" "$build/seeds" || exit 1

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
rows=()
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  artifacts=$build/artifacts/$t
  mkdir -p "$corpus" "$artifacts"
  [ -d "$build/seeds/$t" ] && cp -n "$build/seeds/$t"/* "$corpus"/ 2>/dev/null
  before=$(find "$artifacts" -type f | wc -l)
  log=$build/$t.log
  # -timeout: an input that takes longer than 10 s counts as a hang.
  timeout -k 10 $((seconds + 120)) "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  after=$(find "$artifacts" -type f | wc -l)
  found=$((after - before))
  if [ "$rc" -ne 0 ] && [ "$found" -eq 0 ]; then
    found=1 # stopped without saving an input (killed, or failed to start)
  fi
  if [ "$found" -ne 0 ]; then
    status=1
    echo "== $t: exit $rc, see $log" >&2
    grep -E "ERROR|SUMMARY|check failed|runtime error" "$log" | head -20 >&2
  fi
  rows+=("$(printf '%-22s %12s %8s %9s' "$t" "${execs:-?}" "$(find "$corpus" -type f | wc -l)" "$found")")
done

printf '%-22s %12s %8s %9s\n' target executions corpus findings
printf '%s\n' "${rows[@]}"
exit $status
