// The covariate refit against a plainly written reference: Newton's method with explicit inverses
// in double precision on the raw (not centred, not scaled) covariates, by maximum likelihood and by
// Firth's penalised likelihood; values within a relative 1e-6 for records of every kind, on tables
// with missing calls.
#include "interaction/covariate_refit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <vector>

#include "common/errors.h"
#include "common/mapped_file.h"
#include "interaction/result_writer.h"
#include "support/test_support.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

Matrix inverse(Matrix a) {
  const std::size_t n = a.size();
  Matrix inv(n, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i) inv[i][i] = 1.0;
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    std::swap(a[c], a[pivot]);
    std::swap(inv[c], inv[pivot]);
    const double d = a[c][c];
    for (std::size_t k = 0; k < n; ++k) a[c][k] /= d, inv[c][k] /= d;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = a[r][c];
      for (std::size_t k = 0; k < n; ++k) a[r][k] -= f * a[c][k], inv[r][k] -= f * inv[c][k];
    }
  }
  return inv;
}

double log_det(Matrix a) {  // of a symmetric positive definite matrix, by elimination
  double sum = 0;
  for (std::size_t c = 0; c < a.size(); ++c) {
    sum += std::log(a[c][c]);
    for (std::size_t r = c + 1; r < a.size(); ++r) {
      const double f = a[r][c] / a[c][c];
      for (std::size_t k = c; k < a.size(); ++k) a[r][k] -= f * a[c][k];
    }
  }
  return sum;
}

struct Reference {
  std::vector<double> beta;
  Matrix covariance;
  double objective;
};

// Newton's method with step halving; Firth's adds h (1/2 - p) to the residuals. Only the first
// `free` coefficients move (all by default); the others stay at 0, the penalty that of all of x.
Reference reference_fit(const Matrix& x, const std::vector<double>& y, bool firth, std::size_t free = 0) {
  const std::size_t n = x.size(), p = x[0].size();
  if (free == 0) free = p;
  std::vector<double> beta(p, 0.0);
  const auto state = [&](const std::vector<double>& b, Matrix& info, std::vector<double>& prob) {
    info.assign(p, std::vector<double>(p, 0.0));
    prob.assign(n, 0.0);
    double ll = 0;
    for (std::size_t i = 0; i < n; ++i) {
      double eta = 0;
      for (std::size_t k = 0; k < p; ++k) eta += x[i][k] * b[k];
      prob[i] = 1 / (1 + std::exp(-eta));
      ll += y[i] * eta - std::log1p(std::exp(eta));
      for (std::size_t j = 0; j < p; ++j)
        for (std::size_t k = 0; k < p; ++k) info[j][k] += x[i][j] * x[i][k] * prob[i] * (1 - prob[i]);
    }
    return firth ? ll + 0.5 * log_det(info) : ll;
  };
  Matrix info;
  std::vector<double> prob;
  double objective = state(beta, info, prob);
  for (int iteration = 0; iteration < 300; ++iteration) {
    const Matrix inv = inverse(info);
    Matrix free_info(free, std::vector<double>(free));
    for (std::size_t j = 0; j < free; ++j)
      for (std::size_t k = 0; k < free; ++k) free_info[j][k] = info[j][k];
    const Matrix free_inv = inverse(free_info);
    std::vector<double> score(p, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      double r = y[i] - prob[i];
      if (firth) {
        double h = 0;
        for (std::size_t j = 0; j < p; ++j)
          for (std::size_t k = 0; k < p; ++k) h += x[i][j] * inv[j][k] * x[i][k];
        r += h * prob[i] * (1 - prob[i]) * (0.5 - prob[i]);
      }
      for (std::size_t k = 0; k < p; ++k) score[k] += x[i][k] * r;
    }
    std::vector<double> step(p, 0.0), next(p);
    for (std::size_t j = 0; j < free; ++j)
      for (std::size_t k = 0; k < free; ++k) step[j] += free_inv[j][k] * score[k];
    double t = 1, value = objective, largest = 0;
    for (int half = 0; half < 50; ++half, t /= 2) {
      for (std::size_t k = 0; k < p; ++k) next[k] = beta[k] + t * step[k];
      Matrix i2;
      std::vector<double> p2;
      value = state(next, i2, p2);
      if (value >= objective - 1e-13 * std::fabs(objective)) break;
    }
    for (std::size_t k = 0; k < p; ++k) largest = std::max(largest, std::fabs(t * step[k]));
    beta = next;
    objective = state(beta, info, prob);
    if (largest < 1e-12) break;
  }
  Matrix free_info(free, std::vector<double>(free));
  for (std::size_t j = 0; j < free; ++j)
    for (std::size_t k = 0; k < free; ++k) free_info[j][k] = info[j][k];
  return Reference{beta, inverse(free_info), objective};
}

