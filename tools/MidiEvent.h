// One short message of an input file, placed in time.
#pragma once
#include <cstdint>

struct MidiEvent {
  // Microseconds from the start of the input (the dump's time stamp zero, the
  // SMF's tick zero). Saturates at UINT64_MAX for absurd tempo maps.
  uint64_t timeUs;
  // The short message word: status in bits 0-7, data bytes in 8-15 and 16-23.
  uint32_t message;
  // The time stamp handed on with the message: a dump's own, in milliseconds;
  // for an SMF the event's time in milliseconds.
  uint32_t timeStamp;
};
