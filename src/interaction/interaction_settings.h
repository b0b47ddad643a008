// What an interaction command line asks for, after the front end's checks.
#pragma once

#include <string>
#include <vector>

#include "common/shard.h"

namespace varpair {

struct InteractionSettings {
  std::string case_path;     // -file0
  std::string control_path;  // -file1; empty: cases and controls of -file0 by phenotype
  std::string output;        // -o (a shard's own name with -parallel)
  std::string log_path;      // the run log
  double alpha = 0.00001;    // -alpha_cut (or -chisq_cut), the p-value cut-off
  float or_threshold = 2.0f;
  int threads = 256;
  int device_index = 0;            // -set_gpu
  std::string command_line;        // " <argv[0]> <argv[1]> ...", as the run log echoes it
  std::string phenotype_path;      // -pheno: phenotypes of -file0's samples, in place of the .fam's
  std::vector<std::string> phenotype_names;  // -pheno_name A,B,...: only these traits (empty: all)
  std::string covariate_path;      // -covar: refit the reported records with these covariates
  std::vector<std::string> covariate_names;  // -covar_name A,B,...: only these columns (empty: all)
  Shard shard;                     // -parallel K N: the output is then the shard's name
  std::string shard_command_line;  // the command line less -parallel, the same for every shard

  bool split_by_phenotype() const { return control_path.empty(); }
  bool adjusted() const { return !covariate_path.empty(); }
};

}  // namespace varpair
