#include "device/host_simd.h"

#include "device/avx512.h"

namespace varpair::host_simd {

namespace {

bool cpu_has_vector_popcount() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq") &&
         __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
}

#define VP_AVX512 __attribute__((target("avx512f,avx512vpopcntdq,avx512dq,avx512vl,avx512bw")))

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

namespace {

// acc[x][y] += popcount(first[x][w] & second[y][w]) lane by lane over all words, x, y < K.
template <int K>
VP_AVX512 inline void count_and_words(const std::uint64_t* const* first, const std::uint64_t* const* second,
                                      std::int32_t words, __m512i (&acc)[K][K]) {
  for (auto& row : acc)
    for (auto& a : row) a = _mm512_setzero_si512();
  for (std::int32_t w = 0; w < words; w += 8) {
    const __mmask8 lanes = words - w >= 8 ? 0xFF : static_cast<__mmask8>((1u << (words - w)) - 1);
    __m512i x[K], y[K];
    for (int k = 0; k < K; ++k) {
      x[k] = _mm512_maskz_loadu_epi64(lanes, first[k] + w);
      y[k] = _mm512_maskz_loadu_epi64(lanes, second[k] + w);
    }
    for (int i = 0; i < K; ++i)
      for (int j = 0; j < K; ++j) acc[i][j] = count_and(acc[i][j], x[i], y[j]);
  }
}

}  // namespace

// The cells go out as one 256-bit store of the first eight and one of the ninth: the evaluations
// read them at once in vector loads, which a store split into smaller pieces could not feed
// without a stall.
VP_AVX512 std::int32_t count_set_cells(const std::uint64_t* const* first, const std::uint64_t* const* second,
                                       std::int32_t words, const std::int32_t* first_totals,
                                       const std::int32_t* second_totals, std::int32_t (&cells)[3][3]) {
  auto* out = reinterpret_cast<__m256i*>(&cells[0][0]);
  alignas(64) long long sums[8];
  if (first_totals[3] != 0 && second_totals[3] != 0) {
    __m512i acc[2][2];
    count_and_words<2>(first, second, words, acc);
    // Pairs of lanes, 128-bit blocks, then the two halves: lanes 0 to 3 hold the four sums.
    const __m512i blocks = sum_halves(sum_pairs(acc[0][0], acc[0][1]), sum_pairs(acc[1][0], acc[1][1]));
    _mm512_store_si512(sums, sum_halves(blocks, blocks));
    const auto c00 = static_cast<std::int32_t>(sums[0]), c01 = static_cast<std::int32_t>(sums[1]);
    const auto c10 = static_cast<std::int32_t>(sums[2]), c11 = static_cast<std::int32_t>(sums[3]);
    const std::int32_t c20 = second_totals[0] - c00 - c10, c21 = second_totals[1] - c01 - c11;
    _mm256_storeu_si256(
        out, _mm256_setr_epi32(c00, c01, first_totals[0] - c00 - c01, c10, c11, first_totals[1] - c10 - c11, c20, c21));
    cells[2][2] = first_totals[2] - c20 - c21;
    return first_totals[0] + first_totals[1] + first_totals[2];
  }
  __m512i acc[3][3];
  count_and_words<3>(first, second, words, acc);
  // The lanes of eight accumulators summed at once (pairs of lanes, then 128-bit blocks, then the
  // rest), the ninth alone: far fewer steps than eight separate reductions.
  const __m512i eight =
      sum_lanes8(acc[0][0], acc[0][1], acc[0][2], acc[1][0], acc[1][1], acc[1][2], acc[2][0], acc[2][1]);
  const long long ninth = _mm512_reduce_add_epi64(acc[2][2]);
  _mm256_storeu_si256(out, _mm512_cvtepi64_epi32(eight));
  cells[2][2] = static_cast<std::int32_t>(ninth);
  return static_cast<std::int32_t>(_mm512_reduce_add_epi64(eight) + ninth);
}

namespace {

// The last step of a row pair, samples first ... samples - 1 (1 to 255 of them): only the rows'
// remaining bytes loaded, and `valid` marks where a sample is (a row's padding is code 0).
template <class Step>
VP_AVX512 inline void step_tail(const unsigned char* row0, const unsigned char* row1, int first, int samples,
                                Step&& step) {
  const int left = samples - first;  // left / 4 whole bytes, then a partial one
  const int bytes = (left + 3) / 4;
  const __mmask64 loaded = bytes == 64 ? ~__mmask64{0} : (__mmask64{1} << bytes) - 1;
  const __mmask64 whole = (__mmask64{1} << (left / 4)) - 1;
  const auto partial = static_cast<char>(0x55 & ((1 << (2 * (left % 4))) - 1));
  const __m512i valid = _mm512_mask_set1_epi8(_mm512_maskz_set1_epi8(whole, 0x55), loaded & ~whole, partial);
  step(_mm512_maskz_loadu_epi8(loaded, row0 + first / 4), _mm512_maskz_loadu_epi8(loaded, row1 + first / 4), valid);
}

}  // namespace

// 256 samples a step: the low and high bit of every code split into planes at the even bit
// positions, code 0 = neither, 1 = low only, 2 = high only (code 3, both, is no genotype); the
// last step as step_tail.
VP_AVX512 int count_packed_cells(const unsigned char* row0, const unsigned char* row1, int samples,
                                 std::int32_t (&cells)[3][3]) {
  const __m512i even = _mm512_set1_epi64(0x5555555555555555LL);
  __m512i acc[3][3];
  for (auto& row : acc)
    for (auto& a : row) a = _mm512_setzero_si512();
  auto step = [&](__m512i w0, __m512i w1, __m512i valid) VP_AVX512 {
    __m512i g[2][3];
    const __m512i w[2] = {w0, w1};
    for (int r = 0; r < 2; ++r) {
      const __m512i lo = _mm512_and_si512(w[r], even);
      const __m512i hi = _mm512_and_si512(_mm512_srli_epi64(w[r], 1), even);
      g[r][0] = _mm512_andnot_si512(_mm512_or_si512(lo, hi), valid);
      g[r][1] = _mm512_andnot_si512(hi, lo);
      g[r][2] = _mm512_andnot_si512(lo, hi);
    }
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y) acc[x][y] = count_and(acc[x][y], g[0][x], g[1][y]);
  };
  int first = 0;
  for (; first + 256 <= samples; first += 256)
    step(_mm512_loadu_si512(row0 + first / 4), _mm512_loadu_si512(row1 + first / 4), even);
  if (first < samples) {
    step_tail(row0, row1, first, samples, step);
    first = samples;
  }
  alignas(64) long long sums[8];
  _mm512_store_si512(
      sums, sum_lanes8(acc[0][0], acc[0][1], acc[0][2], acc[1][0], acc[1][1], acc[1][2], acc[2][0], acc[2][1]));
  for (int k = 0; k < 8; ++k) cells[k / 3][k % 3] = static_cast<std::int32_t>(sums[k]);
  cells[2][2] = static_cast<std::int32_t>(_mm512_reduce_add_epi64(acc[2][2]));
  return first;
}

