#include "interaction/result_writer.h"

#include <gsl/gsl_cdf.h>

#include <iomanip>

namespace varpair {

double chi_square_p_value(float chi_square) { return gsl_cdf_chisq_Q(static_cast<double>(chi_square), 1.0); }

double chi_square_threshold(double alpha) { return gsl_cdf_chisq_Qinv(alpha, 1.0); }

void TwoByTwoFormat::write_header(std::ostream& out, const char* header, bool ids) const {
  out << header << (ids ? "\tID0\tID1" : "") << '\n' << std::fixed << std::setprecision(6);
}

// The p-value's notation stays in force on the stream: it also formats the odds ratios of the line
// and the chi-square of the next one.
void TwoByTwoFormat::write_line(std::ostream& out, const Stored& r, const std::vector<std::string>* ids) const {
  const bool known = r.label >= 0 && static_cast<std::size_t>(r.label) < labels_.size();
  out << (known ? labels_[static_cast<std::size_t>(r.label)] : "unknown") << '\t' << r.snp0 << '\t' << r.snp1 << '\t'
      << r.a << '\t' << r.b << '\t' << r.c << '\t' << r.d << '\t' << r.chi_square << '\t';
  const double p = chi_square_p_value(r.chi_square);
  if (p < 0.00001)
    out << std::scientific << std::setprecision(2);
  else
    out << std::fixed << std::setprecision(6);
  out << p << '\t' << r.odds_ratio << '\t' << r.or_lower << '\t' << r.or_upper;
  if (ids != nullptr)
    out << '\t' << (*ids)[static_cast<std::size_t>(r.snp0)] << '\t' << (*ids)[static_cast<std::size_t>(r.snp1)];
  out << '\n';
}

std::unique_ptr<RecordTable> make_two_by_two_table(const TableSetup& setup, LabelTexts labels) {
  return std::make_unique<SortedTable<TwoByTwoFormat>>(setup, TwoByTwoFormat(labels));
}

}  // namespace varpair
