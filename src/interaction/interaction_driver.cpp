#include "interaction/interaction_driver.h"

#include "models/domrec_interaction.h"
#include "models/genotype_interaction.h"
#include "models/mdr_interaction.h"

namespace varpair {

int run_genotype_interaction(int argc, const char* const* argv) {
  return run_interaction_model(genotype_interaction_model(), argc, argv);
}

int run_mdr_interaction(int argc, const char* const* argv) {
  return run_interaction_model(mdr_interaction_model(), argc, argv);
}

int run_domrec_interaction(int argc, const char* const* argv) {
  return run_interaction_model(domrec_interaction_model(), argc, argv);
}

}  // namespace varpair
