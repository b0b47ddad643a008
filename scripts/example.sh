#!/usr/bin/env bash
# Sets everything up, builds varpair and runs its commands on the bundled example tables.
# Outputs and run logs go to example-output/. Usage: scripts/example.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh >/dev/null
bin=build/src/varpair
out=example-output
mkdir -p "$out"

failed=0
run() {
  echo
  echo "=== varpair $*"
  if ! "$bin" "$@"; then
    echo "--- varpair $1 failed" >&2
    failed=1
  fi
}

run interChromLDr2 -file0 examples/ld.file0.txt -file1 examples/ld.file1.txt \
  -o "$out/r2.txt" -r2_cut 0.5 -distribution "$out/r2_distribution.txt"
run interChromLDdprime -file0 examples/ld.file0.txt -file1 examples/ld.file1.txt \
  -o "$out/dprime.txt" -dprime_cut 0
# The maximum-likelihood estimate of the haplotype frequencies, as PLINK 1.9 and Haploview report D'.
run interChromLDdprime -file0 examples/ld.file0.txt -file1 examples/ld.file1.txt -o "$out/dprime.em20.txt"
run interChromLDdprime -file0 examples/ld.file0.txt -file1 examples/ld.file1.txt -o "$out/dprime.ml.txt" -estimate ml
run genotype_interaction -file0 examples/cc.cases.txt -file1 examples/cc.controls.txt -o "$out/genotype.txt"
run mdr_interaction -file0 examples/cc.cases.txt -file1 examples/cc.controls.txt -o "$out/mdr.txt"
run domrec_interaction -file0 examples/cc.cases.txt -file1 examples/cc.controls.txt -o "$out/domrec.txt"
# BOOST, the field's standard test (PLINK's --fast-epistasis boost), at p <= 0.001: 19,900 tests.
run boost_interaction -file0 examples/cc.bed -o "$out/boost.txt" -alpha_cut 0.001
# Confounding by ancestry: examples/strat has two subpopulations (the second with 3x the case rate
# and other allele frequencies at SNPs 7, 27, ..., 187); -covar refits each record with PC1, AGE, SEX.
run genotype_interaction -file0 examples/strat.bed -o "$out/strat.txt" -covar examples/strat.covar
# Quantitative traits: three traits of examples/qt in one pass, adjusted for PC1 and AGE (the traits
# rise with PC1, and SNPs 7, 17, ... differ in frequency between the two ancestry groups); unadjusted too.
run qt_interaction -file0 examples/qt.bed -pheno examples/qt.pheno -covar examples/qt.covar -o "$out/qt.txt"
run qt_interaction -file0 examples/qt.bed -pheno examples/qt.pheno -o "$out/qt.unadjusted.txt"
# The same genotypes as PLINK filesets: chromosome 1 against chromosome 2 of one fileset, and cases
# and controls of one fileset told apart by the .fam phenotype. The outputs name the variants.
run interChromLDr2 -file0 examples/ld.bed -chr0 1 -file1 examples/ld.bed -chr1 2 -o "$out/r2.fileset.txt" -r2_cut 0.5
run genotype_interaction -file0 examples/cc.bed -o "$out/genotype.fileset.txt"

echo
echo "=== What the runs found (examples/README.md lists what was planted)"
echo "r2 >= 0.5 ($out/r2.txt): file1 SNPs 20-39 copy file0 SNPs 60-79, 80-89 copy 20-29"
echo "  $(tail -n +2 "$out/r2.txt" | wc -l) pairs; the first:"
sed -n 2,6p "$out/r2.txt"
echo "D' >= 0.99 decoded from the part files ($out/dprime.txt_parts): $(python3 scripts/read_parts.py "$out/dprime.txt" --min 0.99 | tail -n +2 | wc -l) pairs"
echo "D' >= 0.8 by the 20-round EM: $(tail -n +2 "$out/dprime.em20.txt" | wc -l) pairs; by -estimate ml (PLINK's estimate): $(tail -n +2 "$out/dprime.ml.txt" | wc -l) pairs"
echo
echo "Interaction records of the planted pairs (SNPs 20-120 aa*bb, 50-150 (AA+Aa)*(BB+Bb), 80-180 Aa*Bb):"
for model in genotype mdr domrec; do
  echo "--- ${model}_interaction ($out/$model.txt)"
  awk -F'\t' '($2 == 20 && $3 == 120) || ($2 == 50 && $3 == 150) || ($2 == 80 && $3 == 180)' "$out/$model.txt"
