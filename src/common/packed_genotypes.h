// Genotypes packed two bits a sample, four samples to a byte, first sample in the lowest bits: code
// 0, 1, 2 for the copies of the counted allele and 3 for a missing genotype; bits past the last
// sample are 0. One row of stride = ceil(samples / 4) bytes a variant. Every reader produces this
// layout (the LD commands' device matrix), and the interaction masks are built from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/host_bytes.h"
#include "common/table_scan.h"

namespace varpair {

inline std::uint64_t packed_stride(std::int32_t samples) { return (static_cast<std::uint64_t>(samples) + 3) / 4; }

struct PackedGenotypes {
  std::int32_t rows = 0;
  std::int32_t samples = 0;
  std::uint64_t stride = 0;
  HostBytes data;                        // rows x stride bytes
  std::vector<std::string> variant_ids;  // empty when the source has none

  std::uint8_t* row(std::int32_t r) { return data.get() + static_cast<std::uint64_t>(r) * stride; }
  const std::uint8_t* row(std::int32_t r) const { return data.get() + static_cast<std::uint64_t>(r) * stride; }
};

// Packs every row of a scanned text table: codes 0, 1, 2 for the genotypes and 3 for a missing token
// or a sample beyond the end of a short line. Chunks of 1000 rows run on the worker pool.
HostBytes pack_text_rows(const char* text, std::uint64_t size, const TableShape& shape, std::uint64_t stride);

// The samples a reader keeps, in the order it keeps them: all (the default), or the listed ones.
struct SampleSelection {
  bool all = true;
  std::vector<std::int32_t> samples;
  std::int32_t run_first = -1;  // the first sample when the listed ones are one contiguous run

  std::int32_t count(std::int32_t total) const { return all ? total : static_cast<std::int32_t>(samples.size()); }
};

// A selection of the listed samples, in that order.
SampleSelection select_listed(std::vector<std::int32_t> samples);

// Copies the selected samples of one source row, already in our two-bit codes (`source`, `total`
// samples), into `out` (stride bytes, padding cleared). A selection that is one contiguous run is
// copied word by word; others sample by sample.
void select_samples(const std::uint8_t* source, std::int32_t total, const SampleSelection& selection,
                    std::uint8_t* out);

}  // namespace varpair
