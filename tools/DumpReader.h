// Reads a dump file: 8-byte records, each a little-endian time stamp in
// milliseconds followed by a little-endian short message word, in the order
// the messages arrived. There is no header; a file cut short leaves a partial
// record at the end, which is counted and ignored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/MidiEvent.h"

class DumpReader {
 public:
  // Never fails: every whole record becomes an event, in file order.
  void Parse(const uint8_t* data, size_t size);

  const std::vector<MidiEvent>& Events() const { return events_; }
  // Bytes after the last whole record (0 to 7).
  size_t IgnoredBytes() const { return ignoredBytes_; }

 private:
  std::vector<MidiEvent> events_;
  size_t ignoredBytes_ = 0;
};
