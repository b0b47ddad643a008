// Genotype-table scanning shared by every reader: rows, columns, line starts and the token walk.
//
// A table is text, one SNP per line, one whitespace-separated token per sample; a token's first
// byte gives the genotype ("0", "1", "2"; anything else is missing). A line ends at a line feed,
// or at a carriage return that no line feed follows (old Mac files); a carriage return before a
// line feed is white space. So every line terminator but a final one starts a row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varpair {

// Genotype code of a missing sample.
constexpr std::uint8_t kMissingCode = 3;

struct TableShape {
  std::int32_t rows = 0;                   // R: one per line start
  std::int32_t columns = 0;                // C: the most tokens on any line
  std::vector<std::uint64_t> line_starts;  // offset of row r's first byte, R entries
};

// Byte classes of the scan: token byte, white space, line feed, carriage return.
enum ByteClass : std::uint8_t { kTokenByte = 0, kSpaceByte = 1, kLineFeed = 2, kCarriageReturn = 3 };

struct ByteTables {
  std::uint8_t klass[256];
  std::uint8_t code[256];  // genotype code of a token's first byte
};
extern const ByteTables kByteTables;

inline bool is_space(unsigned char b) { return kByteTables.klass[b] != kTokenByte; }

// Counts rows and columns and records the line starts, in parallel pieces on the worker pool.
// Throws InputError when the table is too large to index with 32-bit rows or columns.
TableShape scan_table(const char* text, std::uint64_t size);

// Throws InputError naming `path` when the table has no SNP or no sample.
void require_genotypes(const TableShape& shape, const std::string& path);

// Genotypes to analyse: throws InputError, as for an empty table, when not one of the rows x samples
// calls of `what` (a file, or its cases) is genotyped; returns a warning line for the run log when
// more than half of them are missing, else an empty one.
std::string check_calls(std::uint64_t genotyped, std::int32_t rows, std::int32_t samples, const std::string& what);

// A file about to be read as a text table, checked for being something else: gzip or BGZF bytes, a
// BCF, a PLINK .bed, a VCF header, or lines shaped like a fileset's .bim or .fam (given in place of
// its .bed). Throws InputError saying what the file looks like and how to give it. Reads the first
// lines only; a genuine table passes untouched.
void check_text_table(const char* data, std::uint64_t size, const std::string& path);

// Row r's bytes: from its line start to the next one, the last row to the end of the text.
struct RowSpan {
  const char* begin;
  const char* end;
};
inline RowSpan row_span(const TableShape& shape, const char* text, std::uint64_t size, std::int32_t r) {
  const std::uint64_t begin = shape.line_starts[static_cast<std::size_t>(r)];
  const std::uint64_t end = r + 1 < shape.rows ? shape.line_starts[static_cast<std::size_t>(r) + 1] : size;
  return RowSpan{text + begin, text + end};
}

// Walks the tokens of one row, calling emit(sample, code) for samples 0 ... up to max_samples - 1
// in order; returns how many it emitted. No allocation, no copy.
template <class Emit>
inline std::int32_t walk_genotypes(RowSpan row, std::int32_t max_samples, Emit&& emit) {
  const auto* p = reinterpret_cast<const unsigned char*>(row.begin);
  const auto* end = reinterpret_cast<const unsigned char*>(row.end);
  std::int32_t sample = 0;
  while (sample < max_samples) {
    while (p < end && is_space(*p)) ++p;
    if (p == end) break;
    const std::uint8_t code = kByteTables.code[*p];
    ++p;
    while (p < end && !is_space(*p)) ++p;
    emit(sample, code);
    ++sample;
  }
  return sample;
}

// Rows are parsed in chunks of this many rows, each chunk a task of the worker pool.
constexpr std::int32_t kRowsPerChunk = 1000;

// Calls fn(first_row, end_row) for every chunk of rows on the worker pool; returns when all ended.
template <class Fn>
void for_each_row_chunk(std::int32_t rows, Fn&& fn);

}  // namespace varpair

#include "common/worker_pool.h"

namespace varpair {

template <class Fn>
void for_each_row_chunk(std::int32_t rows, Fn&& fn) {
  const std::size_t chunks = (static_cast<std::size_t>(rows) + kRowsPerChunk - 1) / kRowsPerChunk;
  WorkerPool::shared().run(chunks, [&](std::size_t k) {
    const auto first = static_cast<std::int32_t>(k * kRowsPerChunk);
    const std::int32_t end = rows - first < kRowsPerChunk ? rows : first + kRowsPerChunk;
    fn(first, end);
  });
}

}  // namespace varpair
