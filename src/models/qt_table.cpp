#include "models/qt_table.h"

#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/output_names.h"
#include "common/worker_pool.h"
#include "device/runtime.h"
#include "interaction/genotype_masks.h"
#include "interaction/result_writer.h"
#include "models/partner_summary.h"

namespace varpair {

const char* const kQtSummaryHeader = "PHENO\tSNP\tID\tN_TOT\tN_SIG\tBEST_SNP\tBEST_ID\tBEST_T\tBEST_P";

double student_t_p(double t, std::int32_t df) { return 2.0 * gsl_cdf_tdist_Q(std::fabs(t), df); }

bool QtFormat::keep(const Found& found, Stored& stored) const {
  const double t = get_double(found.t);
  const double p = student_t_p(t, found.df);
  if (!(p <= alpha_)) return false;
  stored = QtRecord{found.snp0, found.snp1, found.label, found.n, found.df, 0, get_double(found.beta),
                    get_double(found.se), t, p};
  return true;
}

bool QtFormat::write_summary(const std::vector<std::uint64_t>& tests, const TableSetup& setup) const {
  std::ostream& out = *setup.side.at(0);
  out << kQtSummaryHeader << '\n';
  const auto rows = static_cast<std::size_t>(rows_);
  for (std::size_t t = 0; t < traits_.size(); ++t)
    for (std::size_t snp = 0; snp < rows; ++snp) {
      out << traits_[t] << '\t' << snp << '\t' << (setup.ids != nullptr ? (*setup.ids)[snp] : ".") << '\t'
          << tests[t * rows + snp] << '\t';
      partners_.write(out, t, static_cast<std::int32_t>(snp), setup.ids);
      out << '\n';
    }
  out.flush();
  return out.good();
}

void QtFormat::end_merge(const std::vector<std::string>& shard_outputs, std::int32_t, const TableSetup& setup,
                         RunLog& log) {
  const auto rows = static_cast<std::size_t>(rows_);
  std::vector<std::uint64_t> tests(traits_.size() * rows, 0);
  for (const std::string& shard : shard_outputs) {
    const std::string path = side_output_path(shard, kSummarySuffix);
    std::ifstream in = open_shard_summary(shard, kQtSummaryHeader, "qt_interaction");
    std::string line;
    for (std::size_t k = 0; k < tests.size(); ++k) {
      std::istringstream fields(std::getline(in, line) ? line : std::string());
      std::string trait, snp, id;
      std::uint64_t n = 0;
      if (!(fields >> trait >> snp >> id >> n) || trait != traits_[k / rows] || snp != std::to_string(k % rows))
        throw std::runtime_error(path + " line " + std::to_string(k + 2) + " is not SNP " + std::to_string(k % rows) +
                                 " of " + traits_[k / rows]);
      tests[k] += n;
    }
    if (std::getline(in, line)) throw std::runtime_error(path + " holds more lines than the run's SNPs and traits");
  }
  // Each test counts at both its SNPs.
  for (std::size_t t = 0; t < traits_.size(); ++t) {
    std::uint64_t both = 0;
    for (std::size_t snp = 0; snp < rows; ++snp) both += tests[t * rows + snp];
    log << "Tests of " << traits_[t] << ": " << both / 2 << " (a Bonferroni correction divides by this)" << eol;
  }
  if (!write_summary(tests, setup)) throw std::runtime_error("could not write the summary");
}

void QtFormat::write_header(std::ostream& out, const char* header, bool ids) const {
  out << header << (ids ? "\tID0\tID1" : "") << '\n';
}

void QtFormat::write_line(std::ostream& out, const Stored& r, const std::vector<std::string>* ids) const {
  const auto trait = static_cast<std::size_t>(r.label);
  out << (trait < traits_.size() ? traits_[trait] : "unknown") << '\t' << r.snp0 << '\t' << r.snp1 << '\t' << r.n;
  for (const double v : {r.beta, r.se, r.t, r.p}) {
    out << '\t';
    put_number(out, v);
  }
  if (ids != nullptr)
    out << '\t' << (*ids)[static_cast<std::size_t>(r.snp0)] << '\t' << (*ids)[static_cast<std::size_t>(r.snp1)];
  out << '\n';
}

bool QtFormat::end_run(const PairShare&, const std::vector<std::uint32_t>&, const TableSetup& setup, RunLog& log) {
  for (std::size_t t = 0; t < traits_.size() && 4 * t + 3 < counters_.size(); ++t) {
    const std::uint64_t* c = &counters_[4 * t];
    log << "Tests of " << traits_[t] << ": " << c[0] << " (a Bonferroni correction divides by this)" << eol;
    if (c[1] + c[2] + c[3] > 0)
      log << "Pairs that were no test of " << traits_[t] << ": " << c[1] << " with a singular design (a SNP or a "
          << "covariate constant over the samples), " << c[2] << " whose interaction term's variance inflation "
          << "exceeds " << kQtMaxVif << ", " << c[3] << " with too few samples" << eol;
  }
  const std::size_t first = 4 * traits_.size();
  if (counters_.size() != first + traits_.size() * static_cast<std::size_t>(rows_)) return false;
  // The kernels count by SNP, then trait; the summary lists by trait, then SNP.
  std::vector<std::uint64_t> tests(traits_.size() * static_cast<std::size_t>(rows_));
  for (std::size_t snp = 0; snp < static_cast<std::size_t>(rows_); ++snp)
    for (std::size_t t = 0; t < traits_.size(); ++t)
      tests[t * static_cast<std::size_t>(rows_) + snp] = counters_[first + snp * traits_.size() + t];
  return write_summary(tests, setup);
}

std::unique_ptr<RecordTable> make_qt_table(const TableSetup& setup) {
  return std::make_unique<SortedTable<QtFormat>>(setup, QtFormat(setup.alpha, setup.labels, setup.rows));
}

namespace {

// A vector's values in fixed point: centred on the mean of its present values and scaled by the
// power of two that brings the largest deviation into [2^29, 2^30), then rounded. The rounding
// moves a value by at most 2^-31 of that deviation, a relative error near 1e-9, far below the six
// digits printed; the scale is a power of two, so BETA_INT and SE come back exactly by `unit`.
struct FixedPoint {
  std::vector<std::int32_t> q;
  double unit = 0;  // the value of 1 in q
  bool constant = false;
  bool empty = false;
};

FixedPoint fixed_point(const std::vector<double>& v) {
  FixedPoint f;
  double sum = 0, count = 0;
  for (const double x : v)
    if (!std::isnan(x)) sum += x, count += 1;
  f.q.assign(v.size(), 0);
  if (count == 0) {
    f.empty = true;
    return f;
  }
  const double mean = sum / count;
  double largest = 0;
  for (const double x : v)
    if (!std::isnan(x)) largest = std::max(largest, std::fabs(x - mean));
  if (largest == 0) {
    f.constant = true;
    return f;
  }
  int exponent = 0;
  std::frexp(largest, &exponent);  // largest = m 2^exponent, m in [0.5, 1)
  const int shift = 30 - exponent;
  for (std::size_t s = 0; s < v.size(); ++s)
    if (!std::isnan(v[s])) f.q[s] = static_cast<std::int32_t>(std::llround(std::ldexp(v[s] - mean, shift)));
  f.unit = std::ldexp(1.0, -shift);
  return f;
}

// Appends `count` values of T at a 16-byte boundary; returns their offset.
template <class T>
std::uint64_t append(std::vector<std::uint8_t>& bytes, const T* values, std::size_t count) {
  const std::size_t at = (bytes.size() + 15) / 16 * 16;
  bytes.resize(at + count * sizeof(T));
  if (count > 0) std::memcpy(bytes.data() + at, values, count * sizeof(T));
  return at;
}

}  // namespace

// The most the host's sums over each SNP's missing calls may take (and at most a quarter of the
// device memory the plan left); above it, its tiles sum them.
constexpr std::uint64_t kMaxMissBytes = std::uint64_t{1} << 29;

ModelRunData qt_run_data(const RunShape& shape) {
  ModelRunData run;
  const SampleValues& v = *shape.values;
  const auto samples = static_cast<std::size_t>(shape.cases);
  const std::size_t words = (samples + 63) / 64;
  QtLayout l{};
  l.samples = shape.cases;
  l.words = static_cast<std::int32_t>(words);
  std::vector<FixedPoint> covariates;
  for (std::size_t c = 0; c < v.covariates.size(); ++c) {
    FixedPoint f = fixed_point(v.covariates[c]);
    if (f.constant) {
      run.report.push_back("Covariate " + v.covariate_names[c] + " is constant over the samples used: left out");
      continue;
    }
    covariates.push_back(std::move(f));
  }
  l.covariates = static_cast<std::int32_t>(covariates.size());
  l.traits = static_cast<std::int32_t>(v.traits.size());
  std::vector<std::uint64_t> present(v.traits.size() * words, 0);
  std::vector<std::int32_t> y;
  std::vector<Wide> yy(v.traits.size(), 0), cy(v.traits.size() * covariates.size(), 0),
      cc(v.traits.size() * covariates.size() * covariates.size(), 0);
  const std::size_t k = covariates.size();
  for (std::size_t t = 0; t < v.traits.size(); ++t) {
    const FixedPoint f = fixed_point(v.traits[t]);
    if (f.empty || f.constant) {
      run.failed = true;
      run.report.push_back("Error: the trait " + v.trait_names[t] + (f.empty ? " has no value for any sample used"
                                                                             : " is the same for every sample used"));
      return run;
    }
    l.unit[t] = f.unit;
    y.insert(y.end(), f.q.begin(), f.q.end());
    for (std::size_t s = 0; s < samples; ++s) {
      if (std::isnan(v.traits[t][s])) continue;
      present[t * words + s / 64] |= std::uint64_t{1} << (s % 64);
      const Wide ys = f.q[s];
      yy[t] += ys * ys;
      for (std::size_t c = 0; c < k; ++c) {
        const Wide cs = covariates[c].q[s];
        cy[t * k + c] += cs * ys;
        for (std::size_t u = 0; u <= c; ++u) cc[(t * k + u) * k + c] += static_cast<Wide>(covariates[u].q[s]) * cs;
      }
    }
  }
  for (std::size_t t = 0; t < v.traits.size(); ++t) {
    int g = 0;
    while (g < l.groups && !std::equal(present.begin() + static_cast<std::ptrdiff_t>(t * words),
                                       present.begin() + static_cast<std::ptrdiff_t>((t + 1) * words),
                                       present.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(l.group_trait[g]) * words)))
      ++g;
    if (g == l.groups) l.group_trait[l.groups++] = static_cast<std::int32_t>(t);
    l.group[t] = g;
  }
  std::vector<std::int32_t> c_values;
  for (const FixedPoint& f : covariates) c_values.insert(c_values.end(), f.q.begin(), f.q.end());
  const std::size_t traits = v.traits.size();
  std::vector<std::int64_t> ty(traits, 0), tc(traits * k, 0);
  for (std::size_t t = 0; t < traits; ++t)
    for (std::size_t s = 0; s < samples; ++s) {
      if ((present[t * words + s / 64] >> (s % 64) & 1) == 0) continue;
      ty[t] += y[t * samples + s];
      for (std::size_t c = 0; c < k; ++c) tc[t * k + c] += covariates[c].q[s];
    }
  // Each SNP's sums over a trait's samples of genotypes 1 and 2, on the workers (a pass over them all).
  const MaskStore& masks = *shape.masks;
  l.rows = masks.rows;
  const auto rows = static_cast<std::size_t>(masks.rows);
  std::vector<std::int64_t> snp_y(rows * traits * 2, 0), snp_c(rows * traits * 2 * k, 0);
  WorkerPool::shared().run(rows, [&](std::size_t r) {
    for (std::size_t t = 0; t < traits; ++t)
      for (std::size_t i = 0; i < 2; ++i) {
        const std::uint64_t* mask = masks.mask(static_cast<int>(1 + i), static_cast<std::int32_t>(r));
        std::int64_t& sum_y = snp_y[(r * traits + t) * 2 + i];
        std::int64_t* sum_c = snp_c.data() + ((r * traits + t) * 2 + i) * k;
        for (std::size_t w = 0; w < words; ++w)
          for (std::uint64_t bits = mask[w] & present[t * words + w]; bits != 0; bits &= bits - 1) {
            const std::size_t s = w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
            sum_y += y[t * samples + s];
            for (std::size_t c = 0; c < k; ++c) sum_c[c] += covariates[c].q[s];
          }
      }
  });
  // |T| at which P reaches the cut-off, for every degrees of freedom a test can have.
  l.max_df = shape.cases;
  std::vector<double> critical(static_cast<std::size_t>(l.max_df) + 1, 0.0);
  for (std::size_t df = 1; df < critical.size(); ++df)
    critical[df] = shape.alpha >= 1.0   ? 0.0
                   : shape.alpha <= 0.0 ? HUGE_VAL
                                        : gsl_cdf_tdist_Qinv(shape.alpha / 2.0, static_cast<double>(df));
  // The host's sums over each SNP's samples without a call, so that its tiles take them off a pair
  // without a pass over them (the host build's only: the GPU's pass has no use for them).
  std::vector<std::uint8_t> miss;
#if !defined(VARPAIR_CUDA)
  const std::uint64_t entry = QtMissing::bytes(l.covariates);
  const bool any_missing = genotyped_calls(masks) < static_cast<std::uint64_t>(rows) * samples;
  std::size_t free_bytes = 0, total_bytes = 0;
  cudaMemGetInfo(&free_bytes, &total_bytes);
  if (any_missing && rows * traits * entry <= std::min<std::uint64_t>(kMaxMissBytes, free_bytes / 4)) {
    miss.resize(rows * traits * entry);
    WorkerPool::shared().run(rows, [&](std::size_t r) {
      const auto row = static_cast<std::int32_t>(r);
      for (std::size_t t = 0; t < traits; ++t) {
        QtMissing m(miss.data() + (r * traits + t) * entry, l.covariates);
        m.clear(l.covariates);
        for (std::size_t w = 0; w < words; ++w)
          for (std::uint64_t bits = ~(masks.mask(0, row)[w] | masks.mask(1, row)[w] | masks.mask(2, row)[w]) &
                                    present[t * words + w];
               bits != 0; bits &= bits - 1) {
            const std::size_t s = w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
            m.add(y[t * samples + s], c_values.data() + s, samples, l.covariates);
          }
      }
    });
  }
#endif
  std::vector<std::uint8_t>& bytes = run.bytes;
  bytes.resize(sizeof(QtLayout));
  l.present = append(bytes, present.data(), present.size());
  l.y = append(bytes, y.data(), y.size());
  std::vector<std::int32_t> y_by_sample(y.size());
  for (std::size_t t = 0; t < v.traits.size(); ++t)
    for (std::size_t s = 0; s < samples; ++s) y_by_sample[s * v.traits.size() + t] = y[t * samples + s];
  l.y_by_sample = append(bytes, y_by_sample.data(), y_by_sample.size());
  l.c = append(bytes, c_values.data(), c_values.size());
  std::vector<std::int32_t> c_by_sample(c_values.size());
  for (std::size_t v = 0; v < k; ++v)
    for (std::size_t s = 0; s < samples; ++s) c_by_sample[s * k + v] = c_values[v * samples + s];
  l.c_by_sample = append(bytes, c_by_sample.data(), c_by_sample.size());
  l.yy = append(bytes, yy.data(), yy.size());
  l.cy = append(bytes, cy.data(), cy.size());
  l.cc = append(bytes, cc.data(), cc.size());
  l.ty = append(bytes, ty.data(), ty.size());
  l.tc = append(bytes, tc.data(), tc.size());
  l.snp_y = append(bytes, snp_y.data(), snp_y.size());
  l.snp_c = append(bytes, snp_c.data(), snp_c.size());
  l.critical = append(bytes, critical.data(), critical.size());
  if (!miss.empty()) l.miss = append(bytes, miss.data(), miss.size());
  std::memcpy(bytes.data(), &l, sizeof l);
  run.counters = 4 * v.traits.size() + rows * v.traits.size();
  return run;
}

}  // namespace varpair
