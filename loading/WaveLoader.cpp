// LoadFile and LoadWave: PCM RIFF WAVE, 8 or 16 bits, one or
// two channels, any rate; WAVE_FORMAT_EXTENSIBLE files whose subformat is PCM
// load like their plain twins. The Sample is written only once everything has
// been read, converted and allocated, so every failure leaves it as it was.
#include "loading/WaveLoader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/Sample.h"
#include "loading/RiffFile.h"
#include "loading/SampleFileCache.h"
#include "log/Log.h"
#include "platform/File.h"

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

uint16_t ReadLe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

// The format an extensible record stands for: its subformat GUID's first two
// bytes, when the rest is the base GUID every standard subformat shares
// (xxxxxxxx-0000-0010-8000-00AA00389B71); otherwise the extensible tag itself.
uint16_t EffectiveFormat(const uint8_t* record, uint32_t size) {
  const uint16_t tag = ReadLe16(record);
  static const uint8_t kBaseGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  if (tag != kFormatExtensible || size < 40 || ReadLe16(record + 16) < 22 ||
      std::memcmp(record + 26, kBaseGuidTail, sizeof kBaseGuidTail) != 0)
    return tag;
  return ReadLe16(record + 24);
}

// Value i of the raw data as a signed 16-bit value.
template <int kBits>
int16_t ValueAt(const uint8_t* data, size_t i) {
  if (kBits == 8) return static_cast<int16_t>((static_cast<int32_t>(data[i]) - 128) * 256);
  return static_cast<int16_t>(ReadLe16(data + 2 * i));
}

// count frames of raw data into the sample's arrays, a loop for each kind so
// that the compiler can vectorize it.
template <int kBits>
void ConvertPiece(const uint8_t* data, int channels, size_t count, int16_t* left, int16_t* right) {
  if (channels == 1) {
    for (size_t i = 0; i < count; ++i) left[i] = ValueAt<kBits>(data, i);
  } else {
    for (size_t i = 0; i < count; ++i) {
      left[i] = ValueAt<kBits>(data, 2 * i);
      right[i] = ValueAt<kBits>(data, 2 * i + 1);
    }
  }
}

// The first loop of the file's "smpl" chunk (the first such chunk in the
// RIFF chunk, before or after the data): its first and last frame, both
// included, as the chunk counts them. Whatever its type, a loop is played
// forward. False when there is none or the chunk is too short to hold it.
bool FirstSampleLoop(RiffFile& file, int32_t* start, int32_t* end) {
  RiffChunk riff, smpl;
  if (!file.FindRiff("WAVE", &riff) || !file.FindChunk("smpl", riff, &smpl)) return false;
  // 36 bytes of sampler data, then 24 bytes per loop: cue id, type, start,
  // end, fraction, play count.
  uint8_t bytes[60];
  if (!file.ReadStart(smpl, bytes, sizeof bytes) || ReadLe32(bytes + 28) == 0) return false;
  // Frames beyond 32 bits fit no sample; kept at the largest, they are
  // refused as past its end.
  const uint32_t first = ReadLe32(bytes + 44);
  const uint32_t last = ReadLe32(bytes + 48);
  *start = first > INT32_MAX ? INT32_MAX : static_cast<int32_t>(first);
  *end = last > INT32_MAX ? INT32_MAX : static_cast<int32_t>(last);
  return true;
}

}  // namespace

bool LoadFile(Sample& sample, const char* path, SampleFileCache* cache) {
  if (!path) return false;
  if (cache) {
    if (const SampleFileCache::Entry* loaded = cache->Find(path)) {
      sample.SetFrames(loaded->frames);
      sample.rate = loaded->rate;
      sample.baseNote = 64;
      sample.fileLoopStart = loaded->fileLoopStart;
      sample.fileLoopEnd = loaded->fileLoopEnd;
      return true;
    }
  }
  // The text the instrument set gives stays the key of the cache.
  const char* const named = path;
  std::string windowsName;
  if (platform::FindFileAsWindowsWould(path, &windowsName)) {
    LogFormat("Sample: File %s read as %s", named, windowsName.c_str());
    path = windowsName.c_str();
  }
  if (!platform::FileExists(path)) {
    // Not there (or a directory) is "not found"; anything else that stops
    // the look-up (a loop of symbolic links, a name too long) says what.
    const int error = platform::LastError();
    bool isDirectory = false;
    if (!platform::IsNotFoundError(error) && !platform::FindEntry(path, &isDirectory)) {
      char reason[256];
      platform::DescribeError(error, reason, sizeof reason);
      LogFormat("Sample: Cannot open file '%s': %s", path, reason);
    } else {
      LogFormat("Sample: File %s not found", path);
    }
    return false;
  }
  // The extension is what follows the last '.' from the second character on;
  // without one, the text from the second character stands in for it.
  const size_t pathLength = std::strlen(path);
  const char* extension = pathLength > 1 ? path + 1 : path + pathLength;
  for (size_t i = pathLength; i-- > 1;) {
    if (path[i] == '.') {
      extension = path + i + 1;
      break;
    }
  }
  bool isWave = true;
  for (int i = 0; i < 3; ++i) {
    if (LowerAscii(extension[i]) != "wav"[i]) {
      isWave = false;
      break;
    }
  }
  if (isWave) {
    if (!LoadWave(sample, path)) return false;
    if (cache) cache->Add(named, sample);
    return true;
  }
  LogFormat("Sample: File %s not loaded, unknown format", path);
  return false;
}

