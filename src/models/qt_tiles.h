// The host's pass of qt_interaction on its vector lanes (qt_tiles.cpp): a batch's pairs taken by
// tiles of SNPs. Host build only; the GPU, and the host's portable path, run the pass a pair a
// thread (qt_interaction.cu).
#pragma once

#include "interaction/interaction_model.h"

namespace varpair {

void launch_qt_tiles(const PassArgs& args, bool between);

}  // namespace varpair
