// An independent reading of the interaction models for the end-to-end tests: genotype cells counted
// sample by sample from the tables' tokens, the candidate 2x2 tables of each model built from them,
// their statistics in double precision, and the result table parsed back and compared within the
// last digit each value was printed with.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ld/ld_reference.h"

namespace varpair::test {

// A table of `samples` columns with about 2 % missing tokens; SNPs 3 and 8 of the cases carry a
// planted excess of genotype 2.
inline std::string random_case_control_table(std::mt19937& rng, int rows, int samples, bool cases) {
  std::ostringstream text;
  for (int r = 0; r < rows; ++r) {
    const unsigned p = 1 + rng() % 4;
    for (int s = 0; s < samples; ++s) {
      int g = (rng() % 9 < p) + (rng() % 9 < p);
      if (cases && (r == 3 || r == 8) && s % 4 == 0) g = 2;
      text << (s ? "\t" : "") << (rng() % 50 == 0 ? "NA" : std::to_string(g));
    }
    text << "\n";
  }
  return text.str();
}

struct Key {
  int snp0, snp1, label;
  bool operator<(const Key& o) const { return std::tie(snp0, snp1, label) < std::tie(o.snp0, o.snp1, o.label); }
};

// chi_square, chi_pvalue, OR, OR_lower, OR_upper.
constexpr int kStatistics = 5;

struct Row {
  int a, b, c, d;
  double statistics[kStatistics];
  std::string printed[kStatistics];  // as the table wrote them (parsed rows only)
  bool borderline = false;           // so near a threshold that float rounding may decide (expected rows only)
};

struct ReferenceCells {
  int cases[3][3] = {};
  int controls[3][3] = {};
  int n_cases = 0, n_controls = 0;
};

inline ReferenceCells reference_cells(const std::vector<int>& case_x, const std::vector<int>& case_y,
                                      const std::vector<int>& control_x, const std::vector<int>& control_y) {
  ReferenceCells c;
  for (std::size_t s = 0; s < case_x.size(); ++s)
    if (case_x[s] != 3 && case_y[s] != 3) ++c.cases[case_x[s]][case_y[s]], ++c.n_cases;
  for (std::size_t s = 0; s < control_x.size(); ++s)
    if (control_x[s] != 3 && control_y[s] != 3) ++c.controls[control_x[s]][control_y[s]], ++c.n_controls;
  return c;
}

struct CandidateTable {
  int label, a, b, c, d;
};
using ModelTables = std::function<std::vector<CandidateTable>(const ReferenceCells&)>;

// Upper tail of the chi-square distribution at one degree of freedom.
inline double upper_tail(double chi) { return std::erfc(std::sqrt(chi / 2.0)); }

// The chi-square value whose upper tail is alpha, by bisection.
inline double chi_threshold_of(double alpha) {
  double lo = 0.0, hi = 1000.0;
  for (int k = 0; k < 200; ++k) {
    const double mid = (lo + hi) / 2.0;
    (upper_tail(mid) > alpha ? lo : hi) = mid;
  }
  return (lo + hi) / 2.0;
}

// The Yates chi-square, its p-value and the odds ratio with its 95 % interval, all in double.
inline Row reference_statistics(const CandidateTable& t) {
  const double a = t.a, b = t.b, c = t.c, d = t.d, n = a + b + c + d;
  const double den = (a + b) * (c + d) * (a + c) * (b + d);
  const double excess = std::max(0.0, std::fabs(a * d - b * c) - n / 2.0);
  const double chi = den == 0.0 ? 0.0 : n * excess * excess / den;
  double ratio, lower, upper;
  if (a * d == 0.0 && b * c == 0.0) {
    ratio = lower = upper = 1.0;
  } else if (a * d == 0.0) {
    ratio = lower = upper = 0.0;
  } else if (b * c == 0.0) {
    ratio = lower = upper = 99999.9;
  } else {
    ratio = a * d / (b * c);
    const double margin = 1.96 * std::sqrt(1 / a + 1 / b + 1 / c + 1 / d);
    lower = std::exp(std::log(ratio) - margin);
    upper = std::exp(std::log(ratio) + margin);
  }
  return Row{t.a, t.b, t.c, t.d, {chi, upper_tail(chi), ratio, lower, upper}, {}, false};
}

// Every record the model defines for every pair SNP0 < SNP1: chi-square at or above the threshold
// of alpha and the whole odds-ratio interval at or above or_cut or at or below its reciprocal.
inline std::map<Key, Row> expected_records(const Genotypes& cases, const Genotypes& controls, double alpha,
                                           float or_cut, const ModelTables& tables) {
  const double threshold = chi_threshold_of(alpha), high = or_cut, low = 1.0 / or_cut;
  auto near = [](double x, double edge) { return std::fabs(x - edge) <= 1e-5 * std::max(1.0, std::fabs(edge)); };
  std::map<Key, Row> out;
  for (std::size_t i = 0; i < cases.size(); ++i)
    for (std::size_t j = i + 1; j < cases.size(); ++j)
      for (const CandidateTable& t : tables(reference_cells(cases[i], cases[j], controls[i], controls[j]))) {
        Row row = reference_statistics(t);
        const double chi = row.statistics[0], lower = row.statistics[3], upper = row.statistics[4];
        row.borderline = near(chi, threshold) || near(lower, high) || near(upper, low);
        if (row.borderline || (chi >= threshold && (lower >= high || upper <= low)))
          out[{static_cast<int>(i), static_cast<int>(j), t.label}] = row;
      }
  return out;
}

// The records of a result table; `label_of` maps a label's text to its index.
inline std::map<Key, Row> parse_table(const std::string& text, const std::string& header,
                                      const std::function<int(const std::string&)>& label_of) {
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, header);
  std::map<Key, Row> out;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string label;
    Key key{};
    Row row{};
    std::getline(f, label, '\t');
    key.label = label_of(label);
    f >> key.snp0 >> key.snp1 >> row.a >> row.b >> row.c >> row.d;
    for (int k = 0; k < kStatistics; ++k) {
      f >> row.printed[k];
      row.statistics[k] = std::strtod(row.printed[k].c_str(), nullptr);
    }
    EXPECT_TRUE(f) << line;
    EXPECT_TRUE(out.emplace(key, row).second) << "duplicate " << line;
  }
  return out;
}

