// A BufferedStream over bytes in memory, delivering as much as is asked for,
// as a file does.
#pragma once
#include <cstring>
#include <string>

#include "loading/BufferedStream.h"

class MemoryStream : public BufferedStream {
 public:
  explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

  int Read(void* destination, int count) override {
    size_t left = bytes_.size() - at_;
    size_t n = static_cast<size_t>(count) < left ? static_cast<size_t>(count) : left;
    std::memcpy(destination, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<int>(n);
  }
  int Write(const void*, int) override { return 0; }

 private:
  std::string bytes_;
  size_t at_ = 0;
};
