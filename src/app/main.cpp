#include "app/entry.h"
#include "app/signals.h"

int main(int argc, char** argv) {
  varpair::install_signal_handling();
  return varpair::run_entry(argc, argv);
}
