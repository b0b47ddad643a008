#!/usr/bin/env bash
# Submits a varpair run as a job array of N shards and its merge as a job that waits for them.
#
#   scripts/slurm/submit.sh [--gpu] N COMMAND OPTIONS...   (OPTIONS as for one run, with -o)
#
# --gpu asks one GPU for each shard (--gres=gpu:1). Prints the two job IDs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
gpu=()
if [ "${1:-}" = "--gpu" ]; then
  gpu=(--gres=gpu:1)
  shift
fi
n=${1:?usage: submit.sh [--gpu] N COMMAND OPTIONS...}
shift
merge=()
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case ${args[i]} in -o | -distribution) merge+=("${args[i]}" "${args[i + 1]}") ;; esac
done
shards=$(sbatch --parsable --array=1-"$n" "${gpu[@]}" "$here/shard.sbatch" "$n" "$@")
merged=$(sbatch --parsable --dependency=afterok:"$shards" --kill-on-invalid-dep=yes "$here/merge.sbatch" "$n" \
  "${merge[@]}")
echo "shards: job $shards (array 1-$n); merge: job $merged"
