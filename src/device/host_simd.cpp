#include "device/host_simd.h"

#include "device/avx512.h"

namespace varpair::host_simd {

namespace {

bool cpu_has_vector_popcount() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
}

#define VP_AVX512 __attribute__((target("avx512f,avx512vpopcntdq,avx512dq,avx512vl")))

VP_AVX512 inline __m512i count_and(__m512i acc, __m512i x, __m512i y) {
  return _mm512_add_epi64(acc, _mm512_popcnt_epi64(_mm512_and_si512(x, y)));
}

// Pairs of lanes: each 128-bit block holds [a's lanes 2b and 2b+1 summed, b's the same].
VP_AVX512 inline __m512i sum_pairs(__m512i a, __m512i b) {
  return _mm512_add_epi64(_mm512_unpacklo_epi64(a, b), _mm512_unpackhi_epi64(a, b));
}

// Blocks 0+1 and 2+3 of x, then of y.
VP_AVX512 inline __m512i sum_halves(__m512i x, __m512i y) {
  return _mm512_add_epi64(_mm512_shuffle_i64x2(x, y, 0x88), _mm512_shuffle_i64x2(x, y, 0xDD));
}

// Lane k of the result: the sum of the eight lanes of v_k.
VP_AVX512 inline __m512i sum_lanes8(__m512i v0, __m512i v1, __m512i v2, __m512i v3, __m512i v4, __m512i v5, __m512i v6,
                                    __m512i v7) {
  const __m512i u0 = sum_halves(sum_pairs(v0, v1), sum_pairs(v2, v3));
  const __m512i u1 = sum_halves(sum_pairs(v4, v5), sum_pairs(v6, v7));
  return sum_halves(u0, u1);
}

}  // namespace

std::atomic<bool> use_vector_counts{cpu_has_vector_popcount()};

bool available() { return cpu_has_vector_popcount(); }

void set_enabled(bool on) { use_vector_counts.store(on && available(), std::memory_order_relaxed); }

VP_AVX512 void count_cells3(const std::uint64_t* const* first, const std::uint64_t* const* second, std::int32_t words,
                            std::int32_t (&cells)[3][3]) {
  __m512i acc[3][3];
  for (auto& row : acc)
    for (auto& a : row) a = _mm512_setzero_si512();
  for (std::int32_t w = 0; w < words; w += 8) {
    const __mmask8 lanes = words - w >= 8 ? 0xFF : static_cast<__mmask8>((1u << (words - w)) - 1);
    __m512i x[3], y[3];
    for (int k = 0; k < 3; ++k) {
      x[k] = _mm512_maskz_loadu_epi64(lanes, first[k] + w);
      y[k] = _mm512_maskz_loadu_epi64(lanes, second[k] + w);
    }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) acc[i][j] = count_and(acc[i][j], x[i], y[j]);
  }
  // The lanes of eight accumulators summed at once (pairs of lanes, then 128-bit blocks, then the
  // rest), the ninth alone: far fewer steps than eight separate reductions.
  alignas(64) long long sums[8];
  _mm512_store_si512(
      sums, sum_lanes8(acc[0][0], acc[0][1], acc[0][2], acc[1][0], acc[1][1], acc[1][2], acc[2][0], acc[2][1]));
  for (int k = 0; k < 8; ++k) cells[k / 3][k % 3] += static_cast<std::int32_t>(sums[k]);
  cells[2][2] += static_cast<std::int32_t>(_mm512_reduce_add_epi64(acc[2][2]));
}

VP_AVX512 void count_cells2(const std::uint64_t* const* first, const std::uint64_t* const* second, std::int32_t words,
                            std::int32_t (&cells)[2][2]) {
  __m512i acc[2][2] = {{_mm512_setzero_si512(), _mm512_setzero_si512()},
                       {_mm512_setzero_si512(), _mm512_setzero_si512()}};
  for (std::int32_t w = 0; w < words; w += 8) {
    const __mmask8 lanes = words - w >= 8 ? 0xFF : static_cast<__mmask8>((1u << (words - w)) - 1);
    const __m512i x0 = _mm512_maskz_loadu_epi64(lanes, first[0] + w);
    const __m512i x1 = _mm512_maskz_loadu_epi64(lanes, first[1] + w);
    const __m512i y0 = _mm512_maskz_loadu_epi64(lanes, second[0] + w);
    const __m512i y1 = _mm512_maskz_loadu_epi64(lanes, second[1] + w);
    acc[0][0] = count_and(acc[0][0], x0, y0);
    acc[0][1] = count_and(acc[0][1], x0, y1);
    acc[1][0] = count_and(acc[1][0], x1, y0);
    acc[1][1] = count_and(acc[1][1], x1, y1);
  }
  // Pairs of lanes, 128-bit blocks, then the two halves: lanes 0 to 3 hold the four sums.
  const __m512i blocks = sum_halves(sum_pairs(acc[0][0], acc[0][1]), sum_pairs(acc[1][0], acc[1][1]));
  alignas(64) long long sums[8];
  _mm512_store_si512(sums, sum_halves(blocks, blocks));
  for (int k = 0; k < 4; ++k) cells[k / 2][k % 2] += static_cast<std::int32_t>(sums[k]);
}

