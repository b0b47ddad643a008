#include "ld/ld_input.h"

#include "device/check.h"
#include "ld/ld_math.h"

namespace varpair {

void transfer_ld_rows(const std::uint8_t* packed, std::int32_t rows, std::uint64_t stride, std::uint8_t* device,
                      cudaStream_t stream) {
  for (std::int32_t first = 0; first < rows; first += kRowsPerChunk) {
    const std::int32_t count = rows - first < kRowsPerChunk ? rows - first : kRowsPerChunk;
    const std::uint64_t offset = static_cast<std::uint64_t>(first) * stride;
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * stride;
    if (bytes == 0) continue;
    const cudaError_t e = stream != nullptr
                              ? cudaMemcpyAsync(device + offset, packed + offset, bytes, cudaMemcpyHostToDevice, stream)
                              : cudaMemcpy(device + offset, packed + offset, bytes, cudaMemcpyHostToDevice);
    if (e != cudaSuccess) {
      if (stream != nullptr) cudaStreamSynchronize(stream);  // no copy may still read `packed`
      device::throw_device_error("CUDA memory copy failed: ", e);
    }
  }
  if (stream != nullptr) cudaStreamSynchronize(stream);
}

std::vector<std::int32_t> ld_row_totals(const PackedGenotypes& packed, std::uint64_t* genotyped) {
  std::vector<std::int32_t> totals(static_cast<std::size_t>(packed.rows) * kLdTotalsPerRow);
  std::uint64_t calls = 0;
  for (std::int32_t r = 0; r < packed.rows; ++r) {
    std::int64_t count[3] = {0, 0, 0};
    for (std::int32_t first = 0; first < packed.samples; first += 32) {
      const CodePlanes g = code_planes(packed.row(r), first, packed.samples);
      for (int k = 0; k < 3; ++k) count[k] += popcount64(g.is[k]);
    }
    totals[static_cast<std::size_t>(r) * kLdTotalsPerRow] = static_cast<std::int32_t>(2 * count[0] + count[1]);
    totals[static_cast<std::size_t>(r) * kLdTotalsPerRow + 1] = count[0] + count[1] + count[2] == packed.samples;
    calls += static_cast<std::uint64_t>(count[0] + count[1] + count[2]);
  }
  if (genotyped != nullptr) *genotyped = calls;
  return totals;
}

LdTable load_ld_source(GenotypeSource& source, const SampleSelection& selection, const std::string& chromosome,
                       device::DeviceBuffer& matrix, cudaStream_t stream, std::vector<std::int32_t>& totals,
                       std::vector<std::string>& variant_ids) {
  PackedGenotypes packed = source.read(selection, chromosome);
  LdTable table{packed.rows, packed.samples, packed.stride, 0};
  VP_CUDA_CHECK(matrix.allocate(static_cast<std::size_t>(table.rows) * table.stride),
                "Failed to allocate GPU memory: ");
  transfer_ld_rows(packed.data.get(), table.rows, table.stride, matrix.get(), stream);
  totals = ld_row_totals(packed, &table.genotyped);
  variant_ids = std::move(packed.variant_ids);
  return table;
}

}  // namespace varpair
