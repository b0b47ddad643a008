#include "ld/ld_input.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <vector>

#include "common/errors.h"
#include "support/test_support.h"
#ifndef VARPAIR_CUDA
#include "device/host_testing.h"
#endif

namespace {

using varpair::test::TempDir;

std::vector<std::uint8_t> pack(const std::string& text) {
  const varpair::TableShape shape = varpair::scan_table(text.data(), text.size());
  const std::uint64_t stride = varpair::packed_stride(shape.columns);
  const auto packed = varpair::pack_text_rows(text.data(), text.size(), shape, stride);
  return std::vector<std::uint8_t>(packed.get(), packed.get() + shape.rows * stride);
}

TEST(LdPacking, FourSamplesToAByteFirstSampleLowest) {
  EXPECT_EQ(pack("0 1 2\n2 1 0\n"), (std::vector<std::uint8_t>{0x24, 0x06}));
  EXPECT_EQ(pack("0 1 2\r\n2 1 0"), (std::vector<std::uint8_t>{0x24, 0x06}));
}

TEST(LdPacking, MissingTokensAndSamplesPastAShortLineAreCodeThree) {
  // Five samples, stride 2; padding bits after the fifth sample stay 0.
  EXPECT_EQ(pack("0 1 2\n0 1 2 0 1\n0 1 2 0\n"), (std::vector<std::uint8_t>{0xE4, 0x03, 0x24, 0x01, 0x24, 0x03}));
  EXPECT_EQ(pack("NA 1 . 2\n"), (std::vector<std::uint8_t>{0b10110111}));
  EXPECT_EQ(pack("0 1\n\n"), (std::vector<std::uint8_t>{0x04, 0x0F})) << "an empty line is all missing";
}

// Packs a table the long way, one sample at a time, from its lines and tokens.
std::vector<std::uint8_t> reference_pack(const std::vector<std::vector<std::string>>& rows, int columns) {
  const int stride = (columns + 3) / 4;
  std::vector<std::uint8_t> out(rows.size() * stride, 0);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (int c = 0; c < columns; ++c) {
      int code = 3;
      if (c < static_cast<int>(rows[r].size())) {
        const char first = rows[r][c][0];
        code = first == '0' ? 0 : first == '1' ? 1 : first == '2' ? 2 : 3;
      }
      out[r * stride + c / 4] |= static_cast<std::uint8_t>(code << (2 * (c % 4)));
    }
  }
  return out;
}

TEST(LdPacking, AgreesWithSampleBySamplePackingOnRandomTables) {
  std::mt19937 rng(7);
  const std::vector<std::string> tokens = {"0", "1", "2", "NA", "1.0", "20", "-", "2"};
  for (int round = 0; round < 20; ++round) {
    const int rows = 1 + static_cast<int>(rng() % 2500);
    std::vector<std::vector<std::string>> table(rows);
    std::ostringstream text;
    int columns = 0;
    for (auto& row : table) {
      const int n = static_cast<int>(rng() % 23);
      for (int c = 0; c < n; ++c) {
        row.push_back(tokens[rng() % tokens.size()]);
        text << (c ? (rng() % 3 ? " " : "\t ") : "") << row.back();
      }
      columns = std::max(columns, n);
      text << (rng() % 2 ? "\n" : "\r\n");
    }
    if (columns == 0) continue;
    ASSERT_EQ(pack(text.str()), reference_pack(table, columns)) << "round " << round;
  }
}

#ifndef VARPAIR_CUDA
varpair::LdTable read_table(const std::string& path, varpair::device::DeviceBuffer& matrix, cudaStream_t stream) {
  const auto source = varpair::GenotypeSource::open(path);
  std::vector<std::string> ids;
  std::vector<std::int32_t> totals;
  return varpair::load_ld_source(*source, {}, "", matrix, stream, totals, ids);
}

class LdTableLoad : public ::testing::Test {
 protected:
  varpair::device::testing::Scope device_scope;
  TempDir dir;

  std::string table_of_rows(int rows) {
    std::string text;
    for (int r = 0; r < rows; ++r) text += std::to_string(r % 3) + " 1 " + std::to_string((r / 3) % 3) + " 0 2\n";
    return dir.write("t.txt", text);
  }
};

TEST_F(LdTableLoad, PlacesEveryRowBackToBackOnTheDeviceInRowsTimesStrideBytes) {
  const std::string path = table_of_rows(1001);  // two chunks: 1000 rows and 1
  varpair::device::DeviceBuffer matrix;
  varpair::device::Stream stream;
  ASSERT_EQ(stream.create(), cudaSuccess);
  const varpair::LdTable table = read_table(path, matrix, stream.get());
  EXPECT_EQ(table.rows, 1001);
  EXPECT_EQ(table.columns, 5);
  EXPECT_EQ(table.stride, 2u);
  EXPECT_EQ(matrix.size(), 2002u);
  EXPECT_EQ(varpair::device::testing::bytes_in_use(), 2002u);
  std::vector<std::uint8_t> device_bytes(2002);
  ASSERT_EQ(cudaMemcpy(device_bytes.data(), matrix.get(), 2002, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(device_bytes, pack(varpair::test::read_file(path)));
}

TEST_F(LdTableLoad, ASmallFileGetsExactlyItsMatrix) {
  const std::string path = dir.write("tiny.txt", "0 1 2\n2 1 0\n");  // under 100 bytes
  varpair::device::DeviceBuffer matrix;
  const varpair::LdTable table = read_table(path, matrix, nullptr);
  EXPECT_EQ(table.rows, 2);
  EXPECT_EQ(matrix.size(), 2u);
  EXPECT_EQ(matrix.get()[0], 0x24);
  EXPECT_EQ(matrix.get()[1], 0x06);
}

TEST_F(LdTableLoad, ACopyFailureNamesTheRuntimeError) {
  const std::string path = table_of_rows(1001);
  varpair::device::DeviceBuffer matrix;
  // The first chunk's copy goes through; the second fails.
  varpair::device::testing::fail_calls(varpair::device::testing::Op::Memcpy, cudaErrorIllegalAddress, 1, 1);
  try {
    read_table(path, matrix, nullptr);
    FAIL() << "no error";
  } catch (const varpair::DeviceError& e) {
    EXPECT_STREQ(e.what(), "CUDA memory copy failed: an illegal memory access was encountered");
  }
}

TEST_F(LdTableLoad, AnAllocationBeyondDeviceMemoryIsReported) {
  const std::string path = table_of_rows(10);
  varpair::device::DeviceBuffer matrix;
  varpair::device::testing::set_memory_budget(19);  // the table needs 20 bytes
  try {
    read_table(path, matrix, nullptr);
    FAIL() << "no error";
  } catch (const varpair::DeviceError& e) {
    EXPECT_STREQ(e.what(), "Failed to allocate GPU memory: out of memory");
  }
}

TEST_F(LdTableLoad, ATableWithoutSamplesIsRefusedBeforeAnyAllocation) {
  const std::string path = dir.write("blank.txt", "\n \n\t\n");
  varpair::device::DeviceBuffer matrix;
  EXPECT_THROW(read_table(path, matrix, nullptr), varpair::InputError);
  EXPECT_EQ(varpair::device::testing::live_allocations(), 0u);
}

#endif

}  // namespace
