// The case and control tables of an interaction run, read into genotype masks: -file0 and -file1
// (text tables, filesets, VCF/BCF), or the cases and controls of one fileset or VCF told apart by
// phenotype (the .fam's or -pheno's).
#pragma once

#include <string>
#include <vector>

#include "common/clock.h"
#include "common/run_log.h"
#include "interaction/genotype_masks.h"
#include "interaction/interaction_command.h"
#include "interaction/interaction_settings.h"

namespace varpair {

struct CaseControlInput {
  MaskStore cases;
  MaskStore controls;
  std::vector<std::string> ids;  // variant IDs, when an input has them
  // With -covar: the names of the covariates and the rows of the case and of the control samples
  // (samples x names, in the masks' order); the samples without a complete row are left out.
  std::vector<std::string> covariate_names;
  std::vector<double> case_covariates, control_covariates;
};

// Reads both tables (with -covar only the samples with a complete covariate row), logging as it goes
// ("Reading case file (file0): ...", the reading time); false after the error line when a table or
// the covariate file cannot be read, or the two tables do not hold the same SNPs.
bool read_case_control(const InteractionCommand& command, const InteractionSettings& settings, RunLog& log,
                       TimerRegistry& timers, CaseControlInput& in);

}  // namespace varpair
