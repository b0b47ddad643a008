#include "ld/ld_input.h"

#include "device/check.h"

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

LdTable load_ld_source(GenotypeSource& source, const SampleSelection& selection, const std::string& chromosome,
                       device::DeviceBuffer& matrix, cudaStream_t stream, std::vector<std::string>& variant_ids) {
  PackedGenotypes packed = source.read(selection, chromosome);
  const LdTable table{packed.rows, packed.samples, packed.stride};
  VP_CUDA_CHECK(matrix.allocate(static_cast<std::size_t>(table.rows) * table.stride),
                "Failed to allocate GPU memory: ");
  transfer_ld_rows(packed.data.get(), table.rows, table.stride, matrix.get(), stream);
  variant_ids = std::move(packed.variant_ids);
  return table;
}

}  // namespace varpair
