#!/usr/bin/env bash
# The guide's cluster examples on a real one-node Slurm cluster started here (as root; needs the
# packages slurmctld, slurmd, slurm-client, munge and parallel):
#  - examples/growth-array.sh as a job array: its shards joined equal the unsharded sweep;
#  - a task of it cancelled midway and submitted again finishes its shard (--resume) to the same
#    bytes;
#  - examples/streets-parallel.sh (GNU parallel) equals the unsharded street sweep;
#  - examples/design-array.sh over a Latin hypercube design of examples/lhs_design.py, and
#    examples/experiment-parallel.sh, equal their unsharded experiments.
# segwork-cli is taken from build/ if it is there, else from PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
if [ -x build/segwork-cli ]; then export PATH="$top/build:$PATH"; fi
command -v segwork-cli >/dev/null

work=$(mktemp -d /tmp/segwork-cluster.XXXXXX)
chmod 755 "$work"
started=()
passed=no
# Stops the daemons started here and waits until they are gone, so their ports are free again.
cleanup() {
  local pid
  for pidfile in "${started[@]}"; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  if [ "$passed" = yes ]; then rm -rf "$work"; fi
}
trap cleanup EXIT

fail() {
  echo "cluster_check: $* (logs in $work)" >&2
  exit 1
}

# Waits until a command succeeds, at most $1 seconds.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 5))); do
    if "$@"; then return 0; fi
    sleep 0.2
  done
  return 1
}

start_munge() {
  install -d -o munge -g munge -m 755 /run/munge
  install -d -o munge -g munge -m 700 /var/lib/munge /var/log/munge
  if [ ! -s /etc/munge/munge.key ]; then
    dd if=/dev/urandom of=/etc/munge/munge.key bs=1 count=1024 status=none
    chown munge:munge /etc/munge/munge.key
    chmod 400 /etc/munge/munge.key
  fi
  if ! munge -n >/dev/null 2>&1; then
    runuser -u munge -- /usr/sbin/munged
    started+=(/run/munge/munged.pid)
  fi
  wait_for 10 bash -c 'munge -n | unmunge >/dev/null' || fail "munged does not answer"
}

# slurm.conf of a one-node cluster in $work; every Slurm command reads it through SLURM_CONF.
write_slurm_conf() {
  local host
  host=$(hostname -s)
  mkdir -p "$work/slurm/ctld" "$work/slurm/d"
  cat >"$work/slurm/slurm.conf" <<EOF
ClusterName=segwork
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
StateSaveLocation=$work/slurm/ctld
SlurmdSpoolDir=$work/slurm/d
SlurmctldPidFile=$work/slurm/slurmctld.pid
SlurmdPidFile=$work/slurm/slurmd.pid
SlurmctldLogFile=$work/slurm/slurmctld.log
SlurmdLogFile=$work/slurm/slurmd.log
SlurmctldPort=16817
SlurmdPort=16818
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobAcctGatherType=jobacct_gather/none
MpiDefault=none
ReturnToService=2
KillWait=10
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
  export SLURM_CONF="$work/slurm/slurm.conf"
}

start_slurm() {
  write_slurm_conf
  slurmctld -f "$SLURM_CONF"
  started+=("$work/slurm/slurmctld.pid")
  slurmd -f "$SLURM_CONF"
  started+=("$work/slurm/slurmd.pid")
  wait_for 60 bash -c 'sinfo -h -o %t 2>/dev/null | grep -qx idle' ||
    fail "the node did not become idle: $(tail -5 "$work/slurm/slurmd.log" 2>/dev/null)"
}

# The array with the given sweep options, waited for; its shards joined into joined.csv.
run_array() {
  # The script asks for two cores a task; a one-core machine gives one.
  local cpus=$(($(nproc) >= 2 ? 2 : 1))
  (cd "$1" && sbatch --wait --cpus-per-task=$cpus "$top/examples/growth-array.sh" "${@:2}" \
    >/dev/null) ||
    fail "the job array failed: $(cat "$1"/growth-*.log)"
  cat "$1"/growth-{0..9}.csv >"$1/joined.csv"
}