// One unit in the last digit of a printed number ("12.345678" 1e-6, "1.23e-07" 1e-9).
inline double last_digit_unit(const std::string& printed) {
  const std::size_t dot = printed.find('.');
  const std::size_t e = printed.find_first_of("eE");
  const std::size_t end = e == std::string::npos ? printed.size() : e;
  const int decimals = dot == std::string::npos || dot > end ? 0 : static_cast<int>(end - dot - 1);
  const int exponent = e == std::string::npos ? 0 : std::atoi(printed.c_str() + e + 1);
  return std::pow(10.0, exponent - decimals);
}

// The same records: counts exactly, each statistic within the last digit it was printed with (and
// the few single-precision roundings the program makes); records on a threshold may go either way.
inline void expect_same_records(const std::map<Key, Row>& actual, const std::map<Key, Row>& expected) {
  std::size_t required = 0;
  for (const auto& [key, want] : expected) required += !want.borderline;
  ASSERT_GE(actual.size(), required);
  ASSERT_LE(actual.size(), expected.size());
  for (const auto& [key, got] : actual)
    ASSERT_TRUE(expected.count(key)) << key.snp0 << " " << key.snp1 << " " << key.label;
  for (const auto& [key, want] : expected) {
    const auto it = actual.find(key);
    if (it == actual.end()) {
      EXPECT_TRUE(want.borderline) << "missing " << key.snp0 << " " << key.snp1 << " " << key.label;
      continue;
    }
    const Row& got = it->second;
    EXPECT_EQ(std::tie(got.a, got.b, got.c, got.d), std::tie(want.a, want.b, want.c, want.d));
    for (int k = 0; k < kStatistics; ++k) {
      const double w = want.statistics[k];
      EXPECT_NEAR(got.statistics[k], w, last_digit_unit(got.printed[k]) + 4e-6 * std::fabs(w))
          << "statistic " << k << " printed " << got.printed[k] << " of " << key.snp0 << " " << key.snp1 << " "
          << key.label;
    }
  }
}

}  // namespace varpair::test
