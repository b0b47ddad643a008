// Outputs that appear under their final names only when complete. A file is written under a
// temporary name in its own directory (".NAME.partial-<pid>-<n>") and renamed into place by
// commit(); a parts directory is filled as a new directory and swapped in. Whatever is not committed
// is removed: by the destructor on every early return, and by remove_uncommitted_outputs() when a
// signal ends the process. So a file under its final name is always a complete one.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace varpair {

class AtomicFile {
 public:
  explicit AtomicFile(std::string final_path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Opens the temporary file (binary, empty); false with errno set when it cannot be created.
  bool open();
  std::ofstream& stream() { return stream_; }
  bool is_open() const { return stream_.is_open(); }
  // Closes the stream; false when any write failed (the file is then not committed).
  bool close();
  // Renames the closed, fully written file into place; false (errno set) when that fails.
  bool commit();
  // Removes the temporary file now.
  void discard();
  const std::string& path() const { return final_; }
  // Where the file is until commit() (a scratch file that is never committed lives only there).
  const std::string& temporary() const { return temporary_; }

 private:
  std::string final_;
  std::string temporary_;
  std::ofstream stream_;
  bool written_ = false;
};

// A directory filled under a temporary name and swapped in for the final one by commit().
class AtomicDirectory {
 public:
  explicit AtomicDirectory(std::string final_path);
  ~AtomicDirectory();
  AtomicDirectory(const AtomicDirectory&) = delete;
  AtomicDirectory& operator=(const AtomicDirectory&) = delete;

  // Creates the temporary directory; false with errno set when it cannot.
  bool create();
  // Where the files go until commit().
  const std::string& temporary() const { return temporary_; }
  // Replaces the final directory by the new one in one step, then carries over the files of the
  // earlier directory that `is_own_file` does not claim; false with errno set when it cannot, the
  // earlier directory then untouched. A final directory that is a link is replaced at its target.
  bool commit(bool (*is_own_file)(const std::string& name));
  void discard();

 private:
  std::string final_;
  std::string temporary_;
};

// Held while a run puts its several outputs in place (tables, parts, metadata, ...): a signal that
// arrives meanwhile takes effect only after the last of them, so they go into place all together.
class CommitPhase {
 public:
  CommitPhase();
  ~CommitPhase();
  CommitPhase(const CommitPhase&) = delete;
  CommitPhase& operator=(const CommitPhase&) = delete;
};

// Removes the temporaries that runs killed outright (SIGKILL, a node's failure) left of `output`:
// ".NAME.partial-<pid>-<n>" of it, and of it with each suffix of kOutputSuffixes where
// `with_suffixes`, whose process no longer exists. Call it only while holding the output's lock:
// then no other run can be writing them. Returns the paths removed.
std::vector<std::string> remove_leftovers(const std::string& output, bool with_suffixes);

class RunLog;
// remove_leftovers of a run's -o (with its suffixes) and of `other` (another output named on the
// command line, or empty), said in the run log when there were any.
void remove_leftovers(RunLog& log, const std::string& output, const std::string& other = "");

// Removes every temporary output of this process that was not committed. Called from the signal
// watcher before the process ends; waits for a CommitPhase in progress.
void remove_uncommitted_outputs();

}  // namespace varpair
