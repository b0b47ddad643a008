#include "interaction/result_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>

#include "models/pair_evaluations.h"
#include "support/test_support.h"

namespace {

using varpair::InteractionRecord;

InteractionRecord record(int snp0, int snp1, int label, float chi, float ratio) {
  return InteractionRecord{snp0, snp1, label, 30, 70, 10, 90, chi, ratio, ratio / 2, ratio * 2};
}

// The table's lines after its header; sorted runs are spilled beside `path`.
std::string write(const std::vector<InteractionRecord>& records, std::size_t run_length = 2000000,
                  const std::string& path = "unused", std::size_t batch = 1000000) {
  std::ostringstream out;
  const varpair::TableSetup setup{&out, path, "header", nullptr, run_length, 0.0, 10, {}};
  const auto table = varpair::make_two_by_two_table(setup, varpair::NineGenotypeEvaluation::kLabels, nullptr);
  table->begin();
  for (std::size_t first = 0; first < records.size(); first += batch)
    table->add_found(records.data() + first, std::min(batch, records.size() - first));
  table->flush();
  EXPECT_EQ(table->kept(), records.size());
  const std::string text = out.str();
  EXPECT_EQ(text.substr(0, 7), "header\n");
  return text.substr(7);
}

TEST(ResultWriter, PValueNotationCarriesOverToTheNextNumbers) {
  const std::string text = write({record(1, 2, 0, 3.841459f, 1.5f), record(1, 3, 4, 25.0f, 2.5f),
                                  record(2, 3, 8, 19.5f, 3.0f), record(4, 5, 1, 0.0f, 1.0f)});
  EXPECT_EQ(text,
            "AA*BB_vs_other\t1\t2\t30\t70\t10\t90\t3.841459\t0.050000\t1.500000\t0.750000\t3.000000\n"
            "Aa*Bb_vs_other\t1\t3\t30\t70\t10\t90\t25.000000\t5.73e-07\t2.50e+00\t1.25e+00\t5.00e+00\n"
            "aa*bb_vs_other\t2\t3\t30\t70\t10\t90\t1.95e+01\t0.000010\t3.000000\t1.500000\t6.000000\n"
            "AA*Bb_vs_other\t4\t5\t30\t70\t10\t90\t0.000000\t1.000000\t1.000000\t0.500000\t2.000000\n");
}

// Past its run length a table is spilled in sorted runs and merged: the same bytes as one sort in
// memory, whatever the runs and batches, also past the merge's fan-in (combined runs), and nothing
// left beside the output.
TEST(ResultWriter, TheWholeTableIsSortedWhateverItsRunLength) {
  std::vector<InteractionRecord> records;
  std::mt19937 rng(5);
  for (int snp0 = 0; snp0 < 40; ++snp0)
    for (int snp1 = snp0 + 1; snp1 < 40; snp1 += 3)
      for (int label = 0; label < 9; label += 1 + static_cast<int>(rng() % 4))
        records.push_back(record(snp0, snp1, label, static_cast<float>(rng() % 4000) / 100.0f, 2.0f));
  std::shuffle(records.begin(), records.end(), rng);
  ASSERT_GT(records.size(), 1000u);
  const std::string whole = write(records);
  std::istringstream lines(whole);
  std::vector<std::pair<int, int>> snps;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string label;
    int snp0 = 0, snp1 = 0;
    fields >> label >> snp0 >> snp1;
    snps.emplace_back(snp0, snp1);
  }
  EXPECT_EQ(snps.size(), records.size());
  EXPECT_TRUE(std::is_sorted(snps.begin(), snps.end()));
  varpair::test::TempDir dir;
  // 3 records a run: more runs than the merge opens at once.
  for (const auto& [run_length, batch] : {std::pair<std::size_t, std::size_t>{3, 7}, {64, 1}, {500, 333}}) {
    EXPECT_EQ(write(records, run_length, dir.file("out.txt"), batch), whole) << run_length << " " << batch;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a spilled run was left behind";
  }
}

TEST(ResultWriter, NothingToWriteWritesNothing) { EXPECT_EQ(write({}), ""); }

}  // namespace
