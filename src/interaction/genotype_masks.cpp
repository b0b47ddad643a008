#include "interaction/genotype_masks.h"

#include <cstring>

#include "common/errors.h"
#include "common/table_scan.h"
#include "device/check.h"

namespace varpair {

namespace {

// A store of the right size whose words each builder clears or writes, row by row on its workers.
MaskStore empty_store(std::int32_t rows, std::int32_t samples) {
  MaskStore store;
  store.rows = rows;
  store.samples = samples;
  store.words = mask_words(samples);
  const std::size_t total = static_cast<std::size_t>(rows) * static_cast<std::size_t>(store.words);
  for (auto& mask : store.masks) mask = allocate_host_array<std::uint64_t>(total);
  store.totals = allocate_host_array<std::int32_t>(static_cast<std::size_t>(rows) * kTotalsPerRow);
  return store;
}

// The totals of rows first ... end - 1, from their finished masks.
void count_totals(MaskStore& store, std::int32_t first, std::int32_t end) {
  for (std::int32_t r = first; r < end; ++r) {
    std::int32_t* t = store.totals.get() + static_cast<std::size_t>(r) * kTotalsPerRow;
    for (int k = 0; k < kMaskKinds; ++k) {
      const std::uint64_t* m = store.mask(k, r);
      t[k] = 0;
      for (std::int32_t w = 0; w < store.words; ++w) t[k] += __builtin_popcountll(m[w]);
    }
    t[3] = t[0] + t[1] + t[2] == store.samples ? 1 : 0;
  }
}

}  // namespace

MaskStore build_genotype_masks(const MappedFile& file) {
  const TableShape shape = scan_table(file.data(), file.size());
  MaskStore store = empty_store(shape.rows, shape.columns);

  for_each_row_chunk(shape.rows, [&](std::int32_t first, std::int32_t end) {
    for (std::int32_t r = first; r < end; ++r) {
      const std::size_t at = static_cast<std::size_t>(r) * static_cast<std::size_t>(store.words);
      for (auto& mask : store.masks) std::memset(mask.get() + at, 0, static_cast<std::size_t>(store.words) * 8);
      walk_genotypes(row_span(shape, file.data(), file.size(), r), shape.columns,
                     [&](std::int32_t sample, std::uint8_t code) {
                       if (code <= 2) store.masks[code][at + (sample >> 6)] |= std::uint64_t{1} << (sample & 63);
                     });
    }
    count_totals(store, first, end);
  });
  return store;
}

namespace {

// The even bits of x (x & 0x55...) gathered into its low 32 bits, in order.
inline std::uint64_t even_bits(std::uint64_t x) {
  x &= 0x5555555555555555ULL;
  x = (x | (x >> 1)) & 0x3333333333333333ULL;
  x = (x | (x >> 2)) & 0x0F0F0F0F0F0F0F0FULL;
  x = (x | (x >> 4)) & 0x00FF00FF00FF00FFULL;
  x = (x | (x >> 8)) & 0x0000FFFF0000FFFFULL;
  return (x | (x >> 16)) & 0x00000000FFFFFFFFULL;
}

}  // namespace

MaskStore build_genotype_masks(const PackedGenotypes& packed) {
  MaskStore store = empty_store(packed.rows, packed.samples);
  constexpr std::uint64_t kEven = 0x5555555555555555ULL;
  for_each_row_chunk(packed.rows, [&](std::int32_t first, std::int32_t end) {
    for (std::int32_t r = first; r < end; ++r) {
      const std::uint8_t* row = packed.row(r);
      const std::size_t at = static_cast<std::size_t>(r) * static_cast<std::size_t>(store.words);
      for (auto& mask : store.masks) std::memset(mask.get() + at, 0, static_cast<std::size_t>(store.words) * 8);
      for (std::int32_t s = 0; s < packed.samples; s += 32) {  // 32 samples: one 64-bit word of codes
        const std::int32_t n = packed.samples - s < 32 ? packed.samples - s : 32;
        std::uint64_t w = 0;
        std::memcpy(&w, row + s / 4, static_cast<std::size_t>((n + 3) / 4));
        const std::uint64_t valid = n == 32 ? kEven : kEven & ((std::uint64_t{1} << (2 * n)) - 1);
        const std::uint64_t lo = w & kEven, hi = (w >> 1) & kEven;
        const std::uint64_t planes[3] = {~(lo | hi) & valid, lo & ~hi, hi & ~lo};
        const unsigned shift = static_cast<unsigned>(s & 63);
        for (int k = 0; k < kMaskKinds; ++k) store.masks[k][at + (s >> 6)] |= even_bits(planes[k]) << shift;
      }
    }
    count_totals(store, first, end);
  });
  return store;
}

void upload_masks(const MaskStore& store, std::int32_t first, std::int32_t end, DeviceMasks& out,
                  const MaskNames& names) {
  auto release = [&] {
    for (auto& buffer : out.kind) buffer.release();
    out.totals.release();
  };
  release();
  if (store.rows == 0 || first >= end) return;
  const std::size_t words = static_cast<std::size_t>(end - first) * static_cast<std::size_t>(store.words);
  const std::size_t offset = static_cast<std::size_t>(first) * static_cast<std::size_t>(store.words);
  try {
    for (int k = 0; k < kMaskKinds; ++k)
      if (out.kind[k].allocate(words * sizeof(std::uint64_t)) != cudaSuccess)
        throw DeviceError(std::string("Failed to allocate GPU memory for ") + names.names[k]);
    for (int k = 0; k < kMaskKinds; ++k) {
      const cudaError_t e = cudaMemcpy(out.kind[k].get(), store.masks[k].get() + offset, words * sizeof(std::uint64_t),
                                       cudaMemcpyHostToDevice);
      if (e != cudaSuccess)
        throw DeviceError(std::string("CUDA memory copy for ") + names.names[k] + " failed" +
                          (names.with_error_text ? std::string(": ") + cudaGetErrorString(e) : std::string()));
    }
    const std::size_t totals = static_cast<std::size_t>(end - first) * kTotalsPerRow * sizeof(std::int32_t);
    if (out.totals.allocate(totals) != cudaSuccess)
      throw DeviceError("Failed to allocate GPU memory for genotype totals");
    if (const cudaError_t e =
            cudaMemcpy(out.totals.get(), store.totals.get() + static_cast<std::size_t>(first) * kTotalsPerRow, totals,
                       cudaMemcpyHostToDevice))
      throw DeviceError(std::string("CUDA memory copy for genotype totals failed") +
                        (names.with_error_text ? std::string(": ") + cudaGetErrorString(e) : std::string()));
  } catch (...) {
    release();
    throw;
  }
}

}  // namespace varpair
