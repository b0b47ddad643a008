#include "models/partner_summary.h"

#include <cmath>
#include <stdexcept>

#include "common/output_names.h"
#include "interaction/result_writer.h"

namespace varpair {

std::ifstream open_shard_summary(const std::string& shard, const std::string& header, const std::string& command) {
  const std::string path = side_output_path(shard, kSummarySuffix);
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != header)
    throw std::runtime_error(path + " is missing or not a " + command + " summary");
  return in;
}

// The better partner: the smaller P, then (where P underflows to 0 alike) the larger statistic in
// magnitude, then the lower SNP, so that any order of the records (a run's, a merge's) gives the same.
void PartnerSummary::note_one(std::size_t group, std::int32_t snp, std::int32_t partner, double p, double statistic) {
  if (snp < 0 || static_cast<std::size_t>(snp) >= rows_ || group * rows_ >= partners_.size()) return;
  Partners& mine = partners_[group * rows_ + static_cast<std::size_t>(snp)];
  ++mine.reported;
  const double size = std::fabs(statistic), best_size = std::fabs(mine.statistic);
  if (mine.best < 0 || p < mine.p || (p == mine.p && (size > best_size || (size == best_size && partner < mine.best)))) {
    mine.best = partner;
    mine.statistic = statistic;
    mine.p = p;
  }
}

void PartnerSummary::write(std::ostream& out, std::size_t group, std::int32_t snp,
                           const std::vector<std::string>* ids) const {
  const Partners& p = partners_[group * rows_ + static_cast<std::size_t>(snp)];
  out << p.reported << '\t';
  if (p.best < 0) {
    out << "NA\tNA\tNA\tNA";
    return;
  }
  out << p.best << '\t' << (ids != nullptr ? (*ids)[static_cast<std::size_t>(p.best)] : ".") << '\t';
  put_number(out, p.statistic);
  out << '\t';
  put_number(out, p.p);
}

}  // namespace varpair
