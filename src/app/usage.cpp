#include "app/usage.h"

namespace varpair {

void print_usage(std::ostream& out) {
  out << "varpair version: 2.0\n"
         "Usage: varpair <command> [options]\n"
         "Commands:\n"
         "[1] *** inter-Chrom LD: Calculate Cross-Chromosome Linkage Disequilibrium (LD) ***\n"
         "[1.1] Example for interChromLDr2 (r2 is considered as the LD measure)\n"
         "    varpair interChromLDr2 -file0 file0.txt -file1 file1.txt -o output.txt "
         "[-threads threads_per_block] "
         "[-r2_cut cutoff] [-distribution dist_file]\n"
         "[1.2] Example for interChromLDdprime (D' is considered as the LD measure)\n"
         "    varpair interChromLDdprime -file0 file0.txt -file1 file1.txt -o output.txt "
         "[-threads threads_per_block] "
         "[-dprime_cut cutoff] [-distribution dist_file]\n"
         "\n"
         "[2] *** SNP-SNP Interaction: Calculate SNP-SNP Interaction  ***\n"
         "[2.1] Example for genotype_interaction (Nine-Genotype based Interaction Analysis)\n"
         "    varpair genotype_interaction -file0 case.txt -file1 control.txt -o output.txt  "
         "[-threads threads_per_block] "
         "[-alpha_cut p_value] [-or_cut or_threshold] [-set_gpu gpu_id]\n"
         "[2.2] Example for mdr_interaction (Multifactor Dimensionality Reduction based Interaction Analysis)\n"
         "    varpair mdr_interaction -file0 case.txt -file1 control.txt -o output.txt  "
         "[-threads threads_per_block] "
         "[-alpha_cut p_value] [-or_cut or_threshold] [-set_gpu gpu_id]\n"
         "[2.3]  Example for domrec_interaction - Dominant-recessive model interaction\n"
         "    varpair domrec_interaction -file0 case.txt -file1 control.txt -o output.txt "
         "[-threads threads_per_block] "
         "[-chisq_cut p_value] [-or_cut or_threshold] [-set_gpu gpu_id]\n"
      << std::flush;
}

}  // namespace varpair
