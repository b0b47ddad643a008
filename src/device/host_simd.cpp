// Compiled once per target by Highway's foreach_target; the part under HWY_ONCE once.
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "device/host_simd.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "device/bits.h"
#include "device/host_simd.h"
#include "device/vector_lanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace varpair::host_simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using varpair::HWY_NAMESPACE::kSafeMaskedLoads;

using DU = hn::ScalableTag<std::uint64_t>;
using D8 = hn::Repartition<std::uint8_t, DU>;
using V = hn::Vec<DU>;

// How a target counts bits. Where it has no vector population count of 64-bit lanes (SSSE3 to AVX2,
// AVX-512 without VPOPCNTDQ), bytes are counted by a 16-entry table of nibbles and summed in byte
// lanes, which take up to kByteRun vectors (at most 8 bits each) before they go into 64-bit lanes.
// Carry-save accumulation (Harley-Seal), which counts only every fourth vector's carries, was slower
// here: a pair's runs are a few dozen vectors at most, and its adders cost about what the table
// saves (bench/results/2026-12-07-1454-avx2-carry-save.md).
#if HWY_TARGET == HWY_AVX3_DL || HWY_ARCH_ARM || HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR
constexpr bool kLanePopcount = true;
#else
constexpr bool kLanePopcount = false;
#endif
constexpr std::size_t kByteRun = 31;

// Below this many vectors a pair's run of words is counted faster by the portable loop's scalar
// population count; SSSE3 and SSE4's two-word vectors never pay.
#if HWY_TARGET == HWY_SSSE3 || HWY_TARGET == HWY_SSE4
constexpr std::size_t kMinVectors = ~std::size_t{0};
#else
constexpr std::size_t kMinVectors = 1;
#endif

