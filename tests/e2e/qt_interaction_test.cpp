// qt_interaction from the command line against a plainly written least-squares fit of every pair
// over the samples themselves (Householder QR of the design in double, not the program's exact
// sums): without and with covariates, two traits with their own missing values, exactly the tests
// whose P reaches the cut-off; and one run per trait writes the same lines as both in one run.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "support/test_support.h"

namespace {

using varpair::test::read_file;
using varpair::test::run_varpair;
using varpair::test::TempDir;

const std::string kExamples = std::string(VARPAIR_TEST_DATA) + "/../../examples/";

// A fileset's genotypes as copies of the .bim's A1 allele (-1 missing), SNP x sample.
std::vector<std::vector<int>> read_bed(const std::string& prefix, int samples, int snps) {
  const std::string bytes = read_file(prefix + ".bed");
  const int stride = (samples + 3) / 4;
  std::vector<std::vector<int>> g(static_cast<std::size_t>(snps), std::vector<int>(static_cast<std::size_t>(samples)));
  for (int v = 0; v < snps; ++v)
    for (int s = 0; s < samples; ++s) {
      const int code = (static_cast<unsigned char>(bytes[3 + static_cast<std::size_t>(v * stride + s / 4)]) >> (2 * (s % 4))) & 3;
      g[static_cast<std::size_t>(v)][static_cast<std::size_t>(s)] = code == 0 ? 2 : code == 2 ? 1 : code == 3 ? 0 : -1;
    }
  return g;
}

struct Fit {
  bool test = false;
  int n = 0;
  double beta = 0, se = 0, t = 0, p = 0;
};

// Student's t upper tail by the regularised incomplete beta function's continued fraction.
double incomplete_beta(double a, double b, double x) {
  const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
  double f = 1, c = 1, d = 0;
  for (int i = 0; i <= 400; ++i) {
    const int m = i / 2;
    double numerator;
    if (i == 0)
      numerator = 1;
    else if (i % 2 == 0)
      numerator = (m * (b - m) * x) / ((a + 2.0 * m - 1) * (a + 2.0 * m));
    else
      numerator = -((a + m) * (a + b + m) * x) / ((a + 2.0 * m) * (a + 2.0 * m + 1));
    d = 1 + numerator * d;
    d = std::fabs(d) < 1e-300 ? 1e-300 : d;
    d = 1 / d;
    c = 1 + numerator / c;
    c = std::fabs(c) < 1e-300 ? 1e-300 : c;
    f *= c * d;
    if (std::fabs(1 - c * d) < 1e-15) break;
  }
  return front * (f - 1) / a;
}

double two_sided_p(double t, double df) {
  const double x = df / (df + t * t);
  return x < (df / 2 + 1) / (df / 2 + 0.5 + 2) ? incomplete_beta(df / 2, 0.5, x)
                                                : 1 - incomplete_beta(0.5, df / 2, 1 - x);
}

Fit reference_fit(const std::vector<int>& a, const std::vector<int>& b, const std::vector<double>& y,
                  const std::vector<std::vector<double>>& covariates) {
  std::vector<std::size_t> used;
  for (std::size_t s = 0; s < y.size(); ++s) {
    bool complete = a[s] >= 0 && b[s] >= 0 && !std::isnan(y[s]);
    for (const auto& c : covariates) complete = complete && !std::isnan(c[s]);
    if (complete) used.push_back(s);
  }
  const int k = static_cast<int>(covariates.size()), p = k + 4;
  Fit f;
  f.n = static_cast<int>(used.size());
  if (f.n <= p) return f;
  Eigen::MatrixXd x(f.n, p);
  Eigen::VectorXd v(f.n);
  for (int r = 0; r < f.n; ++r) {
    const std::size_t s = used[static_cast<std::size_t>(r)];
    x(r, 0) = 1;
    for (int c = 0; c < k; ++c) x(r, 1 + c) = covariates[static_cast<std::size_t>(c)][s];
    x(r, k + 1) = a[s];
    x(r, k + 2) = b[s];
    x(r, k + 3) = a[s] * b[s];
    v(r) = y[s];
  }
  const Eigen::HouseholderQR<Eigen::MatrixXd> qr(x);
  const Eigen::MatrixXd r = qr.matrixQR().topRows(p).triangularView<Eigen::Upper>();
  for (int c = 0; c < p; ++c)
    if (std::fabs(r(c, c)) < 1e-9 * x.col(c).norm()) return f;  // singular
  const Eigen::VectorXd beta = qr.solve(v);
  const double rss = (v - x * beta).squaredNorm();
  const double df = f.n - p;
  // Variance inflation of A, B and AB: 1 / (1 - R^2) of each regressed on all other columns.
  for (int j = k + 1; j < p; ++j) {
    Eigen::MatrixXd others(f.n, p - 1);
    for (int c = 0, o = 0; c < p; ++c)
      if (c != j) others.col(o++) = x.col(c);
    const Eigen::VectorXd column = x.col(j);
    const double residual = (column - others * others.householderQr().solve(column)).squaredNorm();
    if ((column.array() - column.mean()).square().sum() / residual > 50) return f;
  }
  f.test = true;
  f.beta = beta(p - 1);
  f.se = std::sqrt(rss / df) / std::fabs(r(p - 1, p - 1));
  f.t = f.beta / f.se;
  f.p = two_sided_p(f.t, df);
  return f;
}

struct Line {
  int n;
  double beta, se, t, p;
};

// PHENO SNP0 SNP1 -> numbers, of a table without IDs or with them.
std::map<std::tuple<std::string, int, int>, Line> read_table(const std::string& text) {
  std::map<std::tuple<std::string, int, int>, Line> lines;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("PHENO\tSNP0\tSNP1\tN\tBETA_INT\tSE\tT_STAT\tP", 0), 0u) << line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string trait;
    int snp0, snp1;
    Line l;
    f >> trait >> snp0 >> snp1 >> l.n >> l.beta >> l.se >> l.t >> l.p;
    lines[{trait, snp0, snp1}] = l;
  }
  return lines;
}

