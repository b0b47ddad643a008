// The shared driver of the interaction commands: read both tables into masks, plan groups, run the
// within-group and between-group passes batch by batch, and write the result table and the time
// statistics.
#include "interaction/interaction_run.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <vector>

#include "common/atomic_output.h"
#include "common/clock.h"
#include "common/errors.h"
#include "common/file_size.h"
#include "common/genotype_source.h"
#include "common/output_lock.h"
#include "common/progress.h"
#include "common/run_problems.h"
#include "common/shard.h"
#include "common/system_info.h"
#include "interaction/case_control_input.h"
#include "interaction/covariate_refit.h"
#include "interaction/genotype_masks.h"
#include "interaction/gpu_plan.h"
#include "interaction/qt_input.h"
#include "interaction/result_writer.h"

namespace varpair {

namespace {

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

struct Group {
  std::int32_t start, end, size;
};

// The masks of one group for both sample sets.
struct GroupMasks {
  DeviceMasks cases;
  DeviceMasks controls;
};

GroupClassMasks class_masks_of(const GroupMasks& g) {
  return GroupClassMasks{{g.cases.get(0), g.cases.get(1), g.cases.get(2)},
                         {g.controls.get(0), g.controls.get(1), g.controls.get(2)},
                         g.cases.get_totals(),
                         g.controls.get_totals()};
}

class InteractionRun {
 public:
  InteractionRun(const InteractionCommand& command, const InteractionModel& model, const InteractionSettings& settings,
                 RunLog& log, TimerRegistry& timers, RunProblems& problems)
      : command_(command),
        model_(model),
        s_(settings),
        log_(log),
        timers_(timers),
        problems_(problems),
        output_(settings.output),
        records_(records_path(settings.output)),
        id_list_(interaction_ids_path(settings.output)) {
    for (const char* suffix : model.side_outputs)
      side_.push_back(std::make_unique<AtomicFile>(side_output_path(settings.output, suffix)));
  }

  // Set-up and both passes; false when the set-up failed (exit status 1).
  bool run();
  // Flushes the table, frees the device and closes the output.
  void finish();
  std::uint64_t valid_results() const { return valid_results_; }

 private:
  bool read_tables();
  bool prepare_refit();
  bool set_constants();
  bool prepare_model_data();
  bool plan_and_allocate();
  bool open_outputs();
  void end_table();
  void add_groups(std::int32_t first, std::int32_t end, std::int32_t size);
  bool plan_shard(std::int32_t size);
  void write_manifest_of_shard();
  std::vector<std::string> input_files() const;
  void within_group_pass();
  void between_group_pass();
  void run_batches(const PassArgs& base, std::uint64_t pairs, bool between, std::int32_t g1, std::int32_t g2);
  bool run_one_batch(PassArgs& launch, bool between, std::uint64_t& records);
  void report_inputs();
  void upload_group(const Group& g, GroupMasks& masks);
  void table_failed(const std::runtime_error& e);
  void fail(const std::string& line, const std::string& problem) {
    log_ << line << eol;
    problems_.add(problem);
  }

  const InteractionCommand& command_;
  const InteractionModel& model_;
  const InteractionSettings& s_;
  RunLog& log_;
  TimerRegistry& timers_;
  RunProblems& problems_;

