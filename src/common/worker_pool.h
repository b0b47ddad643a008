// A fixed pool of worker threads, one per usable processor (system_info.h), shared by every parallel step of a run
// (table parsing, part-file encoding, kernels of the host device). No thread is created per task.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace varpair {

class WorkerPool {
 public:
  // Starts up to `workers` threads. A thread the system refuses is simply not there: the caller
  // of run() always takes part, so the pool works with any number of workers, even none.
  explicit WorkerPool(unsigned workers);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Calls task(i) for every i in [0, count) on the workers and the calling thread, and returns
  // when all calls have ended. The first exception thrown by a task is rethrown here once every
  // running task has finished; tasks not yet started are skipped. A call made from inside a task
  // runs its tasks inline, in order.
  void run(std::size_t count, const std::function<void(std::size_t)>& task);

  // Threads that work on run(): the started workers plus the caller.
  unsigned concurrency() const { return static_cast<unsigned>(threads_.size()) + 1; }

  // The process-wide pool, sized to the usable processors less the caller, started on first use.
  static WorkerPool& shared();

 private:
  void worker_loop();
  void work_on_current_job();

  std::vector<std::thread> threads_;
  std::mutex run_mutex_;  // one job at a time

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  bool stopping_ = false;
  unsigned long generation_ = 0;
  const std::function<void(std::size_t)>* task_ = nullptr;
  std::size_t count_ = 0;
  std::size_t next_ = 0;
  unsigned active_ = 0;
  std::exception_ptr error_;
};

}  // namespace varpair