// Six significant digits as printed.
bool near(double x, double y) { return std::fabs(x - y) <= 1e-5 * std::max(std::fabs(x), std::fabs(y)) + 1e-300; }

TEST(QtInteraction, EveryTestEqualsALeastSquaresFitAndExactlyThoseBelowTheCutOffAreReported) {
  constexpr int kSamples = 1000, kSnps = 200;
  const auto g = read_bed(kExamples + "strat", kSamples, kSnps);
  std::vector<std::vector<double>> covariates(3);
  std::vector<std::string> ids;
  {
    std::istringstream in(read_file(kExamples + "strat.covar"));
    std::string line, fid, iid;
    std::getline(in, line);
    for (std::string value[3]; in >> fid >> iid >> value[0] >> value[1] >> value[2];) {
      for (int c = 0; c < 3; ++c) covariates[static_cast<std::size_t>(c)].push_back(value[c] == "NA" ? NAN : std::stod(value[c]));
      ids.push_back(fid + " " + iid);
    }
  }
  ASSERT_EQ(ids.size(), static_cast<std::size_t>(kSamples));
  // Q1: a planted interaction of SNPs 10 and 20 and an effect of PC1; Q2: noise, 10 % missing.
  std::mt19937 rng(12);
  std::normal_distribution<double> noise(0, 1);
  std::vector<std::vector<double>> traits(2, std::vector<double>(kSamples));
  std::ostringstream pheno;
  pheno << "FID IID Q1 Q2\n";
  for (std::size_t s = 0; s < kSamples; ++s) {
    const int a = g[10][s], b = g[20][s];
    const double pc = std::isnan(covariates[0][s]) ? 0 : covariates[0][s];
    traits[0][s] = rng() % 40 == 0 ? NAN : 0.8 * (a < 0 || b < 0 ? 0 : a * b) + 2 * pc + noise(rng);
    traits[1][s] = rng() % 10 == 0 ? NAN : 50 + 10 * noise(rng);
    pheno << ids[s];
    for (const auto& t : traits) {
      char text[32];
      std::snprintf(text, sizeof text, " %.9g", t[s]);
      pheno << (std::isnan(t[s]) ? " NA" : text);
    }
    pheno << "\n";
  }
  const TempDir dir;
  const std::string pheno_path = dir.write("t.pheno", pheno.str());
  constexpr double kAlpha = 0.02;
  for (const bool adjusted : {false, true}) {
    SCOPED_TRACE(adjusted ? "with covariates" : "without covariates");
    std::vector<std::string> args{"qt_interaction", "-file0", kExamples + "strat.bed", "-pheno", pheno_path, "-o",
                                  dir.file("both.txt"), "-alpha_cut", "0.02"};
    if (adjusted) args.insert(args.end(), {"-covar", kExamples + "strat.covar"});
    const auto r = run_varpair(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = read_table(read_file(dir.file("both.txt")));
    const std::vector<std::vector<double>> none;
    std::size_t expected = 0;
    for (int t = 0; t < 2; ++t) {
      const std::string name = t == 0 ? "Q1" : "Q2";
      for (int a = 0; a < kSnps; ++a)
        for (int b = a + 1; b < kSnps; ++b) {
          const Fit f = reference_fit(g[static_cast<std::size_t>(a)], g[static_cast<std::size_t>(b)],
                                      traits[static_cast<std::size_t>(t)], adjusted ? covariates : none);
          const auto it = lines.find({name, a, b});
          if (!f.test || f.p > kAlpha * (1 + 1e-6)) {
            EXPECT_TRUE(it == lines.end() || (f.test && f.p <= kAlpha * (1 + 1e-5))) << name << " " << a << " " << b;
            continue;
          }
          if (f.p < kAlpha * (1 - 1e-6)) ++expected;
          if (it == lines.end()) {
            EXPECT_GE(f.p, kAlpha * (1 - 1e-5)) << "missing: " << name << " " << a << " " << b;
            continue;
          }
          const Line& l = it->second;
          EXPECT_EQ(l.n, f.n) << name << " " << a << " " << b;
          EXPECT_TRUE(near(l.beta, f.beta) && near(l.se, f.se) && near(l.t, f.t) && near(l.p, f.p))
              << name << " " << a << " " << b << ": " << l.beta << " " << l.se << " " << l.t << " " << l.p
              << " against " << f.beta << " " << f.se << " " << f.t << " " << f.p;
        }
    }
    EXPECT_GT(expected, 300u);
    EXPECT_NEAR(static_cast<double>(lines.size()), static_cast<double>(expected), 2.0);
    // The planted pair stands out, adjusted or not.
    ASSERT_TRUE(lines.count({"Q1", 10, 20}));
    EXPECT_LT(lines.at({"Q1", 10, 20}).p, 1e-6);
    // One run per trait: the same lines.
    std::string separate;
    for (const char* trait : {"Q1", "Q2"}) {
      std::vector<std::string> one = args;
      one[6] = dir.file(std::string(trait) + ".txt");
      one.insert(one.end(), {"-pheno_name", trait});
      ASSERT_EQ(run_varpair(one).status, 0);
      const auto mine = read_table(read_file(one[6]));
      for (const auto& [key, line] : mine) EXPECT_TRUE(lines.count(key)) << std::get<1>(key) << " " << std::get<2>(key);
      EXPECT_EQ(mine.size(), static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& e) {
                  return std::get<0>(e.first) == trait;
                })));
    }
  }
}

}  // namespace
