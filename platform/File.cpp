// The portable part of the file calls, built on the backend's own.
#include "platform/File.h"

namespace platform {

bool FileExists(const char* path) {
  bool isDirectory = false;
  if (!FindEntry(path, &isDirectory)) return false;
  return !isDirectory;
}

}  // namespace platform
