#include "interaction/covariate_refit.h"

#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "common/errors.h"

namespace varpair {

namespace {

// The rows of `m` at `rows`, with `extra` more columns (zero) after them.
Eigen::MatrixXd rows_of(const Eigen::MatrixXd& m, const std::vector<std::int32_t>& rows, Eigen::Index extra) {
  Eigen::MatrixXd out = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(rows.size()), m.cols() + extra);
  for (std::size_t r = 0; r < rows.size(); ++r) out.row(static_cast<Eigen::Index>(r)).head(m.cols()) = m.row(rows[r]);
  return out;
}

Eigen::VectorXd entries_of(const Eigen::VectorXd& v, const std::vector<std::int32_t>& rows) {
  Eigen::VectorXd out(static_cast<Eigen::Index>(rows.size()));
  for (std::size_t r = 0; r < rows.size(); ++r) out[static_cast<Eigen::Index>(r)] = v[rows[r]];
  return out;
}

Eigen::VectorXd extended(const Eigen::VectorXd& start, Eigen::Index extra) {
  Eigen::VectorXd out = Eigen::VectorXd::Zero(start.size() + extra);
  out.head(start.size()) = start;
  return out;
}

bool fits_well(const LogisticFit& f) { return f.converged && !f.separated; }

// The same pair of nested models by maximum likelihood, or both by Firth's where either fails.
struct NestedFits {
  LogisticFit reduced, full;
  bool firth;
};

}  // namespace

RunCovariates covariates_of(std::vector<std::string> names, const std::vector<double>& case_rows, std::int32_t cases,
                            const std::vector<double>& control_rows, std::int32_t controls) {
  const auto q = static_cast<Eigen::Index>(names.size());
  using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  return RunCovariates{std::move(names), Eigen::Map<const RowMajor>(case_rows.data(), cases, q),
                       Eigen::Map<const RowMajor>(control_rows.data(), controls, q)};
}

RunCovariates prepare_covariates(RunCovariates raw, std::vector<std::string>& dropped) {
  const Eigen::Index n = raw.cases.rows() + raw.controls.rows();
  Eigen::MatrixXd all(n, static_cast<Eigen::Index>(raw.names.size()));
  all << raw.cases, raw.controls;
  RunCovariates out;
  std::vector<Eigen::Index> kept;
  for (Eigen::Index c = 0; c < all.cols(); ++c) {
    if (all.col(c).maxCoeff() == all.col(c).minCoeff()) {
      dropped.push_back(raw.names[static_cast<std::size_t>(c)]);
      continue;
    }
    kept.push_back(c);
    out.names.push_back(raw.names[static_cast<std::size_t>(c)]);
  }
  Eigen::MatrixXd z(n, static_cast<Eigen::Index>(kept.size()));
  for (std::size_t k = 0; k < kept.size(); ++k) {
    // First brought to magnitudes about 1 by a power of two, so that no sum or square over- or
    // underflows (1e160 or 1e-300 would, and then read as constant); multiplying by a power of two
    // is exact, so the standardised values are the same bits as without it wherever those fit.
    int exponent = 0;
    std::frexp(all.col(kept[k]).cwiseAbs().maxCoeff(), &exponent);
    const Eigen::VectorXd column =
        all.col(kept[k]).unaryExpr([exponent](double v) { return std::ldexp(v, -exponent); });
    const double mean = column.mean();
    const double sd = std::sqrt((column.array() - mean).square().sum() / static_cast<double>(n));
    z.col(static_cast<Eigen::Index>(k)) = (column.array() - mean) / sd;
  }
  // Collinear: a covariate that adds nothing to the rank of the intercept and those before it.
  Eigen::MatrixXd design(n, 1 + z.cols());
  design << Eigen::VectorXd::Ones(n), z;
  for (Eigen::Index k = 1; k <= z.cols(); ++k) {
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(design.leftCols(k + 1));
    qr.setThreshold(1e-10);
    if (qr.rank() <= k) {
      std::string others = "the intercept";
      for (Eigen::Index j = 0; j + 1 < k; ++j) others += ", " + out.names[static_cast<std::size_t>(j)];
      throw InputError("the covariates are collinear: " + out.names[static_cast<std::size_t>(k - 1)] +
                       " is a linear combination of " + others + " over the samples used");
    }
  }
  out.cases = z.topRows(raw.cases.rows());
  out.controls = z.bottomRows(raw.controls.rows());
  return out;
}

