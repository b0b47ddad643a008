// The BOOST test's mathematics: degrees of freedom, the exact statistic against an independent
// logistic fit and, on the model's boundary, against an independent Poisson log-linear fit, and the
// screen's promise that no pair it rejects could have passed.
#include <gsl/gsl_cdf.h>
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "models/boost_fit.h"
#include "models/boost_math.h"

namespace {

using varpair::boost_degrees_of_freedom;
using varpair::boost_exact_test;

struct Table {
  std::int32_t cases[9] = {};
  std::int32_t controls[9] = {};
  double total() const {
    double n = 0;
    for (int c = 0; c < 9; ++c) n += cases[c] + controls[c];
    return n;
  }
};

// Solves a x = b for a small symmetric positive definite a (Gaussian elimination, no pivoting).
std::vector<double> solve(std::vector<std::vector<double>> a, std::vector<double> b) {
  const std::size_t n = b.size();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t r = i + 1; r < n; ++r) {
      const double f = a[r][i] / a[i][i];
      for (std::size_t c = i; c < n; ++c) a[r][c] -= f * a[i][c];
      b[r] -= f * b[i];
    }
  std::vector<double> x(n);
  for (std::size_t i = n; i-- > 0;) {
    double s = b[i];
    for (std::size_t c = i + 1; c < n; ++c) s -= a[i][c] * x[c];
    x[i] = s / a[i][i];
  }
  return x;
}

// The same test as a logistic regression: case status on the genotype indicators of both SNPs
// (main effects, fitted by Newton's method) against the saturated model, over the nine cells.
// For tables without empty cells, where the fit is interior.
double logistic_statistic(const Table& t) {
  std::vector<double> beta(5, 0.0);
  const auto design = [](int cell) {
    const int x = cell / 3, y = cell % 3;
    return std::array<double, 5>{1.0, x == 1 ? 1.0 : 0.0, x == 2 ? 1.0 : 0.0, y == 1 ? 1.0 : 0.0, y == 2 ? 1.0 : 0.0};
  };
  for (int step = 0; step < 100; ++step) {
    std::vector<std::vector<double>> info(5, std::vector<double>(5, 0.0));
    std::vector<double> score(5, 0.0);
    for (int cell = 0; cell < 9; ++cell) {
      const auto d = design(cell);
      double eta = 0;
      for (int k = 0; k < 5; ++k) eta += d[k] * beta[k];
      const double n = t.cases[cell] + t.controls[cell], p = 1.0 / (1.0 + std::exp(-eta));
      for (int i = 0; i < 5; ++i) {
        score[i] += d[i] * (t.cases[cell] - n * p);
        for (int j = 0; j < 5; ++j) info[i][j] += d[i] * d[j] * n * p * (1 - p);
      }
    }
    const auto delta = solve(info, score);
    for (int k = 0; k < 5; ++k) beta[k] += delta[k];
  }
  double statistic = 0;
  for (int cell = 0; cell < 9; ++cell) {
    const auto d = design(cell);
    double eta = 0;
    for (int k = 0; k < 5; ++k) eta += d[k] * beta[k];
    const double n1 = t.cases[cell], n0 = t.controls[cell], p = 1.0 / (1.0 + std::exp(-eta));
    statistic += 2 * (n1 * std::log(n1 / (n1 + n0) / p) + n0 * std::log(n0 / (n1 + n0) / (1 - p)));
  }
  return statistic;
}

