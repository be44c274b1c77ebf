#include "tools/import/SampleWavWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
void Put16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value & 0xFF));
  out->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}
void Put32(std::vector<uint8_t>* out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
}  // namespace

bool WriteSampleWav(const std::string& path, const std::vector<int16_t>& frames, int channels,
                    int32_t rate, std::string* error) {
  const uint64_t dataBytes = static_cast<uint64_t>(frames.size()) * 2;
  if (dataBytes > 0xFFFFFFFFull - 36) {
    *error = "the sample is too long for a WAV file";
    return false;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(44 + dataBytes);
  bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
  Put32(&bytes, static_cast<uint32_t>(36 + dataBytes));
  bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(&bytes, 16);
  Put16(&bytes, 1);  // PCM
  Put16(&bytes, static_cast<uint32_t>(channels));
  Put32(&bytes, static_cast<uint32_t>(rate));
  Put32(&bytes, static_cast<uint32_t>(rate) * static_cast<uint32_t>(channels) * 2);
  Put16(&bytes, static_cast<uint32_t>(channels) * 2);
  Put16(&bytes, 16);
  bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
  Put32(&bytes, static_cast<uint32_t>(dataBytes));
  for (int16_t value : frames) Put16(&bytes, static_cast<uint16_t>(value));
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    *error = std::strerror(errno);
    return false;
  }
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  const int writeErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (written != bytes.size() || !closed) {
    *error = std::strerror(written != bytes.size() ? writeErrno : errno);
    return false;
  }
  return true;
}
