#include "ld/ld_em_vector.h"

#include "device/avx512.h"
#include "device/host_simd.h"

namespace varpair {

namespace {

#define VP_AVX512 __attribute__((target("avx512f,avx512dq,bmi2")))

VP_AVX512 inline __m512 bits_to_float(__m512i v) { return _mm512_castsi512_ps(v); }
VP_AVX512 inline __m512i float_to_bits(__m512 v) { return _mm512_castps_si512(v); }

// vp_logf on 16 lanes: the same operations in the same order, lane by lane.
VP_AVX512 inline __attribute__((always_inline)) __m512 log16(__m512 x) {
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

// Inputs of the pairs with double heterozygotes, one array per field, read into lanes in order.
struct EmInputs {
  static constexpr int kCapacity = 1024;
  alignas(64) float nAB[kCapacity], nAb[kCapacity], naB[kCapacity], nab[kCapacity], nDH[kCapacity];
  alignas(64) float start_total[kCapacity];
  alignas(64) std::int32_t pair[kCapacity];  // index into counts and out
};

// The pairs of `in` (m of them, all with double heterozygotes) in 16 lanes. A lane whose pair stops
// (converged, or 20 rounds) writes it out and takes the next waiting pair at once, so no lane idles
// while another still runs: a pair needs about 8 rounds, the slowest of 16 nearer 15.
VP_AVX512 void em_stream(const EmInputs& in, int m, HaplotypeFrequencies* out) {
  const __m512 tenth = _mm512_set1_ps(0.1f), one = _mm512_set1_ps(1.0f);
  const __m512 sign_clear = bits_to_float(_mm512_set1_epi32(0x7fffffff));
  const __m512i lane_index = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m512 nAB = _mm512_setzero_ps(), nAb = nAB, naB = nAB, nab = nAB, nDH = nAB;
  __m512 pAB = nAB, pAb = nAB, paB = nAB, pab = nAB, ll_prev = nAB;
  __m512i rounds = _mm512_setzero_si512(), slot = rounds;
  __mmask16 active = 0;
  int next = 0;
  for (;;) {
    if (next < m && active != 0xFFFF) {
      // The first free lanes, as many as pairs wait, take the next pairs in order.
      const unsigned free_lanes = static_cast<unsigned>(static_cast<__mmask16>(~active));
      const int take = m - next < __builtin_popcount(free_lanes) ? m - next : __builtin_popcount(free_lanes);
      const auto fill = static_cast<__mmask16>(_pdep_u32((1u << take) - 1, free_lanes));
      nAB = _mm512_mask_expandloadu_ps(nAB, fill, in.nAB + next);
      nAb = _mm512_mask_expandloadu_ps(nAb, fill, in.nAb + next);
      naB = _mm512_mask_expandloadu_ps(naB, fill, in.naB + next);
      nab = _mm512_mask_expandloadu_ps(nab, fill, in.nab + next);
      nDH = _mm512_mask_expandloadu_ps(nDH, fill, in.nDH + next);
      const __m512 start_total = _mm512_mask_expandloadu_ps(one, fill, in.start_total + next);
      slot = _mm512_mask_expand_epi32(slot, fill, _mm512_add_epi32(lane_index, _mm512_set1_epi32(next)));
      pAB = _mm512_mask_div_ps(pAB, fill, _mm512_add_ps(nAB, tenth), start_total);
      pAb = _mm512_mask_div_ps(pAb, fill, _mm512_add_ps(nAb, tenth), start_total);
      paB = _mm512_mask_div_ps(paB, fill, _mm512_add_ps(naB, tenth), start_total);
      pab = _mm512_mask_div_ps(pab, fill, _mm512_add_ps(nab, tenth), start_total);
      ll_prev = _mm512_mask_mov_ps(ll_prev, fill, _mm512_set1_ps(-1.0e9f));
      rounds = _mm512_mask_mov_epi32(rounds, fill, _mm512_setzero_si512());
      active = static_cast<__mmask16>(active | fill);
      next += take;
    }
    if (active == 0) break;
    const __m512 coupling = _mm512_mul_ps(pAB, pab);
    const __m512 theta = _mm512_div_ps(coupling, _mm512_add_ps(coupling, _mm512_mul_ps(pAb, paB)));
    const __m512 phase = _mm512_sub_ps(one, theta);
    const __m512 eAB = _mm512_add_ps(nAB, _mm512_mul_ps(theta, nDH));
    const __m512 eab = _mm512_add_ps(nab, _mm512_mul_ps(theta, nDH));
    const __m512 eAb = _mm512_add_ps(nAb, _mm512_mul_ps(phase, nDH));
    const __m512 eaB = _mm512_add_ps(naB, _mm512_mul_ps(phase, nDH));
    const __m512 total = _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(eAb, eAB), eaB), eab);
    pAB = _mm512_div_ps(eAB, total);
    pAb = _mm512_div_ps(eAb, total);
    paB = _mm512_div_ps(eaB, total);
    pab = _mm512_div_ps(eab, total);
    __m512 ll = _mm512_mul_ps(nAB, log16(pAB));
    ll = _mm512_add_ps(ll, _mm512_mul_ps(nAb, log16(pAb)));
    ll = _mm512_add_ps(ll, _mm512_mul_ps(naB, log16(paB)));
    ll = _mm512_add_ps(ll, _mm512_mul_ps(nab, log16(pab)));
    ll = _mm512_add_ps(ll, _mm512_mul_ps(nDH, log16(_mm512_add_ps(_mm512_mul_ps(pAB, pab), _mm512_mul_ps(pAb, paB)))));
    const __m512 change = _mm512_and_ps(_mm512_sub_ps(ll, ll_prev), sign_clear);
    ll_prev = ll;
    rounds = _mm512_add_epi32(rounds, _mm512_set1_epi32(1));
    const __mmask16 done =
        static_cast<__mmask16>(active & (_mm512_cmp_ps_mask(change, _mm512_set1_ps(1.0e-8f), _CMP_LT_OQ) |
                                         _mm512_cmpeq_epi32_mask(rounds, _mm512_set1_epi32(20))));
    if (done != 0) {
      // A lane or two a round: plain stores beat scatters here.
      alignas(64) float a[16], b[16], c[16], d[16];
      alignas(64) std::int32_t at[16];
      _mm512_store_ps(a, pAB);
      _mm512_store_ps(b, pAb);
      _mm512_store_ps(c, paB);
      _mm512_store_ps(d, pab);
      _mm512_store_si512(at, slot);
      for (unsigned lanes = done; lanes != 0; lanes &= lanes - 1) {
        const int lane = __builtin_ctz(lanes);
        out[in.pair[at[lane]]] = HaplotypeFrequencies{a[lane], b[lane], c[lane], d[lane]};
      }
      active = static_cast<__mmask16>(active & ~done);
    }
  }
}

}  // namespace

bool vector_em_available() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("bmi2");
  }();
  return has && host_simd::enabled();
}

void estimate_haplotypes_many(const HaplotypeCounts* counts, int n, HaplotypeFrequencies* out) {
  thread_local EmInputs in;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const HaplotypeCounts& h = counts[i];
    if (h.nDH == 0) {  // no rounds to run: the scalar path is exact and short
      out[i] = estimate_haplotypes(h);
      continue;
    }
    in.nAB[m] = static_cast<float>(h.nAB);
    in.nAb[m] = static_cast<float>(h.nAb);
    in.naB[m] = static_cast<float>(h.naB);
    in.nab[m] = static_cast<float>(h.nab);
    in.nDH[m] = static_cast<float>(h.nDH);
    in.start_total[m] = static_cast<float>(2 * h.n) + 0.4f;
    in.pair[m] = i;
    if (++m == EmInputs::kCapacity) {
      em_stream(in, m, out);
      m = 0;
    }
  }
  if (m > 0) em_stream(in, m, out);
}

}  // namespace varpair
