// Shards: -parallel K N runs only the K-th of N contiguous, balanced ranges of a command's pairs,
// so that N jobs (a SLURM array, a Snakemake workflow) share one run, and `varpair merge` joins
// their outputs into the files one run would have written.
//
// Naming: shard K writes under -o with ".K" inserted before the file name's extension (out.txt ->
// out.3.txt, results/out -> results/out.3), and likewise under -distribution; every other file
// (run log, parts directory, metadata, ID lists, the shard's manifest) follows from those names as
// it does for a run without shards. So no file of one shard is another's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/output_names.h"

namespace varpair {

struct Shard {
  int k = 1;
  int n = 1;
  bool given = false;  // -parallel was given (also as 1 1: a one-shard run that merge can join)
  bool on() const { return given; }
};

// "out.txt" with shard 3: "out.3.txt"; the directory part is never touched.
std::string shard_path(const std::string& path, int k);

// The run log of an interaction shard: the whole run's log name with ".K" inserted ("out.3.log"
// for -o out.txt, and "out.3.log" for -o out too, where the shard's own name "out.3" would give the
// log of every shard, "out.log").
std::string interaction_shard_log_path(const std::string& output, int k);

// LD: rows [first, end) of -file0 (each holds rows1 pairs). N must not exceed rows0.
std::pair<std::int32_t, std::int32_t> ld_shard_rows(std::int32_t rows0, const Shard& shard);

// Interaction: SNP0 rows [first, end) of the SNP0 < SNP1 triangle of m SNPs, cut so that the shards
// hold nearly equal numbers of pairs; every shard holds at least one row. N must not exceed m - 1.
std::pair<std::int32_t, std::int32_t> triangle_shard_rows(std::int32_t m, const Shard& shard);

// Pairs of the triangle of m SNPs whose SNP0 lies in [first, end).
std::uint64_t triangle_pairs(std::int32_t m, std::int32_t first, std::int32_t end);

// What a shard read: each input file's size and modification time, so that the merge can tell
// shards that read other data (a file regenerated between two array tasks) from those that did not.
std::string inputs_fingerprint(const std::vector<std::string>& paths);

// A shard's manifest, written last and atomically when the shard has written all its outputs (as
// "key value" lines after "varpair shard"). `varpair merge` takes a shard as complete only with its
// manifest. The drivers fill it, the merge reads it: one form for both.
struct ShardManifest {
  enum class Family { kLd, kInteraction };
  Family family = Family::kInteraction;
  std::string command;   // the command's name
  Shard shard;           // k of n
  std::string settings;  // the command line less -parallel
  std::string inputs;    // inputs_fingerprint of what it read
  bool ids = false;      // the inputs carried variant IDs
  std::uint64_t rows0 = 0;
  std::uint64_t rows1 = 0;  // LD: -file1's rows
  // LD: the pairs [first, end) of rows0 x rows1; interaction: the SNP0 rows [first, end).
  std::uint64_t first = 0;
  std::uint64_t end = 0;
  bool binary = false;        // LD: part files (cut-off 0), not a text table
  bool distribution = false;  // LD: -distribution was given
  std::uint64_t records = 0;  // interaction: the records the shard kept
  bool adjusted = false;      // interaction: refitted with covariates (the records carry more)
  std::vector<std::string> labels;  // interaction: label texts that came with the input (traits)
};

bool write_manifest(const std::string& path, const ShardManifest& manifest);
// Nothing when the file is absent, unreadable or incomplete.
std::optional<ShardManifest> read_manifest(const std::string& path);

}  // namespace varpair
