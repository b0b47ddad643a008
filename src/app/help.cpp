#include "app/help.h"

#include <cstring>
#include <string>

#include "app/usage.h"

namespace varpair {

namespace {

// Which commands an option belongs to.
enum Family : unsigned {
  kLd = 1,           // interChromLDr2, interChromLDdprime
  kTwoByTwo = 2,     // genotype_interaction, mdr_interaction, domrec_interaction
  kBoost = 4,        // boost_interaction
  kMerge = 8,        // merge
  kDomrecOnly = 16,  // -chisq_cut
  kQt = 32,          // qt_interaction
  kCaseControl = kTwoByTwo | kBoost,
  kInteraction = kCaseControl | kQt,
  kRuns = kLd | kInteraction,
};

struct CommandHelp {
  const char* name;
  Family family;
  const char* what;
  const char* synopsis;
};

const CommandHelp kCommandHelp[] = {
    {"interChromLDr2", kLd, "cross-chromosome LD, r2, of every SNP of -file0 against every SNP of -file1",
     "-file0 F -file1 F -o OUT [options]"},
    {"interChromLDdprime", kLd, "cross-chromosome LD, D', of every SNP of -file0 against every SNP of -file1",
     "-file0 F -file1 F -o OUT [options]"},
    {"genotype_interaction", kTwoByTwo, "nine-genotype interaction model: each genotype cell against the others",
     "-file0 CASES -file1 CONTROLS -o OUT [options], or -file0 FILESET -o OUT [options]"},
    {"mdr_interaction", kTwoByTwo, "multifactor dimensionality reduction: high-risk against low-risk cells",
     "-file0 CASES -file1 CONTROLS -o OUT [options], or -file0 FILESET -o OUT [options]"},
    {"domrec_interaction", kTwoByTwo, "dominant-recessive models: four cells of dominant and recessive coding",
     "-file0 CASES -file1 CONTROLS -o OUT [options], or -file0 FILESET -o OUT [options]"},
    {"boost_interaction", kBoost,
     "BOOST: the likelihood-ratio test of interaction (PLINK's --fast-epistasis boost), with OUT.summary",
     "-file0 CASES -file1 CONTROLS -o OUT [options], or -file0 FILESET -o OUT [options]"},
    {"qt_interaction", kQt,
     "quantitative traits: the linear regression test of interaction (PLINK's --epistasis), with covariates",
     "-file0 FILESET -o OUT [options], or -file0 VCF -pheno TRAITS -o OUT [options]"},
    {"merge", kMerge, "joins the N shards of a run (-parallel K N) into the files of one run",
     "-o OUT -parallel N [-distribution D]"},
};

struct OptionHelp {
  const char* name;
  unsigned families;
  const char* fallback;  // the default
  const char* what;
};

const OptionHelp kOptionHelp[] = {
    {"-file0 F", kRuns, "required",
     "LD: the first table; interaction: the cases, or one fileset or VCF of cases and controls (of traits)"},
    {"-file1 F", kLd | kCaseControl, "required (LD)", "LD: the second table; interaction: the controls"},
    {"-o OUT", kRuns | kMerge, "required", "the output; the run log and other outputs are named after it"},
    {"-threads T", kRuns, "256", "threads per block of every kernel launch, 1 to 1024"},
    {"-r2_cut C", kLd, "0.8", "interChromLDr2's cut-off, 0 to 1; exactly 0 writes every value as binary part files"},
    {"-dprime_cut C", kLd, "0.8", "interChromLDdprime's cut-off, 0 to 1; exactly 0 writes every value as part files"},
    {"-distribution D", kLd | kMerge, "none", "also the distribution of all LD values, in 1001 bins"},
    {"-estimate E", kLd, "em20", "em20 (at most 20 rounds of EM) or ml (the maximum-likelihood estimate)"},
    {"-chr0 C, -chr1 C", kLd, "all", "only chromosome C of -file0 / -file1 (a fileset or VCF)"},
    {"-alpha_cut P", kInteraction, "0.00001", "the p-value cut-off, 0 to 1"},
    {"-chisq_cut P", kDomrecOnly, "0.00001", "domrec_interaction: -alpha_cut by another name"},
    {"-or_cut R", kTwoByTwo, "2.0", "the odds-ratio cut-off of the 2x2 tables, above 0"},
    {"-set_gpu G", kInteraction, "0", "which GPU to use"},
    {"-pheno FILE", kCaseControl, "the .fam's",
     "with one fileset or VCF: phenotypes from FILE (FID IID PHENO or IID PHENO; 2 case, 1 control)"},
    {"-pheno FILE", kQt, "the .fam's", "quantitative traits from FILE, a column each (FID IID T1 T2 ...)"},
    {"-pheno_name A,B", kQt, "all columns", "only these traits of the -pheno file (at most 16)"},
    {"-covar FILE", kCaseControl, "none",
     "refit each reported record by logistic regression with these covariates (FID IID COV...)"},
    {"-covar FILE", kQt, "none", "covariates of every fit (FID IID COV...; at most 12)"},
    {"-covar_name A,B", kInteraction, "all columns", "only these covariates of the -covar file"},
    {"-parallel K N", kRuns, "none", "run only shard K of N; varpair merge joins the N shards"},
    {"-parallel N", kMerge, "required", "the number of shards to join"},
};

bool belongs(const OptionHelp& o, const CommandHelp& c) {
  if (o.families & kDomrecOnly) return std::strcmp(c.name, "domrec_interaction") == 0;
  return (o.families & c.family) != 0;
}

void option_line(std::ostream& out, const OptionHelp& o) {
  std::string name = o.name;
  name.resize(name.size() < 18 ? 18 : name.size(), ' ');
  out << "  " << name << " " << o.what << " [" << o.fallback << "]\n";
}

}  // namespace

void print_help(std::ostream& out) {
  print_usage(out);
  out << "\nEvery command (varpair COMMAND --help shows its options):\n";
  for (const CommandHelp& c : kCommandHelp) {
    std::string name = c.name;
    name.resize(22, ' ');
    out << "  " << name << c.what << "\n";
  }
  out << "\nEvery option, with its default in brackets (the usage text above shows the main ones):\n";
  for (const OptionHelp& o : kOptionHelp) option_line(out, o);
  out << "\nInputs: NAME.bed or a bare PREFIX (PLINK fileset), NAME.vcf, .vcf.gz, .vcf.bgz, .bcf (htslib), anything\n"
         "else a text table (one SNP a line, one token a sample); names match without regard to case, and a\n"
         "file read as a text table that is another kind (a VCF, a compressed file, a .bed, .bim or .fam) is\n"
         "refused with what it looks like. The README says everything.\n"
      << std::flush;
}

bool print_command_help(std::ostream& out, const std::string& command) {
  for (const CommandHelp& c : kCommandHelp) {
    if (command != c.name) continue;
    out << "varpair " << c.name << ": " << c.what << "\nUsage: varpair " << c.name << " " << c.synopsis
        << "\nOptions, with their defaults in brackets:\n";
    for (const OptionHelp& o : kOptionHelp)
      if (belongs(o, c)) option_line(out, o);
    out << std::flush;
    return true;
  }
  return false;
}

}  // namespace varpair
