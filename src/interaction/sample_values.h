// What a model reads per sample beside the genotype masks: quantitative traits and covariates, in
// the masks' sample order. A trait's missing values are NaN; a sample without every covariate is
// not among the masks' samples at all.
#pragma once

#include <string>
#include <vector>

namespace varpair {

struct SampleValues {
  std::vector<std::string> trait_names;
  std::vector<std::vector<double>> traits;  // trait x sample
  std::vector<std::string> covariate_names;
  std::vector<std::vector<double>> covariates;  // covariate x sample
};

}  // namespace varpair
