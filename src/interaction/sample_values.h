// What a model reads per sample beside the genotype masks: quantitative traits and covariates, in
// the masks' sample order. A trait's missing values are NaN; a sample without every covariate is
// not among the masks' samples at all.
#pragma once

#include <string>
#include <vector>

namespace varpair {

// The most traits a run tests and covariates it adjusts for: a pair's sums of each are held at
// once, on the device too.
constexpr int kMaxTraits = 16;
constexpr int kMaxCovariates = 12;

struct SampleValues {
  std::vector<std::string> trait_names;
  std::vector<std::vector<double>> traits;  // trait x sample
  std::vector<std::string> covariate_names;
  std::vector<std::vector<double>> covariates;  // covariate x sample
};

}  // namespace varpair
