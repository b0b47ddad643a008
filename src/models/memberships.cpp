#include "models/memberships.h"

#include "interaction/covariate_refit.h"

namespace varpair {

void nine_genotype_membership(const InteractionRecord& record, const CovariateRefit&, std::int8_t (&membership)[3][3]) {
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) membership[x][y] = 3 * x + y == record.label ? 1 : 0;
}

void domrec_membership(const InteractionRecord& record, const CovariateRefit&, std::int8_t (&membership)[3][3]) {
  const int max0 = record.label < 2 ? 1 : 0;
  const int max1 = record.label % 2 == 0 ? 1 : 0;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) membership[x][y] = x <= max0 && y <= max1 ? 1 : 0;
}

// The same single-precision comparison as mdr_risk_table: ties (empty cells among them) join
// neither class.
void mdr_membership(const InteractionRecord& record, const CovariateRefit& refit, std::int8_t (&membership)[3][3]) {
  const PairCells cells = refit.cells(record.snp0, record.snp1);
  const float ratio = refit.sample_ratio();
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) {
      const float weighted_cases = static_cast<float>(cells.cases[x][y]) * ratio;
      const float controls = static_cast<float>(cells.controls[x][y]);
      membership[x][y] = weighted_cases > controls ? 1 : weighted_cases < controls ? 0 : -1;
    }
}

}  // namespace varpair
