#include "ld/ld_outputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iomanip>
#include <memory>

#include "common/errors.h"
#include "common/worker_pool.h"

namespace varpair {

namespace {

constexpr const char* kBom = "\xEF\xBB\xBF";

void put_le64(std::ofstream& out, std::uint64_t v) {
  unsigned char bytes[8];
  for (int b = 0; b < 8; ++b) bytes[b] = static_cast<unsigned char>(v >> (8 * b));
  out.write(reinterpret_cast<const char*>(bytes), 8);
}

// Closes a stream and tells whether every write reached the file.
bool close_checked(std::ofstream& out) {
  out.flush();
  const bool good = out.good();
  out.close();
  return good && !out.fail();
}

}  // namespace

bool LdTextTable::open(const char* header, const std::vector<std::string>* ids0, const std::vector<std::string>* ids1) {
  if (!file_.open()) return false;
  ids0_ = ids0;
  ids1_ = ids1;
  file_.stream() << kBom << header << (ids0_ != nullptr ? "\tID0\tID1" : "") << '\n'
                 << std::fixed << std::setprecision(6);
  return true;
}

bool write_id_list(AtomicFile& file, const std::vector<std::string>& ids) {
  if (!file.open()) return false;
  std::string text;
  for (const std::string& id : ids) {
    text += id;
    text += '\n';
  }
  file.stream() << text;
  return file.close();
}

void LdTextTable::write_batch(std::vector<ResultRecord>& records) {
  std::sort(records.begin(), records.end(), [](const ResultRecord& a, const ResultRecord& b) {
    return a.snp0_index != b.snp0_index ? a.snp0_index < b.snp0_index : a.snp1_index < b.snp1_index;
  });
  std::ofstream& out = file_.stream();
  if (ids0_ == nullptr) {
    for (const ResultRecord& r : records) out << r.snp0_index << '\t' << r.snp1_index << '\t' << r.value << '\n';
    return;
  }
  for (const ResultRecord& r : records)
    out << r.snp0_index << '\t' << r.snp1_index << '\t' << r.value << '\t' << (*ids0_)[r.snp0_index] << '\t'
        << (*ids1_)[r.snp1_index] << '\n';
}

std::uint16_t encode_ld_value(float value) {
  if (value == -1.0f) return 65535;
  const float scaled = value * 1000.0f + 0.5f;
  // Out-of-range and not-a-number values convert to INT32_MIN, as the x86 conversion does.
  const std::int32_t q =
      scaled >= -2147483648.0f && scaled < 2147483648.0f ? static_cast<std::int32_t>(scaled) : INT32_MIN;
  const auto code = static_cast<std::uint16_t>(static_cast<std::uint32_t>(q) & 0xFFFFu);
  return code > 1000 ? 1000 : code;
}

void encode_ld_values(const float* values, std::uint64_t n, unsigned char* out) {
  constexpr std::uint64_t kMinPerWorker = 1000000;
  std::uint64_t workers = std::min<std::uint64_t>(WorkerPool::shared().concurrency(), 16);
  if (n < workers * kMinPerWorker) workers = std::max<std::uint64_t>(n / kMinPerWorker, 1);
  const std::uint64_t chunk = (n + workers - 1) / workers;
  auto encode_range = [&](std::uint64_t begin, std::uint64_t end) {
    for (std::uint64_t k = begin; k < end; ++k) {
      const std::uint16_t code = encode_ld_value(values[k]);
      out[2 * k] = static_cast<unsigned char>(code);
      out[2 * k + 1] = static_cast<unsigned char>(code >> 8);
    }
  };
  if (workers <= 1) {
    encode_range(0, n);
    return;
  }
  WorkerPool::shared().run(workers, [&](std::size_t k) {
    const std::uint64_t begin = k * chunk;
    if (begin < n) encode_range(begin, std::min(begin + chunk, n));
  });
}

bool is_parts_file(const std::string& name) {
  return name == "run.id" ||
         (name.rfind("part_", 0) == 0 && name.size() > 9 && name.compare(name.size() - 4, 4, ".bin") == 0);
}

bool create_parts_directory(AtomicDirectory& directory, const std::string& path, RunLog& log) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
    log << "Failed to create directory: " << path << " (Error: " << EEXIST << ")" << reason(ENOTDIR) << eol;
    return false;
  }
  if (!directory.create()) {
    const int error = errno;
    log << "Failed to create directory: " << path << " (Error: " << error << ")" << reason(error) << eol;
    return false;
  }
  // The earlier run's directory stays whole until this run's replaces it.
  if (::stat(path.c_str(), &info) == 0) log << "Directory already exists: " << path << eol;
  return true;
}

