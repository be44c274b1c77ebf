#include "synth/DumpFile.h"

#include <cstdio>

#include "log/Log.h"

platform::FileHandle CreateDumpFile() {
  // "dump" + up to 8 hex digits + ".pvd" + NUL.
  char name[32];
  uint32_t counter = 1;
  std::snprintf(name, sizeof name, "dump%04x.pvd", counter);
  // A directory of that name ends the search too: the creation then fails and
  // the run goes without a dump file rather than skipping to another name.
  platform::FileHandle file = platform::kNoFile;
  int error = 0;
  for (;;) {
    while (platform::FileExists(name)) {
      counter += 1;
      std::snprintf(name, sizeof name, "dump%04x.pvd", counter);
    }
    file = platform::FileCreateNew(name);
    if (file != platform::kNoFile) break;
    error = platform::LastError();
    // Another copy of the program in this folder took the name between the
    // test and the creation: the search goes on from there. Any other
    // failure (a directory, a read-only folder) ends it.
    if (!platform::FileExists(name)) break;
  }
  // A run that silently records nothing would be found out only when the
  // take is needed.
  if (file == platform::kNoFile)
    LogFormat("Dump file '%s' cannot be created (GLE = %d), this run is not recorded", name, error);
  return file;
}

namespace {
void PutLittleEndian(unsigned char* bytes, uint32_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}
}  // namespace

bool WriteDumpRecord(platform::FileHandle file, uint32_t timeStamp, uint32_t message) {
  if (file == platform::kNoFile) return true;
  // Time stamp first; the file stays little-endian whatever the host's byte
  // order.
  unsigned char bytes[8];
  uint32_t done = 0;
  PutLittleEndian(bytes, timeStamp);
  PutLittleEndian(bytes + 4, message);
  return platform::FileWrite(file, bytes, 8, &done) && done == 8;
}
