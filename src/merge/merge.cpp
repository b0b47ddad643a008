#include "merge/merge.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "common/atomic_output.h"
#include "common/clock.h"
#include "common/errors.h"
#include "common/output_lock.h"
#include "common/run_id.h"
#include "common/run_log.h"
#include "common/shard.h"
#include "interaction/record_runs.h"
#include "ld/ld_outputs.h"

namespace varpair {

namespace {

namespace fs = std::filesystem;

struct MergeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ShardOutputs {
  int k;
  std::string output;  // the shard's -o
  ShardManifest manifest;
};

std::string last_line(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  return last;
}

std::string first_line(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!std::getline(in, line)) throw MergeError("cannot read " + path + reason(errno));
  return line;
}

// Every shard present, complete, of the same command line and together covering every pair once.
std::vector<ShardOutputs> check_shards(const MergeSettings& s, const MergeCommand& command) {
  std::vector<ShardOutputs> shards;
  std::uint64_t covered = 0, total = 0;
  for (int k = 1; k <= s.shards; ++k) {
    ShardOutputs shard{k, shard_path(s.output, k), {}};
    const std::string name = "shard " + std::to_string(k) + " of " + std::to_string(s.shards);
    const auto manifest = read_manifest(manifest_path(shard.output));
    if (!manifest)
      throw MergeError(name + " is missing or did not finish: there is no " + manifest_path(shard.output));
    shard.manifest = *manifest;
    const ShardManifest& m = shard.manifest;
    if (m.shard.k != k || m.shard.n != s.shards)
      throw MergeError(name + ": " + manifest_path(shard.output) + " belongs to shard " + std::to_string(m.shard.k) +
                       " " + std::to_string(m.shard.n));
    if (k > 1 && (m.command != shards[0].manifest.command || m.settings != shards[0].manifest.settings))
      throw MergeError(name + " was run with another command line than shard 1:" + m.settings);
    if (k > 1 && m.inputs != shards[0].manifest.inputs)
      throw MergeError(name + " read other input files than shard 1 (an input changed between the two runs)");
    const std::string log = command.ld != nullptr ? ld_log_path(shard.output) : interaction_shard_log_path(s.output, k);
    const std::string last = last_line(log);
    const bool finished = command.ld != nullptr ? last.rfind("Program finished successfully at: ", 0) == 0
                                                : last == "=== Analysis Completed ===";
    if (!finished)
      throw MergeError(name + " did not finish successfully: its log " + log + " ends in \"" + last + "\"");
    if (m.first != covered || m.end < m.first)
      throw MergeError(name + " does not continue where shard " + std::to_string(k - 1) + " ended");
    covered = m.end;
    if (command.ld != nullptr) {
      total = m.rows0 * m.rows1;
      if (!s.distribution.empty() && !m.distribution) throw MergeError(name + " was run without -distribution");
    } else {
      total = m.rows0 - 1;
    }
    shards.push_back(std::move(shard));
  }
  if (covered != total)
    throw MergeError("the " + std::to_string(s.shards) + " shards cover " + std::to_string(covered) + " of " +
                     std::to_string(total) + (command.ld != nullptr ? " pairs" : " rows of pairs"));
  if (command.ld == nullptr && !s.distribution.empty()) throw MergeError("-distribution belongs to the LD commands");
  return shards;
}

void commit(AtomicFile& file) {
  if (!file.commit()) throw MergeError("could not write " + file.path() + reason(errno));
}

// Everything the merge writes, complete under temporary names, so that it goes into place together
// or not at all.
struct Prepared {
  std::vector<std::unique_ptr<AtomicFile>> files;  // in the order they go into place
  std::unique_ptr<AtomicDirectory> parts;          // first, when there is one
  std::vector<std::string> stale;                  // files of an earlier run that must go

  // `open`: opened here; otherwise the writer that fills it opens it.
  AtomicFile& add(const std::string& path, bool open = true) {
    files.push_back(std::make_unique<AtomicFile>(path));
    if (open && !files.back()->open()) throw MergeError("cannot create " + path + reason(errno));
    return *files.back();
  }
};

// Variant IDs as one shard wrote them: one a line, exactly `rows` of them.
std::vector<std::string> read_ids(const std::string& path, std::uint64_t rows) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) throw MergeError("cannot read " + path + reason(errno));
  std::vector<std::string> ids;
  for (std::string id; std::getline(in, id);) ids.push_back(id);
  if (ids.size() != rows)
    throw MergeError(path + " holds " + std::to_string(ids.size()) + " IDs, not the " + std::to_string(rows) +
                     " of the run");
  return ids;
}

// LD text tables: one header, then every shard's lines in shard order.
void merge_ld_tables(const std::vector<ShardOutputs>& shards, const std::string& output, Prepared& prepared) {
  AtomicFile& table = prepared.add(output);
  std::string header;
  for (const ShardOutputs& shard : shards) {
    std::ifstream in(shard.output, std::ios::binary);
    std::string line;
    if (!std::getline(in, line)) throw MergeError("cannot read " + shard.output + reason(errno));
    if (header.empty())
      table.stream() << line << '\n';
    else if (line != header)
      throw MergeError(shard.output + " has another header than " + shards[0].output);
    header = line;
    if (in.peek() != std::char_traits<char>::eof()) table.stream() << in.rdbuf();
  }
  if (!table.close()) throw MergeError("could not write " + output);
}