// Tables of `rows` SNPs, about 3 % missing; SNP 2 associated with status, and SNP 5 without genotype
// 2 among the controls (cells without controls, where the estimate lies at infinity).
std::string table(std::mt19937& rng, int rows, int samples, bool cases) {
  std::ostringstream text;
  for (int r = 0; r < rows; ++r) {
    for (int s = 0; s < samples; ++s) {
      int g = static_cast<int>(rng() % 3);
      if (cases && r == 2 && s % 3 == 0) g = 2;
      if (!cases && r == 5 && g == 2) g = 1;
      text << (s ? " " : "") << (rng() % 33 == 0 ? std::string("NA") : std::to_string(g));
    }
    text << "\n";
  }
  return text.str();
}

class CovariateRefitTest : public ::testing::Test {
 protected:
  varpair::test::TempDir dir;
  std::mt19937 rng{23};
  varpair::MaskStore cases, controls;
  std::vector<std::vector<double>> covariates;  // raw, cases then controls
  std::vector<std::vector<int>> genotypes;      // [snp][sample], 3 missing

  void SetUp() override {
    const int rows = 6, n_cases = 150, n_controls = 170;
    const std::string case_text = table(rng, rows, n_cases, true), control_text = table(rng, rows, n_controls, false);
    cases = varpair::build_genotype_masks(varpair::MappedFile(dir.write("cases.txt", case_text)));
    controls = varpair::build_genotype_masks(varpair::MappedFile(dir.write("controls.txt", control_text)));
    genotypes.assign(rows, {});
    for (const std::string* text : {&case_text, &control_text}) {
      std::istringstream lines(*text);
      std::string line;
      for (int r = 0; std::getline(lines, line); ++r) {
        std::istringstream tokens(line);
        for (std::string t; tokens >> t;) genotypes[r].push_back(t == "NA" ? 3 : t[0] - '0');
      }
    }
    std::normal_distribution<double> normal;
    for (int s = 0; s < n_cases + n_controls; ++s)  // age-like, sex-like and an ancestry-like score
      covariates.push_back(
          {50 + 10 * normal(rng), static_cast<double>(1 + rng() % 2), (s < n_cases ? 0.4 : 0.0) + normal(rng)});
  }

  // With `extra`, a fourth covariate of each sample's value.
  varpair::CovariateRefit refit(const std::function<double(int)>& extra = nullptr) {
    const int q = extra ? 4 : 3;
    varpair::RunCovariates raw{{"AGE", "SEX", "PC1", "EXTRA"}, Eigen::MatrixXd(150, q), Eigen::MatrixXd(170, q)};
    raw.names.resize(static_cast<std::size_t>(q));
    for (int s = 0; s < 320; ++s)
      for (int k = 0; k < q; ++k)
        (s < 150 ? raw.cases(s, k) : raw.controls(s - 150, k)) = k < 3 ? covariates[s][k] : extra(s);
    std::vector<std::string> dropped;
    return varpair::CovariateRefit(cases, controls, varpair::prepare_covariates(raw, dropped));
  }

  // The rows of the samples genotyped at both SNPs, with their design (1, covariates, extra terms).
  void design(int snp0, int snp1, const std::function<bool(int, int, std::vector<double>&)>& terms, Matrix& x,
              std::vector<double>& y) {
    x.clear(), y.clear();
    for (std::size_t s = 0; s < covariates.size(); ++s) {
      const int a = genotypes[snp0][s], b = genotypes[snp1][s];
      std::vector<double> row{1.0, covariates[s][0], covariates[s][1], covariates[s][2]};
      if (a == 3 || b == 3 || !terms(a, b, row)) continue;
      x.push_back(row);
      y.push_back(s < 150 ? 1.0 : 0.0);
    }
  }
};

