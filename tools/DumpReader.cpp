#include "tools/DumpReader.h"

namespace {
uint32_t LittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
}  // namespace

void DumpReader::Parse(const uint8_t* data, size_t size) {
  events_.clear();
  events_.reserve(size / 8);
  for (size_t at = 0; at + 8 <= size; at += 8) {
    MidiEvent event;
    event.timeStamp = LittleEndian32(data + at);
    event.message = LittleEndian32(data + at + 4);
    event.timeUs = static_cast<uint64_t>(event.timeStamp) * 1000;
    events_.push_back(event);
  }
  ignoredBytes_ = size % 8;
}
