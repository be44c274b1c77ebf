// pelvane_dump_race GO COUNT: waits until the file GO exists, then starts COUNT
// runs' worth of dump files in the current folder, one after the other, as
// the synthesizer's Start does. Two of these started together in one folder
// race for every name (tests/e2e/dump_two_copies.sh). Exits 1 when a run got
// no dump file (its line is on standard error).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "synth/DumpFile.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pelvane_dump_race GO COUNT\n");
    return 2;
  }
  while (!platform::FileExists(argv[1])) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int count = std::atoi(argv[2]);
  int failed = 0;
  for (int run = 0; run < count; ++run) {
    platform::FileHandle file = CreateDumpFile();
    if (file == platform::kNoFile) ++failed;
    platform::FileClose(file);
  }
  return failed == 0 ? 0 : 1;
}
