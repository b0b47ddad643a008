// The progress line of a long run: pairs done of total, percentage, pairs per second and time left,
// redrawn in place at most 4 times a second on standard error, and only when standard error is a
// terminal. It never reaches the run log or standard output, so every log and output stays the
// same; the console report clears it before each of its lines, and it is drawn again after.
#pragma once

#include <cstdint>

namespace varpair {

class Progress {
 public:
  static Progress& global();

  // A run of `total` pairs starts; draws nothing unless standard error is a terminal.
  void begin(std::uint64_t total);
  // The next launch computes `pairs` pairs, after `done` pairs that are finished.
  void launch(std::uint64_t done, std::uint64_t pairs);
  // From the host backend: `done` of the launch's `of` blocks have run.
  void blocks(std::uint64_t done, std::uint64_t of);
  // The run is over: the line goes.
  void end();
  // Clears the drawn line (the console report is about to write); the next redraw brings it back.
  void clear_line();

  // The line for these figures, as drawn: "1.20M of 4.00M pairs (30.0%), 9.81M pairs/s, 0:03 left".
  static void format(char* out, std::uint64_t size, std::uint64_t done, std::uint64_t total, double seconds);
};

// The line for the life of a scope: begun with its total, ended on every way out.
struct ProgressLine {
  explicit ProgressLine(std::uint64_t total) { Progress::global().begin(total); }
  ~ProgressLine() { Progress::global().end(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
};

}  // namespace varpair
