// Compiled once per target by Highway's foreach_target; the part under HWY_ONCE once.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "device/exact_products.cpp"
#include "device/exact_products.h"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace varpair::host_simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DD = hn::ScalableTag<double>;

// kRows x kColumns sums at once: each loaded vector serves several products (4 x 2 keeps the
// accumulators and the loads within AVX2's sixteen registers).
template <std::size_t kRows, std::size_t kColumns>
HWY_INLINE void block(const double* HWY_RESTRICT rows, const double* HWY_RESTRICT columns, std::size_t n,
                      std::size_t stride, std::int64_t* out, std::size_t out_stride) {
  const DD d;
  const std::size_t lanes = hn::Lanes(d);
  hn::Vec<DD> sum[kRows][kColumns];
  for (std::size_t r = 0; r < kRows; ++r)
    for (std::size_t c = 0; c < kColumns; ++c) sum[r][c] = hn::Zero(d);
  for (std::size_t s = 0; s < n; s += lanes) {
    hn::Vec<DD> row[kRows];
    for (std::size_t r = 0; r < kRows; ++r) row[r] = hn::Load(d, rows + r * stride + s);
    for (std::size_t c = 0; c < kColumns; ++c) {
      const auto column = hn::Load(d, columns + c * stride + s);
      for (std::size_t r = 0; r < kRows; ++r) sum[r][c] = hn::MulAdd(row[r], column, sum[r][c]);
    }
  }
  for (std::size_t r = 0; r < kRows; ++r)
    for (std::size_t c = 0; c < kColumns; ++c)
      out[r * out_stride + c] += static_cast<std::int64_t>(hn::GetLane(hn::SumOfLanes(d, sum[r][c])));
}

// Columns a block takes: AVX-512's 32 registers hold 4 x 4 sums and their loads.
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
constexpr std::size_t kBlockColumns = 4;
#else
constexpr std::size_t kBlockColumns = 2;
#endif

template <std::size_t kRows>
HWY_INLINE void row_band(const double* rows, const double* columns, std::size_t column_count, std::size_t n,
                         std::size_t stride, std::int64_t* out) {
  std::size_t c = 0;
  for (; c + kBlockColumns <= column_count; c += kBlockColumns)
    block<kRows, kBlockColumns>(rows, columns + c * stride, n, stride, out + c, column_count);
  for (; c < column_count; ++c) block<kRows, 1>(rows, columns + c * stride, n, stride, out + c, column_count);
}

void ExactProducts(const double* rows, std::size_t row_count, const double* columns, std::size_t column_count,
                   std::size_t n, std::size_t stride, std::int64_t* out) {
  std::size_t r = 0;
  for (; r + 4 <= row_count; r += 4)
    row_band<4>(rows + r * stride, columns, column_count, n, stride, out + r * column_count);
  const double* rest = rows + r * stride;
  std::int64_t* rest_out = out + r * column_count;
  switch (row_count - r) {
    case 3: row_band<3>(rest, columns, column_count, n, stride, rest_out); break;
    case 2: row_band<2>(rest, columns, column_count, n, stride, rest_out); break;
    case 1: row_band<1>(rest, columns, column_count, n, stride, rest_out); break;
    default: break;
  }
}

// Terms a weighted sum takes in double before it goes into out: 2^20 products below 2^32 stay below
// 2^53.
constexpr std::size_t kWeightedSpan = std::size_t{1} << 20;

// kWeights weightings of one vector's worth of values: each loaded vector of values serves them all.
template <std::size_t kWeights>
HWY_INLINE void weighted_block(const double* HWY_RESTRICT weights, std::size_t weight_stride,
                               const double* HWY_RESTRICT values, std::size_t value_stride, std::size_t n,
                               std::int64_t* out, std::size_t out_stride) {
  const DD d;
  const hn::RebindToSigned<DD> di;
  for (std::size_t first = 0; first < n; first += kWeightedSpan) {
    const std::size_t end = std::min(n, first + kWeightedSpan);
    hn::Vec<DD> sum[kWeights];
    for (std::size_t w = 0; w < kWeights; ++w) sum[w] = hn::Zero(d);
    for (std::size_t s = first; s < end; ++s) {
      const auto v = hn::Load(d, values + s * value_stride);
      for (std::size_t w = 0; w < kWeights; ++w)
        sum[w] = hn::MulAdd(hn::Set(d, weights[w * weight_stride + s]), v, sum[w]);
    }
    for (std::size_t w = 0; w < kWeights; ++w) {
      std::int64_t* to = out + w * out_stride;
      hn::StoreU(hn::Add(hn::LoadU(di, to), hn::ConvertTo(di, sum[w])), di, to);
    }
  }
}

void ExactWeightedSums(const double* weights, std::size_t weight_count, std::size_t weight_stride, const double* values,
                       std::size_t value_stride, std::size_t n, std::int64_t* out, std::size_t out_stride) {
  const std::size_t lanes = hn::Lanes(DD());
  for (std::size_t q = 0; q < value_stride; q += lanes) {
    std::size_t w = 0;
    for (; w + 4 <= weight_count; w += 4)
      weighted_block<4>(weights + w * weight_stride, weight_stride, values + q, value_stride, n,
                        out + w * out_stride + q, out_stride);
    for (; w < weight_count; ++w)
      weighted_block<1>(weights + w * weight_stride, weight_stride, values + q, value_stride, n,
                        out + w * out_stride + q, out_stride);
  }
}

}  // namespace varpair::host_simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace varpair::host_simd {

HWY_EXPORT(ExactProducts);
HWY_EXPORT(ExactWeightedSums);

void exact_products(const double* rows, std::size_t row_count, const double* columns, std::size_t column_count,
                    std::size_t n, std::size_t stride, std::int64_t* out) {
  HWY_DYNAMIC_DISPATCH(ExactProducts)(rows, row_count, columns, column_count, n, stride, out);
}

void exact_weighted_sums(const double* weights, std::size_t weight_count, std::size_t weight_stride,
                         const double* values, std::size_t value_stride, std::size_t n, std::int64_t* out,
                         std::size_t out_stride) {
  HWY_DYNAMIC_DISPATCH(ExactWeightedSums)(weights, weight_count, weight_stride, values, value_stride, n, out,
                                          out_stride);
}

}  // namespace varpair::host_simd
#endif  // HWY_ONCE