// The maximum by another route, for any table: the Poisson log-linear model of the 18 counts with
// every two-way margin (an indicator of each SNP0 x SNP1, SNP0 x status and SNP1 x status cell),
// fitted by Newton's method on the log means with step halving. On the model's boundary some log
// means run towards minus infinity; the likelihood still converges (about a factor e a step), and
// the pseudo-inverse takes the directions the data leave free. Returns the deviance against the
// saturated model and, in `smallest_fitted`, the smallest fitted count.
double poisson_statistic(const Table& t, double* smallest_fitted = nullptr) {
  Eigen::MatrixXd x = Eigen::MatrixXd::Zero(18, 21);
  Eigen::VectorXd n(18);
  for (int g0 = 0; g0 < 3; ++g0)
    for (int g1 = 0; g1 < 3; ++g1)
      for (int k = 0; k < 2; ++k) {
        const int row = 6 * g0 + 2 * g1 + k;
        n[row] = k == 0 ? t.cases[3 * g0 + g1] : t.controls[3 * g0 + g1];
        x(row, 3 * g0 + g1) = 1;      // SNP0 x SNP1
        x(row, 9 + 2 * g0 + k) = 1;   // SNP0 x status
        x(row, 15 + 2 * g1 + k) = 1;  // SNP1 x status
      }
  const auto log_likelihood = [&](const Eigen::VectorXd& beta) {
    const Eigen::VectorXd eta = x * beta;
    double ll = 0;
    for (int r = 0; r < 18; ++r) ll += n[r] * eta[r] - std::exp(eta[r]);
    return ll;
  };
  Eigen::VectorXd beta = Eigen::VectorXd::Zero(21);
  beta.head(9).setConstant(std::log(t.total() / 18));  // every mean the average count
  double ll = log_likelihood(beta);
  for (int step = 0; step < 2000; ++step) {
    const Eigen::VectorXd mu = (x * beta).array().exp();
    const Eigen::VectorXd direction =
        (x.transpose() * mu.asDiagonal() * x).completeOrthogonalDecomposition().solve(x.transpose() * (n - mu));
    double next = ll, size = 1;
    for (int half = 0; half < 60; ++half, size /= 2)
      if ((next = log_likelihood(beta + size * direction)) >= ll) break;
    if (!(next >= ll) || next - ll <= 1e-15 * std::fabs(ll)) break;
    beta += size * direction;
    ll = next;
  }
  const Eigen::VectorXd mu = (x * beta).array().exp();
  double deviance = 0;
  for (int r = 0; r < 18; ++r) deviance += 2 * ((n[r] > 0 ? n[r] * std::log(n[r] / mu[r]) : 0) - (n[r] - mu[r]));
  if (smallest_fitted != nullptr) *smallest_fitted = mu.minCoeff();
  return deviance;
}

// Random tables: dense, sparse (most cells 0 to 2), with rare genotypes, and with an effect.
Table random_table(std::mt19937& rng, int kind) {
  Table t;
  std::uniform_int_distribution<int> dense(0, 300), sparse(0, 2), coin(0, 3);
  for (int c = 0; c < 9; ++c) {
    switch (kind % 4) {
      case 0: t.cases[c] = dense(rng), t.controls[c] = dense(rng); break;
      case 1: t.cases[c] = sparse(rng) * (coin(rng) != 0), t.controls[c] = sparse(rng); break;
      case 2: {  // genotype 2 of SNP0 rare: its row nearly empty
        const bool rare = c / 3 == 2;
        t.cases[c] = rare ? sparse(rng) * (coin(rng) == 0) : dense(rng);
        t.controls[c] = rare ? (coin(rng) == 0) : dense(rng);
        break;
      }
      default:  // an interaction: the (2, 2) cell enriched in cases
        t.cases[c] = dense(rng) + (c == 8 ? 400 : 0), t.controls[c] = dense(rng);
    }
  }
  return t;
}

TEST(BoostMath, DegreesOfFreedomCountTheGenotypesThatOccur) {
  Table t;
  EXPECT_EQ(boost_degrees_of_freedom(t.cases, t.controls), 0) << "no sample genotyped at both";
  for (int c = 0; c < 9; ++c) t.cases[c] = 1;
  EXPECT_EQ(boost_degrees_of_freedom(t.cases, t.controls), 4);
  t.cases[6] = t.cases[7] = t.cases[8] = 0;  // SNP0 genotype 2 absent
  EXPECT_EQ(boost_degrees_of_freedom(t.cases, t.controls), 2);
  t.controls[7] = 3;  // ... present again, among the controls only
  EXPECT_EQ(boost_degrees_of_freedom(t.cases, t.controls), 4);
  t.controls[7] = 0;
  t.cases[2] = t.cases[5] = 0;  // SNP1 genotype 2 absent too
  EXPECT_EQ(boost_degrees_of_freedom(t.cases, t.controls), 1);
  t.cases[3] = t.cases[4] = 0;  // SNP0 takes one genotype only
  EXPECT_EQ(boost_degrees_of_freedom(t.cases, t.controls), 0);
  EXPECT_EQ(boost_exact_test(t.cases, t.controls).p, 1.0);
}

