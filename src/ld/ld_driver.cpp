#include "ld/ld_driver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "common/clock.h"
#include "common/errors.h"
#include "common/output_lock.h"
#include "common/path_guard.h"
#include "common/progress.h"
#include "common/run_id.h"
#include "common/run_log.h"
#include "common/run_problems.h"
#include "common/sample_matching.h"
#include "common/shard.h"
#include "common/system_info.h"
#include "common/table_scan.h"
#include "device/holders.h"
#include "ld/ld_input.h"
#include "ld/ld_outputs.h"
#include "ld/ld_plan.h"
#include "ld/ld_settings.h"

namespace varpair {

namespace {

constexpr double kBytesToGiB = 9.313225746154785e-10;

double gib(std::uint64_t bytes) { return static_cast<double>(bytes) * kBytesToGiB; }

void write_header(RunLog& log, const LdCommand& command, const LdSettings& s) {
  log << "varpair version: 1.0" << eol;
  log << "Device backend: " << device::backend_description() << eol;
  log << "Program started at: ";
  write_ld_timestamp(log);
  log << "Command line:" << s.command_line << eol;
  log << "Threads per block: " << s.threads << eol;
  log << command.cut_line << s.cutoff << eol;
  // A run that names its estimate says which it used; one without -estimate keeps the header it has
  // always had (the 20-round EM).
  if (s.estimate_given)
    log << "Estimate: "
        << (s.estimate == LdEstimate::kMaximumLikelihood
                ? "ml (maximum likelihood: the cubic's root, in double precision)"
                : "em20 (at most 20 rounds of EM in single precision)")
        << eol;
  log << "Output mode: " << (s.binary_mode() ? "BINARY (multi-threaded encoding)" : "TEXT") << eol;
  log << "Distribution statistics: " << (s.distribution_on ? "ENABLED" : "DISABLED") << eol;
  if (s.distribution_on) log << "Distribution file: " << s.distribution << eol;
}

// One input table of the run, reported as `which` ("file0") and `label` ("File0: ").
struct LdInput {
  const char* which;
  const char* label;
  const std::string& path;
  const std::string& chromosome;
  device::DeviceBuffer& matrix;
  std::shared_ptr<GenotypeSource> source;
  std::vector<std::string> variant_ids;
  std::vector<std::int32_t> totals;  // the rows' totals, kLdTotalsPerRow each
  LdTable table;
  bool loaded = false;
};

// `other`: the input opened before, whose source serves again when both name the same file (one
// genome-wide fileset for two chromosomes is read and checked once).
bool open_input(RunLog& log, LdInput& in, const LdInput* other) {
  log << "Reading and transferring " << in.which << ": " << in.path << eol;
  try {
    if (other != nullptr && other->source != nullptr && other->source->format() != GenotypeFormat::kText &&
        same_file(classify_genotype_path(other->path).files[0], classify_genotype_path(in.path).files[0]))
      in.source = other->source;
    else
      in.source = GenotypeSource::open(in.path);
    return true;
  } catch (const std::exception& e) {
    log << "Error processing " << in.which << ": " << e.what() << eol;
    return false;
  }
}

// Reads the selected samples and places the table on the device.
bool load_input(RunLog& log, LdInput& in, const SampleSelection& selection, cudaStream_t stream) {
  try {
    in.table = load_ld_source(*in.source, selection, in.chromosome, in.matrix, stream, in.totals, in.variant_ids);
    const std::string warning = check_calls(in.table.genotyped, in.table.rows, in.table.columns, in.path);
    in.loaded = true;
    log << in.label << in.table.rows << " rows, " << in.table.columns << " cols" << eol;
    if (!warning.empty()) log << warning << eol;
    if (!in.chromosome.empty()) log << "  chromosome " << in.chromosome << " of " << in.path << eol;
    for (const std::string& note : in.source->notes()) log << "  " << in.which << ": " << note << eol;
    if (const std::string repeated = repeated_id_warning(in.variant_ids, in.path); !repeated.empty())
      log << repeated << eol;
    return true;
  } catch (const std::exception& e) {
    log << "Error processing " << in.which << ": " << e.what() << eol;
    in.matrix.release();
    return false;
  }
}

// One LD run from its open log to its summary. Members are declared in the order they are
// created, so that every early return releases them in the reverse order.
class LdRun {
 public:
  LdRun(const LdCommand& command, const LdSettings& settings, RunLog& log, RunProblems& problems)
      : command_(command),
        s_(settings),
        log_(log),
        problems_(problems),
        parts_(settings.parts_directory()),
        text_(settings.output),
        metadata_(settings.metadata_path()),
        distribution_(settings.distribution),
        ids_files_{AtomicFile(settings.ids_path(0)), AtomicFile(settings.ids_path(1))} {}

