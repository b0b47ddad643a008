// The result table of the 2x2 models: one line per passing table, with its p-value and the
// carried-over number formats of the table.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "interaction/interaction_record.h"
#include "interaction/record_table.h"

namespace varpair {
class CovariateRefit;
}

namespace varpair {

// The lines of InteractionRecords: label, SNPs, a b c d, chi-square, p-value, odds ratio and interval.
class TwoByTwoFormat {
 public:
  using Found = InteractionRecord;
  using Stored = InteractionRecord;
  static constexpr bool kCostlyKeep = false;

  explicit TwoByTwoFormat(LabelTexts labels) : labels_(labels) {}

  void on_found(std::uint64_t) {}
  bool keep(const Found& found, Stored& stored) const {
    stored = found;
    return true;
  }
  void on_kept(const Stored&) {}
  // The header, then the stream's fixed 6-decimal format that the lines start from.
  void write_header(std::ostream& out, const char* header, bool ids) const;
  void write_line(std::ostream& out, const Stored& r, const std::vector<std::string>* ids) const;
  bool end_run(const PairShare&, const std::vector<std::uint32_t>&, const TableSetup&, RunLog&) { return true; }
  void end_merge(const std::vector<std::string>&, std::int32_t, const TableSetup&, RunLog&) {}
  // The line's columns up to the odds ratio's interval, in the table's carried-over formats.
  void write_numbers(std::ostream& out, const InteractionRecord& r) const;

 private:
  LabelTexts labels_;
};

// Which samples a 2x2 record's refit compares (membership[g0][g1]: 1 in its cell, 0 outside, -1 left
// out), by model: the label's cell, or MDR's risk classes of the pair.
using Membership = void (*)(const InteractionRecord& record, const CovariateRefit& refit,
                            std::int8_t (&membership)[3][3]);

// A 2x2 record with its covariate-adjusted odds ratio, interval and p-value.
struct AdjustedRecord {
  InteractionRecord base;
  std::int32_t fit;  // RefitMethod: 0 maximum likelihood, 1 Firth's penalised likelihood, 2 failed
  double odds, lower, upper, p;
};
static_assert(sizeof(AdjustedRecord) == 80, "a stored adjusted record is 80 bytes");

// The 2x2 lines with the adjusted columns after the numeric ones:
// adj_OR adj_OR_lower adj_OR_upper adj_pvalue fit.
class AdjustedTwoByTwoFormat {
 public:
  using Found = InteractionRecord;
  using Stored = AdjustedRecord;
  static constexpr bool kCostlyKeep = true;  // a logistic fit a record

  // `refit` is null in a merge, whose records come adjusted.
  AdjustedTwoByTwoFormat(LabelTexts labels, const CovariateRefit* refit, Membership membership)
      : plain_(labels), refit_(refit), membership_(membership) {}

  void on_found(std::uint64_t) {}
  bool keep(const Found& found, Stored& stored) const;
  void on_kept(const Stored& r) {
    firth_ += r.fit == 1;
    failed_ += r.fit == 2;
  }
  void write_header(std::ostream& out, const char* header, bool ids) const;
  void write_line(std::ostream& out, const Stored& r, const std::vector<std::string>* ids) const;
  bool end_run(const PairShare&, const std::vector<std::uint32_t>&, const TableSetup&, RunLog& log);
  void end_merge(const std::vector<std::string>&, std::int32_t, const TableSetup&, RunLog&) {}

 private:
  TwoByTwoFormat plain_;
  const CovariateRefit* refit_;
  Membership membership_;
  std::uint64_t firth_ = 0;
  std::uint64_t failed_ = 0;
};

// The run log's lines on how the records were refitted.
void log_refits(RunLog& log, std::uint64_t firth, std::uint64_t failed);

// A 2x2 model's table: with covariates (setup.adjusted) its records carry the adjusted columns.
std::unique_ptr<RecordTable> make_two_by_two_table(const TableSetup& setup, LabelTexts labels, Membership membership);

// The table of a 2x2 model whose evaluation names its labels and whose membership says which
// samples its records' refit compares.
template <class Evaluation, Membership kMembership>
std::unique_ptr<RecordTable> two_by_two_table_of(const TableSetup& setup) {
  return make_two_by_two_table(setup, Evaluation::kLabels, kMembership);
}

// Six significant digits, as %g writes them (scientific below 1e-4 and from 1e6); NA for a value that
// is not a number (a refit that could not be made).
void put_number(std::ostream& out, double value);

// Upper-tail probability of a chi-square statistic at one degree of freedom.
double chi_square_p_value(float chi_square);

// The chi-square value whose upper-tail probability at one degree of freedom is alpha.
double chi_square_threshold(double alpha);

}  // namespace varpair
