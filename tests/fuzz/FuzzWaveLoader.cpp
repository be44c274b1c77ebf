// LoadWave on arbitrary bytes: a refusal must leave the sample exactly
// as it was, a success must leave it whole. And the chunk walk, which reads
// through a buffer, must find what a plain walk over the bytes in memory
// finds, step for step: the same chunks, the same data, the same refusals.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/Sample.h"
#include "fuzz/FuzzFolder.h"
#include "loading/RiffFile.h"
#include "loading/WaveLoader.h"

namespace {

// The walk written out over memory: a read of n bytes at an offset succeeds
// when the file holds them and they lie below 4 GiB.
class PlainWalk {
 public:
  PlainWalk(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool FindRiff(const char form[4], RiffChunk* riff) {
    for (uint64_t offset = 0; Has(offset, 8);) {
      RiffChunk chunk = At(offset);
      if (std::memcmp(chunk.id, "RIFF", 4) == 0 && chunk.size >= 4) {
        if (!Has(chunk.dataOffset, 4)) return false;
        if (std::memcmp(data_ + chunk.dataOffset, form, 4) == 0) {
          *riff = chunk;
          position_ = chunk.dataOffset + 4;
          return true;
        }
      }
      offset = End(chunk);
    }
    return false;
  }
  bool FindChunk(const char id[4], const RiffChunk& parent, RiffChunk* found) {
    const uint64_t parentEnd = parent.dataOffset + parent.size;
    for (uint64_t offset = position_ < parent.dataOffset + 4 ? parent.dataOffset + 4 : position_;
         offset + 8 <= parentEnd && Has(offset, 8);) {
      RiffChunk chunk = At(offset);
      if (std::memcmp(chunk.id, id, 4) == 0) {
        *found = chunk;
        position_ = chunk.dataOffset;
        return true;
      }
      offset = End(chunk);
    }
    return false;
  }
  void Ascend(const RiffChunk& chunk) { position_ = End(chunk); }
  bool CanRead(const RiffChunk& chunk) const {
    return chunk.size == 0 || Has(chunk.dataOffset, chunk.size);
  }

 private:
  bool Has(uint64_t offset, uint64_t n) const {
    return offset + n <= size_ && offset + n <= UINT32_MAX;
  }
  RiffChunk At(uint64_t offset) const {
    RiffChunk chunk;
    std::memcpy(chunk.id, data_ + offset, 4);
    const uint8_t* p = data_ + offset + 4;
    chunk.size = static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3])
                                                                            << 24;
    chunk.dataOffset = offset + 8;
    return chunk;
  }
  static uint64_t End(const RiffChunk& c) { return c.dataOffset + c.size + (c.size & 1u); }

  const uint8_t* data_;
  size_t size_;
  uint64_t position_ = 0;
};

bool Same(const RiffChunk& a, const RiffChunk& b) {
  return std::memcmp(a.id, b.id, 4) == 0 && a.size == b.size && a.dataOffset == b.dataOffset;
}

// Both walks, step by step as the loader takes them.
void CompareWalks(const uint8_t* data, size_t size) {
  PlainWalk plain(data, size);
  RiffFile file;
  if (!file.Open("input.wav")) abort();
  RiffChunk riffA, riffB, formatA, formatB, dataA, dataB;
  const bool riff = plain.FindRiff("WAVE", &riffA);
  if (riff != file.FindRiff("WAVE", &riffB) || (riff && !Same(riffA, riffB))) abort();
  if (!riff) return;
  const bool format = plain.FindChunk("fmt ", riffA, &formatA);
  if (format != file.FindChunk("fmt ", riffB, &formatB) || (format && !Same(formatA, formatB)))
    abort();
  if (!format) return;
  std::unique_ptr<uint8_t[]> bytes;
  const RiffFile::ReadResult read = file.ReadData(formatB, &bytes);
  if ((read == RiffFile::ReadResult::kOk) != plain.CanRead(formatA)) abort();
  if (read != RiffFile::ReadResult::kOk) return;
  if (formatA.size && std::memcmp(bytes.get(), data + formatA.dataOffset, formatA.size) != 0)
    abort();
  plain.Ascend(formatA);
  file.Ascend(formatB);
  const bool found = plain.FindChunk("data", riffA, &dataA);
  if (found != file.FindChunk("data", riffB, &dataB) || (found && !Same(dataA, dataB))) abort();
  if (!found) return;
  const RiffFile::ReadResult dataRead = file.ReadData(dataB, &bytes);
  if ((dataRead == RiffFile::ReadResult::kOk) != plain.CanRead(dataA)) abort();
  if (dataRead == RiffFile::ReadResult::kOk && dataA.size &&
      std::memcmp(bytes.get(), data + dataA.dataOffset, dataA.size) != 0)
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFolder();
  WriteBytes("input.wav", Bytes(data, data + size));
  CompareWalks(data, size);
  Sample sample;
  sample.Allocate(2);
  sample.left[0] = sample.left[1] = 7;
  sample.right[0] = sample.right[1] = -7;
  sample.rate = 12345;
  sample.baseNote = 33;
  const int16_t* left = sample.left;
  if (!LoadWave(sample, "input.wav")) {
    if (sample.left != left || sample.length != 2 || sample.rate != 12345 ||
        sample.baseNote != 33 || sample.left[1] != 7 || sample.right[1] != -7)
      abort();
    return 0;
  }
  // A data chunk shorter than one frame loads as a sample of no frames.
  if (sample.length < 0 || !sample.left || !sample.right || sample.baseNote != 64) abort();
  // Touch every frame so that a short array shows up under ASan.
  int64_t sum = 0;
  for (int32_t i = 0; i < sample.length; ++i) sum += sample.left[i] - sample.right[i];
  return sum == INT64_MIN;
}
