#!/usr/bin/env bash
# A sweep on a real one-node Slurm cluster against the same sweep run here:
# starts the cluster, submits the sweep with --slurm --wait, merges its
# parts with --collect, and checks that both databases hold the same runs
# with the same results; then that --collect refuses a missing part. The
# cluster is stopped however the test ends.
# Usage: round_trip.sh BRELO_CTL EXAMPLES_DIR   (exit 77: skipped)
set -euo pipefail

ctl="$1"
examples="$2"
here="$(cd "$(dirname "$0")" && pwd)"

skip() { echo "round_trip.sh: skipped: $1"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the cluster's daemons run as root"
for program in sbatch sinfo sqlite3; do
  command -v "$program" >/dev/null || skip "$program is missing (scripts/setup.sh --ci installs it)"
done
for daemon in munged slurmctld slurmd; do
  command -v "$daemon" >/dev/null || [ -x "/usr/sbin/$daemon" ] || skip "$daemon is missing"
done

work="$(mktemp -d /tmp/brelo_slurm_XXXXXX)"
cleanup() {
  "$here/cluster.sh" stop "$work/cluster" || true
  rm -rf "$work"
}
trap cleanup EXIT

"$here/cluster.sh" start "$work/cluster"
export SLURM_CONF="$work/cluster/slurm.conf"

cp "$examples/collection.query" "$work/"
cat > "$work/small.experiment" <<'EXPERIMENT'
name slurm_round_trip
query collection.query
vary seed 1..5
set until 20
EXPERIMENT

fail() {
  echo "round_trip.sh: $1" >&2
  for log in "$work"/small.experiment.parts/task_*.log "$work"/cluster/*.log; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -20 "$log" >&2; }
  done
  exit 1
}

# Three tasks for five runs: task 0 runs runs 0 and 3, task 1 runs 1 and 4, task 2 run 2.
job="$("$ctl" sweep "$work/small.experiment" --slurm --wait --tasks 3)" || fail "the Slurm sweep failed"
[[ "$job" =~ ^[0-9]+$ ]] || fail "no job id printed (got: $job)"
for k in 0 1 2; do
  [ -f "$work/small.experiment.parts/part_$k.sqlite" ] || fail "task $k wrote no part"
done
"$ctl" sweep "$work/small.experiment" --collect --db "$work/cluster.sqlite" || fail "--collect failed"
"$ctl" sweep "$work/small.experiment" --db "$work/local.sqlite" || fail "the local sweep failed"

# What identical runs must share (wall time, the time a run ended and its
# command line are the run's own).
dump() {
  sqlite3 "$1" \
    "SELECT run_id, parameters, seed, status, exit_status, events, virtual_seconds FROM runs ORDER BY run_id;" \
    "SELECT run_id, time, mote, timestamp, epoch, fields FROM results ORDER BY run_id, time, mote, fields;" \
    "SELECT run_id, mote, expected, received FROM delivery ORDER BY run_id, mote;"
}
[ "$(sqlite3 "$work/cluster.sqlite" 'SELECT count(*) FROM runs')" = 5 ] || fail "the merged database lacks runs"
[ "$(sqlite3 "$work/cluster.sqlite" 'SELECT count(*) FROM results')" -gt 0 ] || fail "the merged database has no results"
diff <(dump "$work/local.sqlite") <(dump "$work/cluster.sqlite") || fail "the cluster's runs differ from the local ones"

# A part gone: the merge refuses with status 2 and names the runs it lacks.
rm "$work/small.experiment.parts/part_1.sqlite"
set +e
"$ctl" sweep "$work/small.experiment" --collect --db "$work/refused.sqlite" 2> "$work/refusal"
status=$?
set -e
[ "$status" -eq 2 ] || fail "--collect with a part missing ended with $status, not 2"
grep -q "2 runs missing from every part" "$work/refusal" || fail "the refusal does not say what is missing: $(cat "$work/refusal")"
[ ! -e "$work/refused.sqlite" ] || fail "a refused merge wrote a database"
echo "round_trip.sh: job $job: 5 runs on Slurm equal the local sweep"
