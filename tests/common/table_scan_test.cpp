#include "common/table_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/errors.h"

namespace {

using varpair::scan_table;
using varpair::TableShape;

TableShape scan(const std::string& text) { return scan_table(text.data(), text.size()); }

// Codes of every token on row r, walked without a sample limit.
std::vector<int> codes_of_row(const std::string& text, const TableShape& shape, std::int32_t r) {
  std::vector<int> codes;
  varpair::walk_genotypes(varpair::row_span(shape, text.data(), text.size(), r), 1 << 30,
                          [&](std::int32_t sample, std::uint8_t code) {
                            EXPECT_EQ(sample, static_cast<std::int32_t>(codes.size()));
                            codes.push_back(code);
                          });
  return codes;
}

// A plain, byte-by-byte reading of the format, written independently of the scanner: a line ends
// at a line feed or at a carriage return not followed by one.
struct Reference {
  std::int32_t rows = 0;
  std::int32_t columns = 0;
  std::vector<std::uint64_t> starts;
};

Reference reference_scan(const std::string& t) {
  Reference ref;
  if (t.empty()) return ref;
  auto space = [](unsigned char b) { return b == ' ' || (b >= 9 && b <= 13); };
  ref.starts.push_back(0);
  std::int32_t tokens = 0;
  for (std::size_t p = 0; p < t.size(); ++p) {
    const bool ends_line = t[p] == '\n' || (t[p] == '\r' && (p + 1 == t.size() || t[p + 1] != '\n'));
    if (ends_line) {
      ++ref.rows;
      ref.columns = std::max(ref.columns, tokens);
      tokens = 0;
      if (p + 1 < t.size()) ref.starts.push_back(p + 1);
    } else if (!space(t[p]) && (p == 0 || space(t[p - 1]))) {
      ++tokens;
    }
  }
  ref.columns = std::max(ref.columns, tokens);
  if (t.back() != '\n' && t.back() != '\r') ++ref.rows;
  return ref;
}

TEST(TableScan, CountsRowsColumnsAndLineStarts) {
  const TableShape shape = scan("0 1 2\n2 1 0\n");
  EXPECT_EQ(shape.rows, 2);
  EXPECT_EQ(shape.columns, 3);
  EXPECT_EQ(shape.line_starts, (std::vector<std::uint64_t>{0, 6}));
  EXPECT_EQ(codes_of_row("0 1 2\n2 1 0\n", shape, 1), (std::vector<int>{2, 1, 0}));
}

TEST(TableScan, FinalLineFeedAndCarriageReturnsDoNotChangeTheTable) {
  for (const std::string text : {"0 1 2\n2 1 0", "0 1 2\r\n2 1 0\r\n", "0 1 2\r\n2 1 0"}) {
    const TableShape shape = scan(text);
    EXPECT_EQ(shape.rows, 2) << text;
    EXPECT_EQ(shape.columns, 3) << text;
    EXPECT_EQ(codes_of_row(text, shape, 0), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(codes_of_row(text, shape, 1), (std::vector<int>{2, 1, 0}));
  }
}

TEST(TableScan, LoneCarriageReturnsEndLines) {
  const std::string text = "0 1\r2 1\r";
  const TableShape shape = scan(text);
  EXPECT_EQ(shape.rows, 2);
  EXPECT_EQ(shape.columns, 2);
  EXPECT_EQ(codes_of_row(text, shape, 1), (std::vector<int>{2, 1}));
}

TEST(TableScan, ColumnsAreTheLongestLineAndEmptyLinesAreRows) {
  EXPECT_EQ(scan("0 1 2\n0 1 2 0 1\n0 1 2 0\n").columns, 5);
  const TableShape with_gap = scan("0 1\n\n1 0\n");
  EXPECT_EQ(with_gap.rows, 3);
  EXPECT_TRUE(codes_of_row("0 1\n\n1 0\n", with_gap, 1).empty());
  EXPECT_EQ(scan("0 1\n1 0\n\n").rows, 3) << "two final line feeds end an empty row";
}

TEST(TableScan, TokensAreRunsOfAnyNonSpaceBytes) {
  constexpr char raw[] = "NA -1 . 0.5 12 20 \xff\x80 2\0x \t\v\f1";
  const std::string text(raw, sizeof raw - 1);
  const TableShape shape = scan(text);
  EXPECT_EQ(shape.rows, 1);
  EXPECT_EQ(codes_of_row(text, shape, 0), (std::vector<int>{3, 3, 3, 0, 1, 2, 3, 2, 1}));
}

TEST(TableScan, WalkStopsAtTheSampleLimit) {
  const std::string text = "0 1 2 0 1\n";
  const TableShape shape = scan(text);
  int emitted = 0;
  EXPECT_EQ(varpair::walk_genotypes(varpair::row_span(shape, text.data(), text.size(), 0), 3,
                                    [&](std::int32_t, std::uint8_t) { ++emitted; }),
            3);
  EXPECT_EQ(emitted, 3);
}

TEST(TableScan, AVeryLongLineIsOneRow) {
  std::string text;
  for (int i = 0; i < 3'000'000; ++i) text += "1\t";
  text += "\n0\n";
  const TableShape shape = scan(text);
  EXPECT_EQ(shape.rows, 2);
  EXPECT_EQ(shape.columns, 3'000'000);
}

TEST(TableScan, TablesWithoutSamplesOrRowsAreRefused) {
  EXPECT_THROW(varpair::require_genotypes(scan(" \t\n\n"), "blank.txt"), varpair::InputError);
  EXPECT_THROW(varpair::require_genotypes(scan(""), "empty.txt"), varpair::InputError);
  EXPECT_NO_THROW(varpair::require_genotypes(scan("0\n"), "one.txt"));
}

// Random texts, some long enough to be scanned in several parallel pieces, agree with the plain
// reading in every row, column and line start.
TEST(TableScan, AgreesWithAPlainReadingOnRandomTexts) {
  const std::vector<std::string> pieces = {
      "0",    "1",    "2",         " ", "  ", "\t", "\n", "\r\n", "\r", "NA", "12", "-1", std::string("\0", 1),
      "\xff", "\n\n", "0 1 2 1 0 "};
  std::mt19937 rng(20261206);
  for (int round = 0; round < 60; ++round) {
    const std::size_t length = round < 50 ? rng() % 400 : 2'500'000 + rng() % 1'000'000;
    std::string text;
    while (text.size() < length) text += pieces[rng() % pieces.size()];
    const TableShape shape = scan(text);
    const Reference ref = reference_scan(text);
    ASSERT_EQ(shape.rows, ref.rows) << "round " << round;
    ASSERT_EQ(shape.columns, ref.columns) << "round " << round;
    ASSERT_EQ(shape.line_starts, ref.starts) << "round " << round;
  }
}

}  // namespace
