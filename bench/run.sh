#!/usr/bin/env bash
# Builds the benchmarks in release mode, runs them and prints two tables.
#
# The event queue alone (Google Benchmark): insert plus pop.
#
# Whole-program runs, each measured twice in the same run: with this tree's
# brelo and with a base brelo (by default a release build of the previous
# commit, made in build/bench-base; BENCH_BRELO=PATH names another one,
# BENCH_BRELO=none measures this tree only):
#  - idle networks of 10, 100 and 1000 motes, exact and fast, the exact ones
#    beside the reference loop (a bare heap of the same size driven the same
#    way);
#  - a busy network: 20 motes streaming sensor records to mote 0;
#  - a saturated one-cell network (bench/saturated.query: 100 motes,
#    four senders to mote 0 every 0.2 s) and a 100-mote one-cell tree
#    collection (bench/tree_collection_100.query), exact and fast;
#  - a 100-mote collection over a 10 x 10 grid (lossy model), exact and fast.
# Options passed to the script are added to every brelo command line.
# Each case runs BENCH_REPEAT times per build (default 3), alternating the
# builds; the least CPU time of each counts.
#
# Rates are per second of CPU time (user + system, brelo and its client), so
# that other load on the machine shifts them less; "vs base" is this tree's
# virtual seconds per CPU second over the base's. Events come from brelo's
# BRELO_STATS line, CPU time and peak memory from /usr/bin/time -v.
set -euo pipefail
cd "$(dirname "$0")/.."
extra=("$@")

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
bin=build/release
brelo=$bin/brelo
ctl=$bin/brelo-ctl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- the base build --------------------------------------------------------
# A release build of BENCH_BASE (default: the previous commit), kept per
# commit so that a second run of the script does not build it again.
base_brelo() {
  local rev sha dir tree
  rev=${BENCH_BASE:-HEAD~1}
  sha=$(git rev-parse --verify --quiet "$rev^{commit}") || {
    echo "bench: no commit $rev to compare with" >&2
    return 1
  }
  dir=build/bench-base/$sha
  if [ ! -x "$dir/brelo" ]; then
    echo "bench: building the base brelo ($(git log -1 --format='%h %s' "$sha"))" >&2
    tree="$work/base-tree"
    git worktree add --detach --quiet "$tree" "$sha"
    (cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DBRELO_BUILD_TESTS=OFF -DBRELO_BUILD_BENCH=OFF >/dev/null &&
      cmake --build "$tree/build" --target brelo >/dev/null) || {
      git worktree remove --force "$tree"
      echo "bench: the base commit does not build" >&2
      return 1
    }
    mkdir -p "$dir"
    cp "$tree/build/brelo" "$dir/brelo"
    git worktree remove --force "$tree"
  fi
  realpath "$dir/brelo"
}
case "${BENCH_BRELO:-}" in
  none) base="" ;;
  "") base=$(base_brelo) ;;
  *) base=$(realpath "$BENCH_BRELO") ;;
esac

