#!/usr/bin/env bash
# Starts a one-node SLURM cluster on this machine (its own configuration in a temporary folder,
# addresses on the loopback only), submits varpair runs as job arrays of 3 shards with their merges
# through scripts/slurm/submit.sh, waits for them, compares each merged output with one unsharded
# run byte for byte, and stops the cluster. Installs SLURM and munge from Debian's packages when
# they are missing. Needs root (the daemons). Usage: scripts/slurm-check.sh   (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "slurm-check: needs root to run the SLURM daemons" >&2; exit 1; }
if ! command -v slurmctld >/dev/null || ! command -v munged >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends slurm-wlm munge >/dev/null
fi

work=$(mktemp -d /tmp/varpair-slurm-XXXXXX)
chmod 755 "$work"
host=$(hostname -s)
export SLURM_CONF=$work/slurm.conf
cleanup() {
  scontrol shutdown >/dev/null 2>&1 || true
  sleep 1
  if [ -f "$work/munged.pid" ]; then
    local pid
    pid=$(cat "$work/munged.pid")
    kill "$pid" 2>/dev/null || true
    # munged writes its seed file as it stops: its folder goes once it has.
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$work" || echo "warning: could not remove $work" >&2
}
trap cleanup EXIT

mkdir -p "$work/state" "$work/spool" "$work/munge" "$work/out"
cat >"$SLURM_CONF" <<CONF
ClusterName=varpaircheck
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=1000 State=UNKNOWN
PartitionName=check Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF

# munge: a key of this check's own and a daemon on a socket of its own.
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge/munge.key"
export MUNGE_SOCKET=$work/munge/munge.socket
munged --force --key-file="$work/munge/munge.key" --socket="$MUNGE_SOCKET" --pid-file="$work/munged.pid" \
  --log-file="$work/munged.log" --seed-file="$work/munge/seed"
# SLURM's munge plugin finds the socket through its own setting.
echo "AuthInfo=socket=$MUNGE_SOCKET" >>"$SLURM_CONF"
slurmctld -i
slurmd
for _ in $(seq 60); do
  sinfo -h -o %t 2>/dev/null | grep -q idle && break
  sleep 1
done
sinfo -h -o %t | grep -q idle || { echo "slurm-check: the node did not come up"; tail "$work"/*.log; exit 1; }
echo "one-node cluster up: $(sinfo -h -o '%P %D %t %c')"

repo=$PWD
export VARPAIR=$repo/build/src/varpair
failures=0
submit_and_compare() {  # name, output name, command and options (without -o)
  local name=$1 output=$2
  shift 2
  local sharded=$work/out/$name/sharded/$output single=$work/out/$name/single/$output
  mkdir -p "$(dirname "$sharded")" "$(dirname "$single")"
  "$repo/scripts/slurm/submit.sh" 3 "$@" -o "$sharded"
  "$VARPAIR" "$@" -o "$single" >/dev/null
  echo "$sharded $single" >>"$work/pairs"
  if [ -e "$single.summary" ]; then echo "$sharded.summary $single.summary" >>"$work/pairs"; fi
}
cd "$work/out"
submit_and_compare genotype genotype.txt genotype_interaction -file0 "$repo/examples/cc.bed" -alpha_cut 0.001
submit_and_compare boost boost.txt boost_interaction -file0 "$repo/examples/cc.bed" -alpha_cut 0.01
submit_and_compare r2 r2.txt interChromLDr2 -file0 "$repo/examples/ld.bed" -chr0 1 \
  -file1 "$repo/examples/ld.bed" -chr1 2 -r2_cut 0.5
cd "$repo"
for _ in $(seq 180); do
  [ -z "$(squeue -h 2>/dev/null)" ] && break
  sleep 1
done
[ -z "$(squeue -h)" ] || { echo "slurm-check: jobs still queued after 3 minutes"; squeue; failures=$((failures + 1)); }
while read -r sharded single; do
  if cmp -s "$sharded" "$single"; then
    echo "$(basename "$sharded"): the job array's merged output equals one run"
  else
    echo "$(basename "$sharded"): DIFFERS from one run (or is missing); job outputs:"
    tail -n 5 "$work"/out/varpair-*.out
    failures=$((failures + 1))
  fi
done <"$work/pairs"
[ $failures -eq 0 ] && echo "SLURM check: passed" || { echo "SLURM check: $failures FAILED"; exit 1; }
