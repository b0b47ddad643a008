// Per-pair mathematics of the LD commands, shared by the kernels of both backends and tested
// directly: counting the genotype combinations of two packed rows, the EM estimate of the four
// haplotype frequencies, r2 and D', and the histogram bin of a value.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "device/bits.h"
#include "device/float_math.h"
#include "device/runtime.h"
#include "device/vector_path.h"

namespace varpair {

// Value of a pair that has no measure (no sample genotyped at both SNPs).
constexpr float kNoLdValue = -1.0f;

// Haplotype counts from unphased genotypes. Alleles A/a at the -file0 SNP and B/b at the -file1
// SNP; genotype g counts copies of the second allele. Double heterozygotes (1, 1) are unphased.
struct HaplotypeCounts {
  std::int32_t nAB = 0, nAb = 0, naB = 0, nab = 0;
  std::int32_t nDH = 0;        // double heterozygotes
  std::int32_t n = 0;          // samples seen, genotyped or not
  std::int32_t genotyped = 0;  // samples genotyped at both SNPs
};

struct HaplotypeFrequencies {
  float pAB, pAb, paB, pab;
};

// Two rows of 2-bit codes (four samples to a byte, first sample in the lowest bits; code 3 is no
// genotype) counted 32 samples at a time over bit planes. With lo/hi the low and high bit of each
// code at the even bit positions, a code is 0 when ~lo & ~hi, 1 when lo & ~hi, 2 when ~lo & hi.
// c[x][y] = popcount(is_x(row0) & is_y(row1)) per word, and then
//   nAB = 2c00 + c01 + c10,  nAb = c01 + 2c02 + c12,  naB = c10 + 2c20 + c21,
//   nab = c12 + c21 + 2c22,  nDH = c11,  n = samples.
__host__ __device__ __forceinline__ std::uint64_t load_le64(const unsigned char* p, unsigned bytes) {
  std::uint64_t w = 0;
  for (unsigned b = 0; b < bytes; ++b) w |= static_cast<std::uint64_t>(p[b]) << (8 * b);
  return w;
}

// Samples first ... first + 31 of a row (fewer at its end) as bit planes at the even positions:
// is[k] holds code k (code 3 is in none; past the last sample, where a row's bits are 0, nothing is).
struct CodePlanes {
  std::uint64_t is[3];
};

__host__ __device__ __forceinline__ CodePlanes code_planes(const unsigned char* row, int first, int samples) {
  constexpr std::uint64_t kEven = 0x5555555555555555ULL;
  const int in_word = samples - first < 32 ? samples - first : 32;
  const unsigned bytes = static_cast<unsigned>((in_word + 3) / 4);
  std::uint64_t w;
  if (bytes == 8)
    memcpy(&w, row + first / 4, 8);
  else
    w = load_le64(row + first / 4, bytes);
  const std::uint64_t valid = in_word == 32 ? kEven : kEven & ((1ULL << (2 * in_word)) - 1);
  const std::uint64_t lo = w & kEven, hi = (w >> 1) & kEven;
  return CodePlanes{{~(lo | hi) & valid, lo & ~hi, hi & ~lo}};  // padding is code 0: only `is[0]` needs `valid`
}

__host__ __device__ __forceinline__ HaplotypeCounts count_haplotypes(const unsigned char* row0,
                                                                     const unsigned char* row1, int samples) {
  std::int32_t c[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  for (int first = vector_path::count_packed_cells(row0, row1, samples, c); first < samples; first += 32) {
    const CodePlanes g0 = code_planes(row0, first, samples), g1 = code_planes(row1, first, samples);
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y) c[x][y] += popcount64(g0.is[x] & g1.is[y]);
  }
  HaplotypeCounts h;
  h.nAB = 2 * c[0][0] + c[0][1] + c[1][0];
  h.nAb = c[0][1] + 2 * c[0][2] + c[1][2];
  h.naB = c[1][0] + 2 * c[2][0] + c[2][1];
  h.nab = c[1][2] + c[2][1] + 2 * c[2][2];
  h.nDH = c[1][1];
  h.n = samples > 0 ? samples : 0;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) h.genotyped += c[x][y];
  return h;
}

