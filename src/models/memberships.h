// Which samples the covariate refit of a 2x2 model's record compares: x = 1 in the record's cell,
// 0 outside it, and samples left out of the record's table (MDR's cells of neither class) left out
// of the refit too.
#pragma once

#include <cstdint>

#include "interaction/interaction_record.h"

namespace varpair {

class CovariateRefit;

// The nine-genotype model: label 3 g0 + g1 is the cell (g0, g1).
void nine_genotype_membership(const InteractionRecord& record, const CovariateRefit& refit,
                              std::int8_t (&membership)[3][3]);
// Dominant-recessive model m: genotypes 0..max0 of SNP0 and 0..max1 of SNP1 (pair_evaluations.h).
void domrec_membership(const InteractionRecord& record, const CovariateRefit& refit, std::int8_t (&membership)[3][3]);
// MDR: the pair's high-risk cells (1) against its low-risk ones (0), by the kernels' rule.
void mdr_membership(const InteractionRecord& record, const CovariateRefit& refit, std::int8_t (&membership)[3][3]);

}  // namespace varpair
