// BufferedStream::ReadLine on arbitrary bytes. Every line must lie inside the
// buffer; for data that fits the buffer, the lines must equal those of a
// plain reference splitter.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/MemoryStream.h"

namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// One line end is a CR or LF plus at most one more CR or LF; a last single
// byte without a line end is never a line.
std::vector<std::string> ReferenceLines(const std::string& data) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (data.size() - at >= 2) {
    size_t end = at;
    while (end < data.size() && !IsLineEnd(data[end])) ++end;
    std::string line = data.substr(at, end - at);
    lines.push_back(line.substr(0, line.find('\0')));
    if (end == data.size()) break;
    at = end + 1;
    if (at < data.size() && IsLineEnd(data[at])) ++at;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  MemoryStream stream(bytes);
  std::vector<std::string> lines;
  size_t total = 0;
  int32_t position = 0;
  while (const char* line = stream.ReadLine(&position)) {
    const size_t length = std::strlen(line);
    if (line < stream.buffer || line + length > stream.buffer + BUFFERED_STREAM_SIZE) abort();
    if (position < 0 || position > stream.limit || stream.limit > BUFFERED_STREAM_SIZE) abort();
    total += length;
    if (total > size || lines.size() > size) abort();
    lines.emplace_back(line, length);
  }
  if (stream.AtEnd() && stream.ReadLine(nullptr)) abort();
  if (size <= static_cast<size_t>(BUFFERED_STREAM_SIZE) && lines != ReferenceLines(bytes)) abort();
  return 0;
}
