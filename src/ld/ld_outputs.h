// The files an LD run writes besides its log: the sorted text table, the binary part files with
// their directory and metadata file, and the distribution file. All start with the UTF-8 byte-order
// mark except the part files; all are written in binary mode.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "common/atomic_output.h"
#include "common/run_log.h"
#include "ld/ld_kernels.h"

namespace varpair {

// Text mode: "SNP0\tSNP1\t<measure>" and one line per passing pair, sorted within each batch. The
// table goes into place when committed (see atomic_output.h).
class LdTextTable {
 public:
  explicit LdTextTable(const std::string& path) : file_(path) {}
  // Opens the file and writes the byte-order mark and header; false (errno set) when it cannot.
  // With variant IDs, each line ends in the IDs of its two SNPs (columns ID0 and ID1).
  bool open(const char* header, const std::vector<std::string>* ids0 = nullptr,
            const std::vector<std::string>* ids1 = nullptr);
  // Sorts the batch's records by (snp0_index, snp1_index) and writes their lines.
  void write_batch(std::vector<ResultRecord>& records);
  bool is_open() const { return file_.is_open(); }
  AtomicFile& file() { return file_; }

 private:
  AtomicFile file_;
  const std::vector<std::string>* ids0_ = nullptr;
  const std::vector<std::string>* ids1_ = nullptr;
};

// A list of variant IDs, one a line, written under its temporary name; false when a write failed.
bool write_id_list(AtomicFile& file, const std::vector<std::string>& ids);

// The 16-bit code of one value in a part file: 65535 for -1.0, else the value's thousandths
// rounded half up in single precision, capped at 1000.
std::uint16_t encode_ld_value(float value);

// Encodes n values as little-endian codes into out[0 .. 2n), spread over up to 16 workers when
// each gets at least 1,000,000 values.
void encode_ld_values(const float* values, std::uint64_t n, unsigned char* out);

// Creates the parts directory under its temporary name (the parent must exist); an existing final
// directory is reported with "Directory already exists: " and replaced by the new one on commit.
// A failure prints "Failed to create directory: <path> (Error: <errno>): <reason>" and returns false.
bool create_parts_directory(AtomicDirectory& directory, const std::string& path, RunLog& log);

// Whether a file name is one of an LD run's own in its parts directory (part files, run identifier).
bool is_parts_file(const std::string& name);

std::string part_file_path(const std::string& directory, std::uint64_t number);

enum class PartWrite { kWritten, kOpenFailed, kWriteFailed };

// Writes one part file: first pair index, pair count, then the codes. Prints "Error opening part
// file: " or "Error writing part file: " with the path on failure.
PartWrite write_part_file(const std::string& path, std::uint64_t first, const float* values, std::uint64_t n,
                          RunLog& log);

// The metadata file: R0, R1, the parts directory and "run <id>", one a line, and for a shard
// "pairs <first> <end>" (the range it holds), written under its temporary name. Prints "Failed to
// create metadata file: " (false; also when a write fails).
bool write_ld_metadata(AtomicFile& file, std::int32_t rows0, std::int32_t rows1, const std::string& parts_directory,
                       const std::string& run_id, const std::string& pair_range, RunLog& log);

// The run identifier file of a parts directory: "<id>\n".
bool write_run_id(const std::string& directory, const std::string& run_id);

// The distribution file: the missing line and 1001 bins with frequency and cumulative frequency
// over all P pairs. Prints "Error opening distribution file: " (false) when it cannot be opened;
// false too when a write fails.
bool write_ld_distribution(AtomicFile& file, const std::array<std::uint64_t, kHistogramBins>& bins,
                           std::uint64_t missing, std::uint64_t pairs, RunLog& log);

}  // namespace varpair