// Per row of an LD matrix, beside its codes: the copies of allele A (2 for code 0, 1 for code 1),
// and 1 when no sample misses its genotype, else 0.
constexpr int kLdTotalsPerRow = 2;

// A row's totals in an array of them, or null without one.
__host__ __device__ __forceinline__ const std::int32_t* row_totals(const std::int32_t* totals, unsigned long long row) {
  return totals == nullptr ? nullptr : totals + row * kLdTotalsPerRow;
}

// The same counts, given the rows' totals (null: counted in full). When both say no genotype is
// missing, the A copies of row0 are nAB + nAb + nDH, the B copies of row1 nAB + naB + nDH and
// nAB + nAb + naB + nab = 2 (samples - nDH), so counting c00, c01 + c10 and c11 (three population
// counts where nine were) gives all of them.
__host__ __device__ __forceinline__ HaplotypeCounts count_haplotypes(const unsigned char* row0,
                                                                     const unsigned char* row1, int samples,
                                                                     const std::int32_t* totals0,
                                                                     const std::int32_t* totals1) {
  bool complete = totals0 != nullptr && totals1 != nullptr && totals0[1] != 0 && totals1[1] != 0;
#if defined(__CUDA_ARCH__)
  // A warp whose threads took both ways would run both: three counts only where all of it can.
  complete = __all_sync(__activemask(), complete);
#endif
  if (!complete) return count_haplotypes(row0, row1, samples);
  std::int32_t both_a = 0, one_a = 0, both_het = 0;  // c00, c01 + c10, c11
  for (int first = vector_path::count_packed_phase(row0, row1, samples, both_a, one_a, both_het); first < samples;
       first += 32) {
    const CodePlanes g0 = code_planes(row0, first, samples), g1 = code_planes(row1, first, samples);
    both_a += popcount64(g0.is[0] & g1.is[0]);
    one_a += popcount64((g0.is[0] & g1.is[1]) | (g0.is[1] & g1.is[0]));
    both_het += popcount64(g0.is[1] & g1.is[1]);
  }
  HaplotypeCounts h;
  h.nAB = 2 * both_a + one_a;
  h.nDH = both_het;
  h.nAb = totals0[0] - h.nAB - h.nDH;
  h.naB = totals1[0] - h.nAB - h.nDH;
  h.nab = 2 * samples - 2 * h.nDH - h.nAB - h.nAb - h.naB;
  h.n = samples;
  h.genotyped = samples;
  return h;
}

// The EM of one pair, or of a pair a lane (device/lanes.h): its counts and current frequencies.
template <class L>
struct EmLanes {
  typename L::F nAB, nAb, naB, nab, nDH;
  typename L::F pAB, pAb, paB, pab;
};

// The EM starts from (count + 0.1) / (2n + 0.4).
template <class L>
__host__ __device__ __forceinline__ void em_start(EmLanes<L>& e, typename L::F start_total) {
  const auto tenth = L::Set(0.1f);
  e.pAB = L::Div(L::Add(e.nAB, tenth), start_total);
  e.pAb = L::Div(L::Add(e.nAb, tenth), start_total);
  e.paB = L::Div(L::Add(e.naB, tenth), start_total);
  e.pab = L::Div(L::Add(e.nab, tenth), start_total);
}

// One round: the double heterozygotes split between the phases AB/ab and Ab/aB in proportion to
// the current frequencies, new frequencies from the expected counts; returns their log-likelihood.
template <class L>
__host__ __device__ __forceinline__ typename L::F em_round(EmLanes<L>& e) {
  using F = typename L::F;
  const F coupling = L::Mul(e.pAB, e.pab);
  const F theta = L::Div(coupling, L::Add(coupling, L::Mul(e.pAb, e.paB)));
  const F phase = L::Sub(L::Set(1.0f), theta);
  const F eAB = L::Add(e.nAB, L::Mul(theta, e.nDH));
  const F eab = L::Add(e.nab, L::Mul(theta, e.nDH));
  const F eAb = L::Add(e.nAb, L::Mul(phase, e.nDH));
  const F eaB = L::Add(e.naB, L::Mul(phase, e.nDH));
  const F total = L::Add(L::Add(L::Add(eAb, eAB), eaB), eab);
  e.pAB = L::Div(eAB, total);
  e.pAb = L::Div(eAb, total);
  e.paB = L::Div(eaB, total);
  e.pab = L::Div(eab, total);
  F ll = L::Mul(e.nAB, log_lanes<L>(e.pAB));
  ll = L::Add(ll, L::Mul(e.nAb, log_lanes<L>(e.pAb)));
  ll = L::Add(ll, L::Mul(e.naB, log_lanes<L>(e.paB)));
  ll = L::Add(ll, L::Mul(e.nab, log_lanes<L>(e.pab)));
  return L::Add(ll, L::Mul(e.nDH, log_lanes<L>(L::Add(L::Mul(e.pAB, e.pab), L::Mul(e.pAb, e.paB)))));
}