# --- the event queue alone -------------------------------------------------
queue_rows=()
"$bin/bench/event_queue_bench" --benchmark_format=csv 2>/dev/null >"$work/queue.csv"
while IFS=, read -r name _iterations _real cpu _unit _bytes items _rest; do
  case "$name" in \"BM_*) ;; *) continue ;; esac
  name=${name//\"/}
  queue_rows+=("$(printf '%-40s %14.0f %10.1f ns' "${name#BM_}" "$items" "$cpu")")
done <"$work/queue.csv"

# --- whole-program runs ----------------------------------------------------
rows=()
row() { rows+=("$(printf '%-36s %9s %9s %8s %14s %9s %9s' "$@")"); }
now_ns() { date +%s%N; }
# Sets wall and cpu (s), rss (MB), events and pending from the last run.
stats_and_time() {
  wall=$(awk -v a="$1" -v b="$(now_ns)" 'BEGIN { printf "%.2f", (b - a) / 1e9 }')
  cpu=$(awk '/User time|System time/ { s += $NF } END { printf "%.2f", s }' "$work/time")
  rss=$(awk '/Maximum resident set size/ { printf "%.1f", $NF / 1024 }' "$work/time")
  events=$(sed -n 's/^brelo stats: events \([0-9]*\) pending \([0-9]*\).*/\1/p' "$work/err" | tail -1)
  pending=$(sed -n 's/^brelo stats: events \([0-9]*\) pending \([0-9]*\).*/\2/p' "$work/err" | tail -1)
}
per_cpu() { awk -v n="$1" -v c="$cpu" 'BEGIN { printf "%.2f", n / (c > 0 ? c : 0.01) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "-" }'; }

# One brelo run: BRELO SECONDS ARGS...
run_plain() {
  local program=$1 seconds=$2 start
  shift 2
  start=$(now_ns)
  BRELO_STATS=1 DBG= /usr/bin/time -v -o "$work/time" \
    "$program" "${extra[@]}" -b=0 -seed=1 -l=1000000000 -t="$seconds" "$@" \
    >/dev/null 2>"$work/err" || { echo "run failed: $program $*"; cat "$work/err"; exit 1; }
  stats_and_time "$start"
}
# A query file run by this tree's brelo-ctl: BRELO SECONDS FILE [OPTIONS...]
run_query() {
  local program=$1 seconds=$2 file=$3 start wrapper="$work/brelo-wrapper"
  shift 3
  printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$program" "${extra[*]}" >"$wrapper"
  chmod +x "$wrapper"
  start=$(now_ns)
  BRELO_STATS=1 /usr/bin/time -v -o "$work/time" "$ctl" run "$file" --brelo "$wrapper" \
    --rate max --until "$seconds" "$@" >"$work/out" 2>"$work/err" ||
    { echo "run failed: $file $*"; cat "$work/err"; exit 1; }
  stats_and_time "$start"
  records=$(($(wc -l <"$work/out") - 1))
}
# Measures one case with both builds, alternately, BENCH_REPEAT times each
# (default 3), keeping each build's least CPU time, and adds its row:
# NAME SECONDS RUNNER ARGS... Leaves vps (this tree's virtual s per CPU s)
# and this tree's fastest run's figures set.
repeat=${BENCH_REPEAT:-3}
compare() {
  local name=$1 seconds=$2 runner=$3 base_vps="-" best_base="" best="" saved i
  shift 3
  for ((i = 0; i < repeat; ++i)); do
    if [ -n "$base" ]; then
      "$runner" "$base" "$seconds" "$@"
      if [ -z "$best_base" ] || awk -v a="$cpu" -v b="$best_base" 'BEGIN { exit !(a < b) }'; then
        best_base=$cpu
      fi
    fi
    "$runner" "$(realpath "$brelo")" "$seconds" "$@"
    if [ -z "$best" ] || awk -v a="$cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$cpu
      saved="$events|$pending|$wall|$rss|${records:-}"
    fi
  done
  IFS='|' read -r events pending wall rss records <<<"$saved"
  if [ -n "$base" ]; then
    cpu=$best_base
    base_vps=$(per_cpu "$seconds")
  fi
  cpu=$best
  vps=$(per_cpu "$seconds")
  row "$name" "$vps" "$base_vps" "$(ratio "$vps" "$base_vps")" \
    "$(awk -v e="$events" -v c="$cpu" 'BEGIN { printf "%.0f", e / (c > 0 ? c : 0.01) }')" \
    "$wall s" "$rss MB"
}

# Idle networks: about 40 million events each in the exact mode; fast mode
# covers more virtual time, as it takes so few events.
for run in 10:100 100:20 1000:2; do
  motes=${run%:*} seconds=${run#*:}
  compare "idle $motes motes, $seconds virt s" "$seconds" run_plain "$motes"
  ref_seconds=$(awk -v e="$events" -v m="$motes" 'BEGIN { printf "%.3f", e / m / 20000 }')
  ref=$("$bin/bench/reference_loop" "$motes" "$ref_seconds" "$pending" | awk '{ print $6 }')
  row "  reference loop, $pending pending" "-" "-" "-" "$ref" "-" "-"
done
for run in 100:10000 1000:1000; do
  motes=${run%:*} seconds=${run#*:}
  compare "idle $motes motes fast, $seconds virt s" "$seconds" run_plain -fast "$motes"
done

# The busy network: brelo waits (-gui) until the client has queued the queries.
busy_motes=20 busy_seconds=20
run_busy() {
  local program=$1 seconds=$2 port start brelo_pid
  port=$((20000 + RANDOM % 20000))
  start=$(now_ns)
  BRELO_STATS=1 DBG= /usr/bin/time -v -o "$work/time" \
    "$program" "${extra[@]}" -gui -port="$port" -b=0 -seed=1 -l=1000000000 \
    -t="$seconds" "$busy_motes" >"$work/out" 2>"$work/err" &
  brelo_pid=$!
  for _ in $(seq 50); do
    if "$bin/bench/busy_client" "$port" "$busy_motes" >/dev/null 2>"$work/client_err"; then
      break
    fi
    sleep 0.1
  done
  wait "$brelo_pid" || { echo "busy run failed:"; cat "$work/client_err" "$work/err"; exit 1; }
  stats_and_time "$start"
}
compare "busy $busy_motes motes, $busy_seconds virt s" "$busy_seconds" run_busy

# One-cell networks of 100 motes through brelo-ctl, exact and fast.
fast_over_exact=()
for case in saturated:20 tree_collection_100:40; do
  file=bench/${case%:*}.query seconds=${case#*:}
  compare "${case%:*} exact, $seconds virt s" "$seconds" run_query "$file"
  exact_vps=$vps
  row "  $records records delivered" "" "" "" "" "" ""
  compare "${case%:*} fast, $seconds virt s" "$seconds" run_query "$file" --fast
  row "  $records records delivered" "" "" "" "" "" ""
  fast_over_exact+=("${case%:*}: fast mode $(ratio "$vps" "$exact_vps") the exact mode")
done

# The 10 x 10 grid of examples/grid_collection.query (lossy model: fast mode
# samples every channel there, so its rows run the same events).
for mode in exact fast; do
  option=(); [ "$mode" = fast ] && option=(--fast)
  compare "grid 100 motes $mode, 60 virt s" 60 run_query examples/grid_collection.query \
    "${option[@]}"
  row "  $records records delivered" "" "" "" "" "" ""
done

printf '%-40s %14s %13s\n' "event queue" "pairs/cpu-s" "cpu/pair"
printf '%s\n' "${queue_rows[@]}"
echo
printf '%-36s %9s %9s %8s %14s %9s %9s\n' "benchmark${extra[*]:+ (${extra[*]})}" "virt s/" \
  "base" "vs base" "events/" "wall" "peak mem"
printf '%-36s %9s %9s %8s %14s\n' "" "cpu-s" "" "" "cpu-s"
printf '%s\n' "${rows[@]}"
printf '%s\n' "${fast_over_exact[@]}"
if [ -n "$base" ]; then
  echo "(base: $base)"
else
  echo "(no base build measured)"
fi
