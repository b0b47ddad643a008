#include "interaction/result_writer.h"

#include <gsl/gsl_cdf.h>

#include <cmath>
#include <cstdio>
#include <iomanip>

#include "interaction/covariate_refit.h"

namespace varpair {

double chi_square_p_value(float chi_square) { return gsl_cdf_chisq_Q(static_cast<double>(chi_square), 1.0); }

double chi_square_threshold(double alpha) { return gsl_cdf_chisq_Qinv(alpha, 1.0); }

void TwoByTwoFormat::write_header(std::ostream& out, const char* header, bool ids) const {
  out << header << (ids ? "\tID0\tID1" : "") << '\n' << std::fixed << std::setprecision(6);
}

void put_number(std::ostream& out, double value) {
  if (std::isnan(value)) {  // a refit that could not be made
    out << "NA";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  out << text;
}

// The p-value's notation stays in force on the stream: it also formats the odds ratios of the line
// and the chi-square of the next one.
void TwoByTwoFormat::write_numbers(std::ostream& out, const InteractionRecord& r) const {
  const bool known = r.label >= 0 && static_cast<std::size_t>(r.label) < labels_.size();
  out << (known ? labels_[static_cast<std::size_t>(r.label)] : "unknown") << '\t' << r.snp0 << '\t' << r.snp1 << '\t'
      << r.a << '\t' << r.b << '\t' << r.c << '\t' << r.d << '\t' << r.chi_square << '\t';
  const double p = chi_square_p_value(r.chi_square);
  if (p < 0.00001)
    out << std::scientific << std::setprecision(2);
  else
    out << std::fixed << std::setprecision(6);
  out << p << '\t' << r.odds_ratio << '\t' << r.or_lower << '\t' << r.or_upper;
}

namespace {

void put_ids(std::ostream& out, const InteractionRecord& r, const std::vector<std::string>* ids) {
  if (ids != nullptr)
    out << '\t' << (*ids)[static_cast<std::size_t>(r.snp0)] << '\t' << (*ids)[static_cast<std::size_t>(r.snp1)];
}

}  // namespace

void TwoByTwoFormat::write_line(std::ostream& out, const Stored& r, const std::vector<std::string>* ids) const {
  write_numbers(out, r);
  put_ids(out, r, ids);
  out << '\n';
}

bool AdjustedTwoByTwoFormat::keep(const Found& found, Stored& stored) const {
  std::int8_t membership[3][3];
  membership_(found, *refit_, membership);
  const AdjustedOdds a = refit_->odds(found.snp0, found.snp1, membership);
  stored = AdjustedRecord{found, static_cast<std::int32_t>(a.method), a.odds, a.lower, a.upper, a.p};
  return true;
}

void AdjustedTwoByTwoFormat::write_header(std::ostream& out, const char* header, bool ids) const {
  out << header << "\tadj_OR\tadj_OR_lower\tadj_OR_upper\tadj_pvalue\tfit" << (ids ? "\tID0\tID1" : "") << '\n'
      << std::fixed << std::setprecision(6);
}

// The adjusted numbers by snprintf: the stream's carried-over formats stay those of the columns
// before them, so those keep their bytes.
void AdjustedTwoByTwoFormat::write_line(std::ostream& out, const Stored& r,
                                        const std::vector<std::string>* ids) const {
  plain_.write_numbers(out, r.base);
  for (const double v : {r.odds, r.lower, r.upper, r.p}) {
    out << '\t';
    put_number(out, v);
  }
  out << '\t' << refit_method_name(r.fit);
  put_ids(out, r.base, ids);
  out << '\n';
}

bool AdjustedTwoByTwoFormat::end_run(const PairShare&, const std::vector<std::uint32_t>&, const TableSetup&,
                                     RunLog& log) {
  log_refits(log, firth_, failed_);
  return true;
}

void log_refits(RunLog& log, std::uint64_t firth, std::uint64_t failed) {
  log << "Records refitted with covariates: " << firth << " by Firth's penalised likelihood (no finite "
      << "maximum-likelihood fit), the others by maximum likelihood" << eol;
  if (failed > 0)
    log << "Warning: " << failed << " records could not be refitted (a design singular over their samples): NA, fit "
        << "failed" << eol;
}

std::unique_ptr<RecordTable> make_two_by_two_table(const TableSetup& setup, LabelTexts labels, Membership membership) {
  if (setup.adjusted)
    return std::make_unique<SortedTable<AdjustedTwoByTwoFormat>>(
        setup, AdjustedTwoByTwoFormat(labels, setup.refit, membership));
  return std::make_unique<SortedTable<TwoByTwoFormat>>(setup, TwoByTwoFormat(labels));
}

}  // namespace varpair
