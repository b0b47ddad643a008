#include "interaction/result_writer.h"

#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <iomanip>

namespace varpair {

double chi_square_p_value(float chi_square) { return gsl_cdf_chisq_Q(static_cast<double>(chi_square), 1.0); }

double chi_square_threshold(double alpha) { return gsl_cdf_chisq_Qinv(alpha, 1.0); }

ResultWriter::ResultWriter(std::ostream& out, LabelTexts labels, std::size_t run_length,
                           const std::vector<std::string>* ids)
    : out_(out), labels_(labels), ids_(ids), run_length_(run_length) {
  buffer_.reserve(run_length_);
}

void ResultWriter::add(const InteractionRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  buffer_.push_back(record);
  if (buffer_.size() >= run_length_) write_out();
}

void ResultWriter::flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  write_out();
}

// The p-value's notation stays in force on the stream: it also formats the odds ratios of the line
// and the chi-square of the next one.
void ResultWriter::write_out() {
  if (buffer_.empty()) return;
  std::sort(buffer_.begin(), buffer_.end(), [](const InteractionRecord& x, const InteractionRecord& y) {
    if (x.snp0 != y.snp0) return x.snp0 < y.snp0;
    if (x.snp1 != y.snp1) return x.snp1 < y.snp1;
    return x.label < y.label;
  });
  for (const InteractionRecord& r : buffer_) {
    const bool known = r.label >= 0 && static_cast<std::size_t>(r.label) < labels_.size();
    out_ << (known ? labels_[static_cast<std::size_t>(r.label)] : "unknown") << '\t' << r.snp0 << '\t' << r.snp1 << '\t'
         << r.a << '\t' << r.b << '\t' << r.c << '\t' << r.d << '\t' << r.chi_square << '\t';
    const double p = chi_square_p_value(r.chi_square);
    if (p < 0.00001)
      out_ << std::scientific << std::setprecision(2);
    else
      out_ << std::fixed << std::setprecision(6);
    out_ << p << '\t' << r.odds_ratio << '\t' << r.or_lower << '\t' << r.or_upper;
    if (ids_ != nullptr)
      out_ << '\t' << (*ids_)[static_cast<std::size_t>(r.snp0)] << '\t' << (*ids_)[static_cast<std::size_t>(r.snp1)];
    out_ << '\n';
  }
  out_.flush();
  if (records_ != nullptr)
    records_->write(reinterpret_cast<const char*>(buffer_.data()),
                    static_cast<std::streamsize>(buffer_.size() * sizeof(InteractionRecord)));
  buffer_.clear();
  if (buffer_.capacity() < run_length_) buffer_.reserve(run_length_);
}

}  // namespace varpair
