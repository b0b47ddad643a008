#include "ld/ld_em_vector.h"

#include "device/avx512.h"
#include "device/host_simd.h"

namespace varpair {

namespace {

#define VP_AVX512 __attribute__((target("avx512f,avx512dq")))

VP_AVX512 inline __m512 bits_to_float(__m512i v) { return _mm512_castsi512_ps(v); }
VP_AVX512 inline __m512i float_to_bits(__m512 v) { return _mm512_castps_si512(v); }

// vp_logf on 16 lanes: the same operations in the same order, lane by lane.
VP_AVX512 __m512 log16(__m512 x) {
  const __m512i ix0 = float_to_bits(x);
  const __m512i zero_i = _mm512_setzero_si512();
  // Special lanes of the scalar code.
  const __mmask16 negative = _mm512_cmplt_epi32_mask(ix0, zero_i);  // sign bit set
  const __mmask16 zero = _mm512_cmpeq_epi32_mask(_mm512_slli_epi32(ix0, 1), zero_i);
  const __mmask16 below_normal = _mm512_cmplt_epu32_mask(ix0, _mm512_set1_epi32(0x00800000));
  const __mmask16 inf_or_nan = _mm512_kandn(negative, _mm512_cmpge_epu32_mask(ix0, _mm512_set1_epi32(0x7f800000)));
  const __mmask16 one = _mm512_cmpeq_epi32_mask(ix0, _mm512_set1_epi32(0x3f800000));
  const __mmask16 subnormal = _mm512_kandn(_mm512_kor(zero, negative), below_normal);

  // Subnormals are scaled into the normal range first: k = -25.
  const __m512 scaled = _mm512_mul_ps(x, _mm512_set1_ps(33554432.0f));
  __m512i ix = _mm512_mask_mov_epi32(ix0, subnormal, float_to_bits(scaled));
  __m512i k = _mm512_mask_mov_epi32(zero_i, subnormal, _mm512_set1_epi32(-25));

  ix = _mm512_add_epi32(ix, _mm512_set1_epi32(0x3f800000 - 0x3f3504f3));
  k = _mm512_add_epi32(k, _mm512_sub_epi32(_mm512_srli_epi32(ix, 23), _mm512_set1_epi32(0x7f)));
  ix = _mm512_add_epi32(_mm512_and_si512(ix, _mm512_set1_epi32(0x007fffff)), _mm512_set1_epi32(0x3f3504f3));
  const __m512 m = bits_to_float(ix);

  const __m512 f = _mm512_sub_ps(m, _mm512_set1_ps(1.0f));
  const __m512 s = _mm512_div_ps(f, _mm512_add_ps(_mm512_set1_ps(2.0f), f));
  const __m512 z = _mm512_mul_ps(s, s);
  const __m512 w = _mm512_mul_ps(z, z);
  const __m512 t1 =
      _mm512_mul_ps(w, _mm512_add_ps(_mm512_set1_ps(0.40000972152f), _mm512_mul_ps(w, _mm512_set1_ps(0.24279078841f))));
  const __m512 t2 =
      _mm512_mul_ps(z, _mm512_add_ps(_mm512_set1_ps(0.66666662693f), _mm512_mul_ps(w, _mm512_set1_ps(0.28498786688f))));
  const __m512 r = _mm512_add_ps(t2, t1);
  const __m512 hfsq = _mm512_mul_ps(_mm512_mul_ps(_mm512_set1_ps(0.5f), f), f);
  const __m512 dk = _mm512_cvtepi32_ps(k);
  __m512 result = _mm512_mul_ps(s, _mm512_add_ps(hfsq, r));
  result = _mm512_add_ps(result, _mm512_mul_ps(dk, _mm512_set1_ps(9.0580006145e-06f)));
  result = _mm512_sub_ps(result, hfsq);
  result = _mm512_add_ps(result, f);
  result = _mm512_add_ps(result, _mm512_mul_ps(dk, _mm512_set1_ps(6.9313812256e-01f)));

  result = _mm512_mask_mov_ps(result, one, _mm512_setzero_ps());
  result = _mm512_mask_mov_ps(result, inf_or_nan, x);
  result = _mm512_mask_mov_ps(result, _mm512_kandn(zero, negative), bits_to_float(_mm512_set1_epi32(0x7fc00000)));
  result = _mm512_mask_mov_ps(result, zero, bits_to_float(_mm512_set1_epi32(static_cast<int>(0xff800000u))));
  return result;
}

// Up to 16 pairs that all have double heterozygotes.
VP_AVX512 void em16(const HaplotypeCounts* const* counts, int n, HaplotypeFrequencies* const* out) {
  alignas(64) float nAB_[16] = {}, nAb_[16] = {}, naB_[16] = {}, nab_[16] = {}, nDH_[16] = {}, total_[16] = {};
  for (int i = 0; i < n; ++i) {
    const HaplotypeCounts& h = *counts[i];
    nAB_[i] = static_cast<float>(h.nAB);
    nAb_[i] = static_cast<float>(h.nAb);
    naB_[i] = static_cast<float>(h.naB);
    nab_[i] = static_cast<float>(h.nab);
    nDH_[i] = static_cast<float>(h.nDH);
    total_[i] = static_cast<float>(2 * h.n) + 0.4f;
  }
  const __m512 nAB = _mm512_load_ps(nAB_), nAb = _mm512_load_ps(nAb_), naB = _mm512_load_ps(naB_);
  const __m512 nab = _mm512_load_ps(nab_), nDH = _mm512_load_ps(nDH_), start_total = _mm512_load_ps(total_);
  const __m512 tenth = _mm512_set1_ps(0.1f), one = _mm512_set1_ps(1.0f);
  __m512 pAB = _mm512_div_ps(_mm512_add_ps(nAB, tenth), start_total);
  __m512 pAb = _mm512_div_ps(_mm512_add_ps(nAb, tenth), start_total);
  __m512 paB = _mm512_div_ps(_mm512_add_ps(naB, tenth), start_total);
  __m512 pab = _mm512_div_ps(_mm512_add_ps(nab, tenth), start_total);
  __m512 ll_prev = _mm512_set1_ps(-1.0e9f);
  __mmask16 active = static_cast<__mmask16>((1u << n) - 1);
  const __m512 sign_clear = bits_to_float(_mm512_set1_epi32(0x7fffffff));
  for (int round = 0; round < 20 && active != 0; ++round) {
    const __m512 coupling = _mm512_mul_ps(pAB, pab);
    const __m512 theta = _mm512_div_ps(coupling, _mm512_add_ps(coupling, _mm512_mul_ps(pAb, paB)));
    const __m512 phase = _mm512_sub_ps(one, theta);
    const __m512 eAB = _mm512_add_ps(nAB, _mm512_mul_ps(theta, nDH));
    const __m512 eab = _mm512_add_ps(nab, _mm512_mul_ps(theta, nDH));
    const __m512 eAb = _mm512_add_ps(nAb, _mm512_mul_ps(phase, nDH));
    const __m512 eaB = _mm512_add_ps(naB, _mm512_mul_ps(phase, nDH));
    const __m512 total = _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(eAb, eAB), eaB), eab);
    // Lanes that have stopped keep their frequencies.
    pAB = _mm512_mask_div_ps(pAB, active, eAB, total);
    pAb = _mm512_mask_div_ps(pAb, active, eAb, total);
    paB = _mm512_mask_div_ps(paB, active, eaB, total);
    pab = _mm512_mask_div_ps(pab, active, eab, total);
    __m512 ll = _mm512_mul_ps(nAB, log16(pAB));
    ll = _mm512_add_ps(ll, _mm512_mul_ps(nAb, log16(pAb)));
    ll = _mm512_add_ps(ll, _mm512_mul_ps(naB, log16(paB)));
    ll = _mm512_add_ps(ll, _mm512_mul_ps(nab, log16(pab)));
    ll = _mm512_add_ps(ll, _mm512_mul_ps(nDH, log16(_mm512_add_ps(_mm512_mul_ps(pAB, pab), _mm512_mul_ps(pAb, paB)))));
    const __m512 change = _mm512_and_ps(_mm512_sub_ps(ll, ll_prev), sign_clear);
    const __mmask16 converged = _mm512_cmp_ps_mask(change, _mm512_set1_ps(1.0e-8f), _CMP_LT_OQ);
    active = _mm512_kandn(converged, active);
    ll_prev = ll;
  }
  alignas(64) float a[16], b[16], c[16], d[16];
  _mm512_store_ps(a, pAB);
  _mm512_store_ps(b, pAb);
  _mm512_store_ps(c, paB);
  _mm512_store_ps(d, pab);
  for (int i = 0; i < n; ++i) *out[i] = HaplotypeFrequencies{a[i], b[i], c[i], d[i]};
}

}  // namespace

bool vector_em_available() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  }();
  return has && host_simd::enabled();
}

void estimate_haplotypes_many(const HaplotypeCounts* counts, int n, HaplotypeFrequencies* out) {
  const HaplotypeCounts* lane_counts[16];
  HaplotypeFrequencies* lane_out[16];
  int lanes = 0;
  for (int i = 0; i < n; ++i) {
    if (counts[i].nDH == 0) {  // no rounds to run: the scalar path is exact and short
      out[i] = estimate_haplotypes(counts[i]);
      continue;
    }
    lane_counts[lanes] = &counts[i];
    lane_out[lanes] = &out[i];
    if (++lanes == 16) {
      em16(lane_counts, lanes, lane_out);
      lanes = 0;
    }
  }
  if (lanes > 0) em16(lane_counts, lanes, lane_out);
}

}  // namespace varpair
