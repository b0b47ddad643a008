#include "interaction/gpu_plan.h"

#include <gtest/gtest.h>

#include "device/host_testing.h"
#include "support/test_support.h"

namespace {

using varpair::plan_groups;
using varpair::PlanConstants;

const PlanConstants kGenotype{396, 3, false};
const PlanConstants kMdr{44, 3, false};
const PlanConstants kDomrec{176, 3, true};
constexpr std::uint64_t kEightGiB = 8589934592ULL;

TEST(PlanGroups, TheEightGibibyteExample) {
  std::uint64_t items = 0;
  plan_groups(1000, 1, 1, kEightGiB, items, nullptr, kMdr);
  EXPECT_EQ(items, 136658050u);
  plan_groups(1000, 1, 1, kEightGiB, items, nullptr, kGenotype);
  EXPECT_EQ(items, 15184227u);
  plan_groups(1000, 1, 1, kEightGiB, items, nullptr, kDomrec);
  EXPECT_EQ(items, 34164512u);
}

TEST(PlanGroups, SmallTablesGetTheLowerBoundOfOneHundredRows) {
  std::uint64_t items = 0;
  EXPECT_EQ(plan_groups(150, 1, 1, kEightGiB, items, nullptr, kGenotype), 100);
  EXPECT_EQ(plan_groups(50, 1, 1, kEightGiB, items, nullptr, kGenotype), 100);
  EXPECT_EQ(plan_groups(50, 1, 1, kEightGiB, items, nullptr, kMdr), 100);
  EXPECT_EQ(plan_groups(50, 1, 1, kEightGiB, items, nullptr, kDomrec), 25) << "no lower bound below 101 rows";
  EXPECT_EQ(plan_groups(150, 1, 1, kEightGiB, items, nullptr, kDomrec), 100);
}

TEST(PlanGroups, MemoryDrivenGroupsAndTheirReport) {
  // 96000 bytes: results 67200 (169 pairs of 396 bytes), masks (76800 - 67200) / 2 = 4800 bytes a
  // group, 100 rows of 48 bytes; 100000 rows need 1000 groups.
  std::uint64_t items = 0;
  varpair::test::CapturedOutput captured;
  varpair::RunLog log;
  EXPECT_EQ(plan_groups(100000, 1, 1, 96000, items, &log, kGenotype), 100);
  EXPECT_EQ(captured.out(), "Group size: 100 rows\nNumber of groups: 1000\nMax batch items: 169\n");
}

TEST(PlanGroups, MemoryForFewerThanOneHundredRowsCapsTheGroup) {
  std::uint64_t items = 0;
  // Row bytes 24 x (10 + 10) = 480; 200000 bytes give a mask budget of 10000 bytes: 20 rows.
  EXPECT_EQ(plan_groups(5000, 10, 10, 200000, items, nullptr, kGenotype), 20);
  EXPECT_EQ(plan_groups(5000, 10, 10, 9000, items, nullptr, kGenotype), -1) << "not one row";
}

TEST(SelectGpu, ReportsTheDeviceOrItsAbsence) {
  varpair::device::testing::Scope device_scope;
  {
    varpair::test::CapturedOutput captured;
    varpair::RunLog log;
    EXPECT_EQ(varpair::select_gpu(0, log, true), varpair::GpuSelection::kSelected);
    EXPECT_TRUE(varpair::test::LinesMatch(captured.out(), {"Found 1 CUDA-capable GPU(s)", "Using GPU: Host CPU (*)",
                                                           "Compute capability: 0.0", "Global memory: * GB"}));
  }
  {
    varpair::test::CapturedOutput captured;
    varpair::RunLog log;
    EXPECT_EQ(varpair::select_gpu(3, log, false), varpair::GpuSelection::kSetDeviceFailed);
    EXPECT_EQ(captured.out(), "Found 1 CUDA-capable GPU(s)\nFailed to set GPU device 3: invalid device ordinal\n");
  }
  {
    varpair::device::testing::fail_calls(varpair::device::testing::Op::GetDeviceCount, cudaErrorNoDevice);
    varpair::test::CapturedOutput captured;
    varpair::RunLog log;
    EXPECT_EQ(varpair::select_gpu(0, log, true), varpair::GpuSelection::kNoDevice);
    EXPECT_EQ(captured.out(), "No CUDA-capable GPU found\n");
  }
}

}  // namespace
