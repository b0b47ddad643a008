// Sorted runs of stored records and their k-way merge: how a table larger than its buffer is sorted
// whole (runs spilled beside the output, merged at the end) and how `varpair merge` joins the
// shards' records. Records are moved as bytes of a fixed size; each begins with its RecordKey.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include "common/atomic_output.h"
#include "interaction/record_key.h"

namespace varpair {

// One sorted run, read a block at a time: `count` records from record `first` of a file, or records
// held in memory.
class RecordRun {
 public:
  // Throws std::runtime_error naming `path` when the file holds fewer records than asked for.
  RecordRun(const std::string& path, std::size_t bytes, std::uint64_t first, std::uint64_t count);
  RecordRun(const void* records, std::size_t bytes, std::uint64_t count);

  bool empty() const { return at_ == held_; }
  const char* top() const { return data_ + at_ * bytes_; }
  RecordKey key() const { return key_of(top()); }
  void pop() {
    if (++at_ == held_) refill();
  }

 private:
  void refill();

  std::string path_;
  std::ifstream in_;
  std::size_t bytes_;
  std::uint64_t left_ = 0;  // in the file, after the block
  std::vector<char> block_;
  const char* data_ = nullptr;
  std::size_t held_ = 0;
  std::size_t at_ = 0;
};

// Hands every record of the runs to `take`, in SNP0, SNP1, label order (on equal keys, the earlier
// run's first). A run goes on without the queue while it stays before every other run's next
// record: a table's runs mostly cover rows of their own, so most records take no queue step.
template <class Take>
void merge_runs(const std::vector<RecordRun*>& runs, Take&& take) {
  const auto later = [&](std::size_t a, std::size_t b) {
    const RecordKey x = runs[a]->key(), y = runs[b]->key();
    return key_less(y, x) || (!key_less(x, y) && b < a);
  };
  std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> next(later);
  for (std::size_t r = 0; r < runs.size(); ++r)
    if (!runs[r]->empty()) next.push(r);
  while (!next.empty()) {
    const std::size_t r = next.top();
    next.pop();
    do {
      take(runs[r]->top());
      runs[r]->pop();
    } while (!runs[r]->empty() && (next.empty() || later(next.top(), r)));
    if (!runs[r]->empty()) next.push(r);
  }
}

// The sorted runs a table spilled, each in a temporary file beside its output (removed with the
// object, on every early return, and by the signal handlers). Bounded memory whatever the table's
// size: at most kFanIn runs are open at once; more are first merged into longer runs.
class SpilledRuns {
 public:
  static constexpr std::size_t kFanIn = 128;

  // `beside`: the output whose directory holds the runs; `bytes`: one record's.
  SpilledRuns(std::string beside, std::size_t bytes) : beside_(std::move(beside)), bytes_(bytes) {}
  ~SpilledRuns() { clear(); }
  SpilledRuns(const SpilledRuns&) = delete;
  SpilledRuns& operator=(const SpilledRuns&) = delete;

  bool empty() const { return runs_.empty(); }
  std::size_t size() const { return runs_.size(); }
  // Writes `count` sorted records as a new run. Throws std::runtime_error with the file and the
  // reason when it cannot (a full disk).
  void spill(const void* records, std::uint64_t count);
  // Every spilled run and the sorted records in memory, merged into `take`; the runs are gone after.
  template <class Take>
  void merge_with(const void* records, std::uint64_t count, Take&& take) {
    while (runs_.size() + 1 > kFanIn) combine_first(kFanIn);
    std::vector<std::unique_ptr<RecordRun>> open;
    std::vector<RecordRun*> order;
    for (const Run& run : runs_) {
      open.push_back(std::make_unique<RecordRun>(run.file->temporary(), bytes_, 0, run.count));
      order.push_back(open.back().get());
    }
    open.push_back(std::make_unique<RecordRun>(records, bytes_, count));
    order.push_back(open.back().get());
    merge_runs(order, take);
    clear();
  }

 private:
  struct Run {
    std::unique_ptr<AtomicFile> file;  // never committed: only its temporary is used
    std::uint64_t count;
  };
  // The first `n` runs merged into one run in their place.
  void combine_first(std::size_t n);
  void clear();

  std::string beside_;
  std::size_t bytes_;
  std::vector<Run> runs_;
};

}  // namespace varpair
