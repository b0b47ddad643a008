#pragma once

#include "interaction/interaction_model.h"

namespace varpair {

// The dominant-recessive models: four cells of genotypes 0 or 1 (dominant) or 0 (recessive) at
// each SNP, each against all other genotyped combinations.
const InteractionModel& domrec_interaction_model();

const char* domrec_label(std::int32_t model);

// Dominant (0 or 1), recessive (0), AB (1) and BB (2) masks; the kernels read the last three.
constexpr MaskScheme kDomrecMasks{4, {0b0011, 0b0101, 0b1000}};

MaskStore build_domrec_masks(const MappedFile& file);

// A group's four masks on the device; a failure names the mask ("AB mask"), without runtime text.
void upload_domrec_masks(const MaskStore& store, std::int32_t first, std::int32_t end, DeviceMasks& out);

}  // namespace varpair