// Bits of `bits` a byte, by the 16-entry table. Where only even positions can be set (code planes),
// the four bits of a byte fold into one nibble, b | b >> 3, and one lookup counts them.
template <bool kEvenOnly>
HWY_INLINE hn::Vec<D8> byte_counts(V bits) {
  const D8 d8;
  if constexpr (kEvenOnly) {
    alignas(16) static constexpr std::uint8_t kBits[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
    const hn::Repartition<std::uint16_t, DU> d16;
    // A 16-bit shift: what comes into a byte's top from its neighbour lies above the nibble.
    const auto folded = hn::Or(hn::BitCast(d8, bits), hn::BitCast(d8, hn::ShiftRight<3>(hn::BitCast(d16, bits))));
    return hn::TableLookupBytes(hn::LoadDup128(d8, kBits), hn::And(folded, hn::Set(d8, std::uint8_t{0x0F})));
  } else {
    return hn::PopulationCount(hn::BitCast(d8, bits));
  }
}

// out[k] = the sum of the lanes of the k-th of four vectors, the four sums taken at once: lanes of
// two vectors side by side in each 128-bit block, the blocks then folded onto each other (far fewer
// steps than four reductions of their own).
template <class D>  // DU: a template, so that only its width's branch is compiled
HWY_INLINE void sum_lanes4(D du, V a, V b, V c, V d, std::uint64_t* out) {
  const V ab = hn::Add(hn::InterleaveLower(du, a, b), hn::InterleaveUpper(du, a, b));
  const V cd = hn::Add(hn::InterleaveLower(du, c, d), hn::InterleaveUpper(du, c, d));
  if constexpr (hn::MaxLanes(du) == 2) {
    hn::StoreU(ab, du, out);
    hn::StoreU(cd, du, out + 2);
  } else if constexpr (hn::MaxLanes(du) == 4) {
    hn::StoreU(hn::Add(hn::ConcatLowerLower(du, cd, ab), hn::ConcatUpperUpper(du, cd, ab)), du, out);
  } else {
    static_assert(hn::MaxLanes(D()) == 8, "128- to 512-bit vectors");
    const V halves = hn::Add(hn::ConcatLowerLower(du, cd, ab), hn::ConcatUpperUpper(du, cd, ab));
    const hn::Half<D> dh;
    const auto lo = hn::LowerHalf(dh, halves), hi = hn::UpperHalf(dh, halves);
    hn::StoreU(hn::Add(hn::ConcatLowerLower(dh, hi, lo), hn::ConcatUpperUpper(dh, hi, lo)), dh, out);
  }
}

// out[m] = the sum of the lanes of total[m], m < M.
template <int M>
HWY_INLINE void sum_lanes(const V (&total)[M], std::uint64_t (&out)[M]) {
  int m = 0;
  for (; m + 4 <= M; m += 4) sum_lanes4(DU(), total[m], total[m + 1], total[m + 2], total[m + 3], out + m);
  for (; m < M; ++m) out[m] = hn::GetLane(hn::SumOfLanes(DU(), total[m]));
}

// sums[m] = the bits set in the m-th of the M vectors that bits_of(v, out) gives for v < vectors.
// The sums leave the lanes once a run of byte sums (nearly always once): M accumulators and the
// vectors in flight stay in registers.
template <int M, bool kEvenOnly = false, class BitsOf>
HWY_INLINE void count_bits(std::size_t vectors, BitsOf&& bits_of, std::uint64_t (&sums)[M]) {
  // Accumulators start from the first vector's counts, not from zeroed arrays (which the compiler
  // zeroes in memory, a string store a call).
  if (vectors == 0) {
    for (auto& sum : sums) sum = 0;
    return;
  }
  if constexpr (kLanePopcount) {
    V total[M];
    {
      V bits[M];
      bits_of(0, bits);
      for (int m = 0; m < M; ++m) total[m] = hn::PopulationCount(bits[m]);
    }
    for (std::size_t v = 1; v < vectors; ++v) {
      V bits[M];
      bits_of(v, bits);
      for (int m = 0; m < M; ++m) total[m] = hn::Add(total[m], hn::PopulationCount(bits[m]));
    }
    sum_lanes(total, sums);
  } else {
    for (std::size_t v = 0, run = 0; v < vectors; ++run) {
      const std::size_t end = vectors - v < kByteRun ? vectors : v + kByteRun;
      hn::Vec<D8> bytes[M];
      {
        V bits[M];
        bits_of(v++, bits);
        for (int m = 0; m < M; ++m) bytes[m] = byte_counts<kEvenOnly>(bits[m]);
      }
      for (; v < end; ++v) {
        V bits[M];
        bits_of(v, bits);
        for (int m = 0; m < M; ++m) bytes[m] = hn::Add(bytes[m], byte_counts<kEvenOnly>(bits[m]));
      }
      V total[M];
      for (int m = 0; m < M; ++m) total[m] = hn::SumsOf8(bytes[m]);
      std::uint64_t run_sums[M];
      sum_lanes(total, run == 0 ? sums : run_sums);
      if (run > 0)
        for (int m = 0; m < M; ++m) sums[m] += run_sums[m];
    }
  }
}

// A loaded vector stays in a register: left to itself the compiler folds the load into each AND
// that uses it, which loads every word once a cell instead of once (the loads then bound the loop).
HWY_INLINE void keep_in_register(V& v) {
#if HWY_ARCH_X86 && (HWY_COMPILER_GCC || HWY_COMPILER_CLANG)
  asm("" : "+x"(v.raw));
#else
  (void)v;
#endif
}

// sums[i][j] = popcount(first[i][w] & second[j][w]) over the `words` words: whole vectors, then the
// last words in a masked vector where the target has safe masked loads, else by the portable
// loop's operations.
template <int K>
HWY_INLINE void count_words(const std::uint64_t* const* first, const std::uint64_t* const* second,
                            std::size_t words, std::uint64_t (&sums)[K][K]) {
  const DU du;
  const std::size_t lanes = hn::Lanes(du), whole = words / lanes, left = words % lanes;
  const bool tail = kSafeMaskedLoads && left != 0;
  std::size_t vectors = whole + (tail ? 1 : 0);
  if (vectors < kMinVectors) vectors = 0;
  const auto in_tail = hn::FirstN(du, left);
  std::uint64_t flat[K * K];
  count_bits<K * K>(
      vectors,
      [&](std::size_t v, V(&bits)[K * K]) HWY_ATTR {
        V x[K], y[K];
        for (int k = 0; k < K; ++k) {
          x[k] = v < whole ? hn::LoadU(du, first[k] + v * lanes) : hn::MaskedLoad(in_tail, du, first[k] + v * lanes);
          y[k] = v < whole ? hn::LoadU(du, second[k] + v * lanes) : hn::MaskedLoad(in_tail, du, second[k] + v * lanes);
          keep_in_register(x[k]);
          keep_in_register(y[k]);
        }
        for (int i = 0; i < K; ++i)
          for (int j = 0; j < K; ++j) bits[i * K + j] = hn::And(x[i], y[j]);
      },
      flat);
  for (int i = 0; i < K; ++i)
    for (int j = 0; j < K; ++j) sums[i][j] = flat[i * K + j];
  const std::size_t counted = vectors == 0 ? 0 : tail ? words : whole * lanes;
  for (std::size_t w = counted; w < words; ++w)
    for (int i = 0; i < K; ++i)
      for (int j = 0; j < K; ++j) sums[i][j] += static_cast<std::uint64_t>(popcount64(first[i][w] & second[j][w]));
}

std::int32_t CountSetCells(const std::uint64_t* const* first, const std::uint64_t* const* second, std::int32_t words,
                           const std::int32_t* first_totals, const std::int32_t* second_totals,
                           std::int32_t (&cells)[3][3]) {
  const std::size_t n = static_cast<std::size_t>(words);
  if (first_totals[3] != 0 && second_totals[3] != 0) {
    std::uint64_t four[2][2];
    count_words<2>(first, second, n, four);
    std::int32_t c[9];
    for (int x = 0; x < 2; ++x) {
      c[3 * x] = static_cast<std::int32_t>(four[x][0]);
      c[3 * x + 1] = static_cast<std::int32_t>(four[x][1]);
      c[3 * x + 2] = first_totals[x] - c[3 * x] - c[3 * x + 1];
    }
    for (int y = 0; y < 2; ++y) c[6 + y] = second_totals[y] - c[y] - c[3 + y];
    c[8] = first_totals[2] - c[6] - c[7];
    for (int k = 0; k < 9; ++k) cells[k / 3][k % 3] = c[k];
    return first_totals[0] + first_totals[1] + first_totals[2];
  }
  std::uint64_t nine[3][3];
  count_words<3>(first, second, n, nine);
  std::int32_t genotyped = 0;
  for (int k = 0; k < 9; ++k) genotyped += cells[k / 3][k % 3] = static_cast<std::int32_t>(nine[k / 3][k % 3]);
  return genotyped;
}

// Codes of packed rows as bit planes at the even positions (ld/ld_math.h's code_planes): code 0 =
// neither bit, 1 = the low bit alone, 2 = the high bit alone; code 3 is in none; `valid` marks the
// positions that hold a sample to count.
HWY_INLINE void code_planes(V w, V valid, V (&is)[3]) {
  const V lo = hn::And(w, valid), hi = hn::And(hn::ShiftRight<1>(w), valid);
  is[0] = hn::AndNot(hn::Or(lo, hi), valid);
  is[1] = hn::AndNot(hi, lo);
  is[2] = hn::AndNot(lo, hi);
}

// A pair of packed rows in vectors: the whole vectors from the start, then, where the rows are at
// least a vector long, one more that ends with the rows (read no further) and counts only the
// samples the whole vectors left.
class PackedRows {
 public:
  PackedRows(const unsigned char* row0, const unsigned char* row1, int samples)
      : row0_(row0), row1_(row1), samples_(samples) {
    // Whole vectors hold whole bytes of samples; the last byte may hold fewer than four.
    const std::size_t bytes = (static_cast<std::size_t>(samples) + 3) / 4, per_vector = hn::Lanes(D8());
    whole_ = static_cast<std::size_t>(samples) / 4 / per_vector;
    if (whole_ < kMinVectors) {
      whole_ = 0;
      return;
    }
    const std::size_t left = bytes - whole_ * per_vector;  // 0 to per_vector bytes
    tail_ = left != 0;
    if (!tail_) return;
    // The last vector's bytes: those the whole vectors counted are left out, and so are the last
    // byte's positions past the last sample.
    const D8 d8;
    tail_at_ = bytes - per_vector;
    const auto index = hn::Iota(d8, 0);
    const auto counted = hn::Lt(index, hn::Set(d8, static_cast<std::uint8_t>(per_vector - left)));
    const auto last = hn::Eq(index, hn::Set(d8, static_cast<std::uint8_t>(per_vector - 1)));
    const auto in_last = static_cast<std::uint8_t>(samples % 4 == 0 ? 0x55 : 0x55 & ((1u << (2 * (samples % 4))) - 1));
    tail_valid_ = hn::BitCast(
        DU(), hn::IfThenZeroElse(counted, hn::IfThenElse(last, hn::Set(d8, in_last), hn::Set(d8, std::uint8_t{0x55}))));
  }

  std::size_t vectors() const { return whole_ + (tail_ ? 1 : 0); }
  // The samples the vectors hold: all of them, or a multiple of 32 that the portable loop goes on from.
  int samples() const {
    return tail_ ? samples_ : static_cast<int>(whole_ * hn::Lanes(D8()) * 4);
  }

  // Vector v of each row as code planes.
  HWY_INLINE void planes(std::size_t v, V (&g0)[3], V (&g1)[3]) const {
    const D8 d8;
    if (v < whole_) {
      const V even = hn::Set(DU(), 0x5555555555555555ULL);
      code_planes(hn::BitCast(DU(), hn::LoadU(d8, row0_ + v * hn::Lanes(d8))), even, g0);
      code_planes(hn::BitCast(DU(), hn::LoadU(d8, row1_ + v * hn::Lanes(d8))), even, g1);
    } else {
      code_planes(hn::BitCast(DU(), hn::LoadU(d8, row0_ + tail_at_)), tail_valid_, g0);
      code_planes(hn::BitCast(DU(), hn::LoadU(d8, row1_ + tail_at_)), tail_valid_, g1);
    }
  }

 private:
  const unsigned char* row0_;
  const unsigned char* row1_;
  int samples_;
  std::size_t whole_ = 0, tail_at_ = 0;
  bool tail_ = false;
  V tail_valid_ = hn::Zero(DU());
};

int CountPackedCells(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t (&cells)[3][3]) {
  const PackedRows rows(row0, row1, samples);
  std::uint64_t sums[9];
  count_bits<9, true>(
      rows.vectors(),
      [&](std::size_t v, V(&bits)[9]) HWY_ATTR {
        V g0[3], g1[3];
        rows.planes(v, g0, g1);
        for (int x = 0; x < 3; ++x)
          for (int y = 0; y < 3; ++y) bits[3 * x + y] = hn::And(g0[x], g1[y]);
      },
      sums);
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) cells[x][y] += static_cast<std::int32_t>(sums[3 * x + y]);
  return rows.samples();
}

