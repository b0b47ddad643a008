// The host's pass of qt_interaction: a batch's pairs by tiles of 8 to 32 x kTileColumns SNPs.
// What weighs the product AB, the sums of y AB and of each covariate times AB, is for every pair of
// a tile one matrix product of the rows' vectors (each trait's y A, each covariate's c A) with the
// columns' allele counts B: exact integers in double lanes (device/exact_products.h), so they equal
// the GPU's sums over the masks to the last bit. A pair's samples without a call are taken off
// through each SNP's sums over them; what the other SNP's calls weigh at them is, with covariates or
// several traits, again exact sums in double lanes made once a tile (WeighMissing), else one pass
// over the two SNPs' lists. The fit is the GPU's template (qt_math.h), factored once for the traits
// with the same samples; designs with covariates go to it a pair a vector lane (qt_fit_lanes.h).
#include "models/qt_tiles.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "device/exact_products.h"
#include "interaction/pair_index.h"
#include "interaction/pass_kernel.cuh"
#include "models/qt_evaluation.h"
#include "models/qt_fit_lanes.h"

namespace varpair {
namespace {

// A tile's rows: SNPs for about kRowVectors vectors (a SNP has one a trait and one a covariate and
// group), at least 8, so that a step's vectors stay in a core's own cache.
constexpr std::uint64_t kRowVectors = 32;
constexpr std::uint64_t kTileColumns = 64;
// Samples a step of the products (a multiple of 64: steps begin at a word).
constexpr std::size_t kStep = 512;
// Doubles from one vector of a step to the next: not a multiple of 4 KiB, whose vectors would all
// meet in the same few sets of the cache.
constexpr std::size_t kPitch = kStep + 24;

// The tiles over the rows a batch of pair indices touches.
struct TilePlan {
  std::uint64_t na, nb, start, end;
  std::uint64_t first_row, row_end, first_column;
  std::uint64_t tile_rows;
  std::uint64_t row_blocks, column_blocks;
};

TilePlan plan_tiles(const PassArgs& p, bool between) {
  TilePlan t{};
  t.na = static_cast<std::uint64_t>(p.size_a);
  t.nb = between ? static_cast<std::uint64_t>(p.size_b) : t.na;
  t.start = p.batch_start;
  const std::uint64_t pairs = between ? t.na * t.nb : t.na * (t.na - 1) / 2;
  t.end = std::min(pairs, p.batch_start + p.batch_count);
  if (t.start >= t.end) return t;
  if (between) {  // whole bands of the between-groups order
    const std::uint64_t band_rows = (t.na + 5) / 6;
    t.first_row = t.start / (band_rows * t.nb) * band_rows;
    t.row_end = std::min(t.na, ((t.end - 1) / (band_rows * t.nb) + 1) * band_rows);
  } else {
    t.first_row = within_group_pair(t.start, t.na).i;
    t.row_end = within_group_pair(t.end - 1, t.na).i + 1;
    t.first_column = t.first_row + 1;
  }
  const QtLayout& l = *reinterpret_cast<const QtLayout*>(p.model_bytes);
  t.tile_rows =
      std::max<std::uint64_t>(8, kRowVectors / static_cast<std::uint64_t>(l.traits + l.groups * l.covariates));
  t.row_blocks = (t.row_end - t.first_row + t.tile_rows - 1) / t.tile_rows;
  t.column_blocks = (t.nb - t.first_column + kTileColumns - 1) / kTileColumns;
  return t;
}

struct FreeDoubles {
  void operator()(double* p) const { std::free(p); }
};

// Doubles on the vector kernels' alignment, kept from tile to tile.
struct AlignedDoubles {
  std::unique_ptr<double, FreeDoubles> data;
  std::size_t capacity = 0;

