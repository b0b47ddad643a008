#pragma once

#include "interaction/interaction_model.h"

namespace varpair {

// The nine-genotype model: every combination of the two SNPs' genotypes against all others.
const InteractionModel& genotype_interaction_model();

}  // namespace varpair
