// Logistic regression of case status (1 case, 0 control) on a design matrix, for the covariate
// refit of reported records: Newton-Raphson (iteratively reweighted least squares) for the maximum
// likelihood, or Firth's penalised likelihood (log L + 1/2 log det I) where that does not exist.
// The solves are Eigen's Cholesky factorisations; step halving keeps every step uphill.
#pragma once

#include <Eigen/Dense>

namespace varpair {

enum class Penalty { kNone, kFirth };

struct LogisticFit {
  Eigen::VectorXd beta;
  Eigen::MatrixXd covariance;  // the inverse information at the estimate (Wald intervals)
  double log_likelihood = 0;   // penalised for Firth's
  bool converged = false;
  // The fitted probabilities come within 1e-12 of 0 or 1 for some sample, or a coefficient grows
  // past any real effect: the maximum-likelihood fit lies at infinity (separation).
  bool separated = false;
};

// From `start` (the covariates-only fit's coefficients, zeros for the terms it lacks). For Firth's,
// `penalty_design` (if given) is the design of a larger model whose columns span x's: the fit is then
// the larger model's penalised maximum with its extra terms held at 0 (its penalty log det I of the
// larger design), so that likelihood ratios of nested penalised fits are never negative.
LogisticFit fit_logistic(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, const Eigen::VectorXd& start,
                         Penalty penalty, const Eigen::MatrixXd* penalty_design = nullptr);

// The 0.975 quantile of the standard normal distribution: 95 % Wald intervals.
constexpr double kWaldZ = 1.959963984540054;

}  // namespace varpair
