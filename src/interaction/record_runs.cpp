#include "interaction/record_runs.h"

#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "common/errors.h"
#include "interaction/record_table.h"
#include "interaction/table_testing.h"

namespace varpair {

namespace {

constexpr std::uint64_t kBlockRecords = 4096;

std::atomic<std::size_t> run_length{RecordTable::kRunLength};

[[noreturn]] void cannot_write(AtomicFile& file, int error) {
  const std::string path = file.temporary();
  file.discard();
  throw std::runtime_error("cannot write a sorted run of the table to " + path + reason(error));
}

std::unique_ptr<AtomicFile> new_run_file(const std::string& beside) {
  auto file = std::make_unique<AtomicFile>(beside);
  if (!file->open()) cannot_write(*file, errno);
  errno = 0;
  return file;
}

void end_run_file(AtomicFile& file) {
  if (!file.close()) cannot_write(file, errno != 0 ? errno : EIO);
}

}  // namespace

std::size_t table_run_length() { return run_length.load(); }

void testing::set_table_run_length(std::size_t records) {
  run_length.store(records == 0 ? RecordTable::kRunLength : records);
}

RecordRun::RecordRun(const std::string& path, std::size_t bytes, std::uint64_t first, std::uint64_t count)
    : path_(path), in_(path, std::ios::binary), bytes_(bytes), left_(count) {
  if (!in_.is_open()) throw std::runtime_error("cannot read " + path + reason(errno));
  in_.seekg(static_cast<std::streamoff>(first * bytes_));
  refill();
}

RecordRun::RecordRun(const void* records, std::size_t bytes, std::uint64_t count)
    : bytes_(bytes), data_(static_cast<const char*>(records)), held_(static_cast<std::size_t>(count)) {}

void RecordRun::refill() {
  held_ = static_cast<std::size_t>(std::min(left_, kBlockRecords));
  at_ = 0;
  if (held_ == 0) return;
  block_.resize(held_ * bytes_);
  if (!in_.read(block_.data(), static_cast<std::streamsize>(held_ * bytes_)))
    throw std::runtime_error(path_ + " is cut short: it ends before its " + std::to_string(held_) + " last records");
  data_ = block_.data();
  left_ -= held_;
}

void SpilledRuns::spill(const void* records, std::uint64_t count) {
  auto file = new_run_file(beside_);
  file->stream().write(static_cast<const char*>(records), static_cast<std::streamsize>(count * bytes_));
  end_run_file(*file);
  runs_.push_back(Run{std::move(file), count});
}

void SpilledRuns::combine_first(std::size_t n) {
  auto file = new_run_file(beside_);
  std::uint64_t count = 0;
  {
    std::vector<std::unique_ptr<RecordRun>> open;
    std::vector<RecordRun*> order;
    for (std::size_t r = 0; r < n; ++r) {
      open.push_back(std::make_unique<RecordRun>(runs_[r].file->temporary(), bytes_, 0, runs_[r].count));
      order.push_back(open.back().get());
    }
    std::ofstream& out = file->stream();
    merge_runs(order, [&](const char* record) {
      out.write(record, static_cast<std::streamsize>(bytes_));
      ++count;
    });
  }
  end_run_file(*file);
  runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(n));
  runs_.insert(runs_.begin(), Run{std::move(file), count});
}

void SpilledRuns::clear() { runs_.clear(); }

}  // namespace varpair
