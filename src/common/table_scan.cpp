#include "common/table_scan.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/errors.h"

namespace varpair {

namespace {

constexpr ByteTables make_byte_tables() {
  ByteTables t{};
  for (int b = 0; b < 256; ++b) {
    t.klass[b] = kTokenByte;
    t.code[b] = kMissingCode;
  }
  t.klass[static_cast<unsigned char>(' ')] = kSpaceByte;
  t.klass[static_cast<unsigned char>('\t')] = kSpaceByte;
  t.klass[static_cast<unsigned char>('\v')] = kSpaceByte;
  t.klass[static_cast<unsigned char>('\f')] = kSpaceByte;
  t.klass[static_cast<unsigned char>('\n')] = kLineFeed;
  t.klass[static_cast<unsigned char>('\r')] = kCarriageReturn;
  t.code[static_cast<unsigned char>('0')] = 0;
  t.code[static_cast<unsigned char>('1')] = 1;
  t.code[static_cast<unsigned char>('2')] = 2;
  return t;
}

// What one piece of the text contributes: pieces start at offset 0 or right after a line feed,
// so lines never straddle two pieces except the one that runs to the end of the text.
struct PieceCount {
  std::uint64_t terminators = 0;
  std::uint64_t most_tokens = 0;
  std::vector<std::uint64_t> line_starts;  // starts made by this piece's terminators
};

PieceCount count_piece(const unsigned char* text, std::uint64_t size, std::uint64_t begin, std::uint64_t end) {
  PieceCount out;
  std::uint64_t tokens = 0;
  std::uint64_t after_space = 1;  // the previous byte was white space or a line start
  for (std::uint64_t p = begin; p < end; ++p) {
    const std::uint8_t k = kByteTables.klass[text[p]];
    if (k >= kLineFeed) {
      after_space = 1;
      if (k == kCarriageReturn && p + 1 < size && text[p + 1] == '\n') continue;  // CR of a CRLF
      ++out.terminators;
      out.most_tokens = std::max(out.most_tokens, tokens);
      tokens = 0;
      if (p + 1 < size) out.line_starts.push_back(p + 1);
      continue;
    }
    const std::uint64_t is_token = k == kTokenByte;
    tokens += is_token & after_space;
    after_space = is_token ^ 1;
  }
  out.most_tokens = std::max(out.most_tokens, tokens);
  return out;
}

// Piece boundaries: roughly equal parts, each moved forward to just after a line feed.
std::vector<std::uint64_t> piece_bounds(const char* text, std::uint64_t size, std::size_t wanted) {
  std::vector<std::uint64_t> bounds{0};
  for (std::size_t i = 1; i < wanted; ++i) {
    std::uint64_t at = size / wanted * i;
    if (at <= bounds.back()) continue;
    const void* lf = std::memchr(text + at, '\n', size - at);
    if (lf == nullptr) break;
    at = static_cast<std::uint64_t>(static_cast<const char*>(lf) - text) + 1;
    if (at < size && at > bounds.back()) bounds.push_back(at);
  }
  bounds.push_back(size);
  return bounds;
}

}  // namespace

const ByteTables kByteTables = make_byte_tables();

TableShape scan_table(const char* text, std::uint64_t size) {
  TableShape shape;
  if (size == 0) return shape;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);

  constexpr std::uint64_t kMinPiece = 1 << 20;
  WorkerPool& pool = WorkerPool::shared();
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>(4ULL * pool.concurrency(), size / kMinPiece + 1));
  const std::vector<std::uint64_t> bounds = piece_bounds(text, size, wanted);
  std::vector<PieceCount> pieces(bounds.size() - 1);
  pool.run(pieces.size(), [&](std::size_t i) { pieces[i] = count_piece(bytes, size, bounds[i], bounds[i + 1]); });

  std::uint64_t terminators = 0;
  std::uint64_t most_tokens = 0;
  std::size_t starts = 1;
  for (const PieceCount& piece : pieces) {
    terminators += piece.terminators;
    most_tokens = std::max(most_tokens, piece.most_tokens);
    starts += piece.line_starts.size();
  }
  const unsigned char last = bytes[size - 1];
  const std::uint64_t rows = terminators + (last != '\n' && last != '\r' ? 1 : 0);
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  if (rows > kMax) throw InputError("Too many rows (SNPs) in one table: " + std::to_string(rows));
  if (most_tokens > kMax) throw InputError("Too many samples on one line: " + std::to_string(most_tokens));

  shape.rows = static_cast<std::int32_t>(rows);
  shape.columns = static_cast<std::int32_t>(most_tokens);
  shape.line_starts.reserve(starts);
  shape.line_starts.push_back(0);
  for (const PieceCount& piece : pieces)
    shape.line_starts.insert(shape.line_starts.end(), piece.line_starts.begin(), piece.line_starts.end());
  return shape;
}

void require_genotypes(const TableShape& shape, const std::string& path) {
  if (shape.rows == 0) throw InputError("The table has no SNPs (no lines): " + path);
  if (shape.columns == 0) throw InputError("The table has no samples (every line is empty): " + path);
}

}  // namespace varpair
