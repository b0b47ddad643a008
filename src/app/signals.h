// How the program meets signals. SIGINT, SIGTERM and SIGHUP end a run cleanly: outputs not yet in
// place are removed (earlier complete ones stay) and the process exits with 128 + the signal's
// number (130, 143, 129). SIGPIPE is ignored, so that a closed console pipe ends nothing: the run
// finishes and writes its outputs and log.
#pragma once

namespace varpair {

// Called once by main before any thread starts: every later thread inherits the blocked signals,
// and one watcher thread takes them.
void install_signal_handling();

}  // namespace varpair
