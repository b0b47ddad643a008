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

}  // namespace varpair::host_simd