bool LoadWave(Sample& sample, const char* path) {
  if (!path) return false;
  RiffFile file;
  if (!file.Open(path)) {
    if (file.LastError() == platform::kErrorNotRegularFile)
      LogFormat("Sample: Cannot open file '%s': not a regular file", path);
    else
      LogFormat("Sample: Cannot open file '%s': GLE = %d", path, file.LastError());
    return false;
  }
  RiffChunk riff, format, data;
  if (!file.FindRiff("WAVE", &riff) || !file.FindChunk("fmt ", riff, &format)) {
    LogFormat("Sample: Cannot open file '%s': no WAVE chunk", path);
    return false;
  }

  std::unique_ptr<uint8_t[]> formatBytes;
  switch (file.ReadData(format, &formatBytes)) {
    case RiffFile::ReadResult::kOk:
      break;
    case RiffFile::ReadResult::kNoMemory:
      LogFormat("Sample: Cannot open file '%s': Format allocation failed", path);
      return false;
    case RiffFile::ReadResult::kShort:
      file.Close();
      LogFormat("Sample: Cannot open file '%s': error reading Format chunk; GLE = %d", path,
                file.LastError());
      return false;
  }
  // The fields used are all in the first 16 bytes; a shorter record cannot
  // describe PCM data, and nothing beyond the chunk is ever looked at.
  const uint16_t formatTag = format.size < 16 ? 0 : EffectiveFormat(formatBytes.get(), format.size);
  const int channels = format.size < 16 ? 0 : ReadLe16(formatBytes.get() + 2);
  const uint32_t samplesPerSec = format.size < 16 ? 0 : ReadLe32(formatBytes.get() + 4);
  const int bits = format.size < 16 ? 0 : ReadLe16(formatBytes.get() + 14);
  if (formatTag == kFormatFloat) {
    // "Not PCM" would leave the user guessing what else the file should be.
    LogFormat("Sample: Cannot open file '%s': unsupported floating-point data (%d bits)", path,
              bits);
    return false;
  }
  if (formatTag != kFormatPcm) {
    LogFormat("Sample: Cannot open file '%s': not a PCM wave", path);
    return false;
  }
  formatBytes.reset();

  file.Ascend(format);
  if (!file.FindChunk("data", riff, &data)) {
    LogFormat("Sample: Cannot open file '%s': no 'data' chunk", path);
    return false;
  }
  if (data.size == 0) {
    LogFormat("Sample: Cannot open file '%s': zero 'data' chunk length", path);
    return false;
  }
  // The format is refused before the data is read: a 2 GB file of 24-bit
  // data is turned away at once, not after being read whole.
  if (bits != 8 && bits != 16) {
    LogFormat("Sample: Cannot open file '%s': unsupported BitsPerSample count (%d)", path, bits);
    return false;
  }
  if (channels == 0) {
    LogFormat("Sample: Cannot open file '%s': zero channels", path);
    return false;
  }
  if (channels > 2) {
    LogFormat("Sample: Cannot open file '%s': unsupported channel count (%d)", path, channels);
    return false;
  }
  // The data is read in pieces straight into the sample's arrays: a whole
  // copy of it first would cost as much memory again, page by page.
  if (!file.Holds(data)) {
    LogFormat("Sample: Cannot open file '%s': data read failed", path);
    return false;
  }
  // A chunk too short for one whole frame loads as a sample of no frames,
  // which plays nothing.
  const size_t valueBytes = bits == 8 ? 1 : 2;
  const size_t frames = data.size / valueBytes / static_cast<size_t>(channels);
  SampleFrames loaded;
  constexpr uint32_t kPieceBytes = 65536;  // whole frames of either kind
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kPieceBytes]);
  if (piece && frames <= static_cast<size_t>(INT32_MAX))
    loaded = SampleFrames::Allocate(static_cast<int32_t>(frames), channels);
  if (!loaded) {
    LogFormat("Sample: Cannot open file '%s': data allocation failed", path);
    return false;
  }
  int16_t* newLeft = loaded.Left();
  int16_t* newRight = loaded.Right();
  const size_t frameBytes = valueBytes * static_cast<size_t>(channels);
  for (size_t first = 0; first < frames;) {
    const size_t count = std::min(frames - first, kPieceBytes / frameBytes);
    if (!file.ReadPart(data, static_cast<uint32_t>(first * frameBytes), piece.get(),
                       static_cast<uint32_t>(count * frameBytes))) {
      LogFormat("Sample: Cannot open file '%s': data read failed", path);
      return false;
    }
    // One array plays on both sides of a mono sample (newRight is newLeft).
    if (bits == 8)
      ConvertPiece<8>(piece.get(), channels, count, newLeft + first, newRight + first);
    else
      ConvertPiece<16>(piece.get(), channels, count, newLeft + first, newRight + first);
    first += count;
  }
  int32_t fileLoopStart = -1;
  int32_t fileLoopEnd = -1;
  // A missing or unreadable loop is no reason to refuse the sound.
  (void)FirstSampleLoop(file, &fileLoopStart, &fileLoopEnd);
  file.Close();

  sample.SetFrames(loaded);
  // Stored as the file gives it; the voice copes with any value.
  sample.rate = static_cast<int32_t>(samplesPerSec);
  sample.baseNote = 64;
  sample.fileLoopStart = fileLoopStart;
  sample.fileLoopEnd = fileLoopEnd;
  return true;
}
