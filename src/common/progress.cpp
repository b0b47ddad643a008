#include "common/progress.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace varpair {

namespace {

struct State {
  std::mutex mutex;  // guards the thread and the terminal line
  std::condition_variable wake;
  std::thread drawer;
  bool stopping = false;
  bool drawn = false;
  std::atomic<bool> active{false};
  std::atomic<std::uint64_t> total{0}, base{0}, launch_pairs{0}, blocks_done{0}, blocks_of{1};
  std::chrono::steady_clock::time_point start;
};

State& state() {
  static State s;
  return s;
}

// Pairs done now: those before the launch and the launch's share of its finished blocks.
std::uint64_t pairs_done(const State& s) {
  const std::uint64_t of = s.blocks_of.load();
  const std::uint64_t part = of == 0 ? 0 : s.launch_pairs.load() * s.blocks_done.load() / of;
  return s.base.load() + part;
}

void put(const char* text) { (void)!::write(STDERR_FILENO, text, std::strlen(text)); }

// "12.3M", "950k", "17".
void human(char* out, std::size_t size, double v) {
  if (v >= 1e9)
    std::snprintf(out, size, "%.2fG", v / 1e9);
  else if (v >= 1e6)
    std::snprintf(out, size, "%.2fM", v / 1e6);
  else if (v >= 1e4)
    std::snprintf(out, size, "%.0fk", v / 1e3);
  else
    std::snprintf(out, size, "%.0f", v);
}

void draw_loop() {
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  while (!s.stopping) {
    s.wake.wait_for(lock, std::chrono::milliseconds(250));
    if (s.stopping) break;
    char line[160];
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - s.start).count();
    Progress::format(line, sizeof line, pairs_done(s), s.total.load(), seconds);
    put("\r");
    put(line);
    put("\x1b[K");
    s.drawn = true;
  }
}

}  // namespace

Progress& Progress::global() {
  static Progress p;
  return p;
}

void Progress::format(char* out, std::uint64_t size, std::uint64_t done, std::uint64_t total, double seconds) {
  char d[16], t[16], r[16], left[24] = "?";
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  human(d, sizeof d, static_cast<double>(done));
  human(t, sizeof t, static_cast<double>(total));
  human(r, sizeof r, rate);
  if (rate > 0) {
    const auto s = static_cast<std::uint64_t>(static_cast<double>(total - done) / rate + 0.5);
    if (s >= 3600)
      std::snprintf(left, sizeof left, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                    static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
    else
      std::snprintf(left, sizeof left, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                    static_cast<unsigned long long>(s % 60));
  }
  std::snprintf(out, size, "%s of %s pairs (%.1f%%), %s pairs/s, %s left", d, t,
                total == 0 ? 100.0 : 100.0 * static_cast<double>(done) / static_cast<double>(total), r, left);
}

void Progress::begin(std::uint64_t total) {
  State& s = state();
  end();
  if (::isatty(STDERR_FILENO) != 1) return;
  std::lock_guard<std::mutex> lock(s.mutex);
  s.total = total;
  s.base = 0;
  s.launch_pairs = 0;
  s.blocks_done = 0;
  s.blocks_of = 1;
  s.start = std::chrono::steady_clock::now();
  s.stopping = false;
  s.drawn = false;
  try {
    s.drawer = std::thread(draw_loop);
    s.active = true;
  } catch (...) {  // no line, no harm
  }
}

void Progress::launch(std::uint64_t done, std::uint64_t pairs) {
  State& s = state();
  if (!s.active) return;
  s.blocks_done = 0;
  s.blocks_of = 1;
  s.base = done;
  s.launch_pairs = pairs;
}

void Progress::blocks(std::uint64_t done, std::uint64_t of) {
  State& s = state();
  if (!s.active) return;
  s.blocks_of = of;
  s.blocks_done = done;
}

void Progress::end() {
  State& s = state();
  if (!s.active.exchange(false)) return;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stopping = true;
  }
  s.wake.notify_all();
  s.drawer.join();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.drawn) put("\r\x1b[K");
  s.drawn = false;
}

void Progress::clear_line() {
  State& s = state();
  if (!s.active) return;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.drawn) put("\r\x1b[K");
  s.drawn = false;
}

}  // namespace varpair
