#include "common/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using varpair::WorkerPool;

TEST(WorkerPool, RunsEveryTaskExactlyOnce) {
  WorkerPool pool(3);
  std::vector<std::atomic<int>> hits(10000);
  pool.run(hits.size(), [&](std::size_t i) { hits[i].fetch_add(1); });
  for (std::size_t i = 0; i < hits.size(); ++i) ASSERT_EQ(hits[i].load(), 1) << i;
}

TEST(WorkerPool, SpreadsTasksOverItsThreads) {
  WorkerPool pool(3);
  std::mutex m;
  std::set<std::thread::id> seen;
  // Each task waits a little so that every thread gets a chance to take one.
  pool.run(64, [&](std::size_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard<std::mutex> lock(m);
    seen.insert(std::this_thread::get_id());
  });
  EXPECT_GT(seen.size(), 1u);
  EXPECT_LE(seen.size(), pool.concurrency());
}

TEST(WorkerPool, RethrowsTheFirstFailureAfterAllRunningTasksEnded) {
  WorkerPool pool(2);
  std::atomic<int> finished{0};
  EXPECT_THROW(pool.run(100,
                        [&](std::size_t i) {
                          if (i == 3) throw std::runtime_error("task 3 failed");
                          finished.fetch_add(1);
                        }),
               std::runtime_error);
  EXPECT_LT(finished.load(), 100);
  // The pool is usable again afterwards.
  std::atomic<int> again{0};
  pool.run(50, [&](std::size_t) { again.fetch_add(1); });
  EXPECT_EQ(again.load(), 50);
}

TEST(WorkerPool, NestedRunsExecuteInlineWithoutDeadlock) {
  WorkerPool pool(2);
  std::atomic<int> inner{0};
  pool.run(4, [&](std::size_t) { pool.run(5, [&](std::size_t) { inner.fetch_add(1); }); });
  EXPECT_EQ(inner.load(), 20);
}

TEST(WorkerPool, APoolWithoutWorkersStillRunsEverything) {
  WorkerPool pool(0);
  EXPECT_EQ(pool.concurrency(), 1u);
  int sum = 0;
  pool.run(10, [&](std::size_t i) { sum += static_cast<int>(i); });
  EXPECT_EQ(sum, 45);
}

}  // namespace
