#pragma once

#include "interaction/interaction_model.h"

namespace varpair {

// The dominant-recessive models: four cells of genotypes 0 or 1 (dominant) or 0 (recessive) at
// each SNP, each against all other genotyped combinations.
const InteractionModel& domrec_interaction_model();

}  // namespace varpair
