// LD input: a genotype table packed into 2-bit codes, four samples to a byte, one row of
// stride = (samples + 3) / 4 bytes per SNP, and copied onto the device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/mapped_file.h"
#include "common/table_scan.h"
#include "device/holders.h"

namespace varpair {

struct LdTable {
  std::int32_t rows = 0;
  std::int32_t columns = 0;
  std::uint64_t stride = 0;
};

inline std::uint64_t ld_stride(std::int32_t columns) { return (static_cast<std::uint64_t>(columns) + 3) / 4; }

// Packs every row of a scanned table: sample c of row r in byte r * stride + c / 4, bits 2(c mod 4)
// and up; codes 0, 1, 2 for the genotypes and 3 for a missing token or a sample beyond the end of a
// short line; padding bits past the last sample 0. Chunks of 1000 rows run on the worker pool.
std::unique_ptr<std::uint8_t[]> pack_ld_rows(const char* text, std::uint64_t size, const TableShape& shape,
                                             std::uint64_t stride);

// Copies the packed rows to `device` chunk by chunk (1000 rows each, in order), on `stream` or, when
// it is null, synchronously. Throws DeviceError "CUDA memory copy failed: <runtime text>".
void transfer_ld_rows(const std::uint8_t* packed, std::int32_t rows, std::uint64_t stride, std::uint8_t* device,
                      cudaStream_t stream);

// Scans, checks, allocates `matrix` (rows x stride bytes), packs and transfers one table. Throws
// InputError for an unreadable or empty table and DeviceError ("Failed to allocate GPU memory: ",
// "CUDA memory copy failed: ") for device failures.
LdTable read_ld_table(const MappedFile& file, const std::string& path, device::DeviceBuffer& matrix,
                      cudaStream_t stream);

}  // namespace varpair
