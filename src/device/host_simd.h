// Vector population counts for the host backend's counting loops (AVX-512 VPOPCNTQ), chosen at run
// time when the processor has them; the portable loops in the kernels' headers serve otherwise and
// on the GPU. Counts are integers, so both give the same numbers.
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

// cells[x][y] = samples with code x in row0 and code y in row1 (2-bit codes, four to a byte; code 3
// counts nowhere), over the first `samples` samples whose number is a multiple of 256; returns how
// many samples it counted.
int count_packed_cells(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t (&cells)[3][3]);

}  // namespace varpair::host_simd
