// The two LD commands' texts and kernels, and what an LD command line asks for after the front
// end's checks.
#pragma once

#include <cstdint>
#include <string>

#include "common/output_names.h"
#include "common/shard.h"
#include "ld/ld_kernels.h"

namespace varpair {

// The settings in which interChromLDr2 and interChromLDdprime differ.
struct LdCommand {
  const char* name;               // "interChromLDr2"
  const char* cut_option;         // "-r2_cut"
  const char* cut_line;           // "Using r2 cutoff: "
  const char* missing_arguments;  // the line for a missing -file0, -file1 or -o
  const char* text_header;        // header of the text table
  std::uint64_t pairs_per_part;   // most pairs in one binary part file
  const LdKernels& kernels;
};

extern const LdCommand kR2Command;
extern const LdCommand kDprimeCommand;

// -estimate: the 20-round EM of the specified LD commands, or the maximum-likelihood split.
enum class LdEstimate { kEm20, kMaximumLikelihood };

struct LdSettings {
  std::string file0;
  std::string file1;
  std::string output;
  std::string distribution;
  bool distribution_on = false;  // -distribution was given
  int threads = 256;
  float cutoff = 0.8f;
  LdEstimate estimate = LdEstimate::kEm20;  // -estimate em20 | ml
  bool estimate_given = false;              // -estimate was on the command line
  std::string command_line;        // " <argv[0]> <argv[1]> ...", as the run log echoes it
  std::string chromosome0;         // -chr0: only this chromosome of a fileset or VCF
  std::string chromosome1;         // -chr1
  bool variant_ids = false;        // an input carries variant IDs (a fileset or VCF): outputs name them
  Shard shard;                     // -parallel K N: output and distribution are then the shard's names
  std::string shard_command_line;  // the command line less -parallel, the same for every shard

  // A cut-off of exactly 0 asks for every value, in binary part files.
  bool binary_mode() const { return cutoff == 0.0f; }
  std::string parts_directory() const { return parts_directory_path(output); }
  std::string metadata_path() const { return varpair::metadata_path(output); }
  // A binary run's variant IDs of -file0 and -file1, one a line, beside its metadata.
  std::string ids_path(int table) const { return ld_ids_path(output, table); }
};

}  // namespace varpair
