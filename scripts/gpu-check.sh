#!/usr/bin/env bash
# The GPU check: builds the CUDA flavour on a machine with an NVIDIA GPU, runs the test suite there,
# runs every command on the examples and on medium data sets with the CUDA and the host build,
# compares every output (interaction tables after sorting their lines, part files decoded), runs a
# small case of every command under compute-sanitizer (memcheck, racecheck), and times the GPU runs.
#
#   scripts/gpu-check.sh prepare   here: put GSL, GoogleTest and Eigen (Debian's) into .gpu-carry/
#   scripts/gpu-check.sh run       there, with .gpu-carry carried; writes a report to $OUT (or
#                                  gpu-check-output/) and prints its table last
#
# The GPU machine reaches no package registry: it has its own cmake, ninja and nvcc, and gets GSL,
# GoogleTest and Eigen's headers from .gpu-carry. Without a GPU, `run` stops after the builds and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
carry=.gpu-carry

prepare() {
  scripts/setup.sh
  rm -rf "$carry"
  mkdir -p "$carry/include" "$carry/lib" "$carry/share/eigen3"
  cp -r /usr/include/gsl /usr/include/gtest /usr/include/eigen3 "$carry/include/"
  cp -r /usr/share/eigen3/cmake "$carry/share/eigen3/"
  local libdir=/usr/lib/x86_64-linux-gnu
  cp "$libdir/libgsl.a" "$libdir/libgslcblas.a" "$libdir/libgtest.a" "$libdir/libgtest_main.a" "$carry/lib/"
  grep -qx "/$carry/" .git/info/exclude 2>/dev/null || echo "/$carry/" >> .git/info/exclude
  echo "prepared $carry ($(du -sh "$carry" | cut -f1)); carry it in the device call"
}

configure() {  # build folder, extra options
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARPAIR_TESTS=ON \
    -DGSL_ROOT_DIR="$PWD/$carry" -DGTest_ROOT="$PWD/$carry" -DEigen3_DIR="$PWD/$carry/share/eigen3/cmake" "$@" \
    >/dev/null
  cmake --build "$dir" -j "$(nproc)" >/dev/null
}

compare() {  # label, host output, cuda output, how
  local label=$1 host=$2 cuda=$3 how=$4 same
  case $how in
    bytes) cmp -s "$host" "$cuda" && same=yes || same=NO ;;
    sorted) cmp -s <(sort "$host") <(sort "$cuda") && same=yes || same=NO ;;
    parts) cmp -s <(python3 scripts/read_parts.py "${host%.meta}") <(python3 scripts/read_parts.py "${cuda%.meta}") &&
      same=yes || same=NO ;;
  esac
  echo "| $label | $same |" >>"$report.compare"
  [ "$same" = yes ] || failures=$((failures + 1))
}

run_command() {  # build folder, output folder, command, inputs and options...
  local build=$1 outdir=$2
  shift 2
  mkdir -p "$outdir"
  "$build/src/varpair" "$@" >"$outdir/$1.console" 2>&1
}

