#include "common/packed_genotypes.h"

#include <cstring>

namespace varpair {

namespace {

// Writes one row's stride bytes in order, four codes to a byte; no byte is read back.
void pack_text_row(RowSpan row, std::int32_t columns, std::uint8_t* out) {
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

// The first `count` samples that start `first` samples into `source` (two bits each), to `out`.
void copy_run(const std::uint8_t* source, std::int64_t first, std::int32_t count, std::uint8_t* out) {
  const std::uint64_t bytes = packed_stride(count);
  if ((first & 3) == 0) {
    std::memcpy(out, source + first / 4, bytes);
  } else {
    // Each output byte takes the high codes of one source byte and the low codes of the next.
    const unsigned shift = 2U * static_cast<unsigned>(first & 3);
    const std::uint8_t* s = source + first / 4;
    const std::uint64_t source_bytes = packed_stride(static_cast<std::int32_t>((first & 3) + count));
    for (std::uint64_t b = 0; b < bytes; ++b) {
      const unsigned next = b + 1 < source_bytes ? s[b + 1] : 0u;
      out[b] = static_cast<std::uint8_t>((s[b] >> shift) | (next << (8 - shift)));
    }
  }
  if ((count & 3) != 0) out[bytes - 1] &= static_cast<std::uint8_t>((1u << (2 * (count & 3))) - 1);
}

}  // namespace

HostBytes pack_text_rows(const char* text, std::uint64_t size, const TableShape& shape, std::uint64_t stride) {
  HostBytes packed = allocate_host_bytes(static_cast<std::size_t>(shape.rows) * stride);
  for_each_row_chunk(shape.rows, [&](std::int32_t first, std::int32_t end) {
    for (std::int32_t r = first; r < end; ++r)
      pack_text_row(row_span(shape, text, size, r), shape.columns,
                    packed.get() + static_cast<std::uint64_t>(r) * stride);
  });
  return packed;
}

SampleSelection select_listed(std::vector<std::int32_t> samples) {
  SampleSelection s;
  s.all = false;
  s.samples = std::move(samples);
  bool contiguous = !s.samples.empty();
  for (std::size_t k = 1; k < s.samples.size() && contiguous; ++k) contiguous = s.samples[k] == s.samples[k - 1] + 1;
  if (contiguous) s.run_first = s.samples.front();
  return s;
}

void select_samples(const std::uint8_t* source, std::int32_t total, const SampleSelection& selection,
                    std::uint8_t* out) {
  if (selection.all) {
    copy_run(source, 0, total, out);
    return;
  }
  const auto& picked = selection.samples;
  const auto n = static_cast<std::int32_t>(picked.size());
  if (n == 0) return;
  if (selection.run_first >= 0) {
    copy_run(source, selection.run_first, n, out);
    return;
  }
  std::memset(out, 0, packed_stride(n));
  for (std::int32_t k = 0; k < n; ++k) {
    const std::int32_t s = picked[k];
    const unsigned code = (source[s >> 2] >> (2 * (s & 3))) & 3u;
    out[k >> 2] |= static_cast<std::uint8_t>(code << (2 * (k & 3)));
  }
}

}  // namespace varpair
