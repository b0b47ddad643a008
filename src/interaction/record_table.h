// A model's result table on the host. The kernels append whatever record the model declares (its
// "found" record); the table turns each into the record it keeps (its "stored" record: the 2x2
// models keep theirs as found, or refitted with the covariates; BOOST fits each pair exactly first
// and keeps the significant ones), and writes them sorted by SNP0, SNP1 and label across the whole
// table, whatever its size: a full buffer is sorted and spilled as a run beside the output, and the
// runs are merged at the end. So every run, plan, shard merge and backend writes the same file. A
// shard also writes its stored records, as raw bytes in the same order, for the merge; the merge
// feeds them back in that order. The driver, the shard records and the merge move records they do
// not interpret: every record begins with its RecordKey, and its size is all they need to know.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "common/run_log.h"
#include "common/worker_pool.h"
#include "interaction/record_key.h"
#include "interaction/record_runs.h"

namespace varpair {

class CovariateRefit;

// The texts of a model's record labels (genotype labels or models), by label index.
using LabelTexts = std::span<const char* const>;

// Which pairs a run (or a shard) holds: those whose SNP0 lies in [first, end) of `rows` SNPs.
struct PairShare {
  std::int32_t rows = 0;
  std::int32_t first = 0;
  std::int32_t end = 0;
};

// What a table is made with.
struct TableSetup {
  std::ostream* out = nullptr;          // the result table, open and empty
  std::string path;                     // its final name: sorted runs are spilled beside it
  const char* header = "";              // the command's header line, without the ID columns
  const std::vector<std::string>* ids;  // variant IDs (ID0 and ID1 end every line), or null
  std::size_t run_length;               // records sorted in memory before they are spilled
  double alpha;                         // the p-value cut-off
  std::int32_t rows;                    // the SNPs
  // The model's side outputs, open, in the order the model names them (side_output_suffixes).
  std::vector<std::ostream*> side;
  // With covariates the records carry adjusted columns; a run refits them with `refit` (a merge
  // has none: its records come refitted).
  bool adjusted = false;
  const CovariateRefit* refit = nullptr;
  // Label texts that come with the input (the traits of a quantitative run), by label index.
  std::vector<std::string> labels = {};
};

// Records a run's table sorts in memory before it spills them: 2,000,000 (88 to 160 MB), or what a
// test set.
std::size_t table_run_length();

class RecordTable {
 public:
  // Also the runs of a shard's records file written before tables were sorted whole: the merge
  // reads such a file as runs of this length (a file sorted whole reads the same).
  static constexpr std::size_t kRunLength = 2000000;

  virtual ~RecordTable() = default;
  // The bytes of one stored record (of a shard's records file).
  virtual std::size_t stored_bytes() const = 0;
  // Writes the header line.
  virtual void begin() = 0;
  // `count` records of one batch, as the kernels appended them; those the model keeps are buffered.
  // Throws std::runtime_error when a full buffer cannot be spilled (the file and the reason).
  virtual void add_found(const void* records, std::uint64_t count) = 0;
  // One stored record of a shard, in key order, written at once (the merge; never with add_found).
  virtual void add_stored(const void* record) = 0;
  // Writes out the table: the buffer and the spilled runs, merged. Throws as add_found.
  virtual void flush() = 0;
  // Records kept so far.
  virtual std::uint64_t kept() const = 0;
  // Also writes every stored record, as its bytes, to `records` in the order of the lines.
  virtual void copy_records_to(std::ostream* records) = 0;
  // The model's counters (ModelRunData::counters), read from the device after the last batch.
  virtual void note_counters(const std::vector<std::uint64_t>& counters) { (void)counters; }
  // After the last record of a run: the side outputs, from the per-SNP counts the model's kernels
  // made (empty for a model that keeps none) and the share of pairs the run held. False when a
  // side output could not be written.
  virtual bool end_run(const PairShare& share, const std::vector<std::uint32_t>& snp_counts, RunLog& log) {
    (void)share, (void)snp_counts, (void)log;
    return true;
  }
  // After the last record of a merge: the side outputs, joined from those of the shards (their -o
  // names given). Throws std::runtime_error when a shard's side output is unreadable.
  virtual void end_merge(const std::vector<std::string>& shard_outputs, std::int32_t rows, RunLog& log) {
    (void)shard_outputs, (void)rows, (void)log;
  }
};

// The table of a model whose Format says what it finds, keeps and prints:
//   using Found = ...; using Stored = ...;                 (both begin with a RecordKey)
//   static constexpr bool kCostlyKeep;                     keep is worth the worker pool
//   void on_found(std::uint64_t count);                   records of a batch, before they are kept
//   bool keep(const Found&, Stored&) const;                thread-safe: may run on the workers
//   void on_kept(const Stored&);                           after keep, in the order of the records
//   void write_header(std::ostream&, const char* header, bool ids);
//   void write_line(std::ostream&, const Stored&, const std::vector<std::string>* ids);
//   bool end_run(...), void end_merge(...)                 as RecordTable's
template <class Format>
class SortedTable : public RecordTable {
 public:
  using Found = typename Format::Found;
  using Stored = typename Format::Stored;

