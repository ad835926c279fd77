#!/usr/bin/env bash
# Starts or stops a one-node Slurm cluster on this machine (munged,
# slurmctld, slurmd, run as root) whose state, logs and munge key all live
# in STATE_DIR:
#   tests/slurm/cluster.sh start STATE_DIR   # then: export SLURM_CONF=STATE_DIR/slurm.conf
#   tests/slurm/cluster.sh stop STATE_DIR    # stops exactly the daemons start started
# Ports: BRELO_SLURM_PORT (default 16817) for slurmctld, the next for slurmd.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
action="${1:-}"
state="${2:-}"
if [ -z "$action" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
fi

find_program() {  # the daemons live in sbin, which a plain PATH may lack
  command -v "$1" 2>/dev/null || { [ -x "/usr/sbin/$1" ] && echo "/usr/sbin/$1"; } || return 1
}

stop() {
  [ -f "$state/started.pids" ] || return 0
  # The daemons in reverse order of start; each by the id start recorded.
  local pids
  pids="$(tac "$state/started.pids")"
  for pid in $pids; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in $pids; do
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  rm -f "$state/started.pids"
}

# A daemon's pid from its pid file, waiting for the file to appear.
pid_from() {
  for _ in $(seq 100); do
    if [ -s "$1" ]; then cat "$1"; return 0; fi
    sleep 0.1
  done
  echo "cluster.sh: $1 did not appear" >&2
  return 1
}

start() {
  if [ "$(id -u)" -ne 0 ]; then echo "cluster.sh: the daemons run as root" >&2; exit 1; fi
  local munged slurmctld slurmd
  munged="$(find_program munged)" || { echo "cluster.sh: munged is missing (Debian: munge)" >&2; exit 1; }
  slurmctld="$(find_program slurmctld)" || { echo "cluster.sh: slurmctld is missing (Debian: slurm-wlm)" >&2; exit 1; }
  slurmd="$(find_program slurmd)" || { echo "cluster.sh: slurmd is missing (Debian: slurm-wlm)" >&2; exit 1; }

  mkdir -p "$state/slurmctld" "$state/slurmd"
  chmod 700 "$state"
  : > "$state/started.pids"
  # Whatever fails from here on, the daemons started so far are stopped.
  trap 'stop' ERR

  local host port cpus memory
  host="$(hostname -s)"
  port="${BRELO_SLURM_PORT:-16817}"
  cpus="$(nproc)"
  memory=$(( $(awk '/MemTotal/ { print int($2 / 1024) }' /proc/meminfo) / 2 ))
  sed -e "s|@HOST@|$host|g" -e "s|@STATE@|$state|g" -e "s|@CPUS@|$cpus|g" -e "s|@MEMORY@|$memory|g" \
      -e "s|@CTLD_PORT@|$port|g" -e "s|@SLURMD_PORT@|$((port + 1))|g" \
      "$here/slurm.conf" > "$state/slurm.conf"
  export SLURM_CONF="$state/slurm.conf"

  # A munge key of our own, so nothing of the machine's munge is touched.
  head -c 1024 /dev/urandom > "$state/munge.key"
  chmod 400 "$state/munge.key"
  "$munged" --force --key-file="$state/munge.key" --socket="$state/munge.socket" \
    --pid-file="$state/munged.pid" --log-file="$state/munged.log" --seed-file="$state/munged.seed"
  pid_from "$state/munged.pid" >> "$state/started.pids"

  "$slurmctld" -f "$state/slurm.conf" -i
  pid_from "$state/slurmctld.pid" >> "$state/started.pids"
  "$slurmd" -f "$state/slurm.conf"
  pid_from "$state/slurmd.pid" >> "$state/started.pids"

  # Ready when the node takes jobs.
  local node_state=""
  for _ in $(seq 300); do
    node_state="$(sinfo -h -N -o %T 2>/dev/null || true)"
    case "$node_state" in idle*|mixed*|allocated*) trap - ERR; return 0 ;; esac
    sleep 0.1
  done
  echo "cluster.sh: the node did not come up (state: ${node_state:-none}); see $state/*.log" >&2
  stop
  exit 1
}

case "$action" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop STATE_DIR" >&2; exit 2 ;;
esac
