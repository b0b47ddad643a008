// The logarithm in vector lanes is the scalar one bit for bit on every target: one template, two
// lane types. Compiled once per target by Highway's foreach_target, like the vector units.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "device/vector_lanes_test.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "device/float_math.h"
#include "device/vector_lanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace varpair::HWY_NAMESPACE {

// out[k] = log_lanes(in[k]) for k < n, n a multiple of 64.
void LogInLanes(const float* in, float* out, std::size_t n) {
  const VectorLanes::DF df;
  for (std::size_t k = 0; k < n; k += hn::Lanes(df)) hn::StoreU(log_lanes<VectorLanes>(hn::LoadU(df, in + k)), df, out + k);
}

}  // namespace varpair::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <gtest/gtest.h>

#include "support/targets.h"

namespace varpair {
HWY_EXPORT(LogInLanes);

void log_in_lanes(const float* in, float* out, std::size_t n) { HWY_DYNAMIC_DISPATCH(LogInLanes)(in, out, n); }
}  // namespace varpair

namespace {

TEST(VectorLanes, LogarithmIsTheScalarOneBitForBit) {
  // Bit patterns across the whole range (both signs, subnormals, infinities, not-a-numbers) and
  // the special values themselves.
  std::vector<std::uint32_t> bits;
  for (std::uint64_t b = 0; b <= 0xffffffffu; b += 65521) bits.push_back(static_cast<std::uint32_t>(b));
  for (std::uint32_t b : {0x00000000u, 0x80000000u, 0x00000001u, 0x007fffffu, 0x00800000u, 0x3f800000u, 0x3f3504f3u,
                          0x7f7fffffu, 0x7f800000u, 0xff800000u, 0x7fc00000u, 0xffc00000u, 0x7f800001u, 0xbf800000u})
    bits.push_back(b);
  while (bits.size() % 64 != 0) bits.push_back(0x3f000000u);
  std::vector<float> in(bits.size()), out(bits.size());
  std::memcpy(in.data(), bits.data(), bits.size() * sizeof(float));
  varpair::test::for_each_target([&](const std::string& target) {
    if (target == "portable") return;
    varpair::log_in_lanes(in.data(), out.data(), in.size());
    for (std::size_t k = 0; k < in.size(); ++k) {
      const float scalar = varpair::vp_logf(in[k]);
      // Not-a-numbers compare by their bits too: the scalar's is the one canonical pattern.
      ASSERT_EQ(std::memcmp(&scalar, &out[k], sizeof scalar), 0) << "bits " << std::hex << bits[k];
    }
  });
}

}  // namespace
#endif  // HWY_ONCE
