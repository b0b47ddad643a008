// Compiled once per target by Highway's foreach_target; the part under HWY_ONCE once.
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "ld/ld_em_vector.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "device/vector_lanes-inl.h"
#include "ld/ld_em_vector.h"

HWY_BEFORE_NAMESPACE();
namespace varpair::HWY_NAMESPACE {

// The pairs' EMs in lanes, by em_start, em_round and em_converged of ld_math.h. A lane whose pair
// stops (converged, or kEmRounds rounds) writes it out and takes the next waiting pair, so no lane
// idles while another still runs: a pair needs about 8 rounds, the slowest of 8 or 16 nearer 15. The
// lanes' state goes through memory only in a round where some lane stops.
void EstimateHaplotypesMany(const HaplotypeCounts* counts, int n, HaplotypeFrequencies* out) {
  using L = VectorLanes;
  const L::DF df;
  const L::DI di;
  const int lanes = static_cast<int>(hn::Lanes(df));
  constexpr int kMaxLanes = 64;
  // Per lane: the counts, frequencies and log-likelihood of its pair, its rounds and which pair
  // (-1: none).
  alignas(64) float nAB[kMaxLanes], nAb[kMaxLanes], naB[kMaxLanes], nab[kMaxLanes], nDH[kMaxLanes];
  alignas(64) float pAB[kMaxLanes], pAb[kMaxLanes], paB[kMaxLanes], pab[kMaxLanes], ll_prev[kMaxLanes];
  alignas(64) std::int32_t rounds[kMaxLanes], pair[kMaxLanes], done[kMaxLanes];
  int next = 0;
  // The next pair with double heterozygotes into `lane` (the others' estimates are exact at once).
  auto take_next = [&](int lane) {
    pair[lane] = -1;
    for (; next < n; ++next) {
      const HaplotypeCounts& h = counts[next];
      if (h.nDH == 0) {
        out[next] = estimate_haplotypes(h);
        continue;
      }
      EmLanes<ScalarLanes> e{static_cast<float>(h.nAB), static_cast<float>(h.nAb), static_cast<float>(h.naB),
                             static_cast<float>(h.nab), static_cast<float>(h.nDH), 0, 0, 0, 0};
      em_start(e, static_cast<float>(2 * h.n) + 0.4f);
      nAB[lane] = e.nAB, nAb[lane] = e.nAb, naB[lane] = e.naB, nab[lane] = e.nab, nDH[lane] = e.nDH;
      pAB[lane] = e.pAB, pAb[lane] = e.pAb, paB[lane] = e.paB, pab[lane] = e.pab;
      ll_prev[lane] = kEmFirstLikelihood;
      rounds[lane] = 0;
      pair[lane] = next++;
      return true;
    }
    // An idle lane runs harmless numbers.
    nAB[lane] = nAb[lane] = naB[lane] = nab[lane] = nDH[lane] = 1.0f;
    pAB[lane] = pAb[lane] = paB[lane] = pab[lane] = 0.25f;
    ll_prev[lane] = kEmFirstLikelihood;
    rounds[lane] = 0;
    return false;
  };
  int active = 0;
  for (int lane = 0; lane < lanes; ++lane) active += take_next(lane);
  while (active > 0) {
    EmLanes<L> e{hn::Load(df, nAB), hn::Load(df, nAb), hn::Load(df, naB), hn::Load(df, nab), hn::Load(df, nDH),
                 hn::Load(df, pAB), hn::Load(df, pAb), hn::Load(df, paB), hn::Load(df, pab)};
    L::F ll_before = hn::Load(df, ll_prev);
    L::I round = hn::Load(di, rounds);
    const L::I pairs = hn::Load(di, pair);
    for (;;) {
      const L::F ll = em_round(e);
      round = hn::Add(round, L::SetI(1));
      const auto stops = hn::And(hn::RebindMask(df, hn::Gt(pairs, L::SetI(-1))),
                                 L::Or(em_converged<L>(ll, ll_before), L::EqI(round, L::SetI(kEmRounds))));
      ll_before = ll;
      if (hn::AllFalse(df, stops)) continue;
      hn::Store(e.pAB, df, pAB), hn::Store(e.pAb, df, pAb), hn::Store(e.paB, df, paB), hn::Store(e.pab, df, pab);
      hn::Store(ll_before, df, ll_prev);
      hn::Store(round, di, rounds);
      hn::Store(hn::VecFromMask(di, hn::RebindMask(di, stops)), di, done);
      break;
    }
    for (int lane = 0; lane < lanes; ++lane) {
      if (done[lane] == 0) continue;
      out[pair[lane]] = HaplotypeFrequencies{pAB[lane], pAb[lane], paB[lane], pab[lane]};
      if (!take_next(lane)) --active;
    }
  }
}

}  // namespace varpair::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace varpair {

HWY_EXPORT(EstimateHaplotypesMany);

void estimate_haplotypes_many(const HaplotypeCounts* counts, int n, HaplotypeFrequencies* out) {
  HWY_DYNAMIC_DISPATCH(EstimateHaplotypesMany)(counts, n, out);
}

}  // namespace varpair
#endif  // HWY_ONCE
