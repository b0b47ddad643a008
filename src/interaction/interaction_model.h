// What an interaction model computes, as the shared driver sees it: how many records a pair can
// give, the labels of its records, its device constants and its two kernels. What a command prints
// is apart from this (interaction_command.h).
#pragma once

#include <cstdint>

#include "device/runtime.h"
#include "interaction/interaction_record.h"
#include "interaction/result_writer.h"

namespace varpair {

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
  InteractionRecord* results;
  unsigned long long* valid_count;  // 32-bit words written, 11 a record
  std::uint64_t batch_start;
  std::uint64_t batch_count;
  std::int32_t start_a;
  std::int32_t start_b;
  float sample_ratio;  // controls / cases, for the models that weigh by it
};

// The four device constants, in the order they are set.
enum class ModelConstant { kControlColumns, kCaseColumns, kChiSquareThreshold, kOddsRatioThreshold };

struct InteractionModel {
  std::uint32_t records_per_pair;  // the most records one pair can produce
  LabelTexts labels;
  // Sets one device constant from its 4 bytes.
  cudaError_t (*set_constant)(ModelConstant which, std::uint32_t bits);
  void (*launch_within)(dim3 grid, dim3 block, const PassArgs& args);
  void (*launch_between)(dim3 grid, dim3 block, const PassArgs& args);

  std::uint64_t bytes_per_item() const { return records_per_pair * sizeof(InteractionRecord); }
};

}  // namespace varpair
