// The record of the 2x2 models: one passing (pair, label), 44 bytes, found by the kernels and kept
// as found (with -covar, inside the record of its refit). SNP indices and counts are 32-bit
// integers, so that they reach the host exactly at any size; the statistics are single-precision
// floats.
#pragma once

#include <cstdint>

namespace varpair {

struct InteractionRecord {
  std::int32_t snp0;
  std::int32_t snp1;
  std::int32_t label;  // genotype label or model index
  std::int32_t a, b, c, d;
  float chi_square;
  float odds_ratio;
  float or_lower;
  float or_upper;
};
static_assert(sizeof(InteractionRecord) == 44, "a record is 11 words");

}  // namespace varpair
