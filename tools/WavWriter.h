// Writes a RIFF WAVE file of 16-bit stereo PCM at 44100 frames per second,
// streaming the frames and patching the two sizes when finished. The bytes
// are little-endian whatever the host, so a render is the same file on every
// platform.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class WavWriter {
 public:
  // The most frames whose byte count the RIFF size field can still hold.
  static constexpr uint64_t kMaxFrames = (0xFFFFFFFFull - 36) / 4;

  WavWriter() = default;
  ~WavWriter();  // closes an unfinished file as it is
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Creates or truncates the file and writes the header of an empty file.
  bool Open(const std::string& path);
  // Appends interleaved frames, left first. Fails past kMaxFrames.
  bool Write(const int16_t* frames, uint32_t frameCount);
  // Writes the final sizes and closes the file.
  bool Finish();
  // Closes an unfinished file as it is, so that it can be removed.
  void Abandon();

  uint64_t Frames() const { return frames_; }
  const std::string& Error() const { return error_; }

 private:
  bool WriteHeader();
  bool Fail(const char* what);

  std::FILE* file_ = nullptr;
  // stdio's buffer for file_, which is always closed before this goes.
  std::vector<char> buffer_;
  uint64_t frames_ = 0;
  std::string error_;
};
