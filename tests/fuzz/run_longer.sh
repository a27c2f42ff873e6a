#!/usr/bin/env bash
# Longer fuzz runs: builds the libFuzzer targets and runs each for SECONDS
# (default 300), keeping what they find in build-fuzz/found/<target>, then
# prints executions, coverage and features per target.
#   tests/fuzz/run_longer.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
dir=${PELLIX_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(options_fuzzer request_fuzzer marker_fuzzer sound_fuzzer image_fuzzer)

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLIX_FUZZ=ON >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}" >/dev/null

printf '%-16s %10s %8s %9s %8s %6s\n' target seconds execs execs/s cov ft
for target in "${targets[@]}"; do
  found=$dir/found/$target
  mkdir -p "$found"
  log=$dir/$target.log
  ASAN_OPTIONS=detect_leaks=1 "$dir/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$dir/$target-" \
    "$found" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1 || { echo "$target failed: see $log"; tail -30 "$log"; exit 1; }
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  printf '%-16s %10s %8s %9s %8s %6s\n' "$target" "$seconds" "$execs" "$rate" "$cov" "$ft"
done
