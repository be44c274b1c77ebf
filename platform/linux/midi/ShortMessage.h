// MIDI short messages as the Linux MIDI backends see them: whole messages of
// one to three bytes, status first.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Bytes of the short message with this status; 0 for what is not a complete
// short message on its own (data bytes, system exclusive start and end).
inline size_t ShortMessageLength(uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xC0) return 3;
  if (status < 0xE0) return 2;
  if (status < 0xF0) return 3;
  switch (status) {
    case 0xF0:
    case 0xF7:
      return 0;
    case 0xF1:
    case 0xF3:
      return 2;
    case 0xF2:
      return 3;
    default:
      return 1;  // tune request, real-time messages and the undefined ones
  }
}

// The message word (status in the low byte) of a whole short message; false
// for anything else (system exclusive, a running-status fragment, a message
// of the wrong length).
inline bool ShortMessageWord(const uint8_t* bytes, size_t size, uint32_t* word) {
  if (size == 0 || size > 3 || ShortMessageLength(bytes[0]) != size) return false;
  uint32_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  *word = value;
  return true;
}

}  // namespace platform
