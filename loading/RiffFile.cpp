#include "loading/RiffFile.h"

#include <cstring>
#include <new>

namespace {

uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Where the chunk after this one starts: its data, then a pad byte when the
// size is odd.
uint64_t ChunkEnd(const RiffChunk& chunk) {
  return chunk.dataOffset + chunk.size + (chunk.size & 1u);
}

}  // namespace

bool RiffFile::Open(const char* path) {
  Close();
  file_ = platform::FileOpenRead(path);
  if (file_ == platform::kNoFile) {
    lastError_ = platform::LastError();
    return false;
  }
  if (!platform::FileSize(file_, &fileSize_)) {
    lastError_ = platform::LastError();
    Close();
    return false;
  }
  position_ = 0;
  lastError_ = 0;
  platformReads_ = 0;
  bufferOffset_ = 0;
  bufferLength_ = 0;
  return true;
}

void RiffFile::Close() {
  if (file_ != platform::kNoFile) platform::FileClose(file_);
  file_ = platform::kNoFile;
  bufferLength_ = 0;
}

bool RiffFile::ReadFromFile(uint64_t offset, void* data, uint32_t size, uint32_t* done) {
  *done = 0;
  if (!platform::FileSeek(file_, static_cast<uint32_t>(offset))) {
    lastError_ = platform::LastError();
    return false;
  }
  platformReads_ += 1;
  if (!platform::FileRead(file_, data, size, done)) {
    lastError_ = platform::LastError();
    return false;
  }
  return true;
}

bool RiffFile::ReadAt(uint64_t offset, void* data, uint32_t size) {
  // The format's offsets are 32-bit; anything beyond cannot be part of it.
  if (offset + size > UINT32_MAX) return false;
  // Nothing is read past the end of the file: the walk ends there.
  if (offset >= fileSize_) {
    position_ = offset;
    return false;
  }
  uint32_t done = 0;
  bool ok = true;
  if (bufferLength_ > 0 && offset >= bufferOffset_ &&
      offset + size <= bufferOffset_ + bufferLength_) {
    std::memcpy(data, buffer_.get() + (offset - bufferOffset_), size);
    done = size;
  } else if (size > kBufferSize / 2) {
    ok = ReadFromFile(offset, data, size, &done);  // a chunk's data, read whole
  } else {
    if (!buffer_) buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
    if (!buffer_) return false;
    bufferOffset_ = offset;
    bufferLength_ = 0;
    ok = ReadFromFile(offset, buffer_.get(), kBufferSize, &bufferLength_);
    done = bufferLength_ < size ? bufferLength_ : size;
    std::memcpy(data, buffer_.get(), done);
  }
  position_ = offset + done;
  return ok && done == size;
}

bool RiffFile::FindRiff(const char formType[4], RiffChunk* riff) {
  uint64_t offset = 0;
  uint8_t header[12];
  while (ReadAt(offset, header, 8)) {
    RiffChunk chunk;
    std::memcpy(chunk.id, header, 4);
    chunk.size = ReadLe32(header + 4);
    chunk.dataOffset = offset + 8;
    // The form type must lie inside the chunk to count.
    if (std::memcmp(chunk.id, "RIFF", 4) == 0 && chunk.size >= 4) {
      if (!ReadAt(chunk.dataOffset, header + 8, 4)) return false;
      if (std::memcmp(header + 8, formType, 4) == 0) {
        *riff = chunk;
        return true;
      }
    }
    offset = ChunkEnd(chunk);
  }
  return false;
}

bool RiffFile::FindChunk(const char id[4], const RiffChunk& parent, RiffChunk* chunk) {
  // A RIFF chunk's subchunks start after its form type.
  const uint64_t first = parent.dataOffset + 4;
  const uint64_t parentEnd = parent.dataOffset + parent.size;
  uint64_t offset = position_ < first ? first : position_;
  uint8_t header[8];
  while (offset + 8 <= parentEnd && ReadAt(offset, header, 8)) {
    RiffChunk found;
    std::memcpy(found.id, header, 4);
    found.size = ReadLe32(header + 4);
    found.dataOffset = offset + 8;
    if (std::memcmp(found.id, id, 4) == 0) {
      *chunk = found;
      return true;
    }
    offset = ChunkEnd(found);
  }
  return false;
}

bool RiffFile::Ascend(const RiffChunk& chunk) {
  position_ = ChunkEnd(chunk);
  return true;
}

RiffFile::ReadResult RiffFile::ReadData(const RiffChunk& chunk, std::unique_ptr<uint8_t[]>* data) {
  lastError_ = 0;
  // A declared size that runs past the end of the file is never allocated.
  if (chunk.size > 0 && !Holds(chunk)) {
    position_ = chunk.dataOffset + chunk.size;
    return ReadResult::kShort;
  }
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[chunk.size > 0 ? chunk.size : 1]);
  if (!bytes) return ReadResult::kNoMemory;
  if (chunk.size > 0 && !ReadAt(chunk.dataOffset, bytes.get(), chunk.size))
    return ReadResult::kShort;
  position_ = chunk.dataOffset + chunk.size;
  *data = std::move(bytes);
  return ReadResult::kOk;
}

bool RiffFile::ReadStart(const RiffChunk& chunk, void* data, uint32_t size) {
  return chunk.size >= size && ReadAt(chunk.dataOffset, data, size);
}

bool RiffFile::Holds(const RiffChunk& chunk) const {
  return chunk.dataOffset + chunk.size <= fileSize_ && chunk.dataOffset + chunk.size <= UINT32_MAX;
}

bool RiffFile::ReadPart(const RiffChunk& chunk, uint32_t offset, void* data, uint32_t size) {
  return offset <= chunk.size && size <= chunk.size - offset &&
         ReadAt(chunk.dataOffset + offset, data, size);
}
