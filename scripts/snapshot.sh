#!/usr/bin/env bash
# Runs every command on the examples and on two benchmark-sized data sets with the built varpair and
# keeps every output (logs without their timing lines), so that two builds can be compared byte for
# byte: scripts/snapshot.sh before/ ; (change) ; scripts/snapshot.sh after/ ; diff -r before after
# Usage: [VARPAIR=binary] [GRID=1] scripts/snapshot.sh DIR   (data sets are made once into bench/cache/)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$1
bin=${VARPAIR:-build/src/varpair}
sim=build/bench/varpair-simulate
cache=bench/cache
mkdir -p "$out" "$cache"
[ -f $cache/snap-ld.file0.txt ] ||
  $sim ld --rows0 1500 --rows1 1200 --samples 2000 --seed 11 --missing 0.002 --out $cache/snap-ld >/dev/null
[ -f $cache/snap-cc.cases.txt ] ||
  $sim cc --snps 3000 --cases 1500 --controls 1700 --seed 11 --missing 0.002 --out $cache/snap-cc >/dev/null

run() {  # name, command and options
  local name=$1
  shift
  "$bin" "$@" >"$out/$name.console" 2>&1 || echo "exit $?" >>"$out/$name.console"
}
for set in examples/ld $cache/snap-ld; do
  tag=$(basename "$set")
  f=(-file0 "$set.file0.txt" -file1 "$set.file1.txt")
  run "$tag-r2" interChromLDr2 "${f[@]}" -o "$out/$tag-r2.txt" -r2_cut 0.5 -distribution "$out/$tag-r2.dist"
  run "$tag-dp" interChromLDdprime "${f[@]}" -o "$out/$tag-dp.txt" -distribution "$out/$tag-dp.dist"
  run "$tag-dp0" interChromLDdprime "${f[@]}" -o "$out/$tag-dp0" -dprime_cut 0
  # Text tables alone: the estimates of pairs surely below the cut-off are skipped.
  run "$tag-r2t" interChromLDr2 "${f[@]}" -o "$out/$tag-r2t.txt" -r2_cut 0.8
  run "$tag-dpt" interChromLDdprime "${f[@]}" -o "$out/$tag-dpt.txt" -dprime_cut 0.8
done
for set in examples/cc $cache/snap-cc; do
  tag=$(basename "$set")
  for c in genotype_interaction mdr_interaction domrec_interaction; do
    run "$tag-$c" $c -file0 "$set.cases.txt" -file1 "$set.controls.txt" -o "$out/$tag-$c.txt" -alpha_cut 0.001 -or_cut 1.5
  done
  run "$tag-boost" boost_interaction -file0 "$set.cases.txt" -file1 "$set.controls.txt" -o "$out/$tag-boost.txt" \
    -alpha_cut 0.001
done
# Quantitative traits: three traits with their own missing values, with and without covariates.
run qt qt_interaction -file0 examples/qt.bed -pheno examples/qt.pheno -covar examples/qt.covar -o "$out/qt.txt" \
  -alpha_cut 0.01
run qt-unadjusted qt_interaction -file0 examples/qt.bed -pheno examples/qt.pheno -o "$out/qt-unadjusted.txt" \
  -alpha_cut 0.01
# With GRID=1 also the harness's grid data sets that bench/cache holds (bench/bench.py --sizes grid),
# with the harness's options; only their tables, distributions and part files are kept.
if [ "${GRID:-0}" = 1 ]; then
  mkdir -p "$out/grid"
  for f in $cache/ld-*-*k-m*.file0.txt; do
    [ -e "$f" ] || continue
    set=${f%.file0.txt} tag=$(basename "${f%.file0.txt}")
    g=(-file0 "$set.file0.txt" -file1 "$set.file1.txt")
    run "grid/$tag-r2" interChromLDr2 "${g[@]}" -o "$out/grid/$tag-r2.txt" -r2_cut 0.8
    run "grid/$tag-dp" interChromLDdprime "${g[@]}" -o "$out/grid/$tag-dp.txt" -dprime_cut 0.8
    run "grid/$tag-r2d" interChromLDr2 "${g[@]}" -o "$out/grid/$tag-r2d.txt" -r2_cut 0.8 \
      -distribution "$out/grid/$tag-r2d.dist"
    run "grid/$tag-dp0" interChromLDdprime "${g[@]}" -o "$out/grid/$tag-dp0" -dprime_cut 0
  done
  for f in $cache/cc-*-*k-m*.cases.txt; do
    [ -e "$f" ] || continue
    set=${f%.cases.txt} tag=$(basename "${f%.cases.txt}")
    for c in genotype_interaction mdr_interaction domrec_interaction; do
      run "grid/$tag-$c" $c -file0 "$set.cases.txt" -file1 "$set.controls.txt" -o "$out/grid/$tag-$c.txt"
    done
    run "grid/$tag-boost" boost_interaction -file0 "$set.cases.txt" -file1 "$set.controls.txt" \
      -o "$out/grid/$tag-boost.txt" -alpha_cut 0.0001
  done
fi
# Timings, dates, thread counts, the paths of this snapshot and the runs' random identifiers differ
# between runs; nothing else may.
for f in "$out"/*.log "$out"/*.console "$out"/*.meta "$out"/grid/*.log "$out"/grid/*.console "$out"/grid/*.meta \
  "$out"/*_parts/run.id "$out"/grid/*_parts/run.id; do
  [ -e "$f" ] || continue
  sed -i -E -e 's/[0-9]+(\.[0-9]+)? (ms|seconds)/T \2/g' -e 's/(started|finished)( successfully)? at: .*/\1 at: T/' \
    -e 's/\(([0-9]+) threads(, [^)]*)?\)/(N threads)/' -e "s#$out/##g" -e 's/^(run )?[0-9a-f]{32}$/\1ID/' "$f"
done
echo "snapshot in $out"
