// The maximum-likelihood estimate of a pair's haplotype frequencies (-estimate ml): the split of
// the double heterozygotes between the phases AB/ab and Ab/aB that maximises the likelihood of the
// pair's genotype counts, and r2 and D' from it. With pA and pB the allele frequencies of the counts
// (every fixed point of the EM has them) and f = pAB, the other frequencies are pA - f, pB - f and
// 1 - pA - pB + f, and the stationary points of the likelihood in f are the roots of the cubic
//   G(f) = (T f - nAB)(f g + (pA - f)(pB - f)) - nDH f g,   g = 1 - pA - pB + f,
// (Gaunt, Rodriguez and Day 2007) in [nAB / T, (nAB + nDH) / T], where the likelihood falls as G
// rises. Everything is double precision with correctly rounded operations only (+, -, x, / and the
// square root; the logarithm that compares two maxima is built of them), so the GPU and the host
// give the same bits; the value is then rounded to single precision as the EM's is.
#pragma once

#include <cstdint>
#include <cstring>

#include "device/runtime.h"
#include "ld/ld_math.h"

namespace varpair {

// ln x for a positive normal x: x = m 2^k with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh(s),
// s = (m - 1) / (m + 1), by its series to s^27 (|s| < 0.172: the next term is below 1e-21).
__host__ __device__ __forceinline__ double exact_log(double x) {
  std::uint64_t bits;
  memcpy(&bits, &x, sizeof bits);
  int k = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
  bits = (bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL;  // m in [1, 2)
  double m;
  memcpy(&m, &bits, sizeof m);
  if (m > 1.4142135623730951) {
    m = m / 2.0;
    ++k;
  }
  const double s = (m - 1.0) / (m + 1.0);
  const double z = s * s;
  double series = 1.0 / 27.0;
  for (int n = 25; n >= 1; n -= 2) series = series * z + 1.0 / static_cast<double>(n);
  // k ln 2 in two parts, so that the sum keeps its last bits.
  const double kd = static_cast<double>(k);
  return (kd * 0.6931471803691238 + 2.0 * s * series) + kd * 1.9082149292705877e-10;
}

struct HaplotypeFrequenciesDouble {
  double pAB, pAb, paB, pab;
};

namespace ml_detail {

struct Cubic {
  double t, n_ab, n_dh, pa, pb;  // T, nAB, nDH, pA, pB

  __host__ __device__ __forceinline__ double value(double f) const {
    const double g = (1.0 - pa - pb) + f;
    return (t * f - n_ab) * (f * g + (pa - f) * (pb - f)) - n_dh * f * g;
  }
  __host__ __device__ __forceinline__ double slope(double f) const {
    const double g = (1.0 - pa - pb) + f;
    const double q = f * g + (pa - f) * (pb - f);
    return t * q + (t * f - n_ab) * ((4.0 * f + 1.0) - 2.0 * pa - 2.0 * pb) - n_dh * (g + f);
  }
  __host__ __device__ __forceinline__ double curvature(double f) const {
    return 2.0 * t * (((4.0 * f + 1.0) - 2.0 * pa - 2.0 * pb)) + 4.0 * (t * f - n_ab) - 2.0 * n_dh;
  }
};

// The root of the cubic in [lo, hi], where it rises from g_lo < 0 to g_hi >= 0: from `guess` (or
// the chord's point where the guess lies outside), Halley's steps while they stay inside the
// bracket, and where one would leave it the chord of the bracket (its kept end's value halved, the
// Illinois way, so that a root near one end is reached in a few steps, not by halving). Halley's
// steps converge cubically (two from the guess, mostly): after one below 2^-40 the root lies within
// a few ulps. Each takes one division, which is what the step's time is.
__host__ __device__ __forceinline__ double bracketed_root(const Cubic& c, double lo, double hi, double g_lo,
                                                          double g_hi, double guess) {
  if (g_hi == 0.0) return hi;
  const auto chord = [&] {
    const double x = lo - g_lo * ((hi - lo) / (g_hi - g_lo));
    return x > lo && x < hi ? x : lo + (hi - lo) / 2.0;
  };
  double x = guess > lo && guess < hi ? guess : chord();
  int kept = 0;  // which end the last steps kept: -1 lo, 1 hi
  for (int step = 0; step < 100; ++step) {
    const double gx = c.value(x);
    if (gx == 0.0) return x;
    if (gx < 0.0) {
      lo = x;
      g_lo = gx;
      if (kept == 1) g_hi /= 2.0;
      kept = 1;
    } else {
      hi = x;
      g_hi = gx;
      if (kept == -1) g_lo /= 2.0;
      kept = -1;
    }
    if (hi - lo <= 2.220446049250313e-16 * (hi > 0.0 ? hi : 1.0)) return x;
    const double d = c.slope(x);
    const double den = 2.0 * d * d - gx * c.curvature(x);
    const double move = den != 0.0 ? 2.0 * gx * d / den : hi - lo;
    if ((move < 0.0 ? -move : move) <= 9.094947017729282e-13) return x - move;  // 2^-40: converged
    const double next = x - move;
    if (next > lo && next < hi) {
      x = next;
      kept = 0;
    } else {
      x = chord();
    }
  }
  return x;
}

// The log-likelihood of the counts at f (terms of zero counts left out).
__host__ __device__ __forceinline__ double log_likelihood(const HaplotypeCounts& h, const Cubic& c, double f) {
  const double pab = (1.0 - c.pa - c.pb) + f, pAb = c.pa - f, paB = c.pb - f;
  double ll = 0.0;
  if (h.nAB > 0) ll += static_cast<double>(h.nAB) * exact_log(f);
  if (h.nAb > 0) ll += static_cast<double>(h.nAb) * exact_log(pAb);
  if (h.naB > 0) ll += static_cast<double>(h.naB) * exact_log(paB);
  if (h.nab > 0) ll += static_cast<double>(h.nab) * exact_log(pab);
  if (h.nDH > 0) ll += static_cast<double>(h.nDH) * exact_log(f * pab + pAb * paB);
  return ll;
}

}  // namespace ml_detail

// The maximum-likelihood frequencies of a pair with some sample genotyped at both SNPs.
__host__ __device__ __forceinline__ HaplotypeFrequenciesDouble estimate_haplotypes_ml(const HaplotypeCounts& h) {
  const double n_ab = h.nAB, n_dh = h.nDH;
  const double t = ((static_cast<double>(h.nAB) + h.nAb) + (static_cast<double>(h.naB) + h.nab)) + 2.0 * n_dh;
  // One division, then products: the divisions' latency is most of the estimate's time.
  const double per = 1.0 / t;
  const double pa = (n_ab + h.nAb + n_dh) * per, pb = (n_ab + h.naB + n_dh) * per;
  double f = n_ab * per;
  if (h.nDH > 0) {
    const ml_detail::Cubic c{t, n_ab, n_dh, pa, pb};
    const double lo = n_ab * per, hi = (n_ab + n_dh) * per;
    // The cubic's turning points split [lo, hi] into pieces where it is monotone: a root in each
    // piece whose ends differ in sign. Its expanded form serves only to find them.
    const double b = t * (1.0 - 2.0 * pa - 2.0 * pb) - 2.0 * n_ab - n_dh;
    const double cc = t * pa * pb - n_ab * (1.0 - 2.0 * pa - 2.0 * pb) - n_dh * (1.0 - pa - pb);
    // G' = 6T f^2 + 2b f + cc
    double ends[4] = {lo, hi, hi, hi};
    int pieces = 1;
    // G' is a parabola opening upwards: where its least value over [lo, hi] is positive (the usual
    // case) the cubic is monotone there, and no square root is needed.
    const double vertex = -b * per / 6.0;
    const double v = vertex < lo ? lo : vertex > hi ? hi : vertex;
    const double least = (6.0 * t * v + 2.0 * b) * v + cc;
    const double disc = least > 0.0 ? 0.0 : 4.0 * b * b - 24.0 * t * cc;
    if (disc > 0.0) {
      const double root = sqrt(disc);
      const double turn1 = (-2.0 * b - root) / (12.0 * t), turn2 = (-2.0 * b + root) / (12.0 * t);
      if (turn1 > lo && turn1 < hi) ends[pieces++] = turn1;
      if (turn2 > ends[pieces - 1] && turn2 < hi) ends[pieces++] = turn2;
      ends[pieces] = hi;
    }
    // Candidates: the roots where the cubic rises through 0 (the likelihood's maxima). At an end
    // where a zero count makes it 0, the piece beside that end says whether the likelihood peaks
    // there; values at such ends are taken as exactly 0, not as their rounding.
    const bool zero_lo = h.nAB == 0 || h.nab == 0, zero_hi = h.nAb == 0 || h.naB == 0;
    double values[4];
    for (int k = 0; k <= pieces; ++k) values[k] = c.value(ends[k]);
    if (zero_lo) values[0] = 0.0;
    if (zero_hi) values[pieces] = 0.0;
    double best = 0.0, best_ll = 0.0;
    int found = 0;
    const auto consider = [&](double x) {
      if (found == 0) {
        best = x;
        ++found;
        return;
      }
      if (found == 1) best_ll = ml_detail::log_likelihood(h, c, best);
      ++found;
      const double ll = ml_detail::log_likelihood(h, c, x);
      if (ll > best_ll) {
        best = x;
        best_ll = ll;
      }
    };
    // Newton starts from one EM step from the known haplotypes' shares (half a count added to each):
    // mostly a few ulps short of the root already.
    const double coupling = (n_ab + 0.5) * (static_cast<double>(h.nab) + 0.5);
    const double repulsion = (static_cast<double>(h.nAb) + 0.5) * (static_cast<double>(h.naB) + 0.5);
    const double guess = lo + (hi - lo) * (coupling / (coupling + repulsion));
    if (zero_lo && values[1] > 0.0) consider(lo);
    for (int p = 0; p < pieces; ++p)
      if (values[p] < 0.0 && values[p + 1] >= 0.0)
        consider(ml_detail::bracketed_root(c, ends[p], ends[p + 1], values[p], values[p + 1], guess));
    if (found == 0) {  // rounding hid every crossing: the better end
      consider(lo);
      consider(hi);
    }
    f = best;
  }
  return HaplotypeFrequenciesDouble{f, pa - f, pb - f, (1.0 - pa - pb) + f};
}

// r2 and D' of double frequencies, with the single-precision measures' definitions and guards.
__host__ __device__ __forceinline__ double r2_measure(const HaplotypeFrequenciesDouble& p) {
  const double d = p.pAB * p.pab - p.pAb * p.paB;
  const double pA = p.pAB + p.pAb, pB = p.pAB + p.paB;
  const double den = ((pA * (1.0 - pA)) * pB) * (1.0 - pB);
  return den < 1.0e-8 ? 0.0 : d * d / den;
}

__host__ __device__ __forceinline__ double dprime_measure(const HaplotypeFrequenciesDouble& p) {
  const double pA = p.pAB + p.pAb, pB = p.pAB + p.paB;
  const double d = p.pAB - pA * pB;
  const double a = d > 0.0 ? pA * (1.0 - pB) : pA * pB, b = d > 0.0 ? (1.0 - pA) * pB : (1.0 - pA) * (1.0 - pB);
  const double dmax = b < a ? b : a;
  if (dmax < 1.0e-8) return 0.0;
  const double dprime = (d < 0.0 ? -d : d) / dmax;
  return dprime > 1.0 ? 1.0 : dprime;
}

// The value of a pair by the maximum-likelihood estimate, rounded to single precision.
template <LdMeasure kMeasure>
__host__ __device__ __forceinline__ float ld_measure_ml(const HaplotypeCounts& h) {
  const HaplotypeFrequenciesDouble p = estimate_haplotypes_ml(h);
  return static_cast<float>(kMeasure == LdMeasure::kR2 ? r2_measure(p) : dprime_measure(p));
}

}  // namespace varpair
