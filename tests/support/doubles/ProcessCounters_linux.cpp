#include <filesystem>
#include <iterator>

#include "support/doubles/ProcessCounters.h"

namespace platform {

namespace {
int CountEntries(const char* folder) {
  std::error_code error;
  auto entries = std::filesystem::directory_iterator(folder, error);
  if (error) return -1;
  return static_cast<int>(std::distance(entries, std::filesystem::directory_iterator()));
}
}  // namespace

int ProcessThreadCount() { return CountEntries("/proc/self/task"); }
int ProcessHandleCount() { return CountEntries("/proc/self/fd"); }

}  // namespace platform
