// The covariate refit of reported records, on the host after the screen: logistic regression of
// case status on an intercept, the covariates and the record's genotype terms, over the record's
// samples (genotyped at both SNPs), by maximum likelihood, or by Firth's penalised likelihood where
// that does not exist (a cell without cases or without controls, separation by the covariates) or
// does not converge. The covariates are centred and scaled for the conditioning; the reported values
// do not depend on it.
#pragma once

#include <Eigen/Dense>
#include <cstdint>
#include <string>
#include <vector>

#include "interaction/genotype_masks.h"
#include "interaction/logistic.h"
#include "interaction/pair_counts.h"

namespace varpair {

// The covariate rows of the run's samples, in the order of the masks' samples.
struct RunCovariates {
  std::vector<std::string> names;
  Eigen::MatrixXd cases;     // case samples x names
  Eigen::MatrixXd controls;  // control samples x names
};

// From the covariates' rows (row-major, samples x names) of the cases and of the controls.
RunCovariates covariates_of(std::vector<std::string> names, const std::vector<double>& case_rows, std::int32_t cases,
                            const std::vector<double>& control_rows, std::int32_t controls);

// Drops the covariates that are constant over the samples (each named in `dropped`), then centres
// and scales the others. Throws InputError naming the covariates that are collinear (with the
// intercept and each other).
RunCovariates prepare_covariates(RunCovariates raw, std::vector<std::string>& dropped);

// How a record was refitted: by maximum likelihood, by Firth's penalised likelihood, or not at all
// (a design singular over the record's samples even without its idle covariates: no numbers).
enum class RefitMethod : std::int32_t { kMaximumLikelihood = 0, kFirth = 1, kFailed = 2 };
const char* refit_method_name(std::int32_t method);  // "ml", "firth", "failed"

// A 2x2 record's odds ratio of x (1 in the record's cell) adjusted for the covariates, its 95 %
// Wald interval and the likelihood-ratio p-value of x.
struct AdjustedOdds {
  double odds, lower, upper, p;
  RefitMethod method;
};

// BOOST adjusted: the model saturated over the genotype combinations that occur against the
// main-effects model, both with the covariates.
struct AdjustedBoost {
  double statistic;
  int df;  // occupied combinations - 1 - (r - 1) - (c - 1)
  double p;
  RefitMethod method;
};

class CovariateRefit {
 public:
  // The masks must outlive the refit.
  CovariateRefit(const MaskStore& cases, const MaskStore& controls, RunCovariates covariates);

  const std::vector<std::string>& names() const { return names_; }
  // Controls over cases, in single precision as the kernels weigh MDR's cells.
  float sample_ratio() const { return static_cast<float>(controls_.samples) / static_cast<float>(cases_.samples); }
  // membership[g0][g1]: 1 in the record's cell, 0 outside it, -1 left out of the record's table.
  AdjustedOdds odds(std::int32_t snp0, std::int32_t snp1, const std::int8_t (&membership)[3][3]) const;
  AdjustedBoost boost(std::int32_t snp0, std::int32_t snp1) const;
  // The pair's nine cells per sample set, counted here (MDR's risk classes).
  PairCells cells(std::int32_t snp0, std::int32_t snp1) const;

 private:
  // Sample i (cases first, then controls): its genotype at a SNP, 3 when missing.
  int genotype(std::int32_t snp, std::int32_t i) const;
  // The samples genotyped at both SNPs, with their genotypes.
  struct Genotyped {
    std::vector<std::int32_t> rows;
    std::vector<std::int8_t> g0, g1;
  };
  Genotyped genotyped(std::int32_t snp0, std::int32_t snp1) const;
  // The covariates-only fit over `rows` by maximum likelihood (all samples: the one fitted first).
  LogisticFit null_fit(const std::vector<std::int32_t>& rows) const;
  // The intercept's and covariates' columns of the records' designs: all of them, or (`all` false)
  // those independent over `rows`.
  std::vector<Eigen::Index> base_columns(const std::vector<std::int32_t>& rows, bool all) const;
  // Rows `rows` of those columns, and `extra` zero columns after them.
  Eigen::MatrixXd design(const std::vector<std::int32_t>& rows, const std::vector<Eigen::Index>& columns,
                         Eigen::Index extra) const;
  // The covariates-only fit's coefficients of those columns, zeros for the extra ones.
  Eigen::VectorXd start_of(const std::vector<Eigen::Index>& columns, Eigen::Index extra) const;

  const MaskStore& cases_;
  const MaskStore& controls_;
  std::vector<std::string> names_;
  Eigen::MatrixXd base_;  // samples x (1 + covariates): the intercept and the covariates
  Eigen::VectorXd status_;
  LogisticFit null_;          // covariates only, every sample, maximum likelihood
  std::uint64_t serial_ = 0;  // this refit among all of the process (the workers' cache of null fits)
};

}  // namespace varpair
