// The result table of qt_interaction: every test whose P reaches the cut-off, one line a pair and
// trait, PHENO SNP0 SNP1 N BETA_INT SE T_STAT P (then ID0 ID1), sorted by SNP0, SNP1 and trait.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "interaction/record_table.h"
#include "models/partner_summary.h"
#include "models/qt_interaction.h"

namespace varpair {

// A reported test, as the table keeps it (and a shard's records file holds it).
struct QtRecord {
  std::int32_t snp0, snp1, label;
  std::int32_t n, df, unused;
  double beta, se, t, p;
};
static_assert(sizeof(QtRecord) == 56, "a stored record is 56 bytes");

// The table, and beside it the per-SNP summary (OUT.summary): for each trait and SNP, the tests it
// took part in, its reported partners and the best of them.
class QtFormat {
 public:
  using Found = QtFound;
  using Stored = QtRecord;
  static constexpr bool kCostlyKeep = false;

  QtFormat(double alpha, std::vector<std::string> traits, std::int32_t rows)
      : alpha_(alpha), traits_(std::move(traits)), rows_(rows > 0 ? rows : 0), partners_(traits_.size(), rows_) {}

  void on_found(std::uint64_t) {}
  bool keep(const Found& found, Stored& stored) const;
  void on_kept(const Stored& r) { partners_.note(static_cast<std::size_t>(r.label), r.snp0, r.snp1, r.p, r.t); }
  void write_header(std::ostream& out, const char* header, bool ids) const;
  void write_line(std::ostream& out, const Stored& r, const std::vector<std::string>* ids) const;
  // The kernels' counts per trait: tests and pairs that were not tests, by why.
  void note_counters(const std::vector<std::uint64_t>& counters) { counters_ = counters; }
  bool end_run(const PairShare&, const std::vector<std::uint32_t>&, const TableSetup& setup, RunLog& log);
  // The summary of a merge: tests summed over the shards' summaries, partners from the records.
  void end_merge(const std::vector<std::string>& shard_outputs, std::int32_t rows, const TableSetup& setup,
                 RunLog& log);

 private:
  // `tests`: trait x SNP.
  bool write_summary(const std::vector<std::uint64_t>& tests, const TableSetup& setup) const;

  double alpha_;
  std::vector<std::string> traits_;
  std::int32_t rows_;
  PartnerSummary partners_;
  std::vector<std::uint64_t> counters_;
};

// The header of the per-SNP summary.
extern const char* const kQtSummaryHeader;

std::unique_ptr<RecordTable> make_qt_table(const TableSetup& setup);

// Two-sided P of Student's t at `df` degrees of freedom.
double student_t_p(double t, std::int32_t df);

}  // namespace varpair
