// Case and control tables as genotype bit masks: for every SNP and mask kind one bit per sample, 64
// samples to a word, so that the kernels count genotype combinations with AND and popcount.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/mapped_file.h"
#include "device/holders.h"

namespace varpair {

constexpr int kMaxMaskKinds = 4;

// Which masks a genotype sets: bit m of kinds_of_genotype[g] set means mask m gets the sample's bit
// for genotype g (0, 1, 2). A missing genotype sets no mask.
struct MaskScheme {
  int kinds;
  std::array<std::uint8_t, 3> kinds_of_genotype;
};

// mask0, mask1, mask2 for genotypes 0, 1, 2: the nine-genotype and MDR models.
constexpr MaskScheme kGenotypeMasks{3, {0b001, 0b010, 0b100}};

// The host store of one table: each kind one array of rows x words words, SNP-major, in the layout
// the device uses for a group, so that a group uploads as one slice per kind.
struct MaskStore {
  std::int32_t rows = 0;
  std::int32_t samples = 0;
  std::int32_t words = 0;  // (samples + 63) / 64
  int kinds = 0;
  std::array<std::vector<std::uint64_t>, kMaxMaskKinds> masks;

  const std::uint64_t* mask(int kind, std::int32_t row) const {
    return masks[kind].data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(words);
  }
};

inline std::int32_t mask_words(std::int32_t samples) { return (samples + 63) / 64; }

// Parses a mapped table into masks on the worker pool (chunks of 1000 rows). Sample k of a line is
// bit k mod 64 of word k / 64; samples past a short line and missing genotypes set no bit.
MaskStore build_masks(const MappedFile& file, const MaskScheme& scheme);

// How upload failures name the masks: "Failed to allocate GPU memory for <name>" and "CUDA memory
// copy for <name> failed", with ": <runtime text>" when with_error_text.
struct MaskNames {
  std::array<const char*, kMaxMaskKinds> names;
  bool with_error_text;
};

// The device masks of one group of SNPs (first ... end - 1) for one sample set.
struct DeviceMasks {
  std::array<device::DeviceBuffer, kMaxMaskKinds> kind;
  const std::uint64_t* get(int k) const { return kind[k].get<std::uint64_t>(); }
};

// Allocates and fills the group's device arrays, in kind order. Throws DeviceError with the messages
// of MaskNames after freeing them all; with first >= end allocates nothing.
void upload_masks(const MaskStore& store, std::int32_t first, std::int32_t end, DeviceMasks& out,
                  const MaskNames& names);

// mask0, mask1 and mask2 of every SNP.
MaskStore build_genotype_masks(const MappedFile& file);

// A group's mask0, mask1 and mask2 on the device; failures name the mask and the runtime's text.
void upload_genotype_masks(const MaskStore& store, std::int32_t first, std::int32_t end, DeviceMasks& out);

}  // namespace varpair