  CaseControlInput input_;
  SampleValues values_;  // a quantitative run's traits and covariates
  MaskStore& cases_ = input_.cases;
  MaskStore& controls_ = input_.controls;
  std::vector<std::string>& ids_ = input_.ids;  // variant IDs when an input has them
  float chi_threshold_ = 0;
  std::uint64_t max_batch_items_ = 0;
  std::vector<Group> groups_;
  std::size_t own_groups_ = 0;  // groups whose SNPs are SNP0 of this run's pairs (all but a shard's later ones)
  std::int32_t shard_first_ = 0, shard_end_ = 0;  // a shard's SNP0 rows
  AtomicFile output_;
  AtomicFile records_;  // a shard's records and variant IDs, for the merge
  AtomicFile id_list_;
  std::vector<std::unique_ptr<AtomicFile>> side_;  // the model's side outputs
  std::unique_ptr<CovariateRefit> refit_;  // with -covar
  std::unique_ptr<RecordTable> table_;
  ModelRunData model_data_;
  device::DeviceBuffer results_, valid_count_, device_model_data_, snp_counts_, model_bytes_, model_counters_;
  std::vector<std::uint32_t> host_words_;
  std::uint64_t valid_results_ = 0;
  std::uint64_t pairs_done_ = 0;  // for the progress line
  bool table_unwritable_ = false;
};

bool InteractionRun::read_tables() {
  if (command_.quantitative ? !read_qt_input(s_, log_, timers_, input_, values_)
                            : !read_case_control(command_, s_, log_, timers_, input_))
    return false;
  report_inputs();
  const auto rows = static_cast<std::uint64_t>(cases_.rows);
  log_ << "Total SNP pairs: " << rows * (rows - 1) / 2 << eol;
  return true;
}

// With -covar: the covariates of the samples used, less those constant over them, and the
// covariates-only fit every refit starts from.
bool InteractionRun::prepare_refit() {
  if (!s_.adjusted() || command_.quantitative) return true;  // a quantitative run fits its covariates itself
  std::vector<std::string> dropped;
  RunCovariates prepared;
  try {
    prepared = prepare_covariates(covariates_of(input_.covariate_names, input_.case_covariates, cases_.samples,
                                                input_.control_covariates, controls_.samples),
                                  dropped);
  } catch (const std::exception& e) {
    log_ << "Error: " << s_.covariate_path << ": " << e.what() << eol;
    return false;
  }
  for (const std::string& name : dropped)
    log_ << "Covariate " << name << " is constant over the samples used: left out of the refit" << eol;
  if (prepared.names.empty())
    log_ << "Warning: every covariate is constant over the samples used: the refit adjusts for none" << eol;
  refit_ = std::make_unique<CovariateRefit>(cases_, controls_, std::move(prepared));
  return true;
}

std::uint32_t bits_of(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

bool InteractionRun::set_constants() {
  const struct {
    ModelConstant which;
    std::uint32_t bits;
    const char* error;
  } constants[] = {
      {ModelConstant::kControlColumns, static_cast<std::uint32_t>(controls_.samples),
       "Error: Failed to set constant memory for control columns"},
      {ModelConstant::kCaseColumns, static_cast<std::uint32_t>(cases_.samples),
       "Error: Failed to set constant memory for case columns"},
      {ModelConstant::kChiSquareThreshold, bits_of(chi_threshold_),
       "Error: Failed to set constant memory for chi-square threshold"},
      {ModelConstant::kOddsRatioThreshold, bits_of(s_.or_threshold),
       "Error: Failed to set constant memory for OR threshold"},
  };
  for (const auto& c : constants) {
    if (model_.set_constant(c.which, c.bits) != cudaSuccess) {
      log_ << c.error << eol;
      return false;
    }
  }
  return true;
}

bool InteractionRun::plan_and_allocate() {
  std::size_t free_bytes = 0, total_bytes = 0;
  cudaMemGetInfo(&free_bytes, &total_bytes);
  log_ << "Total GPU memory: " << static_cast<double>(total_bytes) / kGiB << " GB" << eol;
  log_ << "Available GPU memory: " << static_cast<double>(free_bytes) / kGiB << " GB" << eol;
  const PlanConstants plan{model_.bytes_per_item(), kMaskKinds, command_.group_floor_only_above_100_rows};
  const std::int32_t size =
      plan_groups(cases_.rows, cases_.words, controls_.words, total_bytes, max_batch_items_, &log_, plan);
  if (size < 1) {
    log_ << "ERROR: Failed to calculate group size due to memory constraints" << eol;
    return false;
  }
  if (!s_.shard.on()) {
    const std::int32_t count = (cases_.rows - 1 + size) / size;
    log_ << "Number of groups: " << count << eol;
    add_groups(0, cases_.rows, size);
    own_groups_ = groups_.size();
  } else if (!plan_shard(size)) {
    return false;
  }

  if (!open_outputs()) return false;
  const std::uint64_t bytes_per_item = model_.bytes_per_item();
  // The host copy of one batch's records stays within a quarter of the memory the process may use.
  max_batch_items_ = std::min(max_batch_items_, memory_limit_bytes() / 4 / bytes_per_item);
  log_ << "Allocating " << static_cast<double>(max_batch_items_ * bytes_per_item) / kGiB << " GB for results buffer"
       << eol;
  if (results_.allocate(max_batch_items_ * bytes_per_item) != cudaSuccess) {
    log_ << "Error: Failed to allocate GPU memory for results" << eol;
    return false;
  }
  if (valid_count_.allocate(sizeof(unsigned long long)) != cudaSuccess) {
    log_ << "Error: Failed to allocate GPU memory for valid count" << eol;
    return false;
  }
  return true;
}

// A model's run data (tables, thresholds) and per-SNP counts, on the device; a few bytes a sample
// and a SNP beside the plan's fifth of the memory it leaves unassigned (gpu_plan.cpp).
bool InteractionRun::prepare_model_data() {
  if (model_.run_data != nullptr) {
    model_data_ = model_.run_data(RunShape{cases_.samples, controls_.samples, s_.alpha, &values_, &cases_});
    for (const std::string& line : model_data_.report) log_ << line << eol;
    if (model_data_.failed) return false;
    const std::size_t bytes = model_data_.device.size() * sizeof(double);
    if (device_model_data_.allocate(bytes) != cudaSuccess ||
        cudaMemcpy(device_model_data_.get(), model_data_.device.data(), bytes, cudaMemcpyHostToDevice) != cudaSuccess) {
      log_ << "Error: Failed to allocate GPU memory for the model's tables" << eol;
      return false;
    }
    const std::size_t counters = model_data_.counters * sizeof(unsigned long long);
    if ((!model_data_.bytes.empty() &&
         (model_bytes_.allocate(model_data_.bytes.size()) != cudaSuccess ||
          cudaMemcpy(model_bytes_.get(), model_data_.bytes.data(), model_data_.bytes.size(), cudaMemcpyHostToDevice) !=
              cudaSuccess)) ||
        (counters > 0 && (model_counters_.allocate(counters) != cudaSuccess ||
                          cudaMemset(model_counters_.get(), 0, counters) != cudaSuccess))) {
      log_ << "Error: Failed to allocate GPU memory for the model's per-sample data" << eol;
      return false;
    }
  }
  if (model_.counts_per_snp) {
    const std::size_t bytes = static_cast<std::size_t>(cases_.rows) * sizeof(std::uint32_t);
    if (snp_counts_.allocate(bytes) != cudaSuccess || cudaMemset(snp_counts_.get(), 0, bytes) != cudaSuccess) {
      log_ << "Error: Failed to allocate GPU memory for the per-SNP counts" << eol;
      return false;
    }
  }
  return true;
}

// The result table with its header, the model's side outputs and a shard's records.
bool InteractionRun::open_outputs() {
  if (!output_.open()) {
    log_ << "Error: Cannot create output file!" << reason(errno) << eol;
    return false;
  }
  TableSetup setup{&output_.stream(), s_.output, command_.header, ids_.empty() ? nullptr : &ids_,
                   table_run_length(), s_.alpha, cases_.rows, {}};
  setup.adjusted = s_.adjusted() && !command_.quantitative;
  setup.refit = refit_.get();
  setup.labels = values_.trait_names;
  for (auto& file : side_) {
    if (!file->open()) {
      log_ << "Error: Cannot create output file!" << reason(errno) << " (" << file->path() << ")" << eol;
      return false;
    }
    setup.side.push_back(&file->stream());
  }
  table_ = model_.make_table(setup);
  table_->begin();
  if (s_.shard.on()) {
    if (!records_.open()) {
      log_ << "Error: Cannot create output file!" << reason(errno) << eol;
      return false;
    }
    table_->copy_records_to(&records_.stream());
  }
  return true;
}

std::vector<std::string> InteractionRun::input_files() const {
  std::vector<std::string> files = classify_genotype_path(s_.case_path).files;
  if (!s_.split_by_phenotype())
    for (const std::string& f : classify_genotype_path(s_.control_path).files) files.push_back(f);
  if (!s_.phenotype_path.empty()) files.push_back(s_.phenotype_path);
  if (s_.adjusted()) files.push_back(s_.covariate_path);
  return files;
}

// A shard's records and IDs for the merge, then its manifest, written last.
void InteractionRun::write_manifest_of_shard() {
  bool written = records_.commit();
  if (written && !ids_.empty()) {
    written = id_list_.open();
    std::string text;
    for (const std::string& id : ids_) text += id + "\n";
    if (written) id_list_.stream() << text;
    written = written && id_list_.commit();
  }
  ShardManifest m;
  m.command = command_.name;
  m.shard = s_.shard;
  m.settings = s_.shard_command_line;
  m.inputs = inputs_fingerprint(input_files());
  m.ids = !ids_.empty();
  m.rows0 = static_cast<std::uint64_t>(cases_.rows);
  m.first = static_cast<std::uint64_t>(shard_first_);
  m.end = static_cast<std::uint64_t>(shard_end_);
  m.records = valid_results_;
  m.adjusted = s_.adjusted() && !command_.quantitative;
  m.labels = values_.trait_names;
  if (!written || !write_manifest(manifest_path(s_.output), m)) {
    log_ << "Error: could not write the shard's manifest: " << manifest_path(s_.output) << reason(errno) << eol;
    problems_.add("the shard's manifest was not written");
  }
}

void InteractionRun::add_groups(std::int32_t first, std::int32_t end, std::int32_t size) {
  for (std::int32_t start = first; start < end; start += size) {
    const std::int32_t stop = std::min(start + size, end);
    groups_.push_back(Group{start, stop, stop - start});
  }
}

// A shard takes the pairs whose SNP0 lies in its rows: within and among its own groups, and between
// them and the groups of the later SNPs, which are never SNP0 here.
bool InteractionRun::plan_shard(std::int32_t size) {
  if (s_.shard.n > cases_.rows - 1) {
    log_ << "Error: -parallel " << s_.shard.k << " " << s_.shard.n << ": " << cases_.rows << " SNPs give "
         << cases_.rows - 1 << " rows of pairs, fewer than the " << s_.shard.n << " shards to split them into" << eol;
    return false;
  }
  const auto [first, end] = triangle_shard_rows(cases_.rows, s_.shard);
  shard_first_ = first;
  shard_end_ = end;
  add_groups(first, end, size);
  own_groups_ = groups_.size();
  add_groups(end, cases_.rows, size);
  log_ << "Number of groups: " << groups_.size() << eol;
  log_ << "Shard " << s_.shard.k << " of " << s_.shard.n << ": SNP0 " << first << " to " << end - 1 << ", "
       << triangle_pairs(cases_.rows, first, end) << " pairs" << eol;
  return true;
}

bool InteractionRun::run() {
  const double threshold = chi_square_threshold(s_.alpha);
  chi_threshold_ = static_cast<float>(threshold);
  log_ << "Alpha cutoff for p-value: " << s_.alpha << eol;
  if (model_.run_data == nullptr) {  // a model with run data reports its thresholds itself
    log_ << "Chi-square threshold: " << chi_threshold_ << eol;
    log_ << "OR threshold: " << s_.or_threshold << eol;
  }
  log_ << "Threads per block: " << s_.threads << eol;
  const auto size_of = [](const std::string& path) { return file_size_text(classify_genotype_path(path).files[0]); };
  log_ << (command_.quantitative ? "Genotype file (file0): " : "Case file (file0): ") << s_.case_path << " ("
       << size_of(s_.case_path) << ")" << eol;
  if (!command_.quantitative && s_.split_by_phenotype())
    log_ << "Control file (file1): " << s_.case_path << " (its controls, by phenotype)" << eol;
  else if (!command_.quantitative)
    log_ << "Control file (file1): " << s_.control_path << " (" << size_of(s_.control_path) << ")" << eol;
  if (!read_tables() || !prepare_refit() || !set_constants() || !plan_and_allocate() || !prepare_model_data())
    return false;
  timers_.start("computation");
  const auto rows = cases_.rows;
  const ProgressLine progress(s_.shard.on()
                                  ? triangle_pairs(rows, shard_first_, shard_end_)
                                  : static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(rows - 1) / 2);
  within_group_pass();
  between_group_pass();
  return true;
}

void InteractionRun::upload_group(const Group& g, GroupMasks& masks) {
  const MaskNames names{command_.mask_names, command_.mask_errors_with_runtime_text};
  upload_masks(cases_, g.start, g.end, masks.cases, names);
  upload_masks(controls_, g.start, g.end, masks.controls, names);
}

void InteractionRun::report_inputs() {
  if (command_.quantitative) {
    log_ << "Sample mask words: " << cases_.words << eol;
    return;
  }
  if (command_.input_report == InputReport::kSampleRatio) {
    log_ << "Control / Case sample ratio fold = "
         << static_cast<float>(controls_.samples) / static_cast<float>(cases_.samples) << eol;
    return;
  }
  log_ << "Case mask words: " << cases_.words << eol;
  log_ << "Control mask words: " << controls_.words << eol;
}

void InteractionRun::within_group_pass() {
  log_ << "Starting within-group calculations..." << eol;
  for (std::size_t g = 0; g < own_groups_; ++g) {
    const Group& group = groups_[g];
    log_ << "Processing within-group " << g << " (" << group.size << " SNPs)..." << eol;
    GroupMasks masks;
    try {
      upload_group(group, masks);
    } catch (const std::exception& e) {
      fail("Error processing group " + std::to_string(g) + ": " + e.what(), "a group could not be processed");
      continue;
    }
    const auto n = static_cast<std::uint64_t>(group.size);
    const std::uint64_t pairs = n * (n - 1) / 2;
    PassArgs base{};
    base.a = class_masks_of(masks);
    base.size_a = group.size;
    base.start_a = group.start;
    run_batches(base, pairs, false, static_cast<std::int32_t>(g), 0);
    log_ << "Within-group " << g << " completed: " << pairs << " pairs processed" << eol;
  }
}

void InteractionRun::between_group_pass() {
  log_ << "Starting between-group calculations..." << eol;
  for (std::size_t g1 = 0; g1 < own_groups_; ++g1) {
    for (std::size_t g2 = g1 + 1; g2 < groups_.size(); ++g2) {
      const Group& a = groups_[g1];
      const Group& b = groups_[g2];
      log_ << "Processing between groups " << g1 << " and " << g2 << " (" << a.size << " x " << b.size << " pairs)..."
           << eol;
      GroupMasks masks_a, masks_b;
      try {
        upload_group(a, masks_a);
        upload_group(b, masks_b);
      } catch (const std::exception& e) {
        fail("Error processing groups " + std::to_string(g1) + " and " + std::to_string(g2) + ": " + e.what(),
             "a pair of groups could not be processed");
        continue;
      }
      const std::uint64_t pairs = static_cast<std::uint64_t>(a.size) * static_cast<std::uint64_t>(b.size);
      PassArgs base{};
      base.a = class_masks_of(masks_a);
      base.b = class_masks_of(masks_b);
      base.size_a = a.size;
      base.size_b = b.size;
      base.start_a = a.start;
      base.start_b = b.start;
      run_batches(base, pairs, true, static_cast<std::int32_t>(g1), static_cast<std::int32_t>(g2));
      log_ << command_.between_done[0] << g1 << command_.between_done[1] << g2 << command_.between_done[2] << pairs
           << " pairs processed" << eol;
    }
  }
}

void InteractionRun::run_batches(const PassArgs& base, std::uint64_t pairs, bool between, std::int32_t g1,
                                 std::int32_t g2) {
  PassArgs launch = base;
  launch.case_words = cases_.words;
  launch.control_words = controls_.words;
  launch.results = results_.get<std::uint32_t>();
  launch.valid_count = valid_count_.get<unsigned long long>();
  launch.model_data = device_model_data_.get<double>();
  launch.model_bytes = model_bytes_.get<std::uint8_t>();
  launch.model_counters = model_counters_.get<unsigned long long>();
  launch.snp_counts = snp_counts_.get<std::uint32_t>();
  launch.sample_ratio = static_cast<float>(controls_.samples) / static_cast<float>(cases_.samples);
  std::uint32_t batch = 0;
  for (std::uint64_t start = 0; start < pairs && !table_unwritable_;) {
    launch.batch_start = start;
    launch.batch_count = std::min(max_batch_items_, pairs - start);
    std::uint64_t records = 0;
    Progress::global().launch(pairs_done_, launch.batch_count);
    const bool ran = run_one_batch(launch, between, records);
    pairs_done_ += launch.batch_count;
    if (!ran) break;
    start += launch.batch_count;
    ++batch;
    if (batch % 100 != 0) continue;
    const double pct = static_cast<double>(start) * 100.0 / static_cast<double>(pairs);
    if (between)
      log_ << "Groups " << g1 << "-" << g2 << " batch " << batch << ": " << pct << "% completed, " << records
           << " valid results" << eol;
    else
      log_ << "  Batch " << batch << ": " << std::fixed << std::setprecision(2) << pct << "% complete, " << records
           << " valid results" << eol;
  }
}

// One launch and its records; false (after its line) when a device step failed.
bool InteractionRun::run_one_batch(PassArgs& launch, bool between, std::uint64_t& records) {
  const auto threads = static_cast<std::uint64_t>(s_.threads);
  std::uint64_t blocks = ((launch.batch_count + 3) / 4 + threads - 1) / threads;
  if (blocks > kMaxGrid) {
    blocks = kMaxGrid;
    launch.batch_count = kMaxGrid * threads * 4;
  }
  const char* problem = "some pairs were not analysed";
  if (cudaMemset(launch.valid_count, 0, sizeof(unsigned long long)) != cudaSuccess) {
    fail("ERROR: cudaMemset failed", problem);
    return false;
  }
  cudaGetLastError();  // a launch reports its own errors, not a stale one
  (between ? model_.launch_between : model_.launch_within)(dim3(static_cast<unsigned>(blocks)), dim3(s_.threads),
                                                           launch);
  if (const cudaError_t e = cudaGetLastError()) {
    fail(std::string(between ? "ERROR: Between-group kernel launch failed: " : command_.within_launch_failed) +
             cudaGetErrorString(e),
         problem);
    return false;
  }
  if (cudaDeviceSynchronize() != cudaSuccess) {
    fail(between ? "ERROR: Between-group kernel execution failed" : "ERROR: Within-group kernel execution failed",
         problem);
    return false;
  }
  unsigned long long words = 0;
  const std::uint64_t record_words = model_.record_bytes / 4;
  if (cudaMemcpy(&words, launch.valid_count, sizeof words, cudaMemcpyDeviceToHost) != cudaSuccess ||
      words % record_words != 0 || words / record_words > launch.batch_count * model_.records_per_pair) {
    fail("ERROR: cudaMemcpy valid_count failed", problem);
    return false;
  }
  records = words / record_words;
  if (records == 0) return true;
  host_words_.resize(words);
  if (cudaMemcpy(host_words_.data(), launch.results, words * 4, cudaMemcpyDeviceToHost) != cudaSuccess) {
    fail("ERROR: cudaMemcpy results failed", problem);
    return false;
  }
  try {
    table_->add_found(host_words_.data(), records);
  } catch (const std::runtime_error& e) {
    table_failed(e);
    return false;
  }
  return true;
}

// A table that cannot spill its sorted runs cannot be written: the run stops, and its earlier
// output stays where it is.
void InteractionRun::table_failed(const std::runtime_error& e) {
  table_unwritable_ = true;
  fail(std::string("Error: ") + e.what(), "the table could not be written");
}

// The table's last lines and its side outputs, from the model's per-SNP counts.
void InteractionRun::end_table() {
  if (table_unwritable_) return;
  if (model_data_.counters > 0 && problems_.empty()) {
    std::vector<std::uint64_t> counters(model_data_.counters);
    if (cudaMemcpy(counters.data(), model_counters_.get(), counters.size() * sizeof(std::uint64_t),
                   cudaMemcpyDeviceToHost) != cudaSuccess) {
      fail("ERROR: cudaMemcpy of the model's counters failed", "the model's counters were not read");
      return;
    }
    table_->note_counters(counters);
  }
  try {
    table_->flush();
  } catch (const std::runtime_error& e) {
    table_failed(e);
    return;
  }
  std::vector<std::uint32_t> counts;
  if (model_.counts_per_snp && problems_.empty()) {
    counts.resize(static_cast<std::size_t>(cases_.rows));
    if (cudaMemcpy(counts.data(), snp_counts_.get(), counts.size() * sizeof(std::uint32_t), cudaMemcpyDeviceToHost) !=
        cudaSuccess) {
      fail("ERROR: cudaMemcpy of the per-SNP counts failed", "the per-SNP counts were not read");
      return;
    }
  }
  const PairShare share{cases_.rows, s_.shard.on() ? shard_first_ : 0, s_.shard.on() ? shard_end_ : cases_.rows - 1};
  if (problems_.empty() && !table_->end_run(share, counts, log_)) problems_.add("a side output was not written");
}

void InteractionRun::finish() {
  timers_.stop("computation");
  timers_.stop("total");
  if (table_) {
    end_table();
    valid_results_ = table_->kept();
  }
  results_.release();
  valid_count_.release();
  device_model_data_.release();
  snp_counts_.release();
  model_bytes_.release();
  model_counters_.release();
  if (!output_.close()) {
    log_ << "Error writing output file: " << s_.output << eol;
    problems_.add("the output file was not written completely");
  }
  for (auto& file : side_)
    if (!file->close()) {
      log_ << "Error writing output file: " << file->path() << eol;
      problems_.add("the output file was not written completely");
    }
  // The table goes into place only complete: one that lost pairs would look whole.
  const CommitPhase all_together;
  if (problems_.empty() && !output_.commit()) {
    log_ << "Error: could not put the output in place: " << s_.output << reason(errno) << eol;
    problems_.add("the output file could not be put in place");
  }
  for (auto& file : side_)
    if (problems_.empty() && !file->commit()) {
      log_ << "Error: could not put the output in place: " << file->path() << reason(errno) << eol;
      problems_.add("the output file could not be put in place");
    }
  if (s_.shard.on() && problems_.empty()) write_manifest_of_shard();
  cudaDeviceReset();
}

void write_header(RunLog& log, const InteractionCommand& command, const std::string& command_line) {
  log << "varpair version: 2.0" << eol;
  log << "Device backend: " << device::backend_description() << eol;
  log << "Command: " << command.name << eol;
  log << "Command line: " << command.name << command_line << eol;
  log << "Program started at: " << ctime_text(std::time(nullptr));
  log << "----------------------------------------" << eol;
}

}  // namespace

int run_interaction(const InteractionCommand& command, const InteractionModel& model,
                    const InteractionSettings& settings) {
  TimerRegistry timers;
  timers.start("total");
  OutputLock lock;
  if (!lock.acquire(settings.log_path)) {
    std::cerr << "Error: Another run is writing " << settings.output << " (it holds " << settings.log_path
              << "); wait for it to end or choose another -o" << std::endl;
    return 1;
  }
  RunLog log(settings.log_path);
  write_header(log, command, settings.command_line);
  remove_leftovers(log, settings.output);
  const GpuSelection gpu = select_gpu(settings.device_index, log, command.report_device);
  if (gpu != GpuSelection::kSelected) return 1;

  RunProblems problems;
  std::uint64_t valid_results = 0;
  {
    InteractionRun run(command, model, settings, log, timers, problems);
    if (!run.run()) return 1;
    run.finish();
    valid_results = run.valid_results();
  }
  log << "----------------------------------------" << eol;
  log << "=== Time Statistics ===" << eol;
  log << "Total time: " << std::fixed << std::setprecision(3) << timers.seconds("total") << " seconds" << eol;
  log << "File reading: " << timers.seconds("file_reading") << " seconds" << eol;
  log << "Computation: " << timers.seconds("computation") << " seconds" << eol;
  log << "Total valid results: " << valid_results << eol;
  log << "Program finished at: " << ctime_text(std::time(nullptr));
  log << "=== Analysis Completed ===" << eol;
  std::cout << command.success_line << "\n";
  std::cout << "Output file: " << settings.output << "\n";
  std::cout << "Log file: " << log.path() << std::endl;
  return problems.report(log);
}

}  // namespace varpair