int CountPackedPhase(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t& both_a,
                     std::int32_t& one_a, std::int32_t& both_het) {
  const PackedRows rows(row0, row1, samples);
  std::uint64_t sums[3];
  count_bits<3, true>(
      rows.vectors(),
      [&](std::size_t v, V(&bits)[3]) HWY_ATTR {
        V g0[3], g1[3];
        rows.planes(v, g0, g1);
        bits[0] = hn::And(g0[0], g1[0]);
        bits[1] = hn::Or(hn::And(g0[0], g1[1]), hn::And(g0[1], g1[0]));
        bits[2] = hn::And(g0[1], g1[1]);
      },
      sums);
  both_a += static_cast<std::int32_t>(sums[0]);
  one_a += static_cast<std::int32_t>(sums[1]);
  both_het += static_cast<std::int32_t>(sums[2]);
  return rows.samples();
}

// Whether this target has vector paths at all (Highway's emulated targets do not: the portable
// code is faster than an emulation of it).
bool HasVectorPaths() { return HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SCALAR; }

}  // namespace varpair::host_simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace varpair::host_simd {

HWY_EXPORT(CountSetCells);
HWY_EXPORT(CountPackedCells);
HWY_EXPORT(CountPackedPhase);
HWY_EXPORT(HasVectorPaths);

