// libFuzzer target: the Standard MIDI File reader (and the dump reader and
// message listing on the same bytes). Beyond not crashing, a file that parses
// must give channel messages in time order.
#include <cstddef>
#include <cstdint>

#include "tools/DumpReader.h"
#include "tools/MessageText.h"
#include "tools/SmfReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SmfReader smf;
  if (smf.Parse(data, size)) {
    uint64_t previous = 0;
    for (const MidiEvent& event : smf.Events()) {
      uint32_t status = event.message & 0xFF;
      if (status < 0x80 || status >= 0xF0 || event.message > 0xFFFFFF) __builtin_trap();
      if (event.timeUs < previous) __builtin_trap();
      previous = event.timeUs;
      if (DescribeEvent(event).empty()) __builtin_trap();
    }
  } else if (smf.Error().empty()) {
    __builtin_trap();
  }
  DumpReader dump;
  dump.Parse(data, size);
  if (dump.Events().size() != size / 8 || dump.IgnoredBytes() != size % 8) __builtin_trap();
  return 0;
}
