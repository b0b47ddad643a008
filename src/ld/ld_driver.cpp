#include "ld/ld_driver.h"

#include <iostream>
#include <optional>

#include "common/clock.h"
#include "common/run_log.h"
#include "device/guarded_run.h"
#include "device/holders.h"
#include "ld/ld_input.h"
#include "ld/ld_settings.h"

namespace varpair {

namespace {

constexpr double kBytesToGiB = 9.313225746154785e-10;

void write_header(RunLog& log, const LdCommand& command, const LdSettings& s, int argc, const char* const* argv) {
  log << "varpair version: 1.0" << eol;
  log << "Device backend: " << device::backend_description() << eol;
  log << "Program started at: ";
  write_ld_timestamp(log);
  log << "Command line:";
  for (int i = 0; i < argc; ++i) log << " " << argv[i];
  log << eol;
  log << "Threads per block: " << s.threads << eol;
  log << command.cut_line << s.cutoff << eol;
  log << "Output mode: " << (s.binary_mode() ? "BINARY (multi-threaded encoding)" : "TEXT") << eol;
  log << "Distribution statistics: " << (s.distribution_on ? "ENABLED" : "DISABLED") << eol;
  if (s.distribution_on) log << "Distribution file: " << s.distribution << eol;
}

// Loads one table onto the device, reporting it as `which` ("file0") and `label` ("File0: ").
std::optional<LdTable> load_table(RunLog& log, const char* which, const char* label, const std::string& path,
                                  device::DeviceBuffer& matrix, cudaStream_t stream) {
  log << "Reading and transferring " << which << ": " << path << eol;
  try {
    MappedFile file(path);
    const LdTable table = read_ld_table(file, path, matrix, stream);
    log << label << table.rows << " rows, " << table.columns << " cols" << eol;
    return table;
  } catch (const std::exception& e) {
    log << "Error processing " << which << ": " << e.what() << eol;
    matrix.release();
    return std::nullopt;
  }
}

int run_ld(const LdCommand& command, int argc, const char* const* argv) {
  const std::optional<LdSettings> settings = read_ld_settings(command, argc, argv, std::cerr);
  if (!settings) return 1;
  RunLog log(ld_log_path(settings->output));
  write_header(log, command, *settings, argc, argv);

  std::size_t free_bytes = 0;
  std::size_t total_bytes = 0;
  if (const cudaError_t e = cudaMemGetInfo(&free_bytes, &total_bytes)) {
    log << "Failed to get GPU memory info: " << cudaGetErrorString(e) << eol;
    return 1;
  }
  log << "Total GPU memory: " << static_cast<double>(total_bytes) * kBytesToGiB << " GB" << eol;

  const std::int64_t load_start = monotonic_ns();
  device::Stream stream;
  if (const cudaError_t e = stream.create()) {
    log << "Failed to create CUDA stream: " << cudaGetErrorString(e) << eol;
    return 1;
  }
  device::DeviceBuffer matrix0;
  device::DeviceBuffer matrix1;
  const auto table0 = load_table(log, "file0", "File0: ", settings->file0, matrix0, stream.get());
  if (!table0) return 1;
  const auto table1 = load_table(log, "file1", "File1: ", settings->file1, matrix1, stream.get());
  if (!table1) return 1;
  if (table0->columns != table1->columns) {
    log << "Error: Columns of two files must be the same!" << eol;
    return 1;
  }
  if (const cudaError_t e = command.set_sample_count(table0->columns)) {
    log << "cudaMemcpyToSymbol failed: " << cudaGetErrorString(e) << eol;
    return 1;
  }
  log << "Data loaded and transferred to GPU in " << static_cast<double>(elapsed_ms(load_start)) / 1000.0 << " seconds"
      << eol;

  log << "Error: the LD computation is not available in this version of varpair yet" << eol;
  return 1;
}

}  // namespace

int run_interChromLDr2(int argc, const char* const* argv) {
  return run_guarded(kR2Command.name, [&] { return run_ld(kR2Command, argc, argv); });
}

int run_interChromLDdprime(int argc, const char* const* argv) {
  return run_guarded(kDprimeCommand.name, [&] { return run_ld(kDprimeCommand, argc, argv); });
}

}  // namespace varpair
