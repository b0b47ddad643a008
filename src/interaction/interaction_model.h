// What an interaction model computes, as the shared driver sees it: how many records a pair can
// give and how large they are, its device constants and run data, its two kernels, and the table
// that keeps and prints its records. What a command prints around them is apart from this
// (interaction_command.h).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/runtime.h"
#include "interaction/record_table.h"
#include "interaction/sample_values.h"

namespace varpair {

struct MaskStore;

// The genotype masks (genotypes 0, 1, 2) of one group for cases and controls, and their SNPs'
// genotype totals (kTotalsPerRow a SNP), on the device.
struct GroupClassMasks {
  const std::uint64_t* cases[3];
  const std::uint64_t* controls[3];
  const std::int32_t* case_totals;
  const std::int32_t* control_totals;
};

// The argument block of every interaction kernel. Within a group only `a` is read; between groups
// `a` is the earlier group.
struct PassArgs {
  GroupClassMasks a;
  GroupClassMasks b;
  std::int32_t case_words;
  std::int32_t control_words;
  std::int32_t size_a;
  std::int32_t size_b;
  std::uint32_t* results;            // found records, one after another
  unsigned long long* valid_count;   // 32-bit words of `results` written
  std::uint64_t batch_start;
  std::uint64_t batch_count;
  std::int32_t start_a;
  std::int32_t start_b;
  float sample_ratio;                // controls / cases, for the models that weigh by it
  const double* model_data;          // the model's run data on the device, or null
  std::uint32_t* snp_counts;         // per SNP (by index), for the models that count, or null
  const std::uint8_t* model_bytes;   // the model's per-sample data on the device (its own layout), or null
  unsigned long long* model_counters;  // the model's counters (ModelRunData::counters), or null
};

// The four device constants, in the order they are set.
enum class ModelConstant { kControlColumns, kCaseColumns, kChiSquareThreshold, kOddsRatioThreshold };

// What the run data of a model may depend on.
struct RunShape {
  std::int32_t cases = 0;     // samples of the case set
  std::int32_t controls = 0;  // of the control set
  double alpha = 0;           // the p-value cut-off
  const SampleValues* values = nullptr;  // traits and covariates of the case set's samples, if any
  const MaskStore* masks = nullptr;       // the case set's genotype masks, on the host
};

// A model's data for one run: doubles for the device (PassArgs::model_data) and the lines that tell
// the run log about them.
struct ModelRunData {
  std::vector<double> device;
  std::vector<std::string> report;
  std::vector<std::uint8_t> bytes;  // for PassArgs::model_bytes
  std::size_t counters = 0;         // 64-bit counters the kernels add to, handed to the table at the end
  bool failed = false;              // the run cannot go on: `report` says why
};

struct InteractionModel {
  std::uint32_t records_per_pair;  // the most records one pair can produce
  std::uint32_t record_bytes;      // of one record the kernels append
  bool counts_per_snp;             // its kernels count into PassArgs::snp_counts
  // Sets one device constant from its 4 bytes.
  cudaError_t (*set_constant)(ModelConstant which, std::uint32_t bits);
  void (*launch_within)(dim3 grid, dim3 block, const PassArgs& args);
  void (*launch_between)(dim3 grid, dim3 block, const PassArgs& args);
  std::unique_ptr<RecordTable> (*make_table)(const TableSetup& setup);
  ModelRunData (*run_data)(const RunShape& shape);  // null: the model has none
  // What the table writes beside the result table, each named -o + suffix (".summary").
  std::span<const char* const> side_outputs;

  std::uint64_t bytes_per_item() const { return std::uint64_t{records_per_pair} * record_bytes; }
};

}  // namespace varpair
