#include "tools/WavWriter.h"

#include <cerrno>
#include <cstring>

namespace {
void Put16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
void Put32(uint8_t* p, uint32_t value) {
  Put16(p, value);
  Put16(p + 2, value >> 16);
}
}  // namespace

WavWriter::~WavWriter() { Abandon(); }

void WavWriter::Abandon() {
  if (file_ && !stream_) std::fclose(file_);
  if (file_ && stream_) std::fflush(file_);
  file_ = nullptr;
}

bool WavWriter::Fail(const char* what) {
  error_ = std::string(what) + (errno ? std::string(": ") + std::strerror(errno) : std::string());
  return false;
}

bool WavWriter::OpenStream(std::FILE* stream, uint32_t rate) {
  file_ = stream;
  stream_ = true;
  rate_ = rate;
  frames_ = 0;
  return WriteHeader();
}

bool WavWriter::Open(const std::string& path, uint32_t rate) {
  rate_ = rate;
  stream_ = false;
  errno = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return Fail("cannot create the file");
  // A render writes hundreds of megabytes: a write call per 256 KB instead
  // of one per 4 KB (stdio's default for a file).
  buffer_.resize(256 * 1024);
  std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  frames_ = 0;
  return WriteHeader();
}

bool WavWriter::WriteHeader() {
  const uint32_t dataBytes = stream_ ? 0xFFFFFFFFu : static_cast<uint32_t>(frames_ * 4);
  uint8_t header[44];
  std::memcpy(header, "RIFF", 4);
  Put32(header + 4, stream_ ? 0xFFFFFFFFu : 36 + dataBytes);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  Put32(header + 16, 16);         // format chunk size
  Put16(header + 20, 1);          // PCM
  Put16(header + 22, 2);          // channels
  Put32(header + 24, rate_);      // frames per second
  Put32(header + 28, rate_ * 4);  // bytes per second
  Put16(header + 32, 4);          // block alignment
  Put16(header + 34, 16);         // bits per sample
  std::memcpy(header + 36, "data", 4);
  Put32(header + 40, dataBytes);
  errno = 0;
  if (std::fwrite(header, 1, sizeof header, file_) != sizeof header)
    return Fail("cannot write the file");
  return true;
}

bool WavWriter::Write(const int16_t* frames, uint32_t frameCount) {
  if (!file_) return false;
  if (!stream_ && frames_ + frameCount > kMaxFrames) {
    errno = 0;
    return Fail("the output is longer than a WAV file can hold");
  }
  uint8_t bytes[4096];
  uint32_t done = 0;
  while (done < frameCount) {
    uint32_t n = frameCount - done < 1024 ? frameCount - done : 1024;
    for (uint32_t i = 0; i < 2 * n; ++i)
      Put16(bytes + 2 * i, static_cast<uint16_t>(frames[2 * done + i]));
    errno = 0;
    if (std::fwrite(bytes, 4, n, file_) != n) return Fail("cannot write the file");
    done += n;
  }
  frames_ += frameCount;
  return true;
}

bool WavWriter::Finish() {
  if (!file_) return false;
  errno = 0;
  if (stream_) {
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    file_ = nullptr;
    return flushed || Fail("cannot write to standard output");
  }
  if (std::fseek(file_, 0, SEEK_SET) != 0) return Fail("cannot seek in the file");
  if (!WriteHeader()) return false;
  errno = 0;
  int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) return Fail("cannot write the file");
  return true;
}