VP_AVX512 int count_packed_phase(const unsigned char* row0, const unsigned char* row1, int samples,
                                 std::int32_t& both_a, std::int32_t& one_a, std::int32_t& both_het) {
  const __m512i even = _mm512_set1_epi64(0x5555555555555555LL);
  __m512i acc[3] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
  auto step = [&](__m512i w0, __m512i w1, __m512i valid) VP_AVX512 {
    const __m512i lo0 = _mm512_and_si512(w0, even), hi0 = _mm512_and_si512(_mm512_srli_epi64(w0, 1), even);
    const __m512i lo1 = _mm512_and_si512(w1, even), hi1 = _mm512_and_si512(_mm512_srli_epi64(w1, 1), even);
    const __m512i zero0 = _mm512_andnot_si512(_mm512_or_si512(lo0, hi0), valid), one0 = _mm512_andnot_si512(hi0, lo0);
    const __m512i zero1 = _mm512_andnot_si512(_mm512_or_si512(lo1, hi1), valid), one1 = _mm512_andnot_si512(hi1, lo1);
    acc[0] = count_and(acc[0], zero0, zero1);
    acc[1] = _mm512_add_epi64(
        acc[1], _mm512_popcnt_epi64(_mm512_or_si512(_mm512_and_si512(zero0, one1), _mm512_and_si512(one0, zero1))));
    acc[2] = count_and(acc[2], one0, one1);
  };
  int first = 0;
  for (; first + 256 <= samples; first += 256)
    step(_mm512_loadu_si512(row0 + first / 4), _mm512_loadu_si512(row1 + first / 4), even);
  if (first < samples) step_tail(row0, row1, first, samples, step);
  both_a = static_cast<std::int32_t>(_mm512_reduce_add_epi64(acc[0]));
  one_a = static_cast<std::int32_t>(_mm512_reduce_add_epi64(acc[1]));
  both_het = static_cast<std::int32_t>(_mm512_reduce_add_epi64(acc[2]));
  return samples;
}