  double* get(std::size_t count) {
    if (count > capacity) {
      const std::size_t bytes =
          (count * sizeof(double) + host_simd::kExactAlign - 1) / host_simd::kExactAlign * host_simd::kExactAlign;
      data.reset(static_cast<double*>(std::aligned_alloc(host_simd::kExactAlign, bytes)));
      if (!data) throw std::bad_alloc();
      capacity = count;
    }
    return data.get();
  }
};

// A worker's vectors, kept from tile to tile.
struct Scratch {
  AlignedDoubles vectors;
  std::vector<std::int64_t> products;
  std::vector<std::uint32_t> pairs;  // (i - r0) << 16 | (j - c0)
  std::vector<unsigned long long> counters;
  std::vector<std::int32_t> missing;    // the samples without a call of the tile's SNPs, one after another
  std::vector<std::size_t> missing_at;  // where each SNP's list begins
  std::vector<Wide> miss;               // per SNP and trait, where the run data has none (QtMissing)
  std::vector<std::uint64_t> all;       // every sample
  std::vector<std::uint64_t> no_call;   // per SNP of the tile, the same samples as a mask
  AlignedDoubles gathered;              // one SNP's values at its samples without a call
  std::vector<double> weights;          // the other SNPs' allele counts at those samples
  std::vector<std::int64_t> weighed;    // per pair, the values weighed so (WeighMissing)
  std::vector<QtLaneBatch> batches;     // per group, the designs waiting for the lanes
  std::vector<QtLaneTests> lane_tests;
};

// A SNP's allele counts (0 where its call is missing) over samples first .. end (a whole number of
// words from first), into out[0 ..] and zeros up to kStep.
void allele_counts(const ClassMasks& g, std::size_t first, std::size_t end, double* out) {
  std::fill(out, out + kStep, 0.0);
  for (std::size_t w = first / 64; w < (end + 63) / 64; ++w)
    for (int code = 1; code <= 2; ++code)
      for (std::uint64_t bits = g.m[code][w]; bits != 0; bits &= bits - 1)
        out[w * 64 + static_cast<std::size_t>(ctz64(bits)) - first] = code;
}

// The nine cells over a group's samples.
void group_cells(const ClassMasks& a, const ClassMasks& b, std::int32_t words, bool complete,
                 const std::uint64_t* present, std::int32_t (&cells)[3][3]) {
  if (complete) {
    count_set_cells(a, b, words, cells);
    return;
  }
  for (auto& row : cells)
    for (auto& cell : row) cell = 0;
  for (std::int32_t w = 0; w < words; ++w) {
    const std::uint64_t ok = present[w];
    for (int i = 0; i < 3; ++i) {
      const std::uint64_t at_a = a.m[i][w] & ok;
      for (int j = 0; j < 3; ++j) cells[i][j] += popcount64(at_a & b.m[j][w]);
    }
  }
}

// What a tile's pairs weigh over their SNPs' samples without a call, when there are covariates or
// several traits: per SNP, its values at those samples (each trait's y, then each covariate over
// each group's samples; per_snp of them, padded to `width`), weighed by the allele counts there of
// every SNP on the tile's other side (0 where that one has no call either). Per pair, `width`
// sums over the column's samples weighed by the row's counts (off_ya, off_ca), then `width` over
// the row's weighed by the column's (off_yb, off_cb).
class WeighMissing {
 public:
  WeighMissing(const QtLayout& l, const QtEvaluation& e, std::size_t rows, std::size_t columns, Scratch& scratch)
      : l_(l), rows_(rows), columns_(columns), scratch_(scratch) {
    const auto per_snp = static_cast<std::size_t>(l.traits + l.groups * l.covariates);
    width_ = (per_snp + host_simd::kExactLanes - 1) / host_simd::kExactLanes * host_simd::kExactLanes;
    y_ = e.at<std::int32_t>(l.y_by_sample);
    c_ = e.at<std::int32_t>(l.c_by_sample);
    present_ = e.at<std::uint64_t>(l.present);
    scratch.weighed.assign(rows * columns * 2 * width_, 0);
  }

  // SNP x's list (a column's when `column`) against the other side's SNPs, kChunk samples at a time
  // (the sums add up in `weighed`), so that a worker's buffers stay small however many calls a SNP
  // misses.
  template <class MasksOf>
  void weigh(const std::int32_t* list, const std::int32_t* list_end, bool column, std::size_t x,
             const MasksOf& others) {
    constexpr std::ptrdiff_t kChunk = 4096;
    for (; list_end - list > kChunk; list += kChunk) weigh_chunk(list, list + kChunk, column, x, others);
    weigh_chunk(list, list_end, column, x, others);
  }

  const std::int64_t* pair(std::size_t r, std::size_t col) const {
    return scratch_.weighed.data() + (r * columns_ + col) * 2 * width_;
  }
  std::size_t width() const { return width_; }

