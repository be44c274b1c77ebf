#include "loading/FileStream.h"

FileStream::FileStream(const char* path) : handle(platform::FileOpenRead(path)) {}

FileStream::~FileStream() { platform::FileClose(handle); }

int FileStream::Read(void* destination, int count) {
  if (handle == platform::kNoFile || count <= 0) return 0;
  uint32_t done = 0;
  platform::FileRead(handle, destination, static_cast<uint32_t>(count), &done);
  return static_cast<int>(done);
}

int FileStream::Write(const void* source, int count) {
  if (handle == platform::kNoFile || count <= 0) return 0;
  uint32_t done = 0;
  platform::FileWrite(handle, source, static_cast<uint32_t>(count), &done);
  return static_cast<int>(done);
}
