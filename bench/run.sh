#!/usr/bin/env bash
# Builds the benchmarks in release mode, runs them and prints one table:
#  - the event queue alone (Google Benchmark), insert plus pop;
#  - idle networks of 10, 100 and 1000 motes run through brelo, each beside
#    the reference loop (a bare heap of the same size driven the same way),
#    measured in the same run;
#  - a busy network: motes streaming sensor records over remote streams to
#    mote 0, which sends them to the serial line;
#  - a 100-mote collection over a grid topology, through brelo-ctl, in the
#    exact and the fast mode.
# Options passed to the script are added to every brelo command line (for
# example: bench/run.sh -fast, which also runs longer virtual times). Events
# come from brelo's BRELO_STATS line, CPU time and peak memory from
# /usr/bin/time -v. Rates are per second of CPU time (user + system), so
# that other load on the machine shifts them less; wall time is shown too.
set -euo pipefail
cd "$(dirname "$0")/.."
extra=("$@")

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
bin=build/release
# BENCH_BRELO names another brelo to measure (an older build, say), beside
# this tree's queue benchmark and reference loop.
brelo=${BENCH_BRELO:-$bin/brelo}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rows=()
row() { rows+=("$(printf '%-34s %14s %10s %9s %9s %10s' "$@")"); }