namespace {

// The tables of `lanes`, lane by lane the double operations of yates_chi_square, so that each
// lane's float is the scalar one's. Per pair the same in every lane: a + b = n_cases, c + d =
// n_controls, their product and sum; ad - bc = a n_controls - c n_cases, exact in 64 bits.
VP_AVX512 __mmask8 chi_square_reaching8(const std::int32_t* a, const std::int32_t* c, __mmask8 lanes,
                                        std::int32_t n_cases, std::int32_t n_controls, float threshold) {
  const __m512i va = _mm512_cvtepi32_epi64(_mm256_maskz_loadu_epi32(lanes, a));
  const __m512i vc = _mm512_cvtepi32_epi64(_mm256_maskz_loadu_epi32(lanes, c));
  const std::int64_t samples = static_cast<std::int64_t>(n_cases) + n_controls;
  const __m512i with_allele = _mm512_add_epi64(va, vc);  // a + c; b + d is the rest
  const __m512d denominator =
      _mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(static_cast<double>(n_cases) * static_cast<double>(n_controls)),
                                  _mm512_cvtepi64_pd(with_allele)),
                    _mm512_cvtepi64_pd(_mm512_sub_epi64(_mm512_set1_epi64(samples), with_allele)));
  const __m512i cross = _mm512_sub_epi64(_mm512_mullo_epi64(va, _mm512_set1_epi64(n_controls)),
                                         _mm512_mullo_epi64(vc, _mm512_set1_epi64(n_cases)));
  const double n = static_cast<double>(samples);
  const __m512d difference = _mm512_sub_pd(_mm512_cvtepi64_pd(_mm512_abs_epi64(cross)), _mm512_set1_pd(n / 2.0));
  const __m512d corrected = _mm512_max_pd(difference, _mm512_setzero_pd());  // 0 unless above 0, as the scalar
  const __m512d numerator = _mm512_mul_pd(_mm512_set1_pd(n), _mm512_mul_pd(corrected, corrected));
  // Most pairs' tables all fall short by far: numerator < threshold x denominator, with a margin of
  // 2^-20 that the float rounding (2^-24) and the double roundings cannot cross, tells so without
  // the division. Only when some table may reach it are the quotients computed.
  const double near_threshold = static_cast<double>(threshold) * (1.0 - 0x1p-20);
  const __mmask8 candidates =
      _mm512_mask_cmp_pd_mask(lanes, numerator, _mm512_mul_pd(_mm512_set1_pd(near_threshold), denominator), _CMP_GE_OQ);
  if (candidates == 0) return 0;
  const __m512d chi = _mm512_div_pd(numerator, denominator);
  const __mmask8 defined = _mm512_cmp_pd_mask(denominator, _mm512_setzero_pd(), _CMP_NEQ_OQ);
  const __m256 rounded = _mm256_maskz_mov_ps(defined, _mm512_cvtpd_ps(chi));  // a zero denominator gives 0
  return _mm256_mask_cmp_ps_mask(lanes, rounded, _mm256_set1_ps(threshold), _CMP_GE_OQ);
}

}  // namespace

std::uint32_t chi_square_reaching(const std::int32_t* a, const std::int32_t* c, int tables, std::int32_t n_cases,
                                  std::int32_t n_controls, float threshold) {
  const auto lanes = static_cast<__mmask8>(tables >= 8 ? 0xFF : (1u << tables) - 1);
  return chi_square_reaching8(a, c, lanes, n_cases, n_controls, threshold);
}

VP_AVX512 void mdr_risk_table(const std::int32_t* cases, const std::int32_t* controls, float ratio,
                              std::int32_t (&table)[4]) {
  // Cells 0 to 7 in lanes (one load each, as count_set_cells stored them), cell 8 apart.
  const __m256i case_counts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cases));
  const __m256i control_counts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(controls));
  const __m256 weighted = _mm256_mul_ps(_mm256_cvtepi32_ps(case_counts), _mm256_set1_ps(ratio));
  const __m256 control_floats = _mm256_cvtepi32_ps(control_counts);
  const __mmask8 high = _mm256_cmp_ps_mask(weighted, control_floats, _CMP_GT_OQ);
  const __mmask8 low = _mm256_cmp_ps_mask(weighted, control_floats, _CMP_LT_OQ);
  // Horizontal sums of the four classes' lanes: lanes 0 to 3 end as a, b, c, d.
  const __m256i cases_by_class =
      _mm256_hadd_epi32(_mm256_maskz_mov_epi32(high, case_counts), _mm256_maskz_mov_epi32(low, case_counts));
  const __m256i controls_by_class =
      _mm256_hadd_epi32(_mm256_maskz_mov_epi32(high, control_counts), _mm256_maskz_mov_epi32(low, control_counts));
  const __m256i sums = _mm256_hadd_epi32(cases_by_class, controls_by_class);
  const float weighted8 = static_cast<float>(cases[8]) * ratio;
  const auto controls8 = static_cast<float>(controls[8]);
  const std::int32_t high8 = weighted8 > controls8, low8 = weighted8 < controls8;
  const __m128i ninth = _mm_setr_epi32(high8 * cases[8], low8 * cases[8], high8 * controls[8], low8 * controls[8]);
  _mm_storeu_si128(
      reinterpret_cast<__m128i*>(table),
      _mm_add_epi32(_mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1)), ninth));
}

}  // namespace varpair::host_simd
