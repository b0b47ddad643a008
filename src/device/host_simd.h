// The host backend's vector paths: one source over Highway, compiled for each instruction set of the
// processor family (SSSE3, SSE4, AVX2, AVX-512 on x86-64; NEON on Arm) and dispatched at run time to
// the best the processor has. This is the one place that picks the target; the vector units of the
// LD EM (ld/ld_em_vector.cpp) and of the interaction tables (interaction/table_vector.cpp) follow it.
// Counts are integers, and the float and double work runs the scalar code's own templates
// (device/lanes.h) lane by lane, so every target gives the portable code's numbers. Call the
// functions only where enabled() (as vector_path.h does).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace varpair::host_simd {

extern std::atomic<bool> use_vector_paths;

// Whether the vector paths run: the processor has a vector target and the portable path is not
// forced.
inline bool enabled() { return use_vector_paths.load(std::memory_order_relaxed); }

// The target the host backend runs: "AVX-512", "AVX2", "SSE4", "SSSE3", "NEON" or "portable".
std::string target_name();

// For tests: every target this processor can run, the portable path (0) first, then Highway's target
// bits from the least capable up; force_target(t) runs t from now on, force_target(best) and
// reset_target() go back to what the processor is given.
std::vector<std::int64_t> available_targets();
void force_target(std::int64_t target);
void reset_target();

// The nine cells of one sample set of a pair, cells[x][y] = popcount(first[x] & second[y]) over
// `words` words, and returned their sum. With both SNPs' totals (interaction/pair_counts.h)
// saying no call is missing, four cells are counted and five taken from the totals.
std::int32_t count_set_cells(const std::uint64_t* const* first, const std::uint64_t* const* second, std::int32_t words,
                             const std::int32_t* first_totals, const std::int32_t* second_totals,
                             std::int32_t (&cells)[3][3]);

// cells[x][y] += samples with code x in row0 and code y in row1 (2-bit codes, four to a byte; code 3
// counts nowhere; rows read no further than their ceil(samples / 4) bytes); returns how many samples
// it counted: all of them, or none where the rows are shorter than a vector or the target counts no
// faster than the portable loop.
int count_packed_cells(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t (&cells)[3][3]);

// both_a, one_a, both_het += the samples with code 0 in both rows, code 0 in one and 1 in the other,
// code 1 in both; returns how many samples it counted, as count_packed_cells.
int count_packed_phase(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t& both_a,
                       std::int32_t& one_a, std::int32_t& both_het);

}  // namespace varpair::host_simd