 private:
  template <class MasksOf>
  void weigh_chunk(const std::int32_t* list, const std::int32_t* list_end, bool column, std::size_t x,
                   const MasksOf& others) {
    const auto n = static_cast<std::size_t>(list_end - list);
    if (n == 0) return;
    double* values = scratch_.gathered.get(n * width_);
    const int traits = l_.traits, k = l_.covariates;
    for (std::size_t q = 0; q < n; ++q) {
      const auto sample = static_cast<std::size_t>(list[q]);
      const std::size_t w = sample / 64, bit = sample % 64;
      double* to = values + q * width_;
      std::size_t at = 0;
      for (int t = 0; t < traits; ++t) to[at++] = y_[sample * static_cast<std::size_t>(traits) + t];
      for (int g = 0; g < l_.groups; ++g) {
        const bool in_group = (present_[static_cast<std::size_t>(l_.group_trait[g]) * l_.words + w] >> bit & 1) != 0;
        for (int v = 0; v < k; ++v) to[at++] = in_group ? c_[sample * static_cast<std::size_t>(k) + v] : 0;
      }
      for (; at < width_; ++at) to[at] = 0;
    }
    const std::size_t count = column ? rows_ : columns_;
    scratch_.weights.resize(count * n);
    for (std::size_t o = 0; o < count; ++o) {
      const ClassMasks g = others(o);
      double* to = scratch_.weights.data() + o * n;
      for (std::size_t q = 0; q < n; ++q) {
        const auto sample = static_cast<std::size_t>(list[q]);
        const std::size_t w = sample / 64, bit = sample % 64;
        to[q] = static_cast<double>((g.m[1][w] >> bit & 1) + 2 * (g.m[2][w] >> bit & 1));
      }
    }
    std::int64_t* out = scratch_.weighed.data();
    if (column)  // the pairs (o, x): their first half
      host_simd::exact_weighted_sums(scratch_.weights.data(), count, n, values, width_, n, out + x * 2 * width_,
                                     columns_ * 2 * width_);
    else  // the pairs (x, o): their second half
      host_simd::exact_weighted_sums(scratch_.weights.data(), count, n, values, width_, n,
                                     out + (x * columns_ * 2 + 1) * width_, 2 * width_);
  }