std::vector<fs::path> parts_in_order(const std::string& directory) {
  std::vector<std::pair<std::uint64_t, fs::path>> numbered;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(directory, ec)) {
    const std::string file = entry.path().filename().string();  // part_N.bin
    const std::string digits = file.size() > 9 ? file.substr(5, file.size() - 9) : "";
    if (file.rfind("part_", 0) != 0 || !file.ends_with(".bin") || digits.empty() ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    numbered.emplace_back(std::stoull(digits), entry.path());
  }
  if (ec) throw MergeError("cannot read " + directory + ": " + ec.message());
  std::sort(numbered.begin(), numbered.end());
  std::vector<fs::path> paths;
  for (auto& [number, path] : numbered) paths.push_back(path);
  return paths;
}

// Binary LD outputs: the shards' part files in one directory, renumbered in pair order (linked
// where the file system can, copied otherwise), with metadata and ID lists of the whole run.
void merge_ld_parts(const std::vector<ShardOutputs>& shards, const MergeSettings& s, RunLog& log, Prepared& prepared) {
  const std::string directory = parts_directory_path(s.output);
  prepared.parts = std::make_unique<AtomicDirectory>(directory);
  AtomicDirectory& parts = *prepared.parts;
  if (!parts.create()) throw MergeError("cannot create " + directory + reason(errno));
  std::uint64_t number = 0;
  for (const ShardOutputs& shard : shards) {
    for (const fs::path& part : parts_in_order(parts_directory_path(shard.output))) {
      const fs::path target = part_file_path(parts.temporary(), number++);
      if (::link(part.c_str(), target.c_str()) != 0) {
        std::error_code ec;
        fs::copy_file(part, target, ec);
        if (ec) throw MergeError("cannot copy " + part.string() + ": " + ec.message());
      }
    }
  }
  const std::string run_id = new_run_id();
  const std::uint64_t rows0 = shards[0].manifest.rows0, rows1 = shards[0].manifest.rows1;
  for (int table = 0; table < 2; ++table) {
    if (!shards[0].manifest.ids) {
      prepared.stale.push_back(ld_ids_path(s.output, table));  // an earlier run's IDs would name these pairs wrongly
      continue;
    }
    std::string text;
    for (const std::string& id : read_ids(ld_ids_path(shards[0].output, table), table == 0 ? rows0 : rows1))
      text += id + "\n";
    AtomicFile& list = prepared.add(ld_ids_path(s.output, table));
    list.stream() << text;
    if (!list.close()) throw MergeError("could not write " + list.path());
  }
  AtomicFile& metadata = prepared.add(metadata_path(s.output), false);
  if (!write_run_id(parts.temporary(), run_id) ||
      !write_ld_metadata(metadata, static_cast<std::int32_t>(rows0), static_cast<std::int32_t>(rows1), directory,
                         run_id, "", log))
    throw MergeError("cannot write " + metadata_path(s.output));
  log << "Part files: " << number << " in " << directory << eol;
}

// Distributions: the counts summed; shares and cumulative shares over all pairs.
void merge_distributions(const std::vector<ShardOutputs>& shards, const MergeSettings& s, RunLog& log,
                         Prepared& prepared) {
  std::array<std::uint64_t, kHistogramBins> bins{};
  std::uint64_t missing = 0;
  for (const ShardOutputs& shard : shards) {
    const std::string path = shard_path(s.distribution, shard.k);
    std::ifstream in(path, std::ios::binary);
    std::string line;
    int bin = -2;  // the header, then MISSING, then the bins
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string start, end;
      std::uint64_t count = 0;
      if (bin >= -1 && !(fields >> start >> end >> count)) break;
      if (bin == -1) missing += count;
      if (bin >= 0 && bin < kHistogramBins) bins[static_cast<std::size_t>(bin)] += count;
      ++bin;
    }
    if (bin != kHistogramBins) throw MergeError(path + " is not a complete distribution file");
  }
  AtomicFile& file = prepared.add(s.distribution, false);
  if (!write_ld_distribution(file, bins, missing, shards[0].manifest.rows0 * shards[0].manifest.rows1, log))
    throw MergeError("cannot write " + s.distribution);
}

