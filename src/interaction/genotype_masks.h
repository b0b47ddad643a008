// Case and control tables as genotype bit masks: for every SNP and genotype (0, 1, 2) one bit per
// sample, 64 samples to a word, so that the kernels count genotype combinations with AND and
// popcount. Every model reads these three masks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/host_bytes.h"
#include "common/mapped_file.h"
#include "common/packed_genotypes.h"
#include "device/holders.h"
#include "interaction/pair_counts.h"

namespace varpair {

constexpr int kMaskKinds = 3;

// The host store of one table: each genotype one array of rows x words words, SNP-major, in the
// layout the device uses for a group, so that a group uploads as one slice per mask.
struct MaskStore {
  std::int32_t rows = 0;
  std::int32_t samples = 0;
  std::int32_t words = 0;                                  // (samples + 63) / 64
  std::array<HostArray<std::uint64_t>, kMaskKinds> masks;  // rows x words each
  HostArray<std::int32_t> totals;                          // rows x kTotalsPerRow (pair_counts.h)

  const std::uint64_t* mask(int genotype, std::int32_t row) const {
    return masks[genotype].get() + static_cast<std::size_t>(row) * static_cast<std::size_t>(words);
  }
};

inline std::int32_t mask_words(std::int32_t samples) { return (samples + 63) / 64; }

// The calls of a store that are not missing, from its rows' totals.
inline std::uint64_t genotyped_calls(const MaskStore& store) {
  std::uint64_t n = 0;
  for (std::int32_t r = 0; r < store.rows; ++r)
    for (int g = 0; g < 3; ++g) n += static_cast<std::uint64_t>(store.totals.get()[kTotalsPerRow * r + g]);
  return n;
}

// Parses a mapped table into masks on the worker pool (chunks of 1000 rows). Sample k of a line is
// bit k mod 64 of word k / 64; samples past a short line and missing genotypes set no bit.
MaskStore build_genotype_masks(const MappedFile& file);

// The same masks from packed rows (a fileset's or VCF's), 32 samples a step on the worker pool.
MaskStore build_genotype_masks(const PackedGenotypes& packed);

// How upload failures name the masks: "Failed to allocate GPU memory for <name>" and "CUDA memory
// copy for <name> failed", with ": <runtime text>" when with_error_text.
struct MaskNames {
  std::array<const char*, kMaskKinds> names;
  bool with_error_text;
};

// The device masks of one group of SNPs (first ... end - 1) for one sample set.
struct DeviceMasks {
  std::array<device::DeviceBuffer, kMaskKinds> kind;
  device::DeviceBuffer totals;
  const std::uint64_t* get(int k) const { return kind[k].get<std::uint64_t>(); }
  const std::int32_t* get_totals() const { return totals.get<std::int32_t>(); }
};

// Allocates and fills the group's device arrays, in genotype order, then the totals ("genotype
// totals" in failure messages). Throws DeviceError with the messages of MaskNames after freeing
// them all; with first >= end allocates nothing. The plan does not count the totals: 16 bytes a row
// and sample set beside at least 24 of masks, so at most two thirds more than the masks' tenth of
// the memory, within the fifth that the plan leaves unassigned (gpu_plan.cpp).
void upload_masks(const MaskStore& store, std::int32_t first, std::int32_t end, DeviceMasks& out,
                  const MaskNames& names);

}  // namespace varpair