run() {
  out=${OUT:-gpu-check-output}
  mkdir -p "$out"
  report=$out/report
  : >"$report.compare"
  failures=0
  export PATH="$PATH:/usr/local/cuda/bin"

  echo "== building the host and the CUDA flavour"
  configure build-gc-host
  configure build-gc-cuda -DVARPAIR_CUDA=ON
  if ! nvidia-smi -L >/dev/null 2>&1; then
    echo "no GPU on this machine: the check stops after the builds"
    exit 0
  fi
  nvidia-smi -L | tee "$out/gpu.txt"

  echo "== test suite on the GPU"
  ctest --test-dir build-gc-cuda -j 4 --output-on-failure >"$out/ctest.log" 2>&1 && echo "tests: passed" ||
    { echo "tests: FAILED (see ctest.log)"; failures=$((failures + 1)); }
  tail -n 3 "$out/ctest.log"

  echo "== data"
  local data=$out/data sim=build-gc-host/bench/varpair-simulate
  mkdir -p "$data"
  cp examples/*.txt "$data/"
  $sim ld --rows0 3000 --rows1 2000 --samples 4000 --seed 5 --missing 0.002 --out "$data/mld" >/dev/null
  $sim cc --snps 6000 --cases 2000 --controls 2500 --seed 5 --missing 0.002 --out "$data/mcc" >/dev/null
  $sim qt --snps 4000 --samples 4000 --seed 5 --missing 0.002 --phenotypes 3 --covariates 2 --out "$data/mqt" \
    --plink >/dev/null

  echo "== every command with both builds"
  local flavour set
  for flavour in host cuda; do
    for set in ld mld; do
      local o=$out/$flavour/$set f="-file0 $data/$set.file0.txt -file1 $data/$set.file1.txt"
      run_command build-gc-$flavour "$o" interChromLDr2 $f -o "$o/r2.txt" -r2_cut 0.5 -distribution "$o/r2.dist"
      run_command build-gc-$flavour "$o" interChromLDdprime $f -o "$o/dp" -dprime_cut 0 -distribution "$o/dp.dist"
      # The maximum-likelihood estimate: every value, and a text table with the estimate skip.
      mkdir -p "$o/ml"
      run_command build-gc-$flavour "$o/ml" interChromLDdprime $f -o "$o/ml/dp" -dprime_cut 0 -estimate ml \
        -distribution "$o/ml/dp.dist"
      run_command build-gc-$flavour "$o/ml" interChromLDr2 $f -o "$o/ml/r2.txt" -r2_cut 0.5 -estimate ml
    done
    for set in cc mcc; do
      local o=$out/$flavour/$set f="-file0 $data/$set.cases.txt -file1 $data/$set.controls.txt"
      for c in genotype_interaction mdr_interaction domrec_interaction; do
        run_command build-gc-$flavour "$o" $c $f -o "$o/$c.txt" -alpha_cut 0.001 -or_cut 1.5
      done
      run_command build-gc-$flavour "$o" boost_interaction $f -o "$o/boost_interaction.txt" -alpha_cut 0.001
    done
    # Quantitative traits: three traits with covariates on the example and on medium data, and every
    # pair of PLINK's fixture.
    for set in examples/qt $data/mqt; do
      local o=$out/$flavour/$(basename "$set")
      run_command build-gc-$flavour "$o" qt_interaction -file0 "$set.bed" -pheno "$set.pheno" -covar "$set.covar" \
        -o "$o/qt_interaction.txt" -alpha_cut 0.001
    done
    run_command build-gc-$flavour "$out/$flavour/qtfixture" qt_interaction -file0 tests/data/qt/fixture.bed \
      -pheno tests/data/qt/fixture.pheno -covar tests/data/qt/fixture.covar -o "$out/$flavour/qtfixture/qt.txt" \
      -alpha_cut 1
    # BOOST on PLINK's fixture at cut-off 1: every pair's screen passes and every pair is fitted.
    run_command build-gc-$flavour "$out/$flavour/fixture" boost_interaction -file0 tests/data/boost/fixture.bed \
      -o "$out/$flavour/fixture/boost.txt" -alpha_cut 1
  done
  for set in ld mld; do
    compare "$set r2 table" "$out/host/$set/r2.txt" "$out/cuda/$set/r2.txt" bytes
    compare "$set r2 distribution" "$out/host/$set/r2.dist" "$out/cuda/$set/r2.dist" bytes
    compare "$set D' part files" "$out/host/$set/dp.meta" "$out/cuda/$set/dp.meta" parts
    compare "$set D' distribution" "$out/host/$set/dp.dist" "$out/cuda/$set/dp.dist" bytes
    compare "$set D' ml part files" "$out/host/$set/ml/dp.meta" "$out/cuda/$set/ml/dp.meta" parts
    compare "$set D' ml distribution" "$out/host/$set/ml/dp.dist" "$out/cuda/$set/ml/dp.dist" bytes
    compare "$set r2 ml table" "$out/host/$set/ml/r2.txt" "$out/cuda/$set/ml/r2.txt" bytes
  done
  for set in cc mcc; do
    for c in genotype_interaction mdr_interaction domrec_interaction; do
      compare "$set $c" "$out/host/$set/$c.txt" "$out/cuda/$set/$c.txt" sorted
    done
    compare "$set boost_interaction" "$out/host/$set/boost_interaction.txt" "$out/cuda/$set/boost_interaction.txt" bytes
    compare "$set boost_interaction summary" "$out/host/$set/boost_interaction.txt.summary" \
      "$out/cuda/$set/boost_interaction.txt.summary" bytes
  done
  compare "fixture boost_interaction, every pair" "$out/host/fixture/boost.txt" "$out/cuda/fixture/boost.txt" bytes
  compare "fixture boost_interaction summary" "$out/host/fixture/boost.txt.summary" \
    "$out/cuda/fixture/boost.txt.summary" bytes

  for set in qt mqt qtfixture; do
    local table=$out/host/$set/qt_interaction.txt
    [ "$set" = qtfixture ] && table=$out/host/$set/qt.txt
    compare "$set qt_interaction" "$table" "${table/host/cuda}" bytes
    compare "$set qt_interaction summary" "$table.summary" "${table/host/cuda}.summary" bytes
  done

  echo "== compute-sanitizer on small cases"
  local s=$out/sanitizer
  mkdir -p "$s"
  for tool in memcheck racecheck; do
    for args in "interChromLDr2 -file0 $data/ld.file0.txt -file1 $data/ld.file1.txt -o $s/r2.txt -distribution $s/d" \
      "interChromLDdprime -file0 $data/ld.file0.txt -file1 $data/ld.file1.txt -o $s/dp -dprime_cut 0" \
      "genotype_interaction -file0 $data/cc.cases.txt -file1 $data/cc.controls.txt -o $s/gi.txt" \
      "mdr_interaction -file0 $data/cc.cases.txt -file1 $data/cc.controls.txt -o $s/mdr.txt" \
      "domrec_interaction -file0 $data/cc.cases.txt -file1 $data/cc.controls.txt -o $s/dr.txt" \
      "boost_interaction -file0 $data/cc.cases.txt -file1 $data/cc.controls.txt -o $s/boost.txt -alpha_cut 0.01" \
      "qt_interaction -file0 tests/data/qt/fixture.bed -pheno tests/data/qt/fixture.pheno -covar tests/data/qt/fixture.covar -o $s/qt.txt"; do
      local name=${args%% *}
      if compute-sanitizer --tool "$tool" --error-exitcode 9 build-gc-cuda/src/varpair $args >"$s/$name.$tool" 2>&1; then
        echo "| compute-sanitizer $tool $name | clean |" >>"$report.compare"
      else
        echo "| compute-sanitizer $tool $name | ERRORS |" >>"$report.compare"
        failures=$((failures + 1))
      fi
    done
  done

  echo "== GPU timings (medium data)"
  : >"$report.timing"
  for c in interChromLDr2 interChromLDdprime genotype_interaction mdr_interaction domrec_interaction boost_interaction \
    qt_interaction; do
    local log set pairs total compute
    case $c in
      interChromLD*) set=mld pairs=$((3000 * 2000)) ;;
      qt_interaction) set=mqt pairs=$((4000 * 3999 / 2)) ;;
      *) set=mcc pairs=$((6000 * 5999 / 2)) ;;
    esac
    log=$out/cuda/$set/$c.console
    case $c in
      interChromLD*)
        compute=$(sed -n 's/^Computation time: \([0-9.]*\) seconds/\1/p' "$log")
        total=$(/usr/bin/env time -f %e build-gc-cuda/src/varpair $c -file0 "$data/mld.file0.txt" \
          -file1 "$data/mld.file1.txt" -o "$out/t.txt" 2>&1 >/dev/null | tail -n 1) ;;
      *)
        compute=$(sed -n 's/^Computation: \([0-9.]*\) seconds/\1/p' "$log")
        total=$(sed -n 's/^Total time: \([0-9.]*\) seconds/\1/p' "$log") ;;
    esac
    python3 -c "import sys; p, t, k = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3] or 0); \
print('| %s | %d | %.3f | %.3g | %.0f %% |' % (sys.argv[4], p, t, p / t if t else 0, 100 * k / t if t else 0))" \
      "$pairs" "$total" "$compute" "$c" >>"$report.timing"
  done

  {
    echo "GPU check: $(head -n 1 "$out/gpu.txt")"
    echo
    echo "| check | result |"
    echo "|---|---|"
    cat "$report.compare"
    echo
    echo "| command (GPU, medium data) | pairs | wall s | pairs/s | kernels' share |"
    echo "|---|---|---|---|---|"
    cat "$report.timing"
    echo
    echo "failures: $failures"
  } | tee "$out/gpu-check.md"
  [ "$failures" -eq 0 ]
}

case ${1:-} in
  prepare) prepare ;;
  run) run ;;
  *) echo "usage: scripts/gpu-check.sh prepare|run" >&2; exit 2 ;;
esac