namespace {

// The best of the targets compiled here that the processor (or a test's choice) supports: the
// lowest bit, as Highway orders them.
std::int64_t best_target() {
  const std::int64_t targets = hwy::SupportedTargets() & HWY_TARGETS;
  return targets & -targets;
}

bool forced_portable = false;
const std::int64_t processor_targets = hwy::SupportedTargets() & HWY_TARGETS;

bool vector_paths() { return !forced_portable && HWY_DYNAMIC_DISPATCH(HasVectorPaths)(); }

}  // namespace

std::atomic<bool> use_vector_paths{vector_paths()};

std::string target_name() {
  if (!enabled()) return "portable";
  switch (best_target()) {
    case HWY_AVX3:
    case HWY_AVX3_DL:
      return "AVX-512";
    case HWY_AVX2:
      return "AVX2";
    case HWY_SSE4:
      return "SSE4";
    case HWY_SSSE3:
      return "SSSE3";
    case HWY_NEON:
      return "NEON";
    default:
      return hwy::TargetName(best_target());
  }
}

std::vector<std::int64_t> available_targets() {
  // What the processor has, taken before any test's choice narrows what Highway reports.
  static const std::int64_t supported = processor_targets;
  std::vector<std::int64_t> targets{0};
  // Highway's bits run from the most capable target (the lowest bit) down.
  for (int bit = 63; bit >= 0; --bit) {
    const std::int64_t t = std::int64_t{1} << bit;
    if ((supported & t) != 0 && t != HWY_EMU128 && t != HWY_SCALAR) targets.push_back(t);
  }
  return targets;
}

