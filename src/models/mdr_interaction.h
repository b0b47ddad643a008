#pragma once

#include "interaction/interaction_model.h"

namespace varpair {

// Multifactor dimensionality reduction: the nine genotype cells pooled into high-risk and low-risk
// classes by their case/control ratio, one 2x2 table per pair.
const InteractionModel& mdr_interaction_model();

}  // namespace varpair
