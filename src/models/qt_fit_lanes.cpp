// Compiled once per target by Highway's foreach_target; the part under HWY_ONCE once.
#include <cstddef>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "models/qt_fit_lanes.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "device/vector_lanes-inl.h"
#include "models/qt_fit_lanes.h"

HWY_BEFORE_NAMESPACE();
namespace varpair::HWY_NAMESPACE {

using L = VectorLanes;

// QtFactorLanes and QtTestLanes of the target's lanes, with constructors of this target's code
// (an implicit one has no target, and NEON's vectors have constructors of their own to call).
struct Factor {
  HWY_INLINE Factor() {}
  L::D l[kQtMaxColumns][kQtMaxColumns];
  L::D diagonal[kQtMaxColumns];
  L::D status;
  L::MD failed, kept_failed;
  L::D u[kQtMaxColumns];
};
struct Test {
  HWY_INLINE Test() {}
  L::D status, beta, se, t;
};

void FitLanes(const QtLaneBatch& b, QtLaneTests& out) {
  const L::DD dd;
  const auto lanes = static_cast<int>(hn::Lanes(dd));
  for (int p = 0; p < kQtLanes; p += lanes) {
    const L::D n = hn::Load(dd, b.n + p);
    Factor f;
    f.status = hn::Load(dd, b.status + p);
    f.failed = L::LtD(L::SetD(0.0), f.status);
    qt_factor_lanes<L>(
        b.m, 0, 0, [&](int d, int c) { return L::DivD(hn::Load(dd, b.xx[c * (c + 1) / 2 + d] + p), n); }, f);
    const L::D df = hn::Load(dd, b.df + p);
    for (int t = 0; t < b.traits; ++t) {
      L::D z[kQtMaxColumns], residual;
      Test r;
      qt_solve_lanes<L>(
          b.m, f, L::DivD(hn::Load(dd, b.yy[t] + p), n),
          [&](int c) { return L::DivD(hn::Load(dd, b.xy[t][c] + p), n); }, df, z, residual, 0, r);
      hn::Store(r.status, dd, out.status[t] + p);
      hn::Store(r.beta, dd, out.beta[t] + p);
      hn::Store(r.se, dd, out.se[t] + p);
      hn::Store(r.t, dd, out.t[t] + p);
    }
  }
}

}  // namespace varpair::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace varpair {

HWY_EXPORT(FitLanes);

void qt_fit_lanes(const QtLaneBatch& batch, QtLaneTests& out) { HWY_DYNAMIC_DISPATCH(FitLanes)(batch, out); }

}  // namespace varpair
#endif  // HWY_ONCE
