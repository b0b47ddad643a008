#include "ld/ld_outputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/test_support.h"

namespace {

using varpair::test::CapturedOutput;
using varpair::test::file_exists;
using varpair::test::kBom;
using varpair::test::read_file;
using varpair::test::TempDir;

TEST(LdValueCode, ThousandthsRoundedHalfUpWithNoValueAsFFFF) {
  EXPECT_EQ(varpair::encode_ld_value(-1.0f), 65535);
  EXPECT_EQ(varpair::encode_ld_value(0.0f), 0);
  EXPECT_EQ(varpair::encode_ld_value(0.0004f), 0);
  EXPECT_EQ(varpair::encode_ld_value(0.0005f), 1);
  EXPECT_EQ(varpair::encode_ld_value(0.8125f), 813);
  EXPECT_EQ(varpair::encode_ld_value(1.0f), 1000);
  EXPECT_EQ(varpair::encode_ld_value(1.2f), 1000);
  EXPECT_EQ(varpair::encode_ld_value(std::nanf("")), 0);
}

TEST(LdValueCode, SplittingTheEncodingOverWorkersChangesNoByte) {
  std::vector<float> values(3'000'001);
  for (std::size_t k = 0; k < values.size(); ++k)
    values[k] = k % 977 == 0 ? -1.0f : static_cast<float>(k % 1013) / 1012.0f;
  std::vector<unsigned char> together(2 * values.size()), expected(2 * values.size());
  varpair::encode_ld_values(values.data(), values.size(), together.data());
  for (std::size_t k = 0; k < values.size(); ++k) {
    const std::uint16_t code = varpair::encode_ld_value(values[k]);
    expected[2 * k] = static_cast<unsigned char>(code & 0xFF);
    expected[2 * k + 1] = static_cast<unsigned char>(code >> 8);
  }
  EXPECT_EQ(together, expected);
}

TEST(LdTextTable, SortsEachBatchAndWritesSixDecimals) {
  TempDir dir;
  varpair::LdTextTable table(dir.file("t.txt"));
  ASSERT_TRUE(table.open("SNP0\tSNP1\tr2"));
  std::vector<varpair::ResultRecord> batch = {{12, 7, 0.8125f}, {3, 9, 1.0f}, {12, 2, 0.9f}, {3, 1, 0.85f}};
  table.write_batch(batch);
  EXPECT_FALSE(file_exists(dir.file("t.txt"))) << "nothing under the final name before the commit";
  ASSERT_TRUE(table.file().commit());
  EXPECT_EQ(read_file(dir.file("t.txt")),
            kBom + "SNP0\tSNP1\tr2\n3\t1\t0.850000\n3\t9\t1.000000\n12\t2\t0.900000\n12\t7\t0.812500\n");
}

TEST(LdDistribution, FrequenciesAreSharesOfAllPairs) {
  TempDir dir;
  CapturedOutput captured;
  varpair::RunLog log;
  std::array<std::uint64_t, varpair::kHistogramBins> bins{};
  bins[999] = 3;
  varpair::AtomicFile file(dir.file("d.txt"));
  ASSERT_TRUE(varpair::write_ld_distribution(file, bins, 1, 4, log));
  ASSERT_TRUE(file.commit());
  const std::string text = read_file(dir.file("d.txt"));
  EXPECT_EQ(text.rfind(kBom + "Start\tEnd\tCount\tFrequency\tCumulative\nMISSING\tMISSING\t1\t0.250000\t0.250000\n"
                              "0.000000\t0.001000\t0\t0.000000\t0.250000\n",
                       0),
            0u);
  EXPECT_NE(text.find("\n0.998000\t0.999000\t0\t0.000000\t0.250000\n0.999000\t1.000000\t3\t0.750000\t1.000000\n"
                      "1.000000\t1.001000\t0\t0.000000\t1.000000\n"),
            std::string::npos);
  EXPECT_TRUE(text.ends_with("1.000000\t1.001000\t0\t0.000000\t1.000000\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1003);
}

TEST(LdPartFile, HeaderAndLittleEndianCodes) {
  TempDir dir;
  CapturedOutput captured;
  varpair::RunLog log;
  const float values[] = {-1.0f, 0.5f, 1.0f};
  const std::string path = varpair::part_file_path(dir.path(), 3);
  EXPECT_EQ(path, dir.path() + "/part_3.bin");
  ASSERT_EQ(varpair::write_part_file(path, 0x0102030405060708ULL, values, 3, log), varpair::PartWrite::kWritten);
  const std::string expected("\x08\x07\x06\x05\x04\x03\x02\x01\x03\0\0\0\0\0\0\0\xff\xff\xf4\x01\xe8\x03", 22);
  EXPECT_EQ(read_file(path), expected);
}

}  // namespace
