#include "app/signals.h"

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/atomic_output.h"
#include "common/run_log.h"

namespace varpair {

namespace {

void watch(sigset_t signals) {
  int number = 0;
  while (sigwait(&signals, &number) != 0) {
  }
  remove_uncommitted_outputs();
  const char* name = sigabbrev_np(number);
  note_in_run_log(std::string("Error: Interrupted by SIG") + name + "; outputs not yet complete were removed");
  const char* text = "varpair: interrupted by SIG";
  (void)!::write(STDERR_FILENO, text, strlen(text));
  (void)!::write(STDERR_FILENO, name, strlen(name));
  (void)!::write(STDERR_FILENO, "; outputs not yet complete were removed\n", 40);
  ::_exit(128 + number);
}

}  // namespace

void install_signal_handling() {
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
  try {
    std::thread(watch, signals).detach();
  } catch (...) {
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);  // no watcher: the signals keep their defaults
  }
}

}  // namespace varpair
