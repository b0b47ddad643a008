#include "ld/ld_settings.h"

namespace varpair {

const LdCommand kR2Command{
    "interChromLDr2", "-r2_cut", "Using r2 cutoff: ", "Missing required arguments for interChromLDr2!",
    "SNP0\tSNP1\tr2", 1000000,   kR2Kernels};
const LdCommand kDprimeCommand{
    "interChromLDdprime", "-dprime_cut", "Using D' cutoff: ", "Missing required arguments for interChromLDdprime!",
    "SNP0\tSNP1\tDprime", 100000000,     kDprimeKernels};

}  // namespace varpair
