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

 private:
  LabelTexts labels_;
};

std::unique_ptr<RecordTable> make_two_by_two_table(const TableSetup& setup, LabelTexts labels);

// The table of a 2x2 model whose evaluation names its labels.
template <class Evaluation>
std::unique_ptr<RecordTable> two_by_two_table_of(const TableSetup& setup) {
  return make_two_by_two_table(setup, Evaluation::kLabels);
}

// Upper-tail probability of a chi-square statistic at one degree of freedom.
double chi_square_p_value(float chi_square);

// The chi-square value whose upper-tail probability at one degree of freedom is alpha.
double chi_square_threshold(double alpha);

}  // namespace varpair