check_array() {
  local dir=$work/array options=(--steps 60 --runs 2)
  mkdir -p "$dir"
  run_array "$dir" "${options[@]}"
  segwork-cli sweep growth --seed 42 --quiet "${options[@]}" >"$dir/whole.csv"
  cmp "$dir/joined.csv" "$dir/whole.csv" || fail "the joined shards differ from the sweep"
  echo "cluster_check: job array of 10 shards joined equals the unsharded sweep"
}

# Task 9 holds two runs; run alone on one core it is cancelled after its first run is written.
# The fast engine settles a run in well under a second, too soon to cancel between runs; the
# literal one gives the same rows and takes seconds a run.
check_cancel_and_resume() {
  local dir=$work/cancel options=(--steps 8000 --runs 2) slow=(--engine literal) job
  mkdir -p "$dir"
  cd "$dir"
  job=$(sbatch --parsable --array=9 --cpus-per-task=1 "$top/examples/growth-array.sh" \
    "${options[@]}" "${slow[@]}")
  wait_for 300 test -s growth-9.csv || fail "task 9 wrote nothing: $(cat growth-9.log)"
  scancel "$job"
  wait_for 60 bash -c "! squeue -h -j $job | grep -q ." || fail "task 9 was not cancelled"
  segwork-cli sweep growth --seed 42 --quiet "${options[@]}" --shard 9/10 >whole-9.csv
  if cmp -s growth-9.csv whole-9.csv; then fail "task 9 ended before it was cancelled"; fi
  [ "$(tail -c 1 growth-9.csv)" = "" ] || fail "the cancelled task's file ends inside a row"
  sbatch --wait --array=9 --cpus-per-task=1 "$top/examples/growth-array.sh" "${options[@]}" \
    "${slow[@]}" >/dev/null || fail "the resumed task failed: $(cat growth-9.log)"
  cmp growth-9.csv whole-9.csv || fail "the resumed shard differs from the uninterrupted one"
  cd "$top"
  echo "cluster_check: a task cancelled midway and resumed gives the same bytes"
}

check_parallel() {
  local dir=$work/parallel
  mkdir -p "$dir"
  (cd "$dir" && bash "$top/examples/streets-parallel.sh") || fail "the parallel example failed"
  segwork-cli sweep streets --agents 8000 --from 2 --to 10 --increment 2 --runs 2 --steps 100 \
    --seed 1 --quiet >"$dir/whole.csv"
  cmp "$dir/streets.csv" "$dir/whole.csv" || fail "GNU parallel's shards differ from the sweep"
  echo "cluster_check: GNU parallel example equals the unsharded sweep"
}

check_design_array() {
  local dir=$work/design cpus=$(($(nproc) >= 2 ? 2 : 1))
  mkdir -p "$dir"
  cd "$dir"
  /usr/bin/python3 "$top/examples/lhs_design.py" 24 >design.csv || fail "no design was made"
  sbatch --wait --cpus-per-task=$cpus "$top/examples/design-array.sh" --runs 2 >/dev/null ||
    fail "the design array failed: $(cat design-*.log)"
  cat design-{0..7}.csv >joined.csv
  segwork-cli experiment --design design.csv --seed 7 --steps 2000 --until settled --quiet \
    --runs 2 >whole.csv
  cmp joined.csv whole.csv || fail "the joined blocks differ from the experiment"
  [ "$(wc -l <whole.csv)" -eq 49 ] || fail "the experiment has not 48 rows"
  cd "$top"
  echo "cluster_check: a job array over a design file joined equals the unsharded experiment"
}

check_experiment_parallel() {
  local dir=$work/experiment
  mkdir -p "$dir"
  (cd "$dir" && bash "$top/examples/experiment-parallel.sh") ||
    fail "the parallel experiment failed"
  segwork-cli experiment --vary agents=1500,3000,4000 --vary threshold=20:10:60 --vary groups=2,4 \
    --runs 10 --steps 1000 --until settled --cell-size 10 --move-distance 30 --seed 1 --quiet \
    >"$dir/whole.csv"
  cmp "$dir/experiment.csv" "$dir/whole.csv" || fail "GNU parallel's shards differ"
  echo "cluster_check: GNU parallel experiment equals the unsharded one"
}

start_munge
start_slurm
check_array
check_cancel_and_resume
check_parallel
check_design_array
check_experiment_parallel
passed=yes