CovariateRefit::CovariateRefit(const MaskStore& cases, const MaskStore& controls, RunCovariates covariates)
    : cases_(cases), controls_(controls), names_(std::move(covariates.names)) {
  static std::atomic<std::uint64_t> refits{0};
  serial_ = ++refits;
  const Eigen::Index n = covariates.cases.rows() + covariates.controls.rows();
  const Eigen::Index q = static_cast<Eigen::Index>(names_.size());
  base_.resize(n, 1 + q);
  base_.col(0).setOnes();
  if (q > 0) base_.rightCols(q) << covariates.cases, covariates.controls;
  status_ = Eigen::VectorXd::Zero(n);
  status_.head(covariates.cases.rows()).setOnes();
  null_ = fit_logistic(base_, status_, Eigen::VectorXd::Zero(1 + q), Penalty::kNone);
}

int CovariateRefit::genotype(std::int32_t snp, std::int32_t i) const {
  const bool is_case = i < cases_.samples;
  const MaskStore& set = is_case ? cases_ : controls_;
  const std::int32_t s = is_case ? i : i - cases_.samples;
  for (int g = 0; g < 3; ++g)
    if ((set.mask(g, snp)[s / 64] >> (s % 64)) & 1u) return g;
  return 3;
}

CovariateRefit::Genotyped CovariateRefit::genotyped(std::int32_t snp0, std::int32_t snp1) const {
  Genotyped g;
  const auto n = static_cast<std::int32_t>(base_.rows());
  for (std::int32_t i = 0; i < n; ++i) {
    const int a = genotype(snp0, i), b = genotype(snp1, i);
    if (a == 3 || b == 3) continue;
    g.rows.push_back(i);
    g.g0.push_back(static_cast<std::int8_t>(a));
    g.g1.push_back(static_cast<std::int8_t>(b));
  }
  return g;
}

PairCells CovariateRefit::cells(std::int32_t snp0, std::int32_t snp1) const {
  PairCells c{};
  const Genotyped g = genotyped(snp0, snp1);
  for (std::size_t k = 0; k < g.rows.size(); ++k) {
    if (g.rows[k] < cases_.samples)
      ++c.cases[g.g0[k]][g.g1[k]], ++c.n_cases;
    else
      ++c.controls[g.g0[k]][g.g1[k]], ++c.n_controls;
  }
  return c;
}

LogisticFit CovariateRefit::null_fit(const std::vector<std::int32_t>& rows) const {
  if (static_cast<Eigen::Index>(rows.size()) == base_.rows()) return null_;
  // The records of a pair come together and mostly share their samples (all but MDR's, all of
  // them): each worker keeps its last fit.
  thread_local struct {
    std::uint64_t owner = 0;
    std::vector<std::int32_t> rows;
    LogisticFit fit;
  } last;
  if (last.owner == serial_ && last.rows == rows) return last.fit;
  LogisticFit fit = fit_logistic(rows_of(base_, rows, 0), entries_of(status_, rows), null_.beta, Penalty::kNone);
  last.owner = serial_;
  last.rows = rows;
  last.fit = fit;
  return fit;
}

namespace {

// The reduced and the full design of a record (the full one's columns span the reduced one's), by
// maximum likelihood, or both by Firth's (the reduced one as the full model's penalised maximum
// with its extra terms held at 0) when `firth` or when either maximum-likelihood fit fails.
NestedFits fit_nested(const Eigen::MatrixXd& reduced, const Eigen::MatrixXd& full, const Eigen::VectorXd& y,
                      const LogisticFit* ml_reduced, const Eigen::VectorXd& start, bool firth) {
  NestedFits f{{}, {}, firth};
  if (!firth) {
    f.reduced =
        ml_reduced != nullptr ? *ml_reduced : fit_logistic(reduced, y, start.head(reduced.cols()), Penalty::kNone);
    // A design that appends one column starts from the reduced fit; another from the covariates'.
    const bool appended = full.cols() == reduced.cols() + 1;
    f.full = fit_logistic(full, y, appended ? extended(f.reduced.beta, 1) : start, Penalty::kNone);
    f.firth = !fits_well(f.reduced) || !fits_well(f.full);
  }
  if (f.firth) {
    f.full = fit_logistic(full, y, start, Penalty::kFirth);
    f.reduced = fit_logistic(reduced, y, f.full.beta.head(reduced.cols()), Penalty::kFirth, &full);
  }
  return f;
}

bool failed(const NestedFits& f) {
  return !std::isfinite(f.full.log_likelihood) || !std::isfinite(f.reduced.log_likelihood);
}

}  // namespace

