// Compiled once per target by Highway's foreach_target; the part under HWY_ONCE once.
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "interaction/table_vector.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "device/vector_lanes-inl.h"
#include "interaction/table_2x2.h"
#include "interaction/table_vector.h"

HWY_BEFORE_NAMESPACE();
namespace varpair::HWY_NAMESPACE {

// Tables in double lanes: a and c are exact, and so is every product and sum of the chi-square's
// parts while the samples stay below 2^26 (above that the scalar test takes every table).
std::uint32_t ChiSquareCandidates(const std::int32_t* a, const std::int32_t* c, int tables, std::int32_t n_cases,
                                  std::int32_t n_controls, float threshold) {
  using L = VectorLanes;
  const L::DD dd;
  const hn::Rebind<std::int32_t, L::DD> di;
  const hn::Rebind<float, L::DD> df;
  const int lanes = static_cast<int>(hn::Lanes(dd));
  const std::uint32_t all = tables >= 32 ? ~0u : (1u << tables) - 1;
  const std::int64_t samples = static_cast<std::int64_t>(n_cases) + n_controls;
  if (samples >= (std::int64_t{1} << 26) || lanes > 32) return all;
  const L::D cases = L::SetD(n_cases), controls = L::SetD(n_controls), n = L::SetD(static_cast<double>(samples));
  std::uint32_t reaching = 0;
  int first = 0;
  for (; first < tables && 2 * (tables - first) >= lanes; first += lanes) {
    const int in_lanes = tables - first < lanes ? tables - first : lanes;
    L::D va, vc;
    if (in_lanes == lanes) {
      va = hn::PromoteTo(dd, hn::LoadU(di, a + first));
      vc = hn::PromoteTo(dd, hn::LoadU(di, c + first));
    } else if constexpr (kSafeMaskedLoads) {  // the last tables, fewer than the lanes: the rest empty
      const auto in = hn::FirstN(di, static_cast<std::size_t>(in_lanes));
      va = hn::PromoteTo(dd, hn::MaskedLoad(in, di, a + first));
      vc = hn::PromoteTo(dd, hn::MaskedLoad(in, di, c + first));
    } else {
      alignas(64) std::int32_t a_lanes[32], c_lanes[32];
      for (int t = 0; t < lanes; ++t) {
        a_lanes[t] = t < in_lanes ? a[first + t] : 0;
        c_lanes[t] = t < in_lanes ? c[first + t] : 0;
      }
      va = hn::PromoteTo(dd, hn::Load(di, a_lanes));
      vc = hn::PromoteTo(dd, hn::Load(di, c_lanes));
    }
    const L::D with_allele = L::AddD(va, vc);
    const L::D cross = hn::Abs(L::SubD(L::MulD(va, controls), L::MulD(vc, cases)));
    L::D numerator, denominator;
    yates_parts<L>(cases, controls, with_allele, L::SubD(n, with_allele), n, cross, numerator, denominator);
    const auto used = hn::FirstN(dd, static_cast<std::size_t>(in_lanes));
    const auto candidates = hn::AndNot(yates_surely_below<L>(numerator, denominator, threshold), used);
    if (hn::AllFalse(dd, candidates)) continue;
    // As yates_chi_square: the quotient rounded to a float, 0 where the denominator is 0; compared in
    // double, which holds every float exactly.
    const auto defined = hn::Ne(denominator, hn::Zero(dd));
    const L::D chi = hn::PromoteTo(dd, hn::DemoteTo(df, hn::Div(numerator, denominator)));
    const auto reach = hn::And(used, hn::Ge(hn::IfThenElseZero(defined, chi), L::SetD(threshold)));
    std::uint8_t bits[8] = {};
    hn::StoreMaskBits(dd, reach, bits);
    std::uint32_t mask = 0;
    for (int t = 0; t < in_lanes; ++t) mask |= static_cast<std::uint32_t>((bits[t / 8] >> (t % 8)) & 1u) << t;
    reaching |= mask << first;
  }
  return reaching | (all & ~((first >= 32 ? ~0u : (1u << first) - 1)));
}

}  // namespace varpair::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace varpair::table_vector {

HWY_EXPORT(ChiSquareCandidates);

std::uint32_t chi_square_candidates(const std::int32_t* a, const std::int32_t* c, int tables, std::int32_t n_cases,
                                    std::int32_t n_controls, float threshold) {
  return HWY_DYNAMIC_DISPATCH(ChiSquareCandidates)(a, c, tables, n_cases, n_controls, threshold);
}

}  // namespace varpair::table_vector
#endif  // HWY_ONCE