// The EM stops when the log-likelihood changes by less than 1e-8; one that is not a number (0 * ln 0)
// never stops it early.
template <class L>
__host__ __device__ __forceinline__ auto em_converged(typename L::F ll, typename L::F ll_prev) {
  return L::Lt(L::Abs(L::Sub(ll, ll_prev)), L::Set(1.0e-8f));
}
constexpr float kEmFirstLikelihood = -1.0e9f;  // what the first round's log-likelihood is compared with
constexpr int kEmRounds = 20;

// The EM estimate, all in single precision: em_start, then at most kEmRounds of em_round until
// em_converged. The host's vector lanes run the same functions (ld_em_vector.cpp).
__host__ __device__ __forceinline__ HaplotypeFrequencies estimate_haplotypes(const HaplotypeCounts& h) {
  const float nAB = static_cast<float>(h.nAB), nAb = static_cast<float>(h.nAb);
  const float naB = static_cast<float>(h.naB), nab = static_cast<float>(h.nab);
  // Without double heterozygotes every round gives the counts' shares again: the first round's
  // frequencies are final, whatever the stopping test would say.
  if (h.nDH == 0) {
    const float total = ((nAb + nAB) + naB) + nab;
    return HaplotypeFrequencies{nAB / total, nAb / total, naB / total, nab / total};
  }
  EmLanes<ScalarLanes> e{nAB, nAb, naB, nab, static_cast<float>(h.nDH), 0, 0, 0, 0};
  em_start(e, static_cast<float>(2 * h.n) + 0.4f);
  float ll_prev = kEmFirstLikelihood;
  for (int round = 0; round < kEmRounds; ++round) {
    const float ll = em_round(e);
    if (em_converged<ScalarLanes>(ll, ll_prev)) break;
    ll_prev = ll;
  }
  return HaplotypeFrequencies{e.pAB, e.pAb, e.paB, e.pab};
}

__host__ __device__ __forceinline__ float r2_measure(const HaplotypeFrequencies& p) {
  const float d = p.pAB * p.pab - p.pAb * p.paB;
  const float pA = p.pAB + p.pAb;
  const float pB = p.pAB + p.paB;
  const float den = ((pA * (1.0f - pA)) * pB) * (1.0f - pB);
  return den < 1.0e-8f ? 0.0f : d * d / den;
}

// The smaller of x and y as fminf gives it wherever both or neither are a number, as in the
// measures below; compiled inline where fminf is a library call.
__host__ __device__ __forceinline__ float smaller(float x, float y) { return y < x ? y : x; }

__host__ __device__ __forceinline__ float dprime_measure(const HaplotypeFrequencies& p) {
  const float pA = p.pAB + p.pAb;
  const float pB = p.pAB + p.paB;
  const float d = p.pAB - pA * pB;
  const float dmax =
      d > 0.0f ? smaller(pA * (1.0f - pB), (1.0f - pA) * pB) : smaller(pA * pB, (1.0f - pA) * (1.0f - pB));
  if (dmax < 1.0e-8f) return 0.0f;
  const float dprime = fabsf(d) / dmax;
  return dprime > 1.0f ? 1.0f : dprime;
}

enum class LdMeasure { kR2, kDprime };

// A pair has a measure when some sample is genotyped at both SNPs.
__host__ __device__ __forceinline__ bool has_ld_value(const HaplotypeCounts& h) { return h.n > 0 && h.genotyped > 0; }

template <LdMeasure kMeasure>
__host__ __device__ __forceinline__ float ld_measure(const HaplotypeFrequencies& p) {
  return kMeasure == LdMeasure::kR2 ? r2_measure(p) : dprime_measure(p);
}

