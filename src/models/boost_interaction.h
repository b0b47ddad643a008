#pragma once

#include "interaction/interaction_model.h"

namespace varpair {

// BOOST: the likelihood-ratio test of interaction in the pair's 3 x 3 x 2 table of genotypes and
// status, screened on the device by the Kirkwood superposition approximation, fitted exactly on
// the host (boost_math.h, boost_fit.h).
const InteractionModel& boost_interaction_model();

}  // namespace varpair