void expect_relative(double got, double want, const char* what) {
  EXPECT_NEAR(got, want, 1e-6 * std::max(std::fabs(want), 1e-300)) << what;
}

TEST_F(CovariateRefitTest, OddsRatiosIntervalsAndPValuesEqualTheReference) {
  const auto r = refit();
  int firth = 0, ml = 0;
  for (int snp0 = 0; snp0 < 6; ++snp0)
    for (int snp1 = snp0 + 1; snp1 < 6; ++snp1)
      for (int label = 0; label < 9; ++label) {
        std::int8_t membership[3][3];
        for (int a = 0; a < 3; ++a)
          for (int b = 0; b < 3; ++b) membership[a][b] = 3 * a + b == label ? 1 : (label == 4 && a == 0 ? -1 : 0);
        const auto got = r.odds(snp0, snp1, membership);
        Matrix full, reduced;
        std::vector<double> y, y2;
        design(
            snp0, snp1,
            [&](int a, int b, std::vector<double>& row) {
              if (membership[a][b] < 0) return false;
              row.push_back(membership[a][b]);
              return true;
            },
            full, y);
        for (auto row : full) reduced.push_back(std::vector<double>(row.begin(), row.end() - 1));
        // Firth's reduced fit: the full model's penalised maximum with x held at 0.
        ASSERT_NE(got.method, varpair::RefitMethod::kFailed);
        const bool is_firth = got.method == varpair::RefitMethod::kFirth;
        const Reference f = reference_fit(full, y, is_firth),
                        n0 = is_firth ? reference_fit(full, y, true, full[0].size() - 1)
                                      : reference_fit(reduced, y, false);
        const double b = f.beta.back(), se = std::sqrt(f.covariance.back().back());
        expect_relative(got.odds, std::exp(b), "odds ratio");
        expect_relative(got.lower, std::exp(b - 1.959963984540054 * se), "lower bound");
        expect_relative(got.upper, std::exp(b + 1.959963984540054 * se), "upper bound");
        expect_relative(got.p, std::erfc(std::sqrt(std::max(0.0, 2 * (f.objective - n0.objective)) / 2)), "p-value");
        (is_firth ? firth : ml)++;
      }
  EXPECT_GT(ml, 50);
  EXPECT_GT(firth, 0) << "tables with an empty cell are fitted by Firth's likelihood";
}

TEST_F(CovariateRefitTest, BoostStatisticsEqualTheReference) {
  const auto r = refit();
  int firth = 0;
  for (int snp0 = 0; snp0 < 6; ++snp0)
    for (int snp1 = snp0 + 1; snp1 < 6; ++snp1) {
      const auto got = r.boost(snp0, snp1);
      // The saturated model as main effects and their products; the main-effects model holds the
      // products at 0 (Firth's: with the saturated model's penalty).
      Matrix main, saturated;
      std::vector<double> y;
      design(
          snp0, snp1,
          [](int a, int b, std::vector<double>& row) {
            row.insert(row.end(), {a == 1 ? 1.0 : 0.0, a == 2 ? 1.0 : 0.0, b == 1 ? 1.0 : 0.0, b == 2 ? 1.0 : 0.0});
            return true;
          },
          main, y);
      design(
          snp0, snp1,
          [](int a, int b, std::vector<double>& row) {
            row.insert(row.end(), {a == 1 ? 1.0 : 0.0, a == 2 ? 1.0 : 0.0, b == 1 ? 1.0 : 0.0, b == 2 ? 1.0 : 0.0});
            for (int x = 1; x < 3; ++x)
              for (int z = 1; z < 3; ++z) row.push_back(a == x && b == z ? 1.0 : 0.0);
            return true;
          },
          saturated, y);
      ASSERT_EQ(got.df, 4) << "every combination occurs";
      ASSERT_NE(got.method, varpair::RefitMethod::kFailed);
      const bool is_firth = got.method == varpair::RefitMethod::kFirth;
      const Reference reduced =
          is_firth ? reference_fit(saturated, y, true, main[0].size()) : reference_fit(main, y, false);
      const double statistic = 2 * (reference_fit(saturated, y, is_firth).objective - reduced.objective);
      firth += is_firth;
      expect_relative(got.statistic, statistic, "statistic");
      expect_relative(got.p, std::exp(-statistic / 2) * (1 + statistic / 2), "p-value at 4 degrees of freedom");
    }
  EXPECT_GT(firth, 0) << "SNP 5's genotype 2 among cases only: its combinations have no controls";
}

