// A build without htslib reads no VCF or BCF, and says so.
#include "common/errors.h"
#include "common/genotype_source.h"

namespace varpair {

std::unique_ptr<GenotypeSource> open_vcf_source(const std::string& path) {
  throw InputError(path + ": this build of varpair reads no VCF or BCF (it was built without htslib)");
}

}  // namespace varpair
