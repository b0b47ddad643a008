#!/usr/bin/env bash
# Runs the Snakemake workflow (workflow/Snakefile) on the examples with 3 shards of every command,
# on the real Snakemake from PyPI in a virtual environment of its own (.venv-snakemake/), and
# compares each merged output with one unsharded run byte for byte (part files decoded). Then it
# removes one finished shard and checks that a rerun redoes that shard and the merge only.
# Usage: scripts/workflow-check.sh   (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
venv=.venv-snakemake
if [ ! -x "$venv/bin/snakemake" ]; then
  python3 -m venv "$venv"
  "$venv/bin/pip" install -q "snakemake>=8,<10"
fi
varpair=$PWD/build/src/varpair
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check() {  # name, command, output, distribution, options (JSON list), comparison
  local name=$1 command=$2 output=$3 distribution=$4 options=$5 how=$6
  local dir=$work/$name
  mkdir -p "$dir"
  cat >"$dir/config.yaml" <<CONFIG
varpair: $varpair
command: $command
options: $options
output: $dir/sharded/$output
distribution: "${distribution:+$dir/sharded/$distribution}"
shards: 3
chromosome_pairs: []
gpu: 0
CONFIG
  "$venv/bin/snakemake" -s workflow/Snakefile --configfile "$dir/config.yaml" --cores 2 --directory "$PWD" \
    -q >"$dir/snakemake.log" 2>&1 || { echo "FAILED: $name (snakemake, see below)"; tail -20 "$dir/snakemake.log"; failures=$((failures + 1)); return; }
  mkdir -p "$dir/single"
  local -a single_options
  mapfile -t single_options < <(python3 -c 'import json, sys; print("\n".join(json.loads(sys.argv[1])))' "$options")
  "$varpair" "$command" "${single_options[@]}" -o "$dir/single/$output" \
    ${distribution:+-distribution "$dir/single/$distribution"} >/dev/null
  local same=yes
  case $how in
    bytes) cmp -s "$dir/sharded/$output" "$dir/single/$output" || same=no ;;
    parts) cmp -s <(python3 scripts/read_parts.py "$dir/sharded/$output") \
      <(python3 scripts/read_parts.py "$dir/single/$output") || same=no ;;
  esac
  if [ -n "$distribution" ]; then cmp -s "$dir/sharded/$distribution" "$dir/single/$distribution" || same=no; fi
  if [ -e "$dir/single/$output.summary" ]; then cmp -s "$dir/sharded/$output.summary" "$dir/single/$output.summary" || same=no; fi
  echo "$name: merged shards $( [ $same = yes ] && echo equal || echo DIFFER FROM) one run"
  [ $same = yes ] || failures=$((failures + 1))
}

ld='["-file0", "examples/ld.file0.txt", "-file1", "examples/ld.file1.txt", "-r2_cut", "0.5"]'
ld_binary='["-file0", "examples/ld.bed", "-chr0", "1", "-file1", "examples/ld.bed", "-chr1", "2", "-dprime_cut", "0"]'
cc='["-file0", "examples/cc.cases.txt", "-file1", "examples/cc.controls.txt", "-alpha_cut", "0.001"]'
cc_fileset='["-file0", "examples/cc.bed", "-alpha_cut", "0.001"]'
check r2 interChromLDr2 r2.txt dist.txt "$ld" bytes
check dprime-parts interChromLDdprime dprime dist.txt "$ld_binary" parts
check genotype genotype_interaction genotype.txt "" "$cc" bytes
check mdr mdr_interaction mdr.txt "" "$cc_fileset" bytes
check domrec domrec_interaction domrec.txt "" "$cc" bytes
check boost boost_interaction boost.txt "" "$cc_fileset" bytes

# After a failed or killed shard (no manifest, so no merge either) a rerun redoes that shard and the
# merge, and keeps the shards that finished.
rm "$work/genotype/sharded/genotype.2.txt.shard" "$work/genotype/sharded/genotype.txt"
planned=$("$venv/bin/snakemake" -s workflow/Snakefile --configfile "$work/genotype/config.yaml" --cores 2 \
  --directory "$PWD" --dry-run 2>&1 | grep -cE '^rule (shard|merge):' || true)
if [ "$planned" = 2 ]; then echo "rerun after a lost shard: that shard and the merge only"
else echo "rerun after a lost shard: $planned jobs planned, expected 2"; failures=$((failures + 1)); fi
[ $failures -eq 0 ] && echo "workflow check: passed" || { echo "workflow check: $failures FAILED"; exit 1; }
