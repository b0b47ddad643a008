#include "app/entry.h"

int main(int argc, char** argv) { return varpair::run_entry(argc, argv); }
