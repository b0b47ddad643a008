// An independent reading of the interaction models for the end-to-end tests: genotype cells counted
// sample by sample from the tables' tokens, the candidate 2x2 tables of each model built from them,
// and the result table parsed back.
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

#include "interaction/result_writer.h"
#include "interaction/table_2x2.h"
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

struct Row {
  int a, b, c, d;
  double chi, ratio, lower, upper, p;
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

// Every record the model defines for every pair SNP0 < SNP1.
inline std::map<Key, Row> expected_records(const Genotypes& cases, const Genotypes& controls, double alpha,
                                           float or_cut, const ModelTables& tables) {
  const InteractionThresholds thresholds{static_cast<float>(chi_square_threshold(alpha)), or_cut};
  std::map<Key, Row> out;
  for (std::size_t i = 0; i < cases.size(); ++i)
    for (std::size_t j = i + 1; j < cases.size(); ++j)
      for (const CandidateTable& t : tables(reference_cells(cases[i], cases[j], controls[i], controls[j]))) {
        InteractionRecord r{};
        if (test_table(t.a, t.b, t.c, t.d, thresholds, r))
          out[{static_cast<int>(i), static_cast<int>(j), t.label}] = Row{
              t.a, t.b, t.c, t.d, r.chi_square, r.odds_ratio, r.or_lower, r.or_upper, chi_square_p_value(r.chi_square)};
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
    f >> key.snp0 >> key.snp1 >> row.a >> row.b >> row.c >> row.d >> row.chi >> row.p >> row.ratio >> row.lower >>
        row.upper;
    EXPECT_TRUE(f) << line;
    EXPECT_TRUE(out.emplace(key, row).second) << "duplicate " << line;
  }
  return out;
}

// Same records; counts exactly, statistics to their printed precision.
inline void expect_same_records(const std::map<Key, Row>& actual, const std::map<Key, Row>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (const auto& [key, want] : expected) {
    const auto it = actual.find(key);
    ASSERT_NE(it, actual.end()) << key.snp0 << " " << key.snp1 << " " << key.label;
    const Row& got = it->second;
    EXPECT_EQ(std::tie(got.a, got.b, got.c, got.d), std::tie(want.a, want.b, want.c, want.d));
    for (auto [g, w] : {std::pair{got.chi, want.chi},
                        {got.ratio, want.ratio},
                        {got.lower, want.lower},
                        {got.upper, want.upper},
                        {got.p, want.p}})
      EXPECT_NEAR(g, w, std::fabs(w) * 0.005 + 1e-6) << key.snp0 << " " << key.snp1 << " " << key.label;
  }
}

}  // namespace varpair::test