TEST(BoostMath, ExactStatisticEqualsTheLogisticLikelihoodRatio) {
  std::mt19937 rng(5);
  int compared = 0;
  for (int k = 0; k < 400; ++k) {
    Table t = random_table(rng, k % 2 == 0 ? 0 : 3);
    bool full = true;
    for (int c = 0; c < 9; ++c) full = full && t.cases[c] > 0 && t.controls[c] > 0;
    if (!full) continue;
    const auto test = boost_exact_test(t.cases, t.controls);
    const double reference = logistic_statistic(t);
    ASSERT_NEAR(test.statistic, reference, 1e-8 * (1 + reference)) << "table " << k;
    EXPECT_EQ(test.df, 4);
    EXPECT_DOUBLE_EQ(test.p, gsl_cdf_chisq_Q(test.statistic, 4));
    ++compared;
  }
  EXPECT_GT(compared, 300);
}

TEST(BoostMath, TablesTheModelReproducesGiveZeroAndPOne) {
  // n_ijk proportional to a_ij b_ik c_jk: no three-way term at all.
  Table t;
  const int a[3][3] = {{3, 1, 2}, {2, 5, 1}, {1, 1, 4}}, b[3][2] = {{1, 2}, {3, 1}, {2, 2}},
            c[3][2] = {{2, 1}, {1, 3}, {2, 2}};
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) {
      t.cases[3 * x + y] = 10 * a[x][y] * b[x][0] * c[y][0];
      t.controls[3 * x + y] = 10 * a[x][y] * b[x][1] * c[y][1];
    }
  const auto test = boost_exact_test(t.cases, t.controls);
  EXPECT_EQ(test.statistic, 0.0);
  EXPECT_EQ(test.p, 1.0);
  EXPECT_EQ(test.df, 4);
  // SNP0 with two genotypes, one of them carried by a single sample: its row is fitted exactly and
  // the other row is a two-way table, which its margins reproduce.
  Table single;
  for (int c = 0; c < 3; ++c) single.cases[c] = 7 + c, single.controls[c] = 20 - 2 * c;
  single.cases[7] = 1;
  const auto one = boost_exact_test(single.cases, single.controls);
  EXPECT_EQ(one.df, 2);
  EXPECT_EQ(one.statistic, 0.0);
  EXPECT_EQ(one.p, 1.0);
  // On the boundary: the fit reproduces the table only in the limit, which proportional fitting
  // approaches as 1/cycles (0.0044 after 1000 of them) and the logistic form geometrically.
  const Table edge{{1, 0, 0, 0, 0, 2, 0, 0, 1}, {0, 0, 0, 1, 1, 2, 2, 1, 0}};
  const auto limit = boost_exact_test(edge.cases, edge.controls);
  EXPECT_EQ(limit.df, 4);
  EXPECT_EQ(limit.statistic, 0.0);
}

