// The result table of boost_interaction: every pair whose exact test reaches the p-value cut-off,
// and beside it the per-SNP summary (OUT.summary): the tests each SNP took part in, its reported
// partners and the best of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "interaction/record_table.h"
#include "models/boost_math.h"
#include "models/partner_summary.h"

namespace varpair {

class CovariateRefit;

// A reported pair, as a table keeps it (and a shard's records file holds it); the adjusted values
// are those of the covariate refit (0 without covariates).
struct BoostRecord {
  std::int32_t snp0, snp1, label;
  std::int32_t df;
  double statistic;
  double p;
  std::int32_t adjusted_df;
  std::int32_t fit;  // RefitMethod: 0 maximum likelihood, 1 Firth's penalised likelihood, 2 failed
  double adjusted_statistic;
  double adjusted_p;
};
static_assert(sizeof(BoostRecord) == 56, "a stored record is 56 bytes");

class BoostFormat {
 public:
  using Found = BoostPairCells;
  using Stored = BoostRecord;
  static constexpr bool kCostlyKeep = true;  // an exact fit a pair

  // With covariates (`adjusted`) the records carry the refit's values; a run refits them with
  // `refit`, a merge (null) reads them.
  BoostFormat(double alpha, std::int32_t rows, bool adjusted, const CovariateRefit* refit);

  void on_found(std::uint64_t count) { fitted_ += count; }
  bool keep(const Found& found, Stored& stored) const;
  void on_kept(const Stored& r);
  void write_header(std::ostream& out, const char* header, bool ids) const;
  void write_line(std::ostream& out, const Stored& r, const std::vector<std::string>* ids) const;
  // The summary and the run log's count of tests, from the per-SNP counts of untested pairs.
  bool end_run(const PairShare& share, const std::vector<std::uint32_t>& untested, const TableSetup& setup,
               RunLog& log);
  // The summary of a merge: tests summed over the shards' summaries, partners from the records.
  void end_merge(const std::vector<std::string>& shard_outputs, std::int32_t rows, const TableSetup& setup,
                 RunLog& log);

 private:
  bool write_summary(const std::vector<std::uint64_t>& tests, const TableSetup& setup, RunLog& log) const;

  double alpha_;
  bool adjusted_;
  const CovariateRefit* refit_;
  std::int32_t rows_;
  PartnerSummary partners_;
  std::uint64_t fitted_ = 0;
  std::uint64_t firth_ = 0;
  std::uint64_t failed_ = 0;
};

std::unique_ptr<RecordTable> make_boost_table(const TableSetup& setup);

// The header of the per-SNP summary.
extern const char* const kBoostSummaryHeader;

// Pairs of a share in which `snp` takes part: as SNP0 with every later SNP when it is one of the
// share's SNP0 rows, and as SNP1 of the share's rows before it.
std::uint64_t partners_in_share(const PairShare& share, std::int32_t snp);

}  // namespace varpair