void force_target(std::int64_t target) {
  forced_portable = target == 0;
  hwy::SetSupportedTargetsForTest(target == 0 ? 0 : target);
  use_vector_paths.store(vector_paths(), std::memory_order_relaxed);
}

void reset_target() {
  forced_portable = false;
  hwy::SetSupportedTargetsForTest(0);  // no longer narrowed
  use_vector_paths.store(vector_paths(), std::memory_order_relaxed);
}

std::int32_t count_set_cells(const std::uint64_t* const* first, const std::uint64_t* const* second, std::int32_t words,
                             const std::int32_t* first_totals, const std::int32_t* second_totals,
                             std::int32_t (&cells)[3][3]) {
  return HWY_DYNAMIC_DISPATCH(CountSetCells)(first, second, words, first_totals, second_totals, cells);
}

int count_packed_cells(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t (&cells)[3][3]) {
  return HWY_DYNAMIC_DISPATCH(CountPackedCells)(row0, row1, samples, cells);
}

int count_packed_phase(const unsigned char* row0, const unsigned char* row1, int samples, std::int32_t& both_a,
                       std::int32_t& one_a, std::int32_t& both_het) {
  return HWY_DYNAMIC_DISPATCH(CountPackedPhase)(row0, row1, samples, both_a, one_a, both_het);
}

}  // namespace varpair::host_simd
#endif  // HWY_ONCE
