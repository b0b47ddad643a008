// Closed-form pair of a pair index, for the interaction kernels: no table of pairs exists anywhere.
#pragma once

#include <cmath>
#include <cstdint>

#include "device/runtime.h"

namespace varpair {

struct PairPosition {
  std::uint64_t i;  // position of SNP0 in its group
  std::uint64_t j;  // position of SNP1 in its group
};

// Within one group of n SNPs, index p of the upper triangle in row-major order: 0 is (0, 1),
// 1 is (0, 2), ..., n - 2 is (0, n - 1), n - 1 is (1, 2). Counting from the end, r = P - 1 - p is
// the index in the reversed triangle whose row k = floor((sqrt(8r + 1) + 1) / 2) holds k pairs.
__host__ __device__ __forceinline__ PairPosition within_group_pair(std::uint64_t p, std::uint64_t n) {
  const std::uint64_t pairs = n * (n - 1) / 2;
  const std::uint64_t r = pairs - 1 - p;
  const double root = sqrt(fma(8.0, static_cast<double>(r), 1.0));
  const auto k = static_cast<std::uint64_t>((root + 1.0) * 0.5);
  return PairPosition{(n - 1) - k, (n - 1) - (r - k * (k - 1) / 2)};
}

// Between groups A (nA SNPs) and B (nB SNPs): the nA x nB pairs cut into at most 6 x 6 tiles of
// ceil(nA / 6) rows and ceil(nB / 6) columns, taken band by band, tile by tile, row by row inside a
// tile.
// row_end: the end of the pair's row inside its tile, so that the pairs after it up to there are
// (i, j + 1), (i, j + 2), ... without the divisions.
__host__ __device__ __forceinline__ PairPosition between_groups_pair(std::uint64_t p, std::uint64_t nA,
                                                                     std::uint64_t nB, std::uint64_t& row_end) {
  const std::uint64_t tile_rows = (nA + 5) / 6;
  const std::uint64_t tile_cols = (nB + 5) / 6;
  const std::uint64_t band = p / (tile_rows * nB);
  const std::uint64_t band_rows = tile_rows < nA - band * tile_rows ? tile_rows : nA - band * tile_rows;
  const std::uint64_t in_band = p - band * tile_rows * nB;
  const std::uint64_t tile = in_band / (band_rows * tile_cols);
  const std::uint64_t tile_width = tile_cols < nB - tile * tile_cols ? tile_cols : nB - tile * tile_cols;
  const std::uint64_t in_tile = in_band - tile * tile_cols * band_rows;
  row_end = tile * tile_cols + tile_width;
  return PairPosition{band * tile_rows + in_tile / tile_width, tile * tile_cols + in_tile % tile_width};
}

__host__ __device__ __forceinline__ PairPosition between_groups_pair(std::uint64_t p, std::uint64_t nA,
                                                                     std::uint64_t nB) {
  std::uint64_t row_end = 0;
  return between_groups_pair(p, nA, nB, row_end);
}

// The inverses: the index of pair (i, j) in the orders above, for a pass that visits pairs by
// tiles of its own and must keep to a batch's range of indices.
__host__ __device__ __forceinline__ std::uint64_t within_group_position(std::uint64_t i, std::uint64_t j,
                                                                        std::uint64_t n) {
  return i * n - i * (i + 1) / 2 + (j - i - 1);
}

__host__ __device__ __forceinline__ std::uint64_t between_groups_position(std::uint64_t i, std::uint64_t j,
                                                                          std::uint64_t nA, std::uint64_t nB) {
  const std::uint64_t tile_rows = (nA + 5) / 6;
  const std::uint64_t tile_cols = (nB + 5) / 6;
  const std::uint64_t band = i / tile_rows;
  const std::uint64_t band_rows = tile_rows < nA - band * tile_rows ? tile_rows : nA - band * tile_rows;
  const std::uint64_t tile = j / tile_cols;
  const std::uint64_t tile_width = tile_cols < nB - tile * tile_cols ? tile_cols : nB - tile * tile_cols;
  return band * tile_rows * nB + tile * tile_cols * band_rows + (i - band * tile_rows) * tile_width +
         (j - tile * tile_cols);
}

// The pair after `pos` within a group of n SNPs.
__host__ __device__ __forceinline__ PairPosition next_within_group_pair(PairPosition pos, std::uint64_t n) {
  return pos.j + 1 < n ? PairPosition{pos.i, pos.j + 1} : PairPosition{pos.i + 1, pos.i + 2};
}

}  // namespace varpair