bool write_run_id(const std::string& directory, const std::string& run_id) {
  std::ofstream out(directory + "/run.id", std::ios::out | std::ios::binary | std::ios::trunc);
  out << run_id << '\n';
  return close_checked(out);
}

std::string part_file_path(const std::string& directory, std::uint64_t number) {
  return directory + "/part_" + std::to_string(number) + ".bin";
}

PartWrite write_part_file(const std::string& path, std::uint64_t first, const float* values, std::uint64_t n,
                          RunLog& log) {
  std::ofstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!out.is_open()) {
    log << "Error opening part file: " << path << reason(errno) << eol;
    return PartWrite::kOpenFailed;
  }
  put_le64(out, first);
  put_le64(out, n);
  auto codes = std::make_unique_for_overwrite<unsigned char[]>(2 * n);
  encode_ld_values(values, n, codes.get());
  out.write(reinterpret_cast<const char*>(codes.get()), static_cast<std::streamsize>(2 * n));
  if (!close_checked(out)) {
    log << "Error writing part file: " << path << eol;
    return PartWrite::kWriteFailed;
  }
  return PartWrite::kWritten;
}

bool write_ld_metadata(AtomicFile& file, std::int32_t rows0, std::int32_t rows1, const std::string& parts_directory,
                       const std::string& run_id, const std::string& pair_range, RunLog& log) {
  if (!file.open()) {
    log << "Failed to create metadata file: " << file.path() << reason(errno) << eol;
    return false;
  }
  file.stream() << kBom << rows0 << '\n' << rows1 << '\n' << parts_directory << '\n' << "run " << run_id << '\n';
  if (!pair_range.empty()) file.stream() << "pairs " << pair_range << '\n';
  if (!file.close()) {
    log << "Failed to create metadata file: " << file.path() << eol;
    return false;
  }
  return true;
}

bool write_ld_distribution(AtomicFile& file, const std::array<std::uint64_t, kHistogramBins>& bins,
                           std::uint64_t missing, std::uint64_t pairs, RunLog& log) {
  if (!file.open()) {
    log << "Error opening distribution file: " << file.path() << reason(errno) << eol;
    return false;
  }
  std::ofstream& out = file.stream();
  const double total = static_cast<double>(pairs);
  auto share = [&](std::uint64_t count) { return pairs == 0 ? 0.0 : static_cast<double>(count) / total; };
  double cumulative = share(missing);
  out << kBom << "Start\tEnd\tCount\tFrequency\tCumulative\n" << std::fixed << std::setprecision(6);
  out << "MISSING\tMISSING\t" << missing << '\t' << cumulative << '\t' << cumulative << '\n';
  for (int i = 0; i < 1001; ++i) {
    const double frequency = share(bins[i]);
    cumulative += frequency;
    const double end = i == 1000 ? 1.001 : (i + 1) * 0.001;
    out << i * 0.001 << '\t' << end << '\t' << bins[i] << '\t' << frequency << '\t' << cumulative << '\n';
  }
  if (!file.close()) {
    log << "Error writing distribution file: " << file.path() << eol;
    return false;
  }
  return true;
}

}  // namespace varpair