// On the boundary (a fitted cell tending to 0 that no margin forces to 0) proportional fitting
// crawls, and a fit stopped early leaves the statistic too high: PLINK 1.9 prints 0.926853 for the
// first table below. The statistic must be the likelihood's maximum there as inside.
TEST(BoostMath, BoundaryTablesGiveTheMaximumOfTheLikelihood) {
  // SNP0 x SNP1 genotypes 00 ... 22, cases / controls: 0/0 12/16 340/313 0/0 37/28 15/4 3/0 0/1 0/1.
  const Table early{{0, 12, 340, 0, 37, 15, 3, 0, 0}, {0, 16, 313, 0, 28, 4, 0, 1, 1}};
  double least = 0;
  const double maximum = poisson_statistic(early, &least);
  EXPECT_LT(least, 1e-9) << "a table on the boundary";
  EXPECT_NEAR(maximum, 0.884492, 5e-7) << "the maximum as a second program finds it";
  const auto test = boost_exact_test(early.cases, early.controls);
  EXPECT_EQ(test.df, 4);
  EXPECT_NEAR(test.statistic, maximum, 1e-9);
  // Sparse tables and tables with a rare genotype, many of them on the boundary.
  std::mt19937 rng(17);
  int boundary = 0;
  for (int k = 0; k < 1500; ++k) {
    const Table t = random_table(rng, k % 2 == 0 ? 1 : 2);
    if (boost_degrees_of_freedom(t.cases, t.controls) == 0) continue;
    const double reference = poisson_statistic(t, &least);
    ASSERT_NEAR(boost_exact_test(t.cases, t.controls).statistic, reference, 1e-8 * (1 + reference)) << "table " << k;
    boundary += least < 1e-6 && reference > 0.01;
  }
  EXPECT_GT(boundary, 100);
}

// The screen must pass every pair whose exact p-value reaches alpha: over many random tables,
// sparse ones included, both of its bounds lie at or above the exact statistic, and its decision
// at the lowered thresholds never drops a pair that passes.
TEST(BoostMath, TheScreenNeverRejectsAPairThatPasses) {
  std::mt19937 rng(11);
  const double alphas[] = {1e-6, 1e-3, 0.05, 0.5};
  std::vector<varpair::ModelRunData> data;
  for (double alpha : alphas) data.push_back(varpair::boost_run_data({3000, 3000, alpha}));
  int passing = 0, screened_out = 0;
  for (int k = 0; k < 20000; ++k) {
    const Table t = random_table(rng, k);
    const int df = boost_degrees_of_freedom(t.cases, t.controls);
    if (df == 0) continue;
    const auto exact = boost_exact_test(t.cases, t.controls);
    const varpair::BoostScreen screen{data[0].device.data()};
    const double slack = 1e-9 * (1 + t.total());
    ASSERT_GE(varpair::boost_screen_statistic(t.cases, t.controls, screen), exact.statistic - slack) << k;
    ASSERT_GE(varpair::boost_independence_statistic(t.cases, t.controls, screen), exact.statistic - slack) << k;
    for (std::size_t a = 0; a < data.size(); ++a) {
      const varpair::BoostScreen s{data[a].device.data()};
      const bool reaches = varpair::boost_screen_reaches(t.cases, t.controls, s, s.threshold(df));
      if (exact.p <= alphas[a]) {
        ++passing;
        ASSERT_TRUE(reaches) << "table " << k << " alpha " << alphas[a] << " statistic " << exact.statistic;
      }
      screened_out += !reaches;
    }
  }
  EXPECT_GT(passing, 5000);
  EXPECT_GT(screened_out, 15000) << "the screen rejects the tables far from its thresholds";
}

TEST(BoostMath, ThresholdsAreTheLeastStatisticsThatReachAlpha) {
  for (double alpha : {1e-12, 1e-5, 0.01, 0.5}) {
    const auto t = varpair::boost_thresholds(alpha);
    for (int df : {1, 2, 4}) {
      EXPECT_LE(gsl_cdf_chisq_Q(t[df], df), alpha);
      EXPECT_GT(gsl_cdf_chisq_Q(std::nextafter(t[df], 0.0), df), alpha) << alpha << " df " << df;
    }
  }
  EXPECT_EQ(varpair::boost_thresholds(1.0)[4], 0.0) << "every statistic passes";
  const auto screen = varpair::boost_screen_thresholds(1.0, 1000);
  EXPECT_LT(screen[4], 0.0) << "a statistic of 0 computed as -1e-15 must still pass";
}

}  // namespace
