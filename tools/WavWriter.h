// Writes a RIFF WAVE file of 16-bit stereo PCM (44100 frames per second
// unless told otherwise), streaming the frames and patching the two sizes when
// finished. Into a stream that cannot seek (a pipe), the sizes stay as the
// streaming convention has them, 0xFFFFFFFF: "until the end". The bytes are
// little-endian whatever the host, so a render is the same file on every
// platform.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/FrameSink.h"

class WavWriter : public FrameSink {
 public:
  // The most frames whose byte count the RIFF size field can still hold.
  static constexpr uint64_t kMaxFrames = (0xFFFFFFFFull - 36) / 4;

  WavWriter() = default;
  ~WavWriter() override;  // closes an unfinished file as it is
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Creates or truncates the file and writes the header of an empty file.
  bool Open(const std::string& path, uint32_t rate = 44100);
  // Writes into stream (standard output), which stays open, with the sizes
  // of a stream.
  bool OpenStream(std::FILE* stream, uint32_t rate = 44100);
  // Appends interleaved frames, left first. Into a file, fails past kMaxFrames.
  bool Write(const int16_t* frames, uint32_t frameCount) override;
  // Writes the final sizes and closes the file; a stream is flushed.
  bool Finish();
  // Closes an unfinished file as it is, so that it can be removed.
  void Abandon();

  uint64_t Frames() const { return frames_; }
  const std::string& Error() const override { return error_; }

 private:
  bool WriteHeader();
  bool Fail(const char* what);

  std::FILE* file_ = nullptr;
  bool stream_ = false;
  uint32_t rate_ = 44100;
  // stdio's buffer for file_, which is always closed before this goes.
  std::vector<char> buffer_;
  uint64_t frames_ = 0;
  std::string error_;
};
