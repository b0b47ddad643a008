// libFuzzer target: any bytes go through the check of what a text table is not, the table scan, the
// token walk and the LD packing without reading outside the text, and the results agree with one
// another; the check ends in nothing or an InputError.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/errors.h"
#include "common/packed_genotypes.h"
#include "common/table_scan.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A private copy, so that AddressSanitizer sees the exact end of the text.
  auto* text = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
  if (size > 0) std::memcpy(text, data, size);

  try {
    varpair::check_text_table(text, size, "fuzz");
  } catch (const varpair::InputError&) {
  }
  const varpair::TableShape shape = varpair::scan_table(text, size);
  require(static_cast<std::size_t>(shape.rows) == shape.line_starts.size());
  std::int32_t widest = 0;
  for (std::int32_t r = 0; r < shape.rows; ++r) {
    if (r > 0) require(shape.line_starts[r] > shape.line_starts[r - 1]);
    require(shape.line_starts[r] < size);
    const std::int32_t n = varpair::walk_genotypes(varpair::row_span(shape, text, size, r), shape.columns,
                                                   [](std::int32_t, std::uint8_t code) { require(code <= 3); });
    widest = n > widest ? n : widest;
  }
  require(widest == shape.columns);
  if (shape.rows > 0 && shape.columns > 0) {
    const std::uint64_t stride = varpair::packed_stride(shape.columns);
    const auto packed = varpair::pack_text_rows(text, size, shape, stride);
    // Padding bits past the last sample are always 0.
    if (shape.columns % 4 != 0)
      for (std::int32_t r = 0; r < shape.rows; ++r)
        require((packed[r * stride + stride - 1] >> (2 * (shape.columns % 4))) == 0);
  }
  std::free(text);
  return 0;
}
