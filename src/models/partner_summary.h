// The partners side of a per-SNP summary (boost_interaction's, qt_interaction's): for each SNP, in
// each of a run's groups (the traits of a quantitative run; one otherwise), how many reported pairs
// it took part in and the best of them, noted from the records in any order with the same result.
#pragma once

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace varpair {

// A shard's summary (OUT.summary of shard output `shard`), read past its header; an error naming the
// file when it is missing or its header is not `header` (the summary of `command`).
std::ifstream open_shard_summary(const std::string& shard, const std::string& header, const std::string& command);

class PartnerSummary {
 public:
  PartnerSummary(std::size_t groups, std::int32_t rows)
      : rows_(rows > 0 ? static_cast<std::size_t>(rows) : 0), partners_(groups * rows_) {}

  // A reported pair of SNPs `snp0` and `snp1` in `group`, its P and statistic.
  void note(std::size_t group, std::int32_t snp0, std::int32_t snp1, double p, double statistic) {
    note_one(group, snp0, snp1, p, statistic);
    note_one(group, snp1, snp0, p, statistic);
  }
  // N_SIG BEST_SNP BEST_ID BEST_STAT BEST_P of `snp` in `group`, tab-separated (NA without a partner);
  // IDs from `ids`, "." without them.
  void write(std::ostream& out, std::size_t group, std::int32_t snp, const std::vector<std::string>* ids) const;

 private:
  struct Partners {
    std::uint64_t reported = 0;
    std::int32_t best = -1;  // none yet
    double statistic = 0.0;
    double p = 0.0;
  };
  void note_one(std::size_t group, std::int32_t snp, std::int32_t partner, double p, double statistic);

  std::size_t rows_;
  std::vector<Partners> partners_;  // group x SNP
};

}  // namespace varpair
