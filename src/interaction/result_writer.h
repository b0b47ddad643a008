// The interaction result table: records buffered, sorted and written in runs of 2,000,000, each
// line with its p-value and the carried-over number formats of the table.
#pragma once

#include <cstddef>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "interaction/interaction_record.h"

namespace varpair {

// The texts of a model's record labels (genotype labels or models), by label index.
using LabelTexts = std::span<const char* const>;

class ResultWriter {
 public:
  static constexpr std::size_t kRunLength = 2000000;

  // `out` is open with its header written and fixed 6-decimal format set. Runs hold `run_length`
  // records (tests use short runs).
  // With variant IDs each line ends in the IDs of its two SNPs (columns ID0 and ID1).
  ResultWriter(std::ostream& out, LabelTexts labels, std::size_t run_length = kRunLength,
               const std::vector<std::string>* ids = nullptr);

  // Buffers one record; a full buffer is written out at once.
  void add(const InteractionRecord& record);
  // Writes out whatever is buffered.
  void flush();
  // Also writes each record, as its 44 bytes, to `records` in the order of the lines (a shard's
  // records, from which `varpair merge` writes the joined table exactly).
  void copy_records_to(std::ostream* records) { records_ = records; }

 private:
  void write_out();

  std::ostream& out_;
  LabelTexts labels_;
  const std::vector<std::string>* ids_;
  std::ostream* records_ = nullptr;
  std::size_t run_length_;
  std::vector<InteractionRecord> buffer_;
  std::mutex mutex_;
};

// Upper-tail probability of a chi-square statistic at one degree of freedom.
double chi_square_p_value(float chi_square);

// The chi-square value whose upper-tail probability at one degree of freedom is alpha.
double chi_square_threshold(double alpha);

}  // namespace varpair
