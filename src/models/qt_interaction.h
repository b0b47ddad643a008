// qt_interaction: the linear interaction test of quantitative traits (qt_math.h) for every pair,
// several traits in one pass over the genotypes, with covariates.
#pragma once

#include <cstdint>
#include <cstring>

#include "interaction/interaction_model.h"
#include "models/qt_math.h"

namespace varpair {

// A test whose P may reach the cut-off, as the kernels append it: the trait's index is the label.
struct QtFound {
  std::int32_t snp0, snp1, label;
  std::int32_t n, df;
  std::uint32_t beta[2], se[2], t[2];  // doubles, as 32-bit words (records are whole words)
};
static_assert(sizeof(QtFound) == 44, "a found record is 11 words");

__host__ __device__ inline void put_double(std::uint32_t (&words)[2], double value) {
  std::memcpy(words, &value, sizeof value);
}
inline double get_double(const std::uint32_t (&words)[2]) {
  double value;
  std::memcpy(&value, words, sizeof value);
  return value;
}

// The run data of the kernels (ModelRunData::bytes): this header, then its arrays at its offsets.
// Values are in fixed point (qt_run_data's comment says how); sums over a trait's samples (those
// with a value) are taken once here, and each pair takes off its samples with a missing call.
struct QtLayout {
  std::int32_t traits, covariates, samples, words;
  std::int32_t max_df;                  // critical values for 0 .. max_df degrees of freedom
  std::int32_t rows;                    // SNPs
  double unit[kQtMaxPhenotypes];        // a trait's fixed-point unit: BETA_INT and SE are multiplied by it
  // Traits with the same samples form a group (the host's tiles weigh the covariates once a group).
  std::int32_t groups;
  std::int32_t group[kQtMaxPhenotypes];        // of each trait
  std::int32_t group_trait[kQtMaxPhenotypes];  // the first trait of each group
  std::uint64_t present;                // traits x words: the samples with a value of the trait
  std::uint64_t y;                      // traits x samples, int32 (0 where missing)
  std::uint64_t y_by_sample;            // the same, samples x traits
  std::uint64_t c;                      // covariates x samples, int32
  std::uint64_t c_by_sample;            // the same, samples x covariates
  std::uint64_t yy, cy, cc;             // per trait: sum y^2; sum c y (covariates); sum c c (covariates^2), Wide
  std::uint64_t ty, tc;                 // per trait: sum y; sum c (covariates), int64
  // Per SNP and trait, over the trait's samples of genotype 1 and of genotype 2: sum y (rows x
  // traits x 2) and sum c (rows x traits x 2 x covariates), int64.
  std::uint64_t snp_y, snp_c;
  std::uint64_t critical;               // |T| from which P may reach the cut-off, by df (double)
  // The host's only, 0 where not made (no missing call, or too large): per SNP and trait, over the
  // SNP's samples without a call that have the trait, a QtMissing entry (QtMissing::bytes).
  std::uint64_t miss;
};

// Over some samples: y^2, each covariate times y and each product of two covariates (Wide), then y
// and each covariate (int64), for a trait with k covariates, in one run of bytes.
struct QtMissing {
  __host__ __device__ static constexpr int wide(int k) { return 1 + k + k * (k + 1) / 2; }
  __host__ __device__ static constexpr std::uint64_t bytes(int k) { return (16 * wide(k) + 8 * (1 + k) + 15) / 16 * 16; }
  __host__ __device__ static constexpr int pair(int u, int v) { return v * (v + 1) / 2 + u; }  // u <= v

  Wide* w;             // yy, cy[k], cc[pair(u, v)]
  std::int64_t* i;     // y, c[k]

  __host__ __device__ QtMissing(void* entry, int k)
      : w(static_cast<Wide*>(entry)), i(reinterpret_cast<std::int64_t*>(static_cast<Wide*>(entry) + wide(k))) {}

  __host__ __device__ void clear(int k) {
    for (int q = 0; q < wide(k); ++q) w[q] = 0;
    for (int q = 0; q <= k; ++q) i[q] = 0;
  }
  // Adds a sample's y and covariates (c[v * samples]).
  __host__ __device__ void add(std::int64_t y, const std::int32_t* c, std::size_t samples, int k) {
    i[0] += y;
    w[0] += static_cast<Wide>(y) * y;
    for (int v = 0; v < k; ++v) {
      const std::int64_t cv = c[static_cast<std::size_t>(v) * samples];
      i[1 + v] += cv;
      w[1 + v] += static_cast<Wide>(cv) * y;
      for (int u = 0; u <= v; ++u) w[1 + k + pair(u, v)] += static_cast<Wide>(c[static_cast<std::size_t>(u) * samples]) * cv;
    }
  }
};

const InteractionModel& qt_interaction_model();

// The run data: the traits and covariates put in fixed point, their sums, the critical values.
ModelRunData qt_run_data(const RunShape& shape);

}  // namespace varpair