  const QtLayout& l_;
  std::size_t rows_, columns_, width_ = 0;
  Scratch& scratch_;
  const std::int32_t* y_ = nullptr;
  const std::int32_t* c_ = nullptr;
  const std::uint64_t* present_ = nullptr;
};

// A pair's samples of each trait with a missing call at either SNP (QtPairSums): each SNP's own
// (miss_a, miss_b: per trait) less those the two share (found by the SNPs' masks of their samples
// without a call, no_call_a and no_call_b), and over them the allele counts of the SNP that has its
// call: with covariates or several traits, the tile's (`weighed`, WeighMissing's pair; `width`
// apart); else one pass over the two SNPs' missing samples.
void off_sums(const QtLayout& l, const QtEvaluation& e, const std::uint8_t* miss_a, const std::uint8_t* miss_b,
              std::uint64_t entry, const ClassMasks& a, const ClassMasks& b, const std::int32_t* missing_a,
              const std::int32_t* missing_a_end, const std::int32_t* missing_b, const std::int32_t* missing_b_end,
              const std::uint64_t* no_call_a, const std::uint64_t* no_call_b, const std::int64_t* weighed,
              std::size_t width, QtPairSums* sums) {
  const int k = l.covariates, traits = l.traits;
  for (int t = 0; t < traits; ++t) {
    QtPairSums& s = sums[t];
    const QtMissing ma(const_cast<std::uint8_t*>(miss_a) + t * entry, k),
        mb(const_cast<std::uint8_t*>(miss_b) + t * entry, k);
    s.off_y = ma.i[0] + mb.i[0];
    s.off_yy = ma.w[0] + mb.w[0];
    s.off_ya = s.off_yb = 0;
    for (int v = 0; v < k; ++v) {
      s.off_c[v] = ma.i[1 + v] + mb.i[1 + v];
      s.off_cy[v] = ma.w[1 + v] + mb.w[1 + v];
      for (int u = 0; u <= v; ++u)
        s.off_cc[u][v] = ma.w[1 + k + QtMissing::pair(u, v)] + mb.w[1 + k + QtMissing::pair(u, v)];
      s.off_ca[v] = s.off_cb[v] = 0;
    }
  }
  if (missing_a == missing_a_end && missing_b == missing_b_end) return;
  const auto samples = static_cast<std::size_t>(l.samples);
  const std::uint64_t* present = e.at<std::uint64_t>(l.present);
  const std::int32_t* y = e.at<std::int32_t>(l.y_by_sample);
  // The samples missing at both SNPs, counted twice above.
  if (missing_a != missing_a_end && missing_b != missing_b_end)
    for (std::int32_t w = 0; w < l.words; ++w)
      for (std::uint64_t both = no_call_a[w] & no_call_b[w]; both != 0; both &= both - 1) {
        const auto sample = static_cast<std::size_t>(w) * 64 + static_cast<std::size_t>(ctz64(both));
        for (int t = 0; t < traits; ++t) {
          if ((present[static_cast<std::size_t>(t) * l.words + static_cast<std::size_t>(w)] >> (sample % 64) & 1) == 0)
            continue;
          alignas(16) std::uint8_t bytes[QtMissing::bytes(kQtMaxCovariates)];
          QtMissing twice(bytes, k);
          twice.clear(k);
          twice.add(y[sample * static_cast<std::size_t>(traits) + static_cast<std::size_t>(t)],
                    e.at<std::int32_t>(l.c) + sample, samples, k);
          QtPairSums& s = sums[t];
          s.off_y -= twice.i[0];
          s.off_yy -= twice.w[0];
          for (int v = 0; v < k; ++v) {
            s.off_c[v] -= twice.i[1 + v];
            s.off_cy[v] -= twice.w[1 + v];
            for (int u = 0; u <= v; ++u) s.off_cc[u][v] -= twice.w[1 + k + QtMissing::pair(u, v)];
          }
        }
      }
  if (traits == 1 && k == 0) {  // the common case, in registers (a missing call counts 0)
    const auto count_at = [](const ClassMasks& g, std::size_t sample) {
      const std::size_t w = sample / 64, bit = sample % 64;
      return static_cast<std::int64_t>((g.m[1][w] >> bit & 1) + 2 * (g.m[2][w] >> bit & 1));
    };
    std::int64_t sum_a = 0, sum_b = 0;
    for (const std::int32_t* q = missing_b; q != missing_b_end; ++q)
      sum_a += count_at(a, static_cast<std::size_t>(*q)) * y[*q];
    for (const std::int32_t* q = missing_a; q != missing_a_end; ++q)
      sum_b += count_at(b, static_cast<std::size_t>(*q)) * y[*q];
    sums[0].off_ya = sum_a;
    sums[0].off_yb = sum_b;
    return;
  }
  for (int t = 0; t < traits; ++t) {
    sums[t].off_ya = weighed[t];
    sums[t].off_yb = weighed[width + static_cast<std::size_t>(t)];
    const std::size_t group = static_cast<std::size_t>(traits + l.group[t] * k);
    for (int v = 0; v < k; ++v) {
      sums[t].off_ca[v] = weighed[group + static_cast<std::size_t>(v)];
      sums[t].off_cb[v] = weighed[width + group + static_cast<std::size_t>(v)];
    }
  }
}

void qt_tiles_kernel(const PassArgs p, bool between) {
  const TilePlan plan = plan_tiles(p, between);
  if (plan.start >= plan.end) return;
  const std::uint64_t tile = blockIdx.x;
  const std::uint64_t r0 = plan.first_row + tile / plan.column_blocks * plan.tile_rows;
  const std::uint64_t r1 = std::min(plan.row_end, r0 + plan.tile_rows);
  const std::uint64_t c0 = plan.first_column + tile % plan.column_blocks * kTileColumns;
  const std::uint64_t c1 = std::min(plan.nb, c0 + kTileColumns);
  if (r0 >= r1 || (!between && c1 <= r0 + 1)) return;

  thread_local Scratch scratch;
  scratch.pairs.clear();
  const std::int32_t start_b = between ? p.start_b : p.start_a;
  for (std::uint64_t i = r0; i < r1; ++i)
    for (std::uint64_t j = between ? c0 : std::max(c0, i + 1); j < c1; ++j) {
      if (between && p.start_a + static_cast<std::int64_t>(i) >= start_b + static_cast<std::int64_t>(j)) continue;
      const std::uint64_t position =
          between ? between_groups_position(i, j, plan.na, plan.nb) : within_group_position(i, j, plan.na);
      if (position >= plan.start && position < plan.end)
        scratch.pairs.push_back(static_cast<std::uint32_t>((i - r0) << 16 | (j - c0)));
    }
  if (scratch.pairs.empty()) return;

  const QtEvaluation evaluation{p.model_bytes, p.model_counters};
  const QtLayout& l = evaluation.layout();
  const int traits = l.traits, k = l.covariates;
  const std::size_t per_snp = static_cast<std::size_t>(traits + l.groups * k);
  const std::size_t samples = static_cast<std::size_t>(l.samples);
  const std::size_t stride = (samples + host_simd::kExactLanes - 1) / host_simd::kExactLanes * host_simd::kExactLanes;
  const std::size_t rows = static_cast<std::size_t>(r1 - r0), columns = static_cast<std::size_t>(c1 - c0);
  const std::int32_t words = p.case_words;
  const GroupClassMasks& second = between ? p.b : p.a;
  const auto row_masks = [&](std::uint64_t i) { return class_masks(p.a.cases, p.a.case_totals, i, words); };
  const auto column_masks = [&](std::uint64_t j) { return class_masks(second.cases, second.case_totals, j, words); };

  // Step by step over the samples (so that a worker holds a step's vectors, whatever the samples):
  // the rows' vectors, per SNP each trait's y A, then each covariate's c A over each group of traits
  // that share their samples (the values, y and c over the group's samples, made once a step); the
  // columns' B; and their products.
  double* const values = scratch.vectors.get((per_snp * (rows + 1) + columns + 1) * kPitch);
  double* const row_vectors = values + per_snp * kPitch;
  double* const counts = row_vectors + rows * per_snp * kPitch;
  double* const column_vectors = counts + kPitch;
  const auto* y = evaluation.at<std::int32_t>(l.y);
  const auto* c = evaluation.at<std::int32_t>(l.c);
  const auto* present = evaluation.at<std::uint64_t>(l.present);
  scratch.products.assign(rows * per_snp * columns, 0);
  for (std::size_t first = 0; first < stride; first += kStep) {
    const std::size_t n = std::min(kStep, stride - first), end = std::min(samples, first + n);
    std::fill(values, values + per_snp * kPitch, 0.0);
    for (int t = 0; t < traits; ++t)
      for (std::size_t s = first; s < end; ++s) values[t * kPitch + s - first] = y[t * samples + s];
    for (int g = 0; g < l.groups; ++g) {
      const std::uint64_t* in_group = present + static_cast<std::size_t>(l.group_trait[g]) * l.words;
      for (int v = 0; v < k; ++v) {
        double* out = values + (static_cast<std::size_t>(traits + g * k + v)) * kPitch - first;
        for (std::size_t s = first; s < end; ++s)
          if ((in_group[s / 64] >> (s % 64) & 1) != 0) out[s] = c[v * samples + s];
      }
    }
    for (std::size_t r = 0; r < rows; ++r) {
      allele_counts(row_masks(r0 + r), first, end, counts);
      double* out = row_vectors + r * per_snp * kPitch;
      for (std::size_t q = 0; q < per_snp; ++q, out += kPitch) {
        const double* in = values + q * kPitch;
        for (std::size_t s = 0; s < n; ++s) out[s] = counts[s] * in[s];
      }
    }
    for (std::size_t col = 0; col < columns; ++col)
      allele_counts(column_masks(c0 + col), first, end, column_vectors + col * kPitch);
    host_simd::exact_products(row_vectors, rows * per_snp, column_vectors, columns, n, kPitch, scratch.products.data());
  }

  // The samples each SNP of the tile has no call for (rows, then columns), and per trait what they
  // sum to: what a pair takes off the trait's totals, less what its two SNPs share.
  const std::size_t slots = rows + columns;
  scratch.all.assign(static_cast<std::size_t>(words), ~std::uint64_t{0});
  if (samples % 64 != 0) scratch.all.back() = (std::uint64_t{1} << (samples % 64)) - 1;
  const std::uint64_t* all = scratch.all.data();
  scratch.missing.clear();
  scratch.missing_at.assign(slots + 1, 0);
  scratch.no_call.assign(slots * static_cast<std::size_t>(words), 0);
  for (std::size_t x = 0; x < slots; ++x) {
    const ClassMasks g = x < rows ? row_masks(r0 + x) : column_masks(c0 + x - rows);
    if (g.totals[3] == 0)
      for (std::int32_t w = 0; w < words; ++w) {
        const std::uint64_t none = ~(g.m[0][w] | g.m[1][w] | g.m[2][w]) & all[w];
        scratch.no_call[x * words + w] = none;
        for (std::uint64_t bits = none; bits != 0; bits &= bits - 1) scratch.missing.push_back(w * 64 + ctz64(bits));
      }
    scratch.missing_at[x + 1] = scratch.missing.size();
  }
  // Per SNP and trait, the sums over those samples: the run data's, or made here.
  const std::uint64_t entry = QtMissing::bytes(k);
  const auto* run_miss = l.miss != 0 ? evaluation.at<std::uint8_t>(l.miss) : nullptr;
  if (run_miss == nullptr) {
    scratch.miss.resize(slots * static_cast<std::size_t>(traits) * entry / sizeof(Wide));
    for (std::size_t x = 0; x < slots; ++x)
      for (int t = 0; t < traits; ++t) {
        QtMissing m(reinterpret_cast<std::uint8_t*>(scratch.miss.data()) + (x * traits + t) * entry, k);
        m.clear(k);
        const std::uint64_t* has = present + static_cast<std::size_t>(t) * l.words;
        for (std::size_t q = scratch.missing_at[x]; q < scratch.missing_at[x + 1]; ++q) {
          const auto sample = static_cast<std::size_t>(scratch.missing[q]);
          if ((has[sample / 64] >> (sample % 64) & 1) != 0) m.add(y[t * samples + sample], c + sample, samples, k);
        }
      }
  }
  const auto miss_of = [&](std::size_t x) -> const std::uint8_t* {
    if (run_miss == nullptr) return reinterpret_cast<const std::uint8_t*>(scratch.miss.data()) + x * traits * entry;
    const std::int64_t snp =
        x < rows ? p.start_a + static_cast<std::int64_t>(r0 + x) : start_b + static_cast<std::int64_t>(c0 + x - rows);
    return run_miss + static_cast<std::size_t>(snp) * traits * entry;
  };

  // With covariates or several traits, what the pairs weigh over those samples, for the whole tile.
  std::optional<WeighMissing> weigh;
  if (traits > 1 || k > 0) {
    weigh.emplace(l, evaluation, rows, columns, scratch);
    const std::int32_t* missing = scratch.missing.data();
    for (std::size_t col = 0; col < columns; ++col)
      weigh->weigh(missing + scratch.missing_at[rows + col], missing + scratch.missing_at[rows + col + 1], true, col,
                   [&](std::size_t r) { return row_masks(r0 + r); });
    for (std::size_t r = 0; r < rows; ++r)
      weigh->weigh(missing + scratch.missing_at[r], missing + scratch.missing_at[r + 1], false, r,
                   [&](std::size_t col) { return column_masks(c0 + col); });
  }

  // Each group's nine cells: by the vector lanes where its samples are all the samples.
  bool complete[kQtMaxPhenotypes];
  for (int g = 0; g < l.groups; ++g) {
    const std::uint64_t* in_group = present + static_cast<std::size_t>(l.group_trait[g]) * l.words;
    complete[g] = std::equal(in_group, in_group + words, all);
  }

  // Per group its samples, and the covariates' rows of the factor of a pair with all of them.
  std::int64_t group_samples[kQtMaxPhenotypes];
  QtFactor prefixes[kQtMaxPhenotypes];
  bool prefix_ready[kQtMaxPhenotypes] = {};
  double z_prefix[kQtMaxPhenotypes][kQtMaxCovariates], residual_prefix[kQtMaxPhenotypes];
  bool z_ready[kQtMaxPhenotypes] = {};
  for (int g = 0; g < l.groups; ++g) {
    const std::uint64_t* in_group = present + static_cast<std::size_t>(l.group_trait[g]) * l.words;
    group_samples[g] = 0;
    for (std::int32_t w = 0; w < words; ++w) group_samples[g] += popcount64(in_group[w]);
  }

  // Counters of the tile, added once: per trait the outcomes, per SNP and trait the tests.
  const std::size_t by_snp = 4 * static_cast<std::size_t>(traits);
  scratch.counters.assign(by_snp + (rows + columns) * traits, 0);
  unsigned long long* row_tests = scratch.counters.data() + by_snp;
  unsigned long long* column_tests = row_tests + rows * traits;
  // A pair's outcome: its counters and records.
  const auto outcome = [&](std::size_t r, std::size_t col, std::int32_t snp0, std::int32_t snp1, const QtTest* tests,
                           const std::int64_t* n) {
    QtFound records[kQtMaxPhenotypes];
    int m = 0;
    for (int trait = 0; trait < traits; ++trait) {
      const QtTest& test = tests[trait];
      ++scratch.counters[4 * static_cast<std::size_t>(trait) + static_cast<std::size_t>(test.status)];
      if (test.status == QtStatus::kTest) {
        ++row_tests[r * traits + static_cast<std::size_t>(trait)];
        ++column_tests[col * traits + static_cast<std::size_t>(trait)];
      }
      if (evaluation.found(l, trait, n[trait], test, records[m])) ++m;
    }
    for (int q = 0; q < m; ++q) {
      records[q].snp0 = snp0;
      records[q].snp1 = snp1;
    }
    append_records(records, m, p.results, p.valid_count);
  };

  // Pairs whose designs with covariates are factored from the start go to the vector lanes, a pair
  // a lane, a batch per group; per trait its place in its group's batch.
  const int m = k + 3;
  int slot[kQtMaxPhenotypes];
  scratch.batches.resize(static_cast<std::size_t>(l.groups));
  scratch.lane_tests.resize(static_cast<std::size_t>(l.groups));
  for (int g = 0; g < l.groups; ++g) {
    scratch.batches[g].m = m;
    scratch.batches[g].traits = 0;
  }
  for (int trait = 0; trait < traits; ++trait) slot[trait] = scratch.batches[l.group[trait]].traits++;
  struct Waiting {
    std::size_t r, col;
    std::int32_t snp0, snp1;
    std::int64_t n[kQtMaxPhenotypes];
  };
  Waiting waiting[kQtLanes];
  int waiting_count = 0;
  const auto fit_waiting = [&] {
    if (waiting_count == 0) return;
    for (int g = 0; g < l.groups; ++g) {
      QtLaneBatch& batch = scratch.batches[g];
      for (int lane = waiting_count; lane < kQtLanes; ++lane) {  // an idle lane fits nothing
        batch.n[lane] = batch.df[lane] = 1;
        batch.status[lane] = static_cast<double>(static_cast<int>(QtStatus::kTooFew));
      }
      qt_fit_lanes(batch, scratch.lane_tests[g]);
    }
    for (int lane = 0; lane < waiting_count; ++lane) {
      const Waiting& w = waiting[lane];
      QtTest tests[kQtMaxPhenotypes];
      for (int trait = 0; trait < traits; ++trait) {
        const QtLaneTests& t = scratch.lane_tests[l.group[trait]];
        const int at = slot[trait];
        QtTest& test = tests[trait];
        test.status = static_cast<QtStatus>(static_cast<int>(t.status[at][lane]));
        test.df = static_cast<std::int32_t>(w.n[trait] - (m + 1));
        test.beta = t.beta[at][lane];
        test.se = t.se[at][lane];
        test.t = t.t[at][lane];
      }
      outcome(w.r, w.col, w.snp0, w.snp1, tests, w.n);
    }
    waiting_count = 0;
  };

  // A pair's factors (per group: its traits' designs are the same), tests and samples per trait,
  // each set before it is read (made once: a pair's sixteen would cost it more than its fit).
  QtFactor factors[kQtMaxPhenotypes];
  QtTest tests[kQtMaxPhenotypes];
  std::int64_t n[kQtMaxPhenotypes];
  for (const std::uint32_t pair : scratch.pairs) {
    const std::size_t r = pair >> 16, col = pair & 0xFFFF;
    const auto snp0 = static_cast<std::int32_t>(p.start_a + static_cast<std::int64_t>(r0 + r));
    const auto snp1 = static_cast<std::int32_t>(start_b + static_cast<std::int64_t>(c0 + col));
    const ClassMasks a = row_masks(r0 + r), b = column_masks(c0 + col);
    std::int32_t cells[kQtMaxPhenotypes][3][3];
    // A pair with all of each group's samples has the covariates' sums of every such pair: their
    // rows of the factor, their z and what they leave of the trait's sum of squares are the tile's
    // first such pair's.
    bool full = k > 0;
    for (int g = 0; g < l.groups; ++g) {
      group_cells(a, b, words, complete[g], present + static_cast<std::size_t>(l.group_trait[g]) * l.words, cells[g]);
      std::int64_t n = 0;
      for (const auto& row : cells[g])
        for (const std::int32_t cell : row) n += cell;
      full = full && n == group_samples[g];
    }
    const std::int32_t* missing = scratch.missing.data();
    QtPairSums sums[kQtMaxPhenotypes];
    off_sums(l, evaluation, miss_of(r), miss_of(rows + col), entry, a, b, missing + scratch.missing_at[r],
             missing + scratch.missing_at[r + 1], missing + scratch.missing_at[rows + col],
             missing + scratch.missing_at[rows + col + 1], scratch.no_call.data() + r * words,
             scratch.no_call.data() + (rows + col) * words, weigh ? weigh->pair(r, col) : nullptr,
             weigh ? weigh->width() : 0, sums);
    // The lanes pay where the design has covariates; without them its fit is short.
    const bool in_lanes = k > 0 && !full;
    Waiting& w = waiting[waiting_count];
    const int lane = waiting_count;
    for (int trait = 0; trait < traits; ++trait) {
      const int g = l.group[trait];
      for (int x = 0; x < 3; ++x)
        for (int z = 0; z < 3; ++z) sums[trait].cells[x][z] = cells[g][x][z];
      const std::size_t at_a = r * per_snp, at_c = traits + static_cast<std::size_t>(g * k);
      QtProductSums ab;
      const std::int64_t* product = scratch.products.data() + at_a * columns + col;
      ab.y = product[static_cast<std::size_t>(trait) * columns];
      for (int v = 0; v < k; ++v) ab.c[v] = product[(at_c + static_cast<std::size_t>(v)) * columns];
      QtSums s;
      evaluation.design_sums(l, trait, snp0, snp1, sums[trait], ab, s, !(full && prefix_ready[g]));
      n[trait] = s.n;
      if (in_lanes) {
        QtLaneBatch& batch = scratch.batches[g];
        if (l.group_trait[g] == trait) {
          batch.n[lane] = static_cast<double>(s.n);
          batch.df[lane] = static_cast<double>(static_cast<std::int32_t>(s.n - (m + 1)));
          batch.status[lane] =
              static_cast<double>(static_cast<int>(s.n <= m + 1 ? QtStatus::kTooFew : QtStatus::kTest));
          for (int c = 0; c < m; ++c)
            for (int d = 0; d <= c; ++d)
              batch.xx[c * (c + 1) / 2 + d][lane] = centred_times_n(s.n, s.xx[d][c], s.x[d], s.x[c]);
        }
        for (int c = 0; c < m; ++c) batch.xy[slot[trait]][c][lane] = centred_times_n(s.n, s.xy[c], s.x[c], s.y);
        batch.yy[slot[trait]][lane] = centred_times_n(s.n, s.yy, s.y, s.y);
        w.n[trait] = s.n;
        continue;
      }
      if (l.group_trait[g] == trait) {
        QtFactor& f = factors[g];
        if (full && prefix_ready[g]) {
          for (int c = 0; c < k; ++c) {
            f.diagonal[c] = prefixes[g].diagonal[c];
            for (int d = 0; d <= c; ++d) f.l[c][d] = prefixes[g].l[c][d];
          }
          qt_factor(s, f, k);
        } else {
          qt_factor(s, f, 0, k);
          if (full && !f.kept_failed) {
            prefixes[g] = f;
            prefix_ready[g] = true;
          }
        }
      }
      double z[kQtMaxColumns], residual = 0;
      if (full && z_ready[trait]) {
        for (int c = 0; c < k; ++c) z[c] = z_prefix[trait][c];
        residual = residual_prefix[trait];
        tests[trait] = qt_solve(s, factors[g], z, residual, k);
      } else {
        tests[trait] = qt_solve(s, factors[g], z, residual);
        if (full && factors[g].outcome() == QtStatus::kTest) {
          residual_prefix[trait] = centred(s.n, s.yy, s.y, s.y);
          for (int c = 0; c < k; ++c) {
            z_prefix[trait][c] = z[c];
            residual_prefix[trait] -= z[c] * z[c];
          }
          z_ready[trait] = true;
        }
      }
    }
    if (!in_lanes) {
      outcome(r, col, snp0, snp1, tests, n);
    } else {
      w.r = r;
      w.col = col;
      w.snp0 = snp0;
      w.snp1 = snp1;
      if (++waiting_count == kQtLanes) fit_waiting();
    }
  }
  fit_waiting();
  unsigned long long* const counters = p.model_counters;
  for (std::size_t q = 0; q < by_snp; ++q)
    if (scratch.counters[q] != 0) atomicAdd(counters + q, scratch.counters[q]);
  for (std::size_t r = 0; r < rows; ++r)
    for (int t = 0; t < traits; ++t)
      if (const unsigned long long n = row_tests[r * traits + t]; n != 0)
        atomicAdd(counters + by_snp + (static_cast<std::size_t>(p.start_a) + r0 + r) * traits + t, n);
  for (std::size_t col = 0; col < columns; ++col)
    for (int t = 0; t < traits; ++t)
      if (const unsigned long long n = column_tests[col * traits + t]; n != 0)
        atomicAdd(counters + by_snp + (static_cast<std::size_t>(start_b) + c0 + col) * traits + t, n);
}

}  // namespace

void launch_qt_tiles(const PassArgs& args, bool between) {
  const TilePlan plan = plan_tiles(args, between);
  VP_LAUNCH(qt_tiles_kernel,
            dim3(static_cast<unsigned>(std::max<std::uint64_t>(1, plan.row_blocks * plan.column_blocks))), dim3(1),
            nullptr, args, between);
}

}  // namespace varpair
