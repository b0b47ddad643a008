#include "models/boost_table.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/output_names.h"
#include "interaction/covariate_refit.h"
#include "interaction/result_writer.h"
#include "models/boost_fit.h"

namespace varpair {

const char* const kBoostSummaryHeader = "SNP\tID\tN_TOT\tN_SIG\tBEST_SNP\tBEST_ID\tBEST_STAT\tBEST_P";

namespace {

}  // namespace

std::uint64_t partners_in_share(const PairShare& share, std::int32_t snp) {
  std::uint64_t n = 0;
  if (snp >= share.first && snp < share.end) n += static_cast<std::uint64_t>(share.rows - 1 - snp);
  const std::int32_t earlier = std::min(snp, share.end) - share.first;
  if (earlier > 0) n += static_cast<std::uint64_t>(earlier);
  return n;
}

BoostFormat::BoostFormat(double alpha, std::int32_t rows, bool adjusted, const CovariateRefit* refit)
    : alpha_(alpha), adjusted_(adjusted), refit_(refit), rows_(rows > 0 ? rows : 0), partners_(1, rows) {}

bool BoostFormat::keep(const Found& found, Stored& stored) const {
  const BoostTest test = boost_exact_test(found.cases, found.controls);
  if (test.df == 0 || !(test.p <= alpha_)) return false;
  stored = BoostRecord{found.snp0, found.snp1, 0, test.df, test.statistic, test.p, 0, 0, 0.0, 0.0};
  if (refit_ != nullptr) {
    const AdjustedBoost a = refit_->boost(found.snp0, found.snp1);
    stored.adjusted_df = a.df;
    stored.fit = static_cast<std::int32_t>(a.method);
    stored.adjusted_statistic = a.statistic;
    stored.adjusted_p = a.p;
  }
  return true;
}

void BoostFormat::on_kept(const Stored& r) {
  partners_.note(0, r.snp0, r.snp1, r.p, r.statistic);
  firth_ += r.fit == 1;
  failed_ += r.fit == 2;
}

void BoostFormat::write_header(std::ostream& out, const char* header, bool ids) const {
  out << header << (adjusted_ ? "\tadj_STAT\tadj_DF\tadj_P\tfit" : "") << (ids ? "\tID0\tID1" : "") << '\n';
}

void BoostFormat::write_line(std::ostream& out, const Stored& r, const std::vector<std::string>* ids) const {
  out << r.snp0 << '\t' << r.snp1 << '\t';
  put_number(out, r.statistic);
  out << '\t' << r.df << '\t';
  put_number(out, r.p);
  if (adjusted_) {
    out << '\t';
    put_number(out, r.adjusted_statistic);
    out << '\t' << r.adjusted_df << '\t';
    put_number(out, r.adjusted_p);
    out << '\t' << refit_method_name(r.fit);
  }
  if (ids != nullptr)
    out << '\t' << (*ids)[static_cast<std::size_t>(r.snp0)] << '\t' << (*ids)[static_cast<std::size_t>(r.snp1)];
  out << '\n';
}

bool BoostFormat::write_summary(const std::vector<std::uint64_t>& tests, const TableSetup& setup, RunLog& log) const {
  std::ostream& out = *setup.side.at(0);
  out << kBoostSummaryHeader << '\n';
  const auto id = [&](std::int32_t snp) -> const std::string& {
    static const std::string none = ".";
    return setup.ids != nullptr ? (*setup.ids)[static_cast<std::size_t>(snp)] : none;
  };
  std::uint64_t all = 0;
  for (std::size_t s = 0; s < tests.size(); ++s) {
    all += tests[s];
    out << s << '\t' << id(static_cast<std::int32_t>(s)) << '\t' << tests[s] << '\t';
    partners_.write(out, 0, static_cast<std::int32_t>(s), setup.ids);
    out << '\n';
  }
  out.flush();
  log << "Tests (pairs with DF > 0): " << all / 2 << eol;
  return out.good();
}

bool BoostFormat::end_run(const PairShare& share, const std::vector<std::uint32_t>& untested, const TableSetup& setup,
                          RunLog& log) {
  std::vector<std::uint64_t> tests(static_cast<std::size_t>(rows_));
  std::uint64_t without = 0;
  for (std::size_t s = 0; s < tests.size(); ++s) {
    const std::uint64_t none = s < untested.size() ? untested[s] : 0;
    tests[s] = partners_in_share(share, static_cast<std::int32_t>(s)) - none;
    without += none;
  }
  log << "Pairs fitted exactly (their screen reached the cut-off): " << fitted_ << eol;
  log << "Pairs without a test (DF 0: a SNP with one genotype among the samples genotyped at both): " << without / 2
      << eol;
  if (adjusted_) log_refits(log, firth_, failed_);
  return write_summary(tests, setup, log);
}

void BoostFormat::end_merge(const std::vector<std::string>& shard_outputs, std::int32_t rows, const TableSetup& setup,
                            RunLog& log) {
  std::vector<std::uint64_t> tests(static_cast<std::size_t>(rows > 0 ? rows : 0));
  for (const std::string& shard : shard_outputs) {
    const std::string path = side_output_path(shard, kSummarySuffix);
    std::ifstream in = open_shard_summary(shard, kBoostSummaryHeader, "boost_interaction");
    std::string line;
    std::size_t s = 0;
    for (; s < tests.size() && std::getline(in, line); ++s) {
      std::istringstream fields(line);
      std::string index, id;
      std::uint64_t n = 0;
      if (!(fields >> index >> id >> n) || index != std::to_string(s))
        throw std::runtime_error(path + " line " + std::to_string(s + 2) + " is not SNP " + std::to_string(s));
      tests[s] += n;
    }
    if (s != tests.size() || std::getline(in, line))
      throw std::runtime_error(path + " does not hold the " + std::to_string(rows) + " SNPs of the run");
  }
  if (!write_summary(tests, setup, log)) throw std::runtime_error("could not write the summary");
}

std::unique_ptr<RecordTable> make_boost_table(const TableSetup& setup) {
  return std::make_unique<SortedTable<BoostFormat>>(setup,
                                                    BoostFormat(setup.alpha, setup.rows, setup.adjusted, setup.refit));
}

}  // namespace varpair
