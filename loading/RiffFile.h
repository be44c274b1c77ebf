// A forward walk over the chunks of a RIFF file, read through the platform's
// plain file calls so that the WAV loader behaves alike on every platform.
// Offsets are 64-bit so that no declared size can wrap them.
//
// Chunk headers are read through a buffer, and no walk goes past the end of
// the file: a file of zeros is a chain of empty chunks 8 bytes apart, and
// reading those one by one would take minutes for a large file.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/File.h"

struct RiffChunk {
  char id[4] = {};
  uint32_t size = 0;
  // Offset of the chunk's data (for a RIFF chunk: of its form type).
  uint64_t dataOffset = 0;
};

class RiffFile {
 public:
  enum class ReadResult { kOk, kNoMemory, kShort };

  RiffFile() = default;
  ~RiffFile() { Close(); }
  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;

  // False when the file cannot be opened; LastError() then tells why.
  bool Open(const char* path);
  void Close();

  // From the start of the file, finds the first top-level "RIFF" chunk of
  // the given form type; the position is then just after the form type.
  bool FindRiff(const char formType[4], RiffChunk* riff);
  // From the current position, finds the first chunk with the given id whose
  // header lies inside parent; the position is then at its data.
  bool FindChunk(const char id[4], const RiffChunk& parent, RiffChunk* chunk);
  // Moves past the end of the chunk, its pad byte included.
  bool Ascend(const RiffChunk& chunk);
  // Reads the chunk's whole data from its start into a new buffer. The end of
  // the data is probed first, so a declared size that runs past the end of the
  // file is kShort without the declared size ever being allocated.
  ReadResult ReadData(const RiffChunk& chunk, std::unique_ptr<uint8_t[]>* data);
  // Reads the first size bytes of the chunk's data into data: false when the
  // chunk is shorter or the file ends before them.
  bool ReadStart(const RiffChunk& chunk, void* data, uint32_t size);
  // Whether the chunk's whole data lies inside the file.
  bool Holds(const RiffChunk& chunk) const;
  // Reads size bytes of the chunk's data from offset on into data: false when
  // the chunk or the file ends before them.
  bool ReadPart(const RiffChunk& chunk, uint32_t offset, void* data, uint32_t size);

  // The platform's error code of the last failed open or read, 0 when the
  // last failure was only a short file.
  int LastError() const { return lastError_; }
  // Reads made through the platform since the file was opened.
  uint64_t PlatformReads() const { return platformReads_; }

  static constexpr uint32_t kBufferSize = 65536;

 private:
  bool ReadAt(uint64_t offset, void* data, uint32_t size);
  bool ReadFromFile(uint64_t offset, void* data, uint32_t size, uint32_t* done);

  platform::FileHandle file_ = platform::kNoFile;
  uint64_t fileSize_ = 0;
  uint64_t position_ = 0;
  int lastError_ = 0;
  uint64_t platformReads_ = 0;
  // The bytes of the file from bufferOffset_ on, bufferLength_ of them.
  std::unique_ptr<uint8_t[]> buffer_;
  uint64_t bufferOffset_ = 0;
  uint32_t bufferLength_ = 0;
};