# --- the event queue alone ----------------------------------------------
"$bin/bench/event_queue_bench" --benchmark_format=csv 2>/dev/null >"$work/queue.csv"
while IFS=, read -r name iterations real cpu unit _bytes items _rest; do
  case "$name" in \"BM_*) ;; *) continue ;; esac
  name=${name//\"/}
  row "queue insert+pop, ${name#*/} pending" "$(printf '%.0f' "$items")" "-" \
    "$(printf '%.1f ns' "$cpu")" "-" "-"
done <"$work/queue.csv"

# --- whole-program runs --------------------------------------------------
now_ns() { date +%s%N; }
# Runs brelo under /usr/bin/time; sets wall and cpu (s), rss (MB), events, pending.
run_brelo() {
  local seconds=$1; shift
  local start
  start=$(now_ns)
  BRELO_STATS=1 DBG= /usr/bin/time -v -o "$work/time" \
    "$brelo" "${extra[@]}" -b=0 -seed=1 -l=1000000000 -t="$seconds" "$@" \
    >/dev/null 2>"$work/err"
  stats_and_time "$start"
}
stats_and_time() {
  wall=$(awk -v a="$1" -v b="$(now_ns)" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  cpu=$(awk '/User time|System time/ { s += $NF } END { printf "%.2f", s }' "$work/time")
  rss=$(awk '/Maximum resident set size/ { printf "%.1f", $NF / 1024 }' "$work/time")
  events=$(sed -n 's/^brelo stats: events \([0-9]*\) pending \([0-9]*\).*/\1/p' "$work/err")
  pending=$(sed -n 's/^brelo stats: events \([0-9]*\) pending \([0-9]*\).*/\2/p' "$work/err")
}

# About 40 million events each in the exact mode; fast mode covers more
# virtual time, as it takes so few events.
idle_runs="10:100 100:20 1000:2"
busy_seconds=20
fast=0
if [[ " ${extra[*]} " == *" -fast "* ]]; then
  fast=1
  idle_runs="10:2000 100:500 1000:50"
  busy_seconds=60
fi
for run in $idle_runs; do
  motes=${run%:*}
  seconds=${run#*:}
  run_brelo "$seconds" "$motes"
  rate=$(awk -v e="$events" -v c="$cpu" 'BEGIN { printf "%.0f", e / (c > 0 ? c : 0.01) }')
  if [ "$fast" = 1 ]; then  # its events are not the reference's
    row "idle $motes motes, $seconds virtual s" "$rate" \
      "$(awk -v s="$seconds" -v w="$wall" 'BEGIN { printf "%.1f", s / w }')" \
      "$(printf '%.2f s' "$wall")" "$rss MB" "-"
    continue
  fi
  # The reference runs as many events as brelo did, over as many pending.
  ref_seconds=$(awk -v e="$events" -v m="$motes" 'BEGIN { printf "%.3f", e / m / 20000 }')
  ref=$("$bin/bench/reference_loop" "$motes" "$ref_seconds" "$pending" | awk '{ print $6 }')
  row "idle $motes motes, $seconds virtual s" "$rate" \
    "$(awk -v s="$seconds" -v w="$wall" 'BEGIN { printf "%.1f", s / w }')" \
    "$(printf '%.2f s' "$wall")" "$rss MB" \
    "$(awk -v r="$rate" -v f="$ref" 'BEGIN { printf "%.0f%%", 100 * r / f }')"
  row "  reference loop, $pending pending" "$ref" "-" "-" "-" "-"
done

# The busy network: brelo waits (-gui) until the client has queued the queries.
busy_motes=20
port=$((20000 + RANDOM % 20000))
start=$(now_ns)
BRELO_STATS=1 DBG= /usr/bin/time -v -o "$work/time" \
  "$brelo" "${extra[@]}" -gui -port="$port" -b=0 -seed=1 -l=1000000000 \
  -t="$busy_seconds" "$busy_motes" >"$work/busy_out" 2>"$work/err" &
brelo_pid=$!
for _ in $(seq 50); do
  if "$bin/bench/busy_client" "$port" "$busy_motes" >/dev/null 2>"$work/client_err"; then
    break
  fi
  sleep 0.1
done
wait "$brelo_pid" || { echo "busy run failed:"; cat "$work/client_err" "$work/err"; exit 1; }
stats_and_time "$start"
rate=$(awk -v e="$events" -v c="$cpu" 'BEGIN { printf "%.0f", e / (c > 0 ? c : 0.01) }')
row "busy $busy_motes motes, $busy_seconds virtual s" "$rate" \
  "$(awk -v s="$busy_seconds" -v w="$wall" 'BEGIN { printf "%.1f", s / w }')" \
  "$(printf '%.2f s' "$wall")" "$rss MB" "-"

# A 100-mote collection over a 10 x 10 grid (examples/grid_collection.query),
# installed and read by brelo-ctl, in the exact and the fast mode. The wrapper
# hands brelo the script's options (and -fast for the second run).
grid_seconds=$(sed -n 's/^until \([0-9]*\).*/\1/p' examples/grid_collection.query)
for mode in exact fast; do
  wrapper="$work/brelo-$mode"
  mode_option=""; [ "$mode" = fast ] && mode_option="-fast"
  printf '#!/bin/sh\nexec "%s" %s %s "$@"\n' "$(realpath "$brelo")" "${extra[*]}" "$mode_option" \
    >"$wrapper"
  chmod +x "$wrapper"
  start=$(now_ns)
  BRELO_STATS=1 /usr/bin/time -v -o "$work/time" "$bin/brelo-ctl" run \
    examples/grid_collection.query --brelo "$wrapper" --rate 4294967 \
    >"$work/grid_out" 2>"$work/err" || { echo "grid run failed:"; cat "$work/err"; exit 1; }
  stats_and_time "$start"
  rate=$(awk -v e="$events" -v c="$cpu" 'BEGIN { printf "%.0f", e / (c > 0 ? c : 0.01) }')
  records=$(($(wc -l <"$work/grid_out") - 1))
  row "grid 100 motes $mode, $grid_seconds virt s" "$rate" \
    "$(awk -v s="$grid_seconds" -v w="$wall" 'BEGIN { printf "%.1f", s / w }')" \
    "$(printf '%.2f s' "$wall")" "$rss MB" "-"
  row "  $records records delivered" "-" "-" "-" "-" "-"
done

printf '%-34s %14s %10s %9s %9s %10s\n' "benchmark${extra[*]:+ (${extra[*]})}" "events/cpu-s" \
  "virt s/s" "wall" "peak mem" "of ref"
printf '%s\n' "${rows[@]}"
echo "(queue rows: insert+pop pairs per CPU second, and CPU time per pair;"
echo " of ref: brelo's events per CPU second over the reference loop's, same run;"
echo " grid: -fast skips channel samples only under the simple radio model, and a"
echo " topology runs the lossy one, so its fast row runs the same events as exact)"