TEST_F(CovariateRefitTest, CovariatesConstantOverARecordsSamplesAreLeftOutOfItsFit) {
  // A batch of the samples missing at SNP 0: constant over every record of SNP 0's pairs.
  const auto plain = refit(), batched = refit([&](int s) { return genotypes[0][s] == 3 ? 1.0 : 0.0; });
  ASSERT_EQ(batched.names().size(), 4u);
  std::int8_t membership[3][3] = {{0, 0, 0}, {0, 1, 0}, {0, 0, 0}};
  for (int snp1 = 1; snp1 < 6; ++snp1) {
    const auto want = plain.odds(0, snp1, membership), got = batched.odds(0, snp1, membership);
    ASSERT_NE(got.method, varpair::RefitMethod::kFailed) << "SNP 0 with " << snp1;
    EXPECT_EQ(got.method, want.method);
    expect_relative(got.odds, want.odds, "odds ratio");
    expect_relative(got.upper, want.upper, "upper bound");
    expect_relative(got.p, want.p, "p-value");
    const auto boost_want = plain.boost(0, snp1), boost_got = batched.boost(0, snp1);
    ASSERT_NE(boost_got.method, varpair::RefitMethod::kFailed);
    expect_relative(boost_got.statistic, boost_want.statistic, "BOOST statistic");
  }
  // Elsewhere the batch is a covariate like the others.
  EXPECT_NE(batched.odds(1, 2, membership).odds, plain.odds(1, 2, membership).odds);
}

TEST_F(CovariateRefitTest, ARecordWhoseDesignStaysSingularIsAFailedFitPrintedAsNA) {
  // A covariate equal to the record's x over the samples genotyped at SNPs 0 and 1.
  const auto r = refit([&](int s) { return genotypes[0][s] == 1 && genotypes[1][s] == 1 ? 1.0 : 0.0; });
  const std::int8_t membership[3][3] = {{0, 0, 0}, {0, 1, 0}, {0, 0, 0}};
  const auto got = r.odds(0, 1, membership);
  EXPECT_EQ(got.method, varpair::RefitMethod::kFailed);
  EXPECT_STREQ(varpair::refit_method_name(static_cast<std::int32_t>(got.method)), "failed");
  std::ostringstream text;
  for (const double v : {got.odds, got.lower, got.upper, got.p}) varpair::put_number(text, v), text << ' ';
  EXPECT_EQ(text.str(), "NA NA NA NA ");
  // Other records keep the covariate and fit.
  EXPECT_NE(r.odds(2, 3, membership).method, varpair::RefitMethod::kFailed);
}

TEST(PrepareCovariates, ConstantOnesAreDroppedAndCollinearOnesNamed) {
  varpair::RunCovariates raw{{"A", "B", "C"}, Eigen::MatrixXd(3, 3), Eigen::MatrixXd(2, 3)};
  raw.cases << 1, 5, 2, 2, 5, 4, 3, 5, 6;
  raw.controls << 4, 5, 9, 5, 5, 1;
  std::vector<std::string> dropped;
  const auto kept = varpair::prepare_covariates(raw, dropped);
  EXPECT_EQ(dropped, std::vector<std::string>{"B"});
  EXPECT_EQ(kept.names, (std::vector<std::string>{"A", "C"}));
  EXPECT_NEAR(kept.cases.col(0).sum() + kept.controls.col(0).sum(), 0.0, 1e-12) << "centred";
  raw.controls << 4, 5, 8, 5, 5, 10;  // C = 2 A
  raw.cases.col(2) = 2 * raw.cases.col(0);
  dropped.clear();
  try {
    varpair::prepare_covariates(raw, dropped);
    FAIL() << "collinear covariates must stop the run";
  } catch (const varpair::InputError& e) {
    EXPECT_STREQ(e.what(),
                 "the covariates are collinear: C is a linear combination of the intercept, A over the "
                 "samples used");
  }
}

}  // namespace
