#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on its seed corpus and reports
# how many inputs each one ran. Build them first:
#   cmake --preset fuzz && cmake --build --preset fuzz
# FUZZ_SECONDS sets the time per target (default 60). New inputs the fuzzer
# finds go to build/fuzz/corpus/<target>/, crashing inputs to
# build/fuzz/artifacts/; the seeds in fuzz/corpus/ are left unchanged.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
build=build/fuzz
bin="$build/fuzz"
targets=(command_fuzz lossy_fuzz dbg_fuzz operator_fuzz)
mkdir -p "$build/artifacts"
failed=0
summary=""
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  log="$build/$target.log"
  echo "== $target: ${seconds}s"
  # -close_fd_mask=3: the targets' own output is not wanted; libFuzzer and
  # the sanitizers keep reporting on a copy of standard error.
  "$bin/$target" "$work" "fuzz/corpus/$target" -max_total_time="$seconds" -timeout=20 \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+="$target: ${runs:-?} inputs in ${seconds}s, status $status"$'\n'
  if [ "$status" -ne 0 ]; then
    failed=1
    tail -n 60 "$log"
  fi
done
echo "== fuzzing summary"
printf '%s' "$summary"
exit "$failed"
