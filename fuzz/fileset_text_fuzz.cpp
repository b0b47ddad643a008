// libFuzzer target of the text parts of a PLINK fileset, of a -pheno file and of a -covar file: the
// first byte picks the file the rest becomes (.fam, .bim, -pheno or -covar) beside valid other files.
// Any bytes end in a source whose counts agree with its files (and covariate rows that exist), or in
// an InputError; never a crash or a read outside.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/covariates.h"
#include "common/errors.h"
#include "common/genotype_source.h"
#include "common/sample_matching.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string prefix = "/tmp/varpair-fuzz-" + std::to_string(::getpid());
  if (size == 0) return 0;
  const int which = data[0] % 4;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string fam = "f0 i0 0 0 0 2\nf1 i1 0 0 0 1\nf2 i2 0 0 0 -9\n", bim = "1\trs0\t0\t1\tG\tA\n2\trs1\t0\t2\tG\tA\n";
  if (which == 0) fam = text;
  if (which == 1) bim = text;
  write(prefix + ".fam", fam);
  write(prefix + ".bim", bim);
  // A .bed of the right size for whatever counts the text files give, with all codes in use.
  std::size_t samples = 0, variants = 0;
  for (char c : fam) samples += c == '\n';
  for (char c : bim) variants += c == '\n';
  std::string bed = "\x6c\x1b\x01";
  for (std::size_t k = 0; k < variants * ((samples + 3) / 4) && k < (1u << 20); ++k) bed += static_cast<char>(k * 37);
  write(prefix + ".bed", bed);
  try {
    const auto source = varpair::GenotypeSource::open(prefix + ".bed");
    require(source->samples() > 0 && source->sample_ids().size() == static_cast<std::size_t>(source->samples()));
    if (which == 2) {
      write(prefix + ".pheno", text);
      std::int32_t unmatched = 0;
      const auto phenotypes = varpair::read_phenotype_file(prefix + ".pheno", *source, "fuzz", unmatched);
      require(phenotypes.size() == static_cast<std::size_t>(source->samples()) && unmatched >= 0);
    }
    if (which == 3) {
      write(prefix + ".covar", text);
      const auto covariates = varpair::CovariateFile::read(prefix + ".covar", {});
      require(covariates.columns() > 0);
      for (const std::int32_t r : covariates.complete_rows(*source))
        require(r < 0 || (covariates.complete(r) && std::isfinite(covariates.row(r)[0])));
    }
    const varpair::PackedGenotypes g = source->read({}, "");
    require(g.rows > 0 && g.variant_ids.size() == static_cast<std::size_t>(g.rows));
  } catch (const varpair::InputError&) {
  }
  return 0;
}