done
echo "--- boost_interaction ($out/boost.txt, the strongest of $(tail -n +2 "$out/boost.txt" | wc -l) pairs at p <= 0.001;"
echo "    the planted pairs are three of the four strongest; $out/boost.txt.summary has each SNP's best partner)"
tail -n +2 "$out/boost.txt" | sort -t$'\t' -g -k5 | sed -n 1,4p
echo
echo "Covariates ($out/strat.txt, adjusted for PC1, AGE and SEX; examples/README.md):"
awk -F'\t' 'function planted_snp(s) { return s == 20 || s == 50 || s == 80 || s == 120 || s == 150 || s == 180 }
NR > 1 {
  confounded = (($2 % 20 == 7) || ($3 % 20 == 7)) && !planted_snp($2) && !planted_snp($3)
  planted = ($2 == 20 && $3 == 120) || ($2 == 50 && $3 == 150) || ($2 == 80 && $3 == 180)
  n++; if (confounded) { m++; if (best == "" || $16 + 0 < best + 0) best = $16 }
  if (planted) printf "  planted %s x %s (%s): p %s, adjusted p %s\n", $2, $3, $1, $9, $16
} END {
  printf "  %d records; %d of them pair an ancestry-informative SNP with one of no effect: confounded.\n", n, m
  printf "  Adjusted, the least of their p-values is %s, unremarkable among %d tests;\n", best, 9 * 19900
  printf "  the planted pairs stay strong.\n"
}' "$out/strat.txt"
echo
echo "Quantitative traits ($out/qt.txt, planted: SNPs 20 x 120 in Q1, 50 x 150 in Q2; Q3 has none):"
tail -n +2 "$out/qt.txt"
echo "  without the covariates ($out/qt.unadjusted.txt): $(tail -n +2 "$out/qt.unadjusted.txt" | wc -l) tests reach p <= 1e-05:"
tail -n +2 "$out/qt.unadjusted.txt" | cut -f1-3,8
echo
echo "From the PLINK filesets, with variant IDs ($out/r2.fileset.txt, $out/genotype.fileset.txt):"
sed -n 2,4p "$out/r2.fileset.txt"
awk -F'\t' '($2 == 20 && $3 == 120)' "$out/genotype.fileset.txt"
cmp -s <(cut -f1-3 "$out/r2.fileset.txt") "$out/r2.txt" && echo "r2 from the fileset: the same values as from the text tables"
echo
echo "=== Plots (scripts/plot.py)"
python3 scripts/plot.py distribution "$out/r2_distribution.txt" --cut 0.5 -o "$out/r2_distribution.png"
python3 scripts/plot.py ld "$out/dprime.txt" -o "$out/dprime_map.png"
python3 scripts/plot.py interaction "$out/genotype.fileset.txt" -o "$out/genotype_pairs.png"
python3 scripts/plot.py interaction "$out/boost.txt" -o "$out/boost_pairs.png"
python3 scripts/plot.py interaction "$out/strat.txt" --adjusted -o "$out/strat_adjusted.png"
python3 scripts/plot.py interaction "$out/qt.unadjusted.txt" -o "$out/qt_pairs.png"
echo "  the D' map shows the two planted blocks (file0 60-79 x file1 20-39, file0 20-29 x file1 80-89);"
echo "  the interaction panels name the planted pairs (t0_snp20 x t0_snp120, ...)"
echo
echo "Run logs and outputs are in $out/"
exit $failed
