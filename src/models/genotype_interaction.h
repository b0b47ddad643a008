#pragma once

#include "interaction/interaction_model.h"

namespace varpair {

// The nine-genotype model: every combination of the two SNPs' genotypes against all others.
const InteractionModel& genotype_interaction_model();

// "AA*BB_vs_other" ... "aa*bb_vs_other" by label index 3 x (SNP0 genotype) + (SNP1 genotype).
const char* genotype_label(std::int32_t label);

}  // namespace varpair