  SortedTable(const TableSetup& setup, Format format)
      : setup_(setup), format_(std::move(format)), spilled_(setup.path, sizeof(Stored)) {
    setup_.run_length = std::max<std::size_t>(setup_.run_length, 1);
  }

  std::size_t stored_bytes() const override { return sizeof(Stored); }
  void begin() override { format_.write_header(*setup_.out, setup_.header, setup_.ids != nullptr); }

  void add_found(const void* records, std::uint64_t count) override {
    const Found* found = static_cast<const Found*>(records);
    format_.on_found(count);
    if (!Format::kCostlyKeep || count < 2) {
      Stored s;
      for (std::uint64_t i = 0; i < count; ++i)
        if (format_.keep(found[i], s)) push(s);
      return;
    }
    // Chunks on the workers, then the kept records in their order: the same table either way.
    kept_flags_.assign(count, 0);
    staged_.resize(count);
    // Small chunks: a record can cost a millisecond (a logistic fit), and a batch bring a handful.
    const std::uint64_t chunk_size = std::min<std::uint64_t>(kChunk, (count + 15) / 16);
    WorkerPool::shared().run((count + chunk_size - 1) / chunk_size, [&](std::size_t chunk) {
      const std::uint64_t end = std::min<std::uint64_t>(count, (chunk + 1) * chunk_size);
      for (std::uint64_t i = chunk * chunk_size; i < end; ++i) kept_flags_[i] = format_.keep(found[i], staged_[i]);
    });
    for (std::uint64_t i = 0; i < count; ++i)
      if (kept_flags_[i]) push(staged_[i]);
  }

  void add_stored(const void* record) override {
    Stored s;
    std::memcpy(&s, record, sizeof s);
    format_.on_kept(s);
    ++kept_;
    write(s);
  }

  void flush() override {
    sort_buffer();
    if (spilled_.empty()) {
      for (const Stored& r : buffer_) write(r);
    } else {
      spilled_.merge_with(buffer_.data(), buffer_.size(), [&](const char* record) {
        Stored s;
        std::memcpy(&s, record, sizeof s);
        write(s);
      });
    }
    buffer_.clear();
    setup_.out->flush();
  }
  std::uint64_t kept() const override { return kept_; }
  void copy_records_to(std::ostream* records) override { records_ = records; }

  bool end_run(const PairShare& share, const std::vector<std::uint32_t>& snp_counts, RunLog& log) override {
    return format_.end_run(share, snp_counts, setup_, log);
  }
  void end_merge(const std::vector<std::string>& shard_outputs, std::int32_t rows, RunLog& log) override {
    format_.end_merge(shard_outputs, rows, setup_, log);
  }
  void note_counters(const std::vector<std::uint64_t>& counters) override {
    if constexpr (requires { format_.note_counters(counters); }) format_.note_counters(counters);
  }

  Format& format() { return format_; }

 private:
  static constexpr std::uint64_t kChunk = 256;
  static_assert(sizeof(Found) % 4 == 0 && alignof(Found) <= 4, "the kernels append found records as 32-bit words");

  void push(const Stored& s) {
    format_.on_kept(s);
    ++kept_;
    if (buffer_.capacity() == 0) buffer_.reserve(setup_.run_length);
    buffer_.push_back(s);
    if (buffer_.size() < setup_.run_length) return;
    sort_buffer();
    spilled_.spill(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

  void sort_buffer() {
    std::sort(buffer_.begin(), buffer_.end(),
              [](const Stored& x, const Stored& y) { return key_less(key_of(&x), key_of(&y)); });
  }

  void write(const Stored& r) {
    format_.write_line(*setup_.out, r, setup_.ids);
    if (records_ != nullptr) records_->write(reinterpret_cast<const char*>(&r), sizeof r);
  }

  TableSetup setup_;
  Format format_;
  std::ostream* records_ = nullptr;
  std::vector<Stored> buffer_;
  SpilledRuns spilled_;
  std::vector<Stored> staged_;
  std::vector<unsigned char> kept_flags_;
  std::uint64_t kept_ = 0;
};

}  // namespace varpair