const char* refit_method_name(std::int32_t method) {
  return method == static_cast<std::int32_t>(RefitMethod::kFirth)    ? "firth"
         : method == static_cast<std::int32_t>(RefitMethod::kFailed) ? "failed"
                                                                     : "ml";
}

std::vector<Eigen::Index> CovariateRefit::base_columns(const std::vector<std::int32_t>& rows, bool all) const {
  std::vector<Eigen::Index> columns;
  if (all) {
    for (Eigen::Index c = 0; c < base_.cols(); ++c) columns.push_back(c);
    return columns;
  }
  // Over the record's samples a covariate can be constant, or a combination of others (a batch
  // whose samples miss one SNP): the intercept and the covariates that add to the rank.
  const Eigen::MatrixXd b = rows_of(base_, rows, 0);
  columns.push_back(0);
  for (Eigen::Index c = 1; c < base_.cols(); ++c) {
    Eigen::MatrixXd trial(b.rows(), static_cast<Eigen::Index>(columns.size()) + 1);
    for (std::size_t k = 0; k < columns.size(); ++k) trial.col(static_cast<Eigen::Index>(k)) = b.col(columns[k]);
    trial.col(trial.cols() - 1) = b.col(c);
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(trial);
    qr.setThreshold(1e-10);
    if (qr.rank() == trial.cols()) columns.push_back(c);
  }
  return columns;
}

Eigen::MatrixXd CovariateRefit::design(const std::vector<std::int32_t>& rows, const std::vector<Eigen::Index>& columns,
                                       Eigen::Index extra) const {
  Eigen::MatrixXd out =
      Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(rows.size()), static_cast<Eigen::Index>(columns.size()) + extra);
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t c = 0; c < columns.size(); ++c)
      out(static_cast<Eigen::Index>(r), static_cast<Eigen::Index>(c)) = base_(rows[r], columns[c]);
  return out;
}

Eigen::VectorXd CovariateRefit::start_of(const std::vector<Eigen::Index>& columns, Eigen::Index extra) const {
  Eigen::VectorXd start = Eigen::VectorXd::Zero(static_cast<Eigen::Index>(columns.size()) + extra);
  for (std::size_t c = 0; c < columns.size(); ++c) start[static_cast<Eigen::Index>(c)] = null_.beta[columns[c]];
  return start;
}

