#include "ld/ld_input.h"

#include "device/check.h"

namespace varpair {

namespace {

// Writes one row's stride bytes in order, four codes to a byte; no byte is read back.
void pack_row(RowSpan row, std::int32_t columns, std::uint8_t* out) {
  unsigned acc = 0;
  auto put = [&](std::int32_t sample, unsigned code) {
    const unsigned shift = 2U * (static_cast<unsigned>(sample) & 3U);
    acc |= code << shift;
    if (shift == 6) {
      out[sample >> 2] = static_cast<std::uint8_t>(acc);
      acc = 0;
    }
  };
  std::int32_t sample = walk_genotypes(row, columns, put);
  for (; sample < columns; ++sample) put(sample, kMissingCode);
  if ((columns & 3) != 0) out[columns >> 2] = static_cast<std::uint8_t>(acc);
}

}  // namespace

std::unique_ptr<std::uint8_t[]> pack_ld_rows(const char* text, std::uint64_t size, const TableShape& shape,
                                             std::uint64_t stride) {
  auto packed = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(shape.rows) * stride);
  for_each_row_chunk(shape.rows, [&](std::int32_t first, std::int32_t end) {
    for (std::int32_t r = first; r < end; ++r)
      pack_row(row_span(shape, text, size, r), shape.columns, packed.get() + static_cast<std::uint64_t>(r) * stride);
  });
  return packed;
}

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

LdTable read_ld_table(const MappedFile& file, const std::string& path, device::DeviceBuffer& matrix,
                      cudaStream_t stream) {
  const TableShape shape = scan_table(file.data(), file.size());
  require_genotypes(shape, path);
  const LdTable table{shape.rows, shape.columns, ld_stride(shape.columns)};
  VP_CUDA_CHECK(matrix.allocate(static_cast<std::size_t>(table.rows) * table.stride),
                "Failed to allocate GPU memory: ");
  const auto packed = pack_ld_rows(file.data(), file.size(), shape, table.stride);
  transfer_ld_rows(packed.get(), table.rows, table.stride, matrix.get(), stream);
  return table;
}

}  // namespace varpair