// The LD value of one pair of packed rows: -1.0 when no sample is genotyped at both SNPs.
template <LdMeasure kMeasure>
__host__ __device__ __forceinline__ float ld_value(const unsigned char* row0, const unsigned char* row1, int samples) {
  const HaplotypeCounts h = count_haplotypes(row0, row1, samples);
  if (!has_ld_value(h)) return kNoLdValue;
  return ld_measure<kMeasure>(estimate_haplotypes(h));
}

// Whether a pair's value is below `cutoff` for certain, so that its estimate can be skipped (text
// tables without a distribution need only the pairs at or above the cut-off). Whatever the EM does,
// its frequencies are the counts with the double heterozygotes split by some theta in [0, 1]: pA
// and pB do not depend on theta, and D is linear in it, so |D|, and with it r2 and D', is largest
// at theta = 0 or 1. In counts, with T haplotypes and A, B copies of the alleles, D T^2 = nAB T - AB
// at theta = 0 and (nAB + nDH) T - AB at 1, exact in 64 bits; the comparisons with the cut-off less
// kLdBoundMargin need no division. The float arithmetic of the estimate differs from the exact
// values by far less than the margin wherever a pair is skipped (the measure's denominators not
// near 0: below 1e-4 for r2 or 1e-2 for a Dmax nothing is skipped).
constexpr double kLdBoundMargin = 1e-3;

template <LdMeasure kMeasure>
__host__ __device__ __forceinline__ bool ld_surely_below(const HaplotypeCounts& h, float cutoff) {
  if (!(cutoff > 0.0f)) return false;
  const std::int64_t t =
      static_cast<std::int64_t>(h.nAB) + h.nAb + h.naB + h.nab + 2 * static_cast<std::int64_t>(h.nDH);
  if (t <= 0 || t >= (std::int64_t{1} << 31)) return false;  // products stay exact below 2^62
  const std::int64_t a = static_cast<std::int64_t>(h.nAB) + h.nAb + h.nDH;
  const std::int64_t b = static_cast<std::int64_t>(h.nAB) + h.naB + h.nDH;
  const auto d0 = static_cast<double>(h.nAB * t - a * b);
  const auto d1 = static_cast<double>((h.nAB + static_cast<std::int64_t>(h.nDH)) * t - a * b);
  const double t2 = static_cast<double>(t) * static_cast<double>(t);
  const double limit = static_cast<double>(cutoff) - kLdBoundMargin;
  if (kMeasure == LdMeasure::kR2) {
    const double den = static_cast<double>(a * (t - a)) * static_cast<double>(b * (t - b));  // (pA qA pB qB) T^4
    if (den < 1.0e-4 * t2 * t2) return false;
    const double d = (d0 > 0 ? d0 : -d0) > (d1 > 0 ? d1 : -d1) ? (d0 > 0 ? d0 : -d0) : (d1 > 0 ? d1 : -d1);
    return d * d < limit * den;
  }
  // Dmax T^2 for D > 0 and for D < 0.
  const auto above = static_cast<double>(a * (t - b) < (t - a) * b ? a * (t - b) : (t - a) * b);
  const auto below = static_cast<double>(a * b < (t - a) * (t - b) ? a * b : (t - a) * (t - b));
  if (above < 1.0e-2 * t2 || below < 1.0e-2 * t2) return false;
  // |D| / Dmax of its sign under the limit; for the other sign the test holds by itself.
  const bool under0 = (d0 < limit * above) & (-d0 < limit * below);
  const bool under1 = (d1 < limit * above) & (-d1 < limit * below);
  return under0 & under1;
}

// What a pair whose estimate was skipped holds: below every cut-off, and no value of its own.
constexpr float kSkippedLdValue = -2.0f;

// Histogram bin of a value: trunc(1000 v) in single precision, 1000 for anything from 1.0 up, and 0
// for a value that is not a number (as the device's float-to-int conversion gives).
__host__ __device__ __forceinline__ int histogram_bin(float value) {
  const float scaled = value * 1000.0f;
  if (!(scaled == scaled)) return 0;
  if (scaled >= 1000.0f) return 1000;
  return static_cast<int>(scaled);
}

}  // namespace varpair
