#include "tools/InputFile.h"

#include <cctype>
#include <cstring>

#include "platform/File.h"
#include "tools/DumpReader.h"
#include "tools/SmfReader.h"

namespace {

uint32_t LittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::string ErrorText(int code) {
  char text[256];
  platform::DescribeError(code, text, sizeof text);
  return text;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  // The platform refuses FIFOs and devices: /dev/zero would be read for ever,
  // a FIFO would wait for a writer.
  platform::FileHandle file = platform::FileOpenRead(path.c_str());
  if (file == platform::kNoFile) {
    const int code = platform::LastError();
    *error = code == platform::kErrorNotRegularFile ? "not a regular file"
                                                    : "cannot open: " + ErrorText(code);
    return false;
  }
  uint64_t size = 0;
  bool ok = platform::FileSize(file, &size);
  if (ok && size > kMaxInputBytes) {
    *error = "larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB, too long for an input";
    platform::FileClose(file);
    return false;
  }
  if (ok) bytes->reserve(static_cast<size_t>(size));
  // Read to the end, not to the size: a file still being written may grow,
  // but never past the limit.
  uint8_t chunk[65536];
  while (ok) {
    uint32_t got = 0;
    if (!platform::FileRead(file, chunk, sizeof chunk, &got)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    if (bytes->size() + got > kMaxInputBytes) {
      *error =
          "larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB, too long for an input";
      platform::FileClose(file);
      return false;
    }
    bytes->insert(bytes->end(), chunk, chunk + got);
  }
  if (!ok) *error = "cannot read the file: " + ErrorText(platform::LastError());
  platform::FileClose(file);
  return ok;
}

bool LooksLikeSmf(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 4 && std::memcmp(bytes.data(), "MThd", 4) == 0;
}

bool HasSmfExtension(const std::string& path) {
  std::string lower;
  for (char c : path) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto endsWith = [&](const char* suffix) {
    size_t n = std::strlen(suffix);
    return lower.size() >= n && lower.compare(lower.size() - n, n, suffix) == 0;
  };
  return endsWith(".mid") || endsWith(".midi") || endsWith(".smf");
}

bool LooksLikeDump(const uint8_t* data, size_t size) {
  if (size == 0) return true;
  if (size < 8) return false;
  uint32_t previous = 0;
  for (size_t at = 0; at + 8 <= size; at += 8) {
    const uint32_t timeStamp = LittleEndian32(data + at);
    const uint32_t message = LittleEndian32(data + at + 4);
    if ((message & 0x80) == 0 || (message >> 24) != 0) return false;
    if (at > 0 && timeStamp < previous && previous - timeStamp > kDumpClockSlackMs) return false;
    previous = timeStamp;
  }
  return true;
}

bool FindRmidData(const uint8_t* data, size_t size, size_t* offset, size_t* length) {
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "RMID", 4) != 0)
    return false;
  // The chunks of the RIFF chunk, as far as both it and the file reach.
  const uint64_t riffEnd = 8 + static_cast<uint64_t>(LittleEndian32(data + 4));
  const uint64_t end = riffEnd < size ? riffEnd : size;
  uint64_t at = 12;
  while (at + 8 <= end) {
    const uint32_t chunkSize = LittleEndian32(data + at + 4);
    if (std::memcmp(data + at, "data", 4) == 0) {
      const uint64_t available = end - (at + 8);
      *offset = static_cast<size_t>(at + 8);
      *length = static_cast<size_t>(chunkSize < available ? chunkSize : available);
      return true;
    }
    at += 8 + static_cast<uint64_t>(chunkSize) + (chunkSize & 1u);
  }
  return false;
}

InputKind DetectInputKind(const uint8_t* data, size_t size) {
  if (size >= 4 && std::memcmp(data, "MThd", 4) == 0) return InputKind::kSmf;
  if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "RMID", 4) == 0)
    return InputKind::kRmid;
  if (LooksLikeDump(data, size)) return InputKind::kDump;
  return InputKind::kNeither;
}

bool ParseInput(const uint8_t* data, size_t size, const std::string& name, InputEvents* input,
                std::string* error) {
  *input = InputEvents();
  input->kind = DetectInputKind(data, size);
  switch (input->kind) {
    case InputKind::kRmid: {
      size_t offset = 0, length = 0;
      if (!FindRmidData(data, size, &offset, &length)) {
        *error = "a RIFF RMID file without a 'data' chunk";
        return false;
      }
      data += offset;
      size = length;
    }
      // The MIDI file inside.
      [[fallthrough]];
    case InputKind::kSmf: {
      SmfReader smf;
      if (!smf.Parse(data, size)) {
        *error =
            (input->kind == InputKind::kRmid ? "in the RMID 'data' chunk: " : "") + smf.Error();
        return false;
      }
      input->events = smf.Events();
      input->endTimeUs = smf.EndTimeUs();
      return true;
    }
    case InputKind::kDump: {
      DumpReader dump;
      dump.Parse(data, size);
      input->events = dump.Events();
      input->ignoredBytes = dump.IgnoredBytes();
      input->endTimeUs = input->events.empty() ? 0 : input->events.back().timeUs;
      return true;
    }
    case InputKind::kNeither:
      break;
  }
  // A name that promises a MIDI file gets the reason it is not one.
  *error = HasSmfExtension(name) ? "not a Standard MIDI File (no MThd header)"
                                 : "neither a Standard MIDI File nor a dump file";
  return false;
}
