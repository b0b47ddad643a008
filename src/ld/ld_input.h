// LD input: a genotype source's rows packed into 2-bit codes (common/packed_genotypes.h) and copied
// onto the device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/genotype_source.h"
#include "common/packed_genotypes.h"
#include "device/holders.h"

namespace varpair {

struct LdTable {
  std::int32_t rows = 0;
  std::int32_t columns = 0;
  std::uint64_t stride = 0;
  std::uint64_t genotyped = 0;  // calls that are not missing
};

// Every row's totals (ld_math.h): the copies of allele A, and whether no genotype is missing; and
// through `genotyped` the calls that are not missing.
std::vector<std::int32_t> ld_row_totals(const PackedGenotypes& packed, std::uint64_t* genotyped = nullptr);

// Copies the packed rows to `device` chunk by chunk (1000 rows each, in order), on `stream` or, when
// it is null, synchronously. Throws DeviceError "CUDA memory copy failed: <runtime text>".
void transfer_ld_rows(const std::uint8_t* packed, std::int32_t rows, std::uint64_t stride, std::uint8_t* device,
                      cudaStream_t stream);

// Reads the selected samples of a source (one chromosome of it unless `chromosome` is empty),
// allocates `matrix` (rows x stride bytes) and transfers the rows; the rows' totals go to `totals`
// (kLdTotalsPerRow each, for the device once the run has planned its memory) and the variant IDs,
// if any, to
// `variant_ids`. Throws InputError for an unreadable or empty input and DeviceError ("Failed to
// allocate GPU memory: ", "CUDA memory copy failed: ") for device failures.
LdTable load_ld_source(GenotypeSource& source, const SampleSelection& selection, const std::string& chromosome,
                       device::DeviceBuffer& matrix, cudaStream_t stream, std::vector<std::int32_t>& totals,
                       std::vector<std::string>& variant_ids);

}  // namespace varpair