// Interaction tables: every shard's stored records, kept in sorted runs by its table, merged in
// SNP0, SNP1, label order and written by the model's table as one run would have written them;
// then the table's side outputs, joined from the shards'.
std::uint64_t merge_interaction(const std::vector<ShardOutputs>& shards, const MergeSettings& s,
                                const MergeCommand& command, RunLog& log, Prepared& prepared) {
  const std::string header = first_line(shards[0].output);
  const auto rows = static_cast<std::int32_t>(shards[0].manifest.rows0);
  std::vector<std::string> ids;
  if (shards[0].manifest.ids) ids = read_ids(interaction_ids_path(shards[0].output), shards[0].manifest.rows0);
  AtomicFile& table_file = prepared.add(s.output);
  TableSetup setup{&table_file.stream(), s.output, command.interaction->header, ids.empty() ? nullptr : &ids, 0, 0.0,
                   rows, {}};
  setup.adjusted = shards[0].manifest.adjusted;
  setup.labels = shards[0].manifest.labels;
  for (const char* suffix : command.model->side_outputs)
    setup.side.push_back(&prepared.add(side_output_path(s.output, suffix)).stream());
  const std::unique_ptr<RecordTable> table = command.model->make_table(setup);
  table->begin();
  const std::size_t bytes = table->stored_bytes();
  std::uint64_t written = 0;
  for (const ShardOutputs& shard : shards) {
    if (first_line(shard.output) != header)
      throw MergeError(shard.output + " has another header than " + shards[0].output);
    const std::string path = records_path(shard.output);
    const std::uint64_t records = shard.manifest.records;
    std::error_code ec;
    if (fs::file_size(path, ec) != records * bytes || ec)
      throw MergeError(path + " does not hold the " + std::to_string(records) + " records of its shard");
    // Shards are in SNP0 order, so their records follow one another; a shard's own file is sorted
    // whole, or (written before tables were) in runs of kRunLength that the k-way merge joins.
    std::vector<std::unique_ptr<RecordRun>> runs;
    std::vector<RecordRun*> order;
    for (std::uint64_t first = 0; first < records; first += RecordTable::kRunLength) {
      runs.push_back(std::make_unique<RecordRun>(path, bytes, first,
                                                 std::min<std::uint64_t>(RecordTable::kRunLength, records - first)));
      order.push_back(runs.back().get());
    }
    merge_runs(order, [&](const char* record) {
      table->add_stored(record);
      ++written;
    });
  }
  table->flush();
  std::vector<std::string> outputs;
  for (const ShardOutputs& shard : shards) outputs.push_back(shard.output);
  table->end_merge(outputs, rows, log);
  if (!table_file.close()) throw MergeError("could not write " + s.output);
  return written;
}

}  // namespace

int run_merge(const MergeSettings& s, const MergeLookup& lookup) {
  const auto first = read_manifest(manifest_path(shard_path(s.output, 1)));
  const auto command = first ? lookup(first->command) : std::nullopt;
  if (!command) {
    std::cerr << "Error: shard 1 of " << s.shards << " is missing or did not finish: there is no "
              << manifest_path(shard_path(s.output, 1)) << std::endl;
    return 1;
  }
  std::vector<ShardOutputs> shards;
  try {
    shards = check_shards(s, *command);
  } catch (const MergeError& e) {
    std::cerr << "Error: " << e.what() << "; nothing was written" << std::endl;
    return 1;
  }
  const std::string log_path = command->ld != nullptr ? ld_log_path(s.output) : interaction_log_path(s.output);
  OutputLock lock;
  if (!lock.acquire(log_path)) {
    std::cerr << "Error: Another run is writing " << s.output << " (it holds " << log_path
              << "); wait for it to end or choose another -o" << std::endl;
    return 1;
  }
  RunLog log(log_path);
  log << "varpair merge" << eol;
  log << "Command line:" << s.command_line << eol;
  log << "Merging " << s.shards << " shards of" << shards[0].manifest.settings << eol;
  remove_leftovers(log, s.output, s.distribution);
  const std::int64_t start = monotonic_ns();
  try {
    Prepared prepared;
    if (command->ld != nullptr) {
      if (shards[0].manifest.binary)
        merge_ld_parts(shards, s, log, prepared);
      else
        merge_ld_tables(shards, s.output, prepared);
      if (!s.distribution.empty()) merge_distributions(shards, s, log, prepared);
    } else {
      const std::uint64_t records = merge_interaction(shards, s, *command, log, prepared);
      log << "Records: " << records << eol;
    }
    // Every output is complete: now they go into place, together.
    const CommitPhase all_together;
    if (prepared.parts && !prepared.parts->commit(&is_parts_file))
      throw MergeError("could not write " + parts_directory_path(s.output) + reason(errno));
    for (auto& file : prepared.files) commit(*file);
    for (const std::string& path : prepared.stale) {
      std::error_code ec;
      fs::remove(path, ec);
    }
    if (command->ld != nullptr && shards[0].manifest.binary)
      log << "Metadata saved to: " << metadata_path(s.output) << eol;
    if (!s.distribution.empty()) log << "Distribution saved to: " << s.distribution << eol;
  } catch (const std::exception& e) {
    log << "Error: " << e.what() << eol;
    log << "Error: The merge is incomplete; no output was put in place" << eol;
    return 1;
  }
  log << "Output: " << s.output << eol;
  log << "Merge finished successfully in " << static_cast<double>(elapsed_ms(start)) / 1000.0 << " seconds" << eol;
  if (!log.intact()) {
    std::cerr << "Error: The results are incomplete: the run log was not written" << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace varpair
