// Vector population counts for the host backend's counting loops (AVX-512 VPOPCNTQ) and a vector
// chi-square filter for the interaction tables, chosen at run time when the processor has them;
// the portable loops in the kernels' headers serve otherwise and on the GPU. Counts are integers
// and the filter repeats the scalar's double operations lane by lane, so both ways give the same
// numbers. The functions below need the instructions: call them only where available() (as
// vector_path.h does); elsewhere they stop the program on an illegal instruction.
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

// The nine cells of one sample set of a pair, cells[x][y] = popcount(first[x] & second[y]) over
// `words` words, and returned their sum. With both SNPs' totals (interaction/pair_counts.h)
// saying no call is missing, four cells are counted and five taken from the totals.
std::int32_t count_set_cells(const std::uint64_t* const* first, const std::uint64_t* const* second, std::int32_t words,
                             const std::int32_t* first_totals, const std::int32_t* second_totals,
                             std::int32_t (&cells)[3][3]);

// cells[x][y] = samples with code x in row0 and code y in row1 (2-bit codes, four to a byte; code 3
// counts nowhere; rows of ceil(samples / 4) bytes, read no further, whose padding bits are 0 as
// packed_genotypes.h makes them), over all `samples` samples; returns `samples`.
int count_packed_cells(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t (&cells)[3][3]);

// both_a, one_a, both_het = the samples with code 0 in both rows, code 0 in one and 1 in the other,
// code 1 in both (rows as count_packed_cells reads them), over all `samples`; returns `samples`.
int count_packed_phase(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t& both_a,
                       std::int32_t& one_a, std::int32_t& both_het);

// Bit t set when table t of the first `tables` (at most 8) reaches `threshold` by the Yates
// chi-square of table_2x2.h: a = a[t], b = n_cases - a, c = c[t], d = n_controls - c. The same double
// operations in the same order, one table a lane, so the same decisions.
std::uint32_t chi_square_reaching(const std::int32_t* a, const std::int32_t* c, int tables, std::int32_t n_cases,
                                  std::int32_t n_controls, float threshold);

// MDR's table {a, b, c, d} from a pair's nine case and nine control cells (models/pair_evaluations.h):
// the same float products and comparisons, cell by cell.
void mdr_risk_table(const std::int32_t* cases, const std::int32_t* controls, float ratio, std::int32_t (&table)[4]);

}  // namespace varpair::host_simd