// 256 samples a step: the low and high bit of every code split into planes at the even bit
// positions, code 0 = neither, 1 = low only, 2 = high only (code 3, both, is no genotype).
VP_AVX512 int count_packed_cells(const unsigned char* row0, const unsigned char* row1, int samples,
                                 std::int32_t (&cells)[3][3]) {
  const __m512i even = _mm512_set1_epi64(0x5555555555555555LL);
  __m512i acc[3][3];
  for (auto& row : acc)
    for (auto& a : row) a = _mm512_setzero_si512();
  int first = 0;
  for (; first + 256 <= samples; first += 256) {
    __m512i g[2][3];
    const unsigned char* rows[2] = {row0, row1};
    for (int r = 0; r < 2; ++r) {
      const __m512i w = _mm512_loadu_si512(rows[r] + first / 4);
      const __m512i lo = _mm512_and_si512(w, even);
      const __m512i hi = _mm512_and_si512(_mm512_srli_epi64(w, 1), even);
      g[r][0] = _mm512_andnot_si512(_mm512_or_si512(lo, hi), even);
      g[r][1] = _mm512_andnot_si512(hi, lo);
      g[r][2] = _mm512_andnot_si512(lo, hi);
    }
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y) acc[x][y] = count_and(acc[x][y], g[0][x], g[1][y]);
  }
  alignas(64) long long sums[8];
  _mm512_store_si512(
      sums, sum_lanes8(acc[0][0], acc[0][1], acc[0][2], acc[1][0], acc[1][1], acc[1][2], acc[2][0], acc[2][1]));
  for (int k = 0; k < 8; ++k) cells[k / 3][k % 3] = static_cast<std::int32_t>(sums[k]);
  cells[2][2] = static_cast<std::int32_t>(_mm512_reduce_add_epi64(acc[2][2]));
  return first;
}

namespace {

// Eight tables at most (`lanes`), lane by lane the double operations of yates_chi_square in its
// order, so that each lane's float is the scalar one's.
VP_AVX512 __mmask8 chi_square_reaching8(const std::int32_t* a, const std::int32_t* c, __mmask8 lanes,
                                        std::int32_t n_cases, std::int32_t n_controls, float threshold) {
  const __m512i va = _mm512_cvtepi32_epi64(_mm256_maskz_loadu_epi32(lanes, a));
  const __m512i vc = _mm512_cvtepi32_epi64(_mm256_maskz_loadu_epi32(lanes, c));
  const __m512i vb = _mm512_sub_epi64(_mm512_set1_epi64(n_cases), va);
  const __m512i vd = _mm512_sub_epi64(_mm512_set1_epi64(n_controls), vc);
  const __m512i cases = _mm512_add_epi64(va, vb);
  const __m512i controls = _mm512_add_epi64(vc, vd);
  const __m512d denominator =
      _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(_mm512_cvtepi64_pd(cases), _mm512_cvtepi64_pd(controls)),
                                  _mm512_cvtepi64_pd(_mm512_add_epi64(va, vc))),
                    _mm512_cvtepi64_pd(_mm512_add_epi64(vb, vd)));
  const __m512i ad = _mm512_mullo_epi64(va, vd);
  const __m512i bc = _mm512_mullo_epi64(vb, vc);
  const __m512d n = _mm512_cvtepi64_pd(_mm512_add_epi64(cases, controls));
  const __m512d difference =
      _mm512_sub_pd(_mm512_cvtepi64_pd(_mm512_abs_epi64(_mm512_sub_epi64(ad, bc))), _mm512_mul_pd(n, _mm512_set1_pd(0.5)));
  const __m512d corrected = _mm512_max_pd(difference, _mm512_setzero_pd());  // 0 unless above 0, as the scalar
  const __m512d chi = _mm512_div_pd(_mm512_mul_pd(n, _mm512_mul_pd(corrected, corrected)), denominator);
  const __mmask8 defined = _mm512_cmp_pd_mask(denominator, _mm512_setzero_pd(), _CMP_NEQ_OQ);
  const __m256 rounded = _mm256_maskz_mov_ps(defined, _mm512_cvtpd_ps(chi));  // a zero denominator gives 0
  return _mm256_mask_cmp_ps_mask(lanes, rounded, _mm256_set1_ps(threshold), _CMP_GE_OQ);
}

}  // namespace

std::uint32_t chi_square_reaching(const std::int32_t* a, const std::int32_t* c, int tables, std::int32_t n_cases,
                                  std::int32_t n_controls, float threshold) {
  std::uint32_t reaching = 0;
  for (int first = 0; first < tables; first += 8) {
    const int left = tables - first;
    const auto lanes = static_cast<__mmask8>(left >= 8 ? 0xFF : (1u << left) - 1);
    reaching |= static_cast<std::uint32_t>(chi_square_reaching8(a + first, c + first, lanes, n_cases, n_controls,
                                                                threshold))
                << first;
  }
  return reaching;
}

}  // namespace varpair::host_simd
