#include "tools/MessageText.h"

#include <cstdio>

const char* MessageKindName(uint32_t message) {
  uint8_t status = message & 0xFF;
  if (status < 0x80) return "Data";
  switch (status & 0xF0) {
    case 0x80:
      return "Note off";
    case 0x90:
      return "Note on";
    case 0xA0:
      return "Aftertouch";
    case 0xB0:
      return "Control change";
    case 0xC0:
      return "Program change";
    case 0xD0:
      return "Channel pressure";
    case 0xE0:
      return "Pitch bend";
    default:
      return "System";
  }
}

std::string DescribeEvent(const MidiEvent& event) {
  uint8_t status = event.message & 0xFF;
  unsigned data1 = (event.message >> 8) & 0xFF;
  unsigned data2 = (event.message >> 16) & 0xFF;
  unsigned long long ms = event.timeUs / 1000;
  char text[120];
  if (status < 0x80 || status >= 0xF0) {
    // No channel: show the whole status byte and both data bytes.
    std::snprintf(text, sizeof text, "%6llu.%03llu  ---    %-16s 0x%02X %3u %3u", ms / 1000,
                  ms % 1000, MessageKindName(event.message), status, data1, data2);
  } else if ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) {
    std::snprintf(text, sizeof text, "%6llu.%03llu  ch %2u  %-16s %3u", ms / 1000, ms % 1000,
                  status & 0x0Fu, MessageKindName(event.message), data1);
  } else {
    std::snprintf(text, sizeof text, "%6llu.%03llu  ch %2u  %-16s %3u %3u", ms / 1000, ms % 1000,
                  status & 0x0Fu, MessageKindName(event.message), data1, data2);
  }
  return text;
}
