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

std::vector<std::int32_t> ld_row_totals(const PackedGenotypes& packed) {
  std::vector<std::int32_t> totals(static_cast<std::size_t>(packed.rows) * kLdTotalsPerRow);
  constexpr std::uint64_t kEven = 0x5555555555555555ULL;
  for (std::int32_t r = 0; r < packed.rows; ++r) {
    const std::uint8_t* row = packed.row(r);
    std::int64_t ones = 0, twos = 0, missing = 0;  // padding is code 0: counted from the samples
    for (std::uint64_t at = 0; at < packed.stride; at += 8) {
      const auto bytes = static_cast<unsigned>(packed.stride - at < 8 ? packed.stride - at : 8);
      const std::uint64_t w = load_le64(row + at, bytes);
      const std::uint64_t lo = w & kEven, hi = (w >> 1) & kEven;
      ones += __builtin_popcountll(lo & ~hi);
      twos += __builtin_popcountll(hi & ~lo);
      missing += __builtin_popcountll(lo & hi);
    }
    const std::int64_t zeros = packed.samples - ones - twos - missing;
    totals[static_cast<std::size_t>(r) * kLdTotalsPerRow] = static_cast<std::int32_t>(2 * zeros + ones);
    totals[static_cast<std::size_t>(r) * kLdTotalsPerRow + 1] = missing == 0 ? 1 : 0;
  }
  return totals;
}

LdTable load_ld_source(GenotypeSource& source, const SampleSelection& selection, const std::string& chromosome,
                       device::DeviceBuffer& matrix, cudaStream_t stream, std::vector<std::int32_t>& totals,
                       std::vector<std::string>& variant_ids) {
  PackedGenotypes packed = source.read(selection, chromosome);
  const LdTable table{packed.rows, packed.samples, packed.stride};
  VP_CUDA_CHECK(matrix.allocate(static_cast<std::size_t>(table.rows) * table.stride),
                "Failed to allocate GPU memory: ");
  transfer_ld_rows(packed.data.get(), table.rows, table.stride, matrix.get(), stream);
  totals = ld_row_totals(packed);
  variant_ids = std::move(packed.variant_ids);
  return table;
}

}  // namespace varpair
