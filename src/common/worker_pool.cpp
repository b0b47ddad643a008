#include "common/worker_pool.h"

#include <system_error>

#include "common/system_info.h"

namespace varpair {

namespace {
thread_local bool inside_task = false;

struct TaskScope {
  TaskScope() { inside_task = true; }
  ~TaskScope() { inside_task = false; }
};
}  // namespace

WorkerPool::WorkerPool(unsigned workers) {
  threads_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) {
    try {
      threads_.emplace_back([this] { worker_loop(); });
    } catch (const std::system_error&) {
      break;  // run with the workers we have; the caller always helps
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

WorkerPool& WorkerPool::shared() {
  static WorkerPool pool(usable_cpus() - 1);
  return pool;
}

void WorkerPool::worker_loop() {
  unsigned long seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
    if (stopping_) return;
    seen = generation_;
    lock.unlock();
    work_on_current_job();
    lock.lock();
  }
}

void WorkerPool::work_on_current_job() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (task_ == nullptr) return;
  ++active_;
  while (next_ < count_ && !error_) {
    const std::size_t index = next_++;
    lock.unlock();
    try {
      TaskScope scope;
      (*task_)(index);
    } catch (...) {
      lock.lock();
      if (!error_) error_ = std::current_exception();
      continue;
    }
    lock.lock();
  }
  if (--active_ == 0) done_.notify_all();
}

void WorkerPool::run(std::size_t count, const std::function<void(std::size_t)>& task) {
  if (count == 0) return;
  if (inside_task || threads_.empty()) {
    for (std::size_t i = 0; i < count; ++i) task(i);
    return;
  }
  std::lock_guard<std::mutex> one_job(run_mutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
    count_ = count;
    next_ = 0;
    error_ = nullptr;
    ++generation_;
  }
  wake_.notify_all();
  work_on_current_job();
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return active_ == 0; });
    task_ = nullptr;
    error = error_;
    error_ = nullptr;
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace varpair