AdjustedOdds CovariateRefit::odds(std::int32_t snp0, std::int32_t snp1, const std::int8_t (&membership)[3][3]) const {
  const Genotyped g = genotyped(snp0, snp1);
  std::vector<std::int32_t> rows;
  std::vector<double> x;
  std::int64_t table[2][2] = {};  // [in the cell][case]
  for (std::size_t k = 0; k < g.rows.size(); ++k) {
    const int in = membership[g.g0[k]][g.g1[k]];
    if (in < 0) continue;
    rows.push_back(g.rows[k]);
    x.push_back(in);
    ++table[in][g.rows[k] < cases_.samples ? 1 : 0];
  }
  const Eigen::VectorXd y = entries_of(status_, rows);
  // A cell of the record's table without cases or without controls puts the estimate at infinity.
  const bool empty_cell = table[0][0] == 0 || table[0][1] == 0 || table[1][0] == 0 || table[1][1] == 0;
  for (const bool all : {true, false}) {
    const std::vector<Eigen::Index> columns = base_columns(rows, all);
    const auto last = static_cast<Eigen::Index>(columns.size());
    Eigen::MatrixXd full = design(rows, columns, 1);
    for (std::size_t r = 0; r < rows.size(); ++r) full(static_cast<Eigen::Index>(r), last) = x[r];
    LogisticFit cached;
    if (all && !empty_cell) cached = null_fit(rows);
    const NestedFits f = fit_nested(full.leftCols(last), full, y, all && !empty_cell ? &cached : nullptr,
                                    start_of(columns, 1), empty_cell);
    if (failed(f)) continue;  // a design singular over the record's samples: without its idle covariates
    const double b = f.full.beta[last], se = std::sqrt(f.full.covariance(last, last));
    const double lr = std::max(0.0, 2.0 * (f.full.log_likelihood - f.reduced.log_likelihood));
    return AdjustedOdds{std::exp(b), std::exp(b - kWaldZ * se), std::exp(b + kWaldZ * se), gsl_cdf_chisq_Q(lr, 1.0),
                        f.firth ? RefitMethod::kFirth : RefitMethod::kMaximumLikelihood};
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  return AdjustedOdds{nan, nan, nan, nan, RefitMethod::kFailed};
}

AdjustedBoost CovariateRefit::boost(std::int32_t snp0, std::int32_t snp1) const {
  const Genotyped g = genotyped(snp0, snp1);
  std::int64_t cases[3][3] = {}, all_samples[3][3] = {};
  for (std::size_t k = 0; k < g.rows.size(); ++k) {
    ++all_samples[g.g0[k]][g.g1[k]];
    cases[g.g0[k]][g.g1[k]] += g.rows[k] < cases_.samples;
  }
  bool present0[3] = {}, present1[3] = {};
  int occupied = 0;
  bool empty_class = false;  // an occupied combination without cases or without controls
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      if (all_samples[a][b] == 0) continue;
      present0[a] = present1[b] = true;
      ++occupied;
      empty_class = empty_class || cases[a][b] == 0 || cases[a][b] == all_samples[a][b];
    }
  const int r = present0[0] + present0[1] + present0[2], c = present1[0] + present1[1] + present1[2];
  const int df = occupied - 1 - (r - 1) - (c - 1);
  if (df <= 0) return AdjustedBoost{0.0, 0, 1.0, RefitMethod::kMaximumLikelihood};
  // Main effects: the genotypes of each SNP that occur but the first; saturated: the occupied
  // combinations but the first.
  std::vector<std::pair<int, int>> main_terms, combinations;  // (SNP, genotype) and (g0, g1)
  for (int snp = 0; snp < 2; ++snp) {
    const bool* present = snp == 0 ? present0 : present1;
    bool first = true;
    for (int v = 0; v < 3; ++v)
      if (present[v]) {
        if (!first) main_terms.emplace_back(snp, v);
        first = false;
      }
  }
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      if (all_samples[a][b] > 0) combinations.emplace_back(a, b);
  combinations.erase(combinations.begin());
  const Eigen::VectorXd y = entries_of(status_, g.rows);
  for (const bool all : {true, false}) {
    const std::vector<Eigen::Index> columns = base_columns(g.rows, all);
    const auto q = static_cast<Eigen::Index>(columns.size());
    Eigen::MatrixXd reduced = design(g.rows, columns, static_cast<Eigen::Index>(main_terms.size()));
    Eigen::MatrixXd full = design(g.rows, columns, static_cast<Eigen::Index>(combinations.size()));
    for (std::size_t k = 0; k < g.rows.size(); ++k) {
      const auto row = static_cast<Eigen::Index>(k);
      for (std::size_t t = 0; t < main_terms.size(); ++t)
        reduced(row, q + static_cast<Eigen::Index>(t)) =
            (main_terms[t].first == 0 ? g.g0[k] : g.g1[k]) == main_terms[t].second ? 1.0 : 0.0;
      for (std::size_t t = 0; t < combinations.size(); ++t)
        full(row, q + static_cast<Eigen::Index>(t)) =
            g.g0[k] == combinations[t].first && g.g1[k] == combinations[t].second ? 1.0 : 0.0;
    }
    // The saturated design does not hold the main-effects one as its first columns, but spans it.
    const NestedFits f = fit_nested(reduced, full, y, nullptr,
                                    start_of(columns, static_cast<Eigen::Index>(combinations.size())), empty_class);
    if (failed(f)) continue;
    const double statistic = std::max(0.0, 2.0 * (f.full.log_likelihood - f.reduced.log_likelihood));
    return AdjustedBoost{statistic, df, gsl_cdf_chisq_Q(statistic, df),
                         f.firth ? RefitMethod::kFirth : RefitMethod::kMaximumLikelihood};
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  return AdjustedBoost{nan, df, nan, RefitMethod::kFailed};
}

}  // namespace varpair
