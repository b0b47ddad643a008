#include "interaction/interaction_command.h"

namespace varpair {

namespace {
constexpr const char* kModelHeader = "Model\tSNP0\tSNP1\ta\tb\tc\td\tchi_square\tchi_pvalue\tOR\tOR_lower\tOR_upper";
constexpr std::array<const char*, 3> kBetweenDone{"Completed between groups ", " and ", ": "};
}  // namespace

const InteractionCommand kGenotypeInteraction{
    "genotype_interaction",
    "Usage: varpair genotype_interaction -file0 case.txt -file1 control.txt -o output.txt [-alpha_cut p_value] "
    "[-or_cut or_threshold]",
    "Genotype_Label\tSNP0\tSNP1\ta\tb\tc\td\tchi_square\tchi_pvalue\tOR\tOR_lower\tOR_upper",
    "Nine-genotype interaction analysis completed successfully!",
    "Error: Number of SNPs in control and case files must be the same!",
    "Kernel launch failed: ",
    kBetweenDone,
    {"mask0", "mask1", "mask2"},
    /*mask_errors_with_runtime_text=*/true,
    /*accepts_chisq_cut=*/false,
    /*accepts_or_cut=*/true,
    /*report_device=*/true,
    /*read_errors_escape=*/false,
    /*group_floor_only_above_100_rows=*/false,
    InputReport::kMaskWords,
};

const InteractionCommand kMdrInteraction{
    "mdr_interaction",
    "Usage: varpair mdr_interaction -file0 case.txt -file1 control.txt -o output.txt [-alpha_cut p_value] "
    "[-or_cut or_threshold]",
    kModelHeader,
    "Multi-factor dimensionality reduction interaction analysis completed successfully!",
    "Error: Number of SNPs in case and control files must be the same!",
    "ERROR: Within-group kernel launch failed: ",
    {"Inter-group ", " and ", "completed: "},
    {"mask0", "mask1", "mask2"},
    /*mask_errors_with_runtime_text=*/false,
    /*accepts_chisq_cut=*/false,
    /*accepts_or_cut=*/true,
    /*report_device=*/false,
    /*read_errors_escape=*/false,
    /*group_floor_only_above_100_rows=*/false,
    InputReport::kSampleRatio,
};

const InteractionCommand kDomrecInteraction{
    "domrec_interaction",
    "Usage: varpair domrec_interaction -file0 case.txt -file1 control.txt -o output.txt [-alpha_cut p_value] "
    "[-or_cut or_threshold]",
    kModelHeader,
    "Dominant-recessive interaction analysis completed successfully!",
    "Error: Number of SNPs in control and case files must be the same!",
    "ERROR: Within-group kernel launch failed: ",
    kBetweenDone,
    {"recessive mask", "AB mask", "BB mask"},
    /*mask_errors_with_runtime_text=*/false,
    /*accepts_chisq_cut=*/true,
    /*accepts_or_cut=*/true,
    /*report_device=*/false,
    /*read_errors_escape=*/true,
    /*group_floor_only_above_100_rows=*/true,
    InputReport::kMaskWords,
};

// BOOST's texts follow the nine-genotype command's; it has no odds-ratio cut-off.
const InteractionCommand kBoostInteraction{
    "boost_interaction",
    "Usage: varpair boost_interaction -file0 case.txt -file1 control.txt -o output.txt [-alpha_cut p_value]",
    "SNP0\tSNP1\tSTAT\tDF\tP",
    "BOOST interaction analysis completed successfully!",
    "Error: Number of SNPs in control and case files must be the same!",
    "Kernel launch failed: ",
    kBetweenDone,
    {"mask0", "mask1", "mask2"},
    /*mask_errors_with_runtime_text=*/true,
    /*accepts_chisq_cut=*/false,
    /*accepts_or_cut=*/false,
    /*report_device=*/true,
    /*read_errors_escape=*/false,
    /*group_floor_only_above_100_rows=*/false,
    InputReport::kMaskWords,
};

// Quantitative traits: one fileset or VCF, the traits of its .fam or of -pheno.
const InteractionCommand kQtInteraction{
    "qt_interaction",
    "Usage: varpair qt_interaction -file0 genotypes.bed -o output.txt [-pheno traits.txt [-pheno_name A,B]] "
    "[-covar covariates.txt [-covar_name A,B]] [-alpha_cut p_value]",
    "PHENO\tSNP0\tSNP1\tN\tBETA_INT\tSE\tT_STAT\tP",
    "Quantitative-trait interaction analysis completed successfully!",
    "",
    "Kernel launch failed: ",
    kBetweenDone,
    {"mask0", "mask1", "mask2"},
    /*mask_errors_with_runtime_text=*/true,
    /*accepts_chisq_cut=*/false,
    /*accepts_or_cut=*/false,
    /*report_device=*/true,
    /*read_errors_escape=*/false,
    /*group_floor_only_above_100_rows=*/false,
    InputReport::kMaskWords,
    /*quantitative=*/true,
};

}  // namespace varpair
