// A BufferedStream over a file opened for reading. A failed open is not
// reported: the stream then delivers no bytes.
#pragma once
#include "loading/BufferedStream.h"
#include "platform/File.h"

class FileStream : public BufferedStream {
 public:
  explicit FileStream(const char* path);
  ~FileStream() override;

  int Read(void* destination, int count) override;
  int Write(const void* source, int count) override;

  platform::FileHandle handle;
};
