#include "interaction/result_writer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "models/pair_evaluations.h"

namespace {

using varpair::InteractionRecord;

InteractionRecord record(int snp0, int snp1, int label, float chi, float ratio) {
  return InteractionRecord{snp0, snp1, label, 30, 70, 10, 90, chi, ratio, ratio / 2, ratio * 2};
}

// The table's lines after its header.
std::string write(const std::vector<InteractionRecord>& records, std::size_t run_length = 2000000) {
  std::ostringstream out;
  const varpair::TableSetup setup{&out, "header", nullptr, run_length, 0.0, 10, {}};
  const auto table = varpair::make_two_by_two_table(setup, varpair::NineGenotypeEvaluation::kLabels, nullptr);
  table->begin();
  table->add_found(records.data(), records.size());
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

TEST(ResultWriter, EachRunIsSortedBySnpsThenLabel) {
  const std::string text =
      write({record(5, 9, 2, 30, 3), record(2, 7, 0, 30, 3), record(5, 9, 1, 30, 3), record(0, 1, 0, 30, 3)}, 3);
  std::istringstream lines(text);
  std::vector<std::string> keys;
  for (std::string line; std::getline(lines, line);) keys.push_back(line.substr(0, line.find("\t30\t")));
  EXPECT_EQ(keys, (std::vector<std::string>{"AA*BB_vs_other\t2\t7", "AA*Bb_vs_other\t5\t9", "AA*bb_vs_other\t5\t9",
                                            "AA*BB_vs_other\t0\t1"}))
      << "a full run of three is written sorted; the fourth record follows at the flush";
}

TEST(ResultWriter, NothingToWriteWritesNothing) { EXPECT_EQ(write({}), ""); }

}  // namespace
