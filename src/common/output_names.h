// The names of the files a run writes beside its -o, all in one place: the run logs, the shard's
// manifest and records, variant ID lists, the parts directory and its metadata, side outputs.
#pragma once

#include <array>
#include <string>

namespace varpair {

// Run logs: the LD commands append ".log" to -o; the interaction commands replace the file name's
// extension (only the file name's: a dot in a directory name is not an extension).
std::string ld_log_path(const std::string& output_path);
std::string interaction_log_path(const std::string& output_path);

// A shard's manifest, written last (shard.h).
inline std::string manifest_path(const std::string& shard_output) { return shard_output + ".shard"; }
// An interaction shard's stored records and variant IDs, for the merge.
inline std::string records_path(const std::string& output) { return output + ".records"; }
inline std::string interaction_ids_path(const std::string& output) { return output + ".ids"; }

// LD binary outputs: the parts directory, its metadata and the two tables' variant IDs.
inline std::string parts_directory_path(const std::string& output) { return output + "_parts"; }
inline std::string metadata_path(const std::string& output) { return output + ".meta"; }
inline std::string ld_ids_path(const std::string& output, int table) {
  return output + (table == 0 ? ".ids0" : ".ids1");
}

// A model's side output (its suffix, such as kSummarySuffix) beside the result table.
constexpr const char* kSummarySuffix = ".summary";
inline std::string side_output_path(const std::string& output, const char* suffix) { return output + suffix; }

// Every suffix above: the files a run of -o OUT may write besides OUT itself (and its log).
constexpr std::array<const char*, 8> kOutputSuffixes{".shard", ".records", ".ids", "_parts",
                                                     ".meta",  ".ids0",    ".ids1", kSummarySuffix};

}  // namespace varpair
