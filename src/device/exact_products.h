// Products of many vectors with many others, for the host's vector lanes: out[r][c] +=
// sum over s < n of rows[r][s] * columns[c][s], each vector `stride` doubles apart. The doubles hold
// integers and every partial sum stays an integer below 2^53 (the caller keeps |value| * n small
// enough), so each sum is exact: any order, any target, fused or not, gives the same numbers.
// n and stride are multiples of kExactLanes and the vectors start kExactAlign bytes apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varpair::host_simd {

constexpr std::size_t kExactLanes = 8;  // the widest target's double lanes
constexpr std::size_t kExactAlign = 64;

void exact_products(const double* rows, std::size_t row_count, const double* columns, std::size_t column_count,
                    std::size_t n, std::size_t stride, std::int64_t* out);

// Weighted sums of a few rows of values, for many weightings: out[w * out_stride + q] += sum over
// s < n of weights[w * weight_stride + s] * values[s * value_stride + q], for q < value_stride (the
// values' padding must be zeros). Exact as above while each product is below 2^32 in magnitude, for
// any n (the sums go into out a span at a time). value_stride is a multiple of kExactLanes, values start
// on kExactAlign, and out_stride >= value_stride.
void exact_weighted_sums(const double* weights, std::size_t weight_count, std::size_t weight_stride,
                         const double* values, std::size_t value_stride, std::size_t n, std::int64_t* out,
                         std::size_t out_stride);

}  // namespace varpair::host_simd
