#pragma once

#include "interaction/interaction_model.h"

namespace varpair {

// The dominant-recessive models: four cells of genotypes 0 or 1 (dominant) or 0 (recessive) at
// each SNP, each against all other genotyped combinations.
const InteractionModel& domrec_interaction_model();

const char* domrec_label(std::int32_t model);

// Dominant (0 or 1), recessive (0), AB (1) and BB (2) masks; the kernels read the last three.
constexpr MaskScheme kDomrecMasks{4, {0b0011, 0b0101, 0b1000}};

}  // namespace varpair