  // Steps up to the last batch; false when the set-up failed (the run then ends with status 1).
  bool run();
  // The summary lines, the distribution and metadata files.
  void summarize();
  // Frees the device; when every pair was analysed and written, puts the outputs in place.
  void finish();

 private:
  bool load_inputs();
  bool plan_shard();
  bool allocate_buffers();
  void upload_totals();
  void write_manifest_of_shard();
  std::vector<std::string> input_files() const;
  bool prepare_outputs();
  void run_batches();
  bool filter_batch(std::uint64_t offset, std::uint64_t count);
  bool write_batch_parts(std::uint64_t offset, std::uint64_t count);
  void write_distribution();
  void note_problem(const std::string& what) { problems_.add(what); }

  const LdCommand& command_;
  const LdSettings& s_;
  RunLog& log_;
  RunProblems& problems_;

  AtomicDirectory parts_;
  LdTextTable text_;
  AtomicFile metadata_;
  AtomicFile distribution_;
  AtomicFile ids_files_[2];
  const std::string run_id_ = new_run_id();
  device::Stream stream_;
  device::DeviceBuffer matrix0_, matrix1_;
  // The rows' totals go onto the device after the memory plan, when there is room, so that the plan,
  // the batches and with them the part files stay as they were; without them every pair is counted
  // in full.
  std::vector<std::int32_t> host_totals0_, host_totals1_;
  device::DeviceBuffer totals0_, totals1_;
  LdTable table0_, table1_;
  std::vector<std::string> ids0_, ids1_;  // variant IDs when an input has them
  std::uint64_t first_pair_ = 0;          // the shard's first pair; 0 without shards
  std::uint64_t pairs_ = 0;               // pairs this run computes
  std::uint64_t batch_items_ = 0;
  device::DeviceBuffer histogram_, missing_;
  device::DeviceBuffer results_, records_, record_count_;
  std::unique_ptr<float[]> host_values_;
  std::uint64_t part_number_ = 0;
  std::uint64_t total_records_ = 0;
  std::int64_t computation_start_ = 0;
};

bool LdRun::load_inputs() {
  const std::int64_t start = monotonic_ns();
  if (const cudaError_t e = stream_.create()) {
    log_ << "Failed to create CUDA stream: " << cudaGetErrorString(e) << eol;
    return false;
  }
  // A text table is read at once, as it always was; filesets and VCFs wait for the sample match.
  LdInput in0{"file0", "File0: ", s_.file0, s_.chromosome0, matrix0_, nullptr, {}, {}, {}};
  LdInput in1{"file1", "File1: ", s_.file1, s_.chromosome1, matrix1_, nullptr, {}, {}, {}};
  if (!open_input(log_, in0, nullptr)) return false;
  if (in0.source->format() == GenotypeFormat::kText && !load_input(log_, in0, {}, stream_.get())) return false;
  if (!open_input(log_, in1, &in0)) return false;
  SampleMatch match;
  try {
    match = match_samples(*in0.source, s_.file0, *in1.source, s_.file1);
  } catch (const std::exception& e) {
    log_ << "Error: " << e.what() << eol;
    return false;
  }
  if (!in0.loaded && !load_input(log_, in0, match.first, stream_.get())) return false;
  if (!load_input(log_, in1, match.second, stream_.get())) return false;
  if (match.by_id)
    log_ << "Samples matched by ID: " << match.common << " in both tables; " << match.left_out_first << " of file0 and "
         << match.left_out_second << " of file1 left out" << eol;
  table0_ = in0.table;
  table1_ = in1.table;
  host_totals0_ = std::move(in0.totals);
  host_totals1_ = std::move(in1.totals);
  ids0_ = std::move(in0.variant_ids);
  ids1_ = std::move(in1.variant_ids);
  if (s_.variant_ids) {  // a text table's variants have no IDs
    if (ids0_.empty()) ids0_.assign(static_cast<std::size_t>(table0_.rows), ".");
    if (ids1_.empty()) ids1_.assign(static_cast<std::size_t>(table1_.rows), ".");
  }
  if (table0_.columns != table1_.columns) {
    log_ << "Error: Columns of two files must be the same!" << eol;
    return false;
  }
  if (const cudaError_t e = command_.kernels.set_sample_count(table0_.columns)) {
    log_ << "cudaMemcpyToSymbol failed: " << cudaGetErrorString(e) << eol;
    return false;
  }
  log_ << "Data loaded and transferred to GPU in " << static_cast<double>(elapsed_ms(start)) / 1000.0 << " seconds"
       << eol;
  return true;
}

// A shard computes the pairs of its rows of -file0; the others are left to the other shards.
bool LdRun::plan_shard() {
  pairs_ = static_cast<std::uint64_t>(table0_.rows) * static_cast<std::uint64_t>(table1_.rows);
  if (!s_.shard.on()) return true;
  if (s_.shard.n > table0_.rows) {
    log_ << "Error: -parallel " << s_.shard.k << " " << s_.shard.n << ": file0 has " << table0_.rows
         << " rows, fewer than the " << s_.shard.n << " shards to split them into" << eol;
    return false;
  }
  const auto [first, end] = ld_shard_rows(table0_.rows, s_.shard);
  const auto width = static_cast<std::uint64_t>(table1_.rows);
  first_pair_ = static_cast<std::uint64_t>(first) * width;
  pairs_ = static_cast<std::uint64_t>(end - first) * width;
  log_ << "Shard " << s_.shard.k << " of " << s_.shard.n << ": file0 rows " << first << " to " << end - 1 << ", pairs "
       << first_pair_ << " to " << first_pair_ + pairs_ - 1 << eol;
  return true;
}

bool LdRun::allocate_buffers() {
  log_ << "Result data size: " << gib(pairs_ * 4) << " GB" << eol;
  log_ << "Total required GPU memory: "
       << gib(table0_.stride * table0_.rows + table1_.stride * table1_.rows + pairs_ * 4) << " GB" << eol;
  log_ << "Total SNP pairs to calculate: " << pairs_ << eol;
  if (s_.distribution_on) {
    if (const cudaError_t e = histogram_.allocate(kHistogramBins * sizeof(unsigned long long))) {
      log_ << "Failed to allocate histogram memory: " << cudaGetErrorString(e) << eol;
      return false;
    }
    if (const cudaError_t e = missing_.allocate(sizeof(unsigned long long))) {
      log_ << "Failed to allocate missing count memory: " << cudaGetErrorString(e) << eol;
      return false;
    }
    const cudaError_t e1 = cudaMemset(histogram_.get(), 0, histogram_.size());
    const cudaError_t e2 = cudaMemset(missing_.get(), 0, missing_.size());
    if (e1 != cudaSuccess || e2 != cudaSuccess) {
      log_ << "Failed to clear the histogram: " << cudaGetErrorString(e1 != cudaSuccess ? e1 : e2) << eol;
      return false;
    }
  }
  std::size_t free_bytes = 0, total_bytes = 0;
  if (const cudaError_t e = cudaMemGetInfo(&free_bytes, &total_bytes)) {
    log_ << "Failed to get GPU memory info: " << cudaGetErrorString(e) << eol;
    return false;
  }
  const std::uint64_t bytes_per_item = s_.binary_mode() ? 4 : 16;
  batch_items_ = ld_batch_items(free_bytes, bytes_per_item, s_.binary_mode() ? 4 : 12,
                                static_cast<std::uint64_t>(s_.threads), memory_limit_bytes());
  log_ << "Max batch items: " << batch_items_ << " (" << gib(batch_items_ * bytes_per_item) << " GB)" << eol;
  if (const cudaError_t e = results_.allocate(batch_items_ * 4)) {
    log_ << "cudaMalloc device_results failed: " << cudaGetErrorString(e) << eol;
    return false;
  }
  if (s_.binary_mode()) return true;
  if (const cudaError_t e = records_.allocate(batch_items_ * sizeof(ResultRecord))) {
    log_ << "cudaMalloc d_filtered_records failed: " << cudaGetErrorString(e) << eol;
    return false;
  }
  if (const cudaError_t e = record_count_.allocate(sizeof(int))) {
    log_ << "cudaMalloc d_count failed: " << cudaGetErrorString(e) << eol;
    return false;
  }
  return true;
}

void LdRun::upload_totals() {
  for (auto [host, device] : {std::pair{&host_totals0_, &totals0_}, std::pair{&host_totals1_, &totals1_}}) {
    const std::size_t bytes = host->size() * sizeof(std::int32_t);
    if (bytes == 0 || device->allocate(bytes) != cudaSuccess ||
        cudaMemcpy(device->get(), host->data(), bytes, cudaMemcpyHostToDevice) != cudaSuccess) {
      // Where the batches took all the memory, the pairs are counted in full: the same values.
      totals0_.release();
      totals1_.release();
      return;
    }
  }
}

bool LdRun::prepare_outputs() {
  if (s_.binary_mode()) {
    if (!create_parts_directory(parts_, s_.parts_directory(), log_)) return false;
    log_ << "Creating output directory: " << s_.parts_directory() << eol;
    host_values_ = std::make_unique_for_overwrite<float[]>(batch_items_);
    return true;
  }
  const bool ids = s_.variant_ids;
  if (!text_.open(command_.text_header, ids ? &ids0_ : nullptr, ids ? &ids1_ : nullptr)) {
    log_ << "Error opening text output file!" << reason(errno) << eol;
    return false;
  }
  return true;
}

void LdRun::run_batches() {
  const auto threads = static_cast<std::uint64_t>(s_.threads);
  std::uint32_t batch = 0;
  // A text table without a distribution needs only the pairs at or above the cut-off.
  const float skip_below = !s_.binary_mode() && !s_.distribution_on ? s_.cutoff : 0.0f;
  const std::uint64_t end = first_pair_ + pairs_;
  const ProgressLine progress(pairs_);
  for (std::uint64_t offset = first_pair_; offset < end;) {
    const std::int64_t start = monotonic_ns();
    const LdBatch b = ld_batch(offset - first_pair_, pairs_, batch_items_, threads);
    Progress::global().launch(offset - first_pair_, b.count);
    const LdComputeArgs args{matrix0_.get(),
                             matrix1_.get(),
                             table0_.rows,
                             table1_.rows,
                             results_.get<float>(),
                             offset,
                             b.count,
                             histogram_.get<unsigned long long>(),
                             missing_.get<unsigned long long>(),
                             table0_.stride,
                             skip_below,
                             totals0_.get<const int>(),
                             totals1_.get<const int>(),
                             s_.estimate == LdEstimate::kMaximumLikelihood ? 1 : 0};
    cudaGetLastError();  // a launch reports its own errors, not a stale one
    command_.kernels.launch_compute(dim3(static_cast<unsigned>(b.blocks)), dim3(s_.threads), stream_.get(), args);
    if (const cudaError_t e = cudaGetLastError()) {
      log_ << "Kernel launch failed: " << cudaGetErrorString(e) << eol;
      note_problem("a kernel launch failed");
      break;
    }
    if (const cudaError_t e = cudaStreamSynchronize(stream_.get())) {
      log_ << "Kernel execution failed: " << cudaGetErrorString(e) << eol;
      note_problem("a kernel failed");
      break;
    }
    ++batch;
    log_ << "Batch " << batch << ": " << b.count << " pairs (" << elapsed_ms(start) << " ms)" << eol;
    if (s_.binary_mode()) {
      if (!write_batch_parts(offset, b.count)) break;
    } else if (!filter_batch(offset, b.count)) {
      break;
    }
    offset += b.count;
    log_ << "  Progress: " << std::fixed << std::setprecision(2)
         << static_cast<double>(offset - first_pair_) * 100.0 / static_cast<double>(pairs_) << "%" << eol;
  }
}

bool LdRun::filter_batch(std::uint64_t offset, std::uint64_t count) {
  const std::int64_t start = monotonic_ns();
  cudaError_t e = cudaMemsetAsync(record_count_.get(), 0, sizeof(int), stream_.get());
  if (e == cudaSuccess) {
    const LdFilterArgs args{
        results_.get<float>(),   offset, table1_.rows, s_.cutoff, count, records_.get<ResultRecord>(),
        record_count_.get<int>()};
    const auto blocks = std::min<std::uint64_t>(ceil_div(count, static_cast<std::uint64_t>(s_.threads)), kMaxGrid);
    cudaGetLastError();
    command_.kernels.launch_filter(dim3(static_cast<unsigned>(blocks)), dim3(s_.threads), stream_.get(), args);
    cudaStreamSynchronize(stream_.get());
    e = cudaGetLastError();
  }
  if (e != cudaSuccess) {
    log_ << "CUDA error during filtering: " << cudaGetErrorString(e) << eol;
    note_problem("filtering failed");
    return false;
  }
  int n = 0;
  e = cudaMemcpyAsync(&n, record_count_.get(), sizeof n, cudaMemcpyDeviceToHost, stream_.get());
  cudaStreamSynchronize(stream_.get());
  if (e != cudaSuccess || n < 0 || static_cast<std::uint64_t>(n) > count) {
    log_ << "CUDA memory copy failed: " << (e != cudaSuccess ? cudaGetErrorString(e) : "record count out of range")
         << eol;
    note_problem("filtered records could not be copied");
    return false;
  }
  total_records_ += static_cast<std::uint64_t>(n);
  log_ << "  Filtering: " << n << " records (" << elapsed_ms(start) << " ms)" << eol;

  const std::int64_t copy_start = monotonic_ns();
  std::vector<ResultRecord> records(static_cast<std::size_t>(n));
  if (n > 0) {
    e = cudaMemcpyAsync(records.data(), records_.get(), records.size() * sizeof(ResultRecord), cudaMemcpyDeviceToHost,
                        stream_.get());
    cudaStreamSynchronize(stream_.get());
    if (e != cudaSuccess) {
      log_ << "CUDA memory copy failed: " << cudaGetErrorString(e) << eol;
      note_problem("filtered records could not be copied");
      return false;
    }
  }
  log_ << "  Copy: " << elapsed_ms(copy_start) << " ms" << eol;
  text_.write_batch(records);
  return true;
}

bool LdRun::write_batch_parts(std::uint64_t offset, std::uint64_t count) {
  const std::int64_t start = monotonic_ns();
  const cudaError_t e =
      cudaMemcpyAsync(host_values_.get(), results_.get(), count * 4, cudaMemcpyDeviceToHost, stream_.get());
  cudaStreamSynchronize(stream_.get());
  if (e != cudaSuccess) {
    log_ << "CUDA memory copy failed: " << cudaGetErrorString(e) << eol;
    note_problem("LD values could not be copied");
    return false;
  }
  for (std::uint64_t done = 0; done < count;) {
    const std::uint64_t n = std::min(count - done, command_.pairs_per_part);
    const std::uint64_t number = part_number_++;
    if (write_part_file(part_file_path(parts_.temporary(), number), offset + done, host_values_.get() + done, n,
                        log_) != PartWrite::kWritten) {
      note_problem("part files are missing");
      break;  // the rest of this batch is lost; the next batch goes on
    }
    log_ << "  Created part: " << part_file_path(s_.parts_directory(), number) << " (" << n << " pairs)" << eol;
    done += n;
  }
  log_ << "  Copy & Encode: " << elapsed_ms(start) << " ms" << eol;
  return true;
}

bool LdRun::run() {
  std::size_t free_bytes = 0, total_bytes = 0;
  if (const cudaError_t e = cudaMemGetInfo(&free_bytes, &total_bytes)) {
    log_ << "Failed to get GPU memory info: " << cudaGetErrorString(e) << eol;
    return false;
  }
  log_ << "Total GPU memory: " << gib(total_bytes) << " GB" << eol;
  if (!load_inputs() || !plan_shard() || !allocate_buffers()) return false;
  upload_totals();
  if (!prepare_outputs()) return false;
  computation_start_ = monotonic_ns();
  run_batches();
  return true;
}

void LdRun::summarize() {
  log_ << "Computation time: " << static_cast<double>(elapsed_ms(computation_start_)) / 1000.0 << " seconds" << eol;
  if (!s_.binary_mode()) log_ << "Total filtered records: " << total_records_ << eol;
  if (s_.distribution_on) write_distribution();
  if (!s_.binary_mode()) return;
  if (s_.variant_ids && !(write_id_list(ids_files_[0], ids0_) && write_id_list(ids_files_[1], ids1_))) {
    log_ << "Error writing the variant ID lists: " << s_.ids_path(0) << ", " << s_.ids_path(1) << eol;
    note_problem("the variant ID lists were not written");
  }
  const std::string range =
      s_.shard.on() ? std::to_string(first_pair_) + " " + std::to_string(first_pair_ + pairs_) : "";
  if (write_ld_metadata(metadata_, table0_.rows, table1_.rows, s_.parts_directory(), run_id_, range, log_))
    log_ << "Metadata saved to: " << s_.metadata_path() << eol;
  else
    note_problem("the metadata file was not written");
}

void LdRun::write_distribution() {
  const std::int64_t start = monotonic_ns();
  std::array<std::uint64_t, kHistogramBins> bins{};
  std::uint64_t missing = 0;
  const cudaError_t e1 =
      cudaMemcpyAsync(bins.data(), histogram_.get(), sizeof bins, cudaMemcpyDeviceToHost, stream_.get());
  const cudaError_t e2 =
      cudaMemcpyAsync(&missing, missing_.get(), sizeof missing, cudaMemcpyDeviceToHost, stream_.get());
  cudaStreamSynchronize(stream_.get());
  if (e1 != cudaSuccess || e2 != cudaSuccess) {
    log_ << "CUDA memory copy failed: " << cudaGetErrorString(e1 != cudaSuccess ? e1 : e2) << eol;
    note_problem("the distribution could not be copied");
    return;
  }
  std::uint64_t counted = missing;
  for (std::uint64_t c : bins) counted += c;
  log_ << "Distribution stats: " << counted << " pairs ("
       << (pairs_ == 0 ? 0.0 : static_cast<double>(counted) * 100.0 / static_cast<double>(pairs_)) << "% of total)"
       << eol;
  if (!write_ld_distribution(distribution_, bins, missing, pairs_, log_))
    note_problem("the distribution file was not written");
  log_ << "Distribution saved to: " << s_.distribution << " (" << elapsed_ms(start) << " ms)" << eol;
}

void LdRun::finish() {
  results_.release();
  records_.release();
  record_count_.release();
  matrix0_.release();
  matrix1_.release();
  totals0_.release();
  totals1_.release();
  histogram_.release();
  missing_.release();
  if (text_.is_open() && !text_.file().close()) {
    log_ << "Error writing text output file: " << s_.output << eol;
    note_problem("the text output was not written completely");
  }
  // Outputs go into place only complete: the table of a run that lost pairs would look whole.
  if (!problems_.empty()) return;
  auto put_in_place = [&](bool done, const std::string& path) {
    if (done) return;
    log_ << "Error: could not put the output in place: " << path << reason(errno) << eol;
    note_problem("an output could not be put in place");
  };
  const CommitPhase all_together;
  if (s_.binary_mode()) {
    put_in_place(write_run_id(parts_.temporary(), run_id_) && parts_.commit(&is_parts_file), s_.parts_directory());
    for (int t = 0; t < 2 && problems_.empty(); ++t) {
      if (s_.variant_ids) {
        put_in_place(ids_files_[t].commit(), s_.ids_path(t));
      } else {  // an earlier run's ID lists would name these pairs' variants wrongly
        std::error_code ec;
        std::filesystem::remove(s_.ids_path(t), ec);
      }
    }
    if (problems_.empty()) put_in_place(metadata_.commit(), s_.metadata_path());
  } else {
    put_in_place(text_.file().commit(), s_.output);
  }
  if (s_.distribution_on && problems_.empty()) put_in_place(distribution_.commit(), s_.distribution);
  if (s_.shard.on() && problems_.empty()) write_manifest_of_shard();
}

std::vector<std::string> LdRun::input_files() const {
  std::vector<std::string> files = classify_genotype_path(s_.file0).files;
  for (const std::string& f : classify_genotype_path(s_.file1).files) files.push_back(f);
  return files;
}

// Written last: a shard with a manifest has every output in place.
void LdRun::write_manifest_of_shard() {
  ShardManifest m;
  m.family = ShardManifest::Family::kLd;
  m.command = command_.name;
  m.shard = s_.shard;
  m.settings = s_.shard_command_line;
  m.inputs = inputs_fingerprint(input_files());
  m.ids = s_.variant_ids;
  m.rows0 = static_cast<std::uint64_t>(table0_.rows);
  m.rows1 = static_cast<std::uint64_t>(table1_.rows);
  m.first = first_pair_;
  m.end = first_pair_ + pairs_;
  m.binary = s_.binary_mode();
  m.distribution = s_.distribution_on;
  if (!write_manifest(manifest_path(s_.output), m)) {
    log_ << "Error: could not write the shard's manifest: " << manifest_path(s_.output) << reason(errno) << eol;
    note_problem("the shard's manifest was not written");
  }
}

}  // namespace

int run_ld(const LdCommand& command, const LdSettings& settings) {
  OutputLock lock;
  if (!lock.acquire(ld_log_path(settings.output))) {
    std::cerr << "Error: Another run is writing " << settings.output << " (it holds " << ld_log_path(settings.output)
              << "); wait for it to end or choose another -o" << std::endl;
    return 1;
  }
  RunLog log(ld_log_path(settings.output));
  write_header(log, command, settings);
  remove_leftovers(log, settings.output, settings.distribution_on ? settings.distribution : "");
  RunProblems problems;
  {
    LdRun run(command, settings, log, problems);
    if (!run.run()) return 1;
    run.summarize();
    run.finish();
  }
  log << "Program finished successfully at: ";
  write_ld_timestamp(log);
  return problems.report(log);
}

}  // namespace varpair
