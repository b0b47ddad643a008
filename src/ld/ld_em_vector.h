// The EM estimate of many pairs at once in AVX-512 lanes, for the host backend. Every lane performs
// exactly the single-precision operations of estimate_haplotypes (ld_math.h), in the same order,
// with the same logarithm, so each pair gets the same frequencies bit for bit.
#pragma once

#include "ld/ld_math.h"

namespace varpair {

// Whether the vector EM can run here (AVX-512 and enabled; see host_simd.h).
bool vector_em_available();

// out[k] = estimate_haplotypes(counts[k]) for k < n.
void estimate_haplotypes_many(const HaplotypeCounts* counts, int n, HaplotypeFrequencies* out);

}  // namespace varpair
