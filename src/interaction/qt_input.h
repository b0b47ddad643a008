// The inputs of a quantitative run (qt_interaction): the genotypes of one fileset or VCF, the traits
// (the .fam's sixth column, or the columns of -pheno), the covariates (-covar), matched by sample
// ID; the samples used are those with every covariate and at least one trait value. Or a text
// table with its one trait in -pheno, one value a line in the table's sample order.
#pragma once

#include "common/clock.h"
#include "common/run_log.h"
#include "interaction/case_control_input.h"
#include "interaction/interaction_settings.h"
#include "interaction/sample_values.h"

namespace varpair {

// Reads them into `in.cases` (the samples used; `in.controls` stays empty) and `values`, logging as
// the case/control reader does; false after the error line when an input cannot be used.
bool read_qt_input(const InteractionSettings& settings, RunLog& log, TimerRegistry& timers, CaseControlInput& in,
                   SampleValues& values);

}  // namespace varpair
