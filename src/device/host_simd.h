// Vector population counts for the host backend's counting loops (AVX-512 VPOPCNTQ) and a vector
// chi-square filter for the interaction tables, chosen at run time when the processor has them; the portable loops in the kernels' headers serve otherwise and
// on the GPU. Counts are integers and the filter repeats the scalar's double operations lane by
// lane, so both ways give the same numbers.
#pragma once

#include <atomic>
#include <cstdint>

namespace varpair::host_simd {

extern std::atomic<bool> use_vector_counts;

inline bool enabled() { return use_vector_counts.load(std::memory_order_relaxed); }

// Whether this processor has the instructions; enabling them on one that lacks them does nothing.
bool available();
// For tests: switch the vector loops off (or back on) to check both paths.
void set_enabled(bool on);

// cells[x][y] += sum over `words` words of popcount(first[x][w] & second[y][w]), x, y < 3.
void count_cells3(const std::uint64_t* const* first, const std::uint64_t* const* second, std::int32_t words,
                  std::int32_t (&cells)[3][3]);

// The same for x, y < 2.
void count_cells2(const std::uint64_t* const* first, const std::uint64_t* const* second, std::int32_t words,
                  std::int32_t (&cells)[2][2]);

// cells[x][y] = samples with code x in row0 and code y in row1 (2-bit codes, four to a byte; code 3
// counts nowhere), over the first `samples` samples whose number is a multiple of 256; returns how
// many samples it counted.
int count_packed_cells(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t (&cells)[3][3]);

// Bit t set when table t of the first `tables` (at most 32) reaches `threshold` by the Yates
// chi-square of table_2x2.h: a = a[t], b = n_cases - a, c = c[t], d = n_controls - c. The same double
// operations in the same order, eight tables at a time, so the same decisions.
std::uint32_t chi_square_reaching(const std::int32_t* a, const std::int32_t* c, int tables, std::int32_t n_cases,
                                  std::int32_t n_controls, float threshold);

}  // namespace varpair::host_simd
