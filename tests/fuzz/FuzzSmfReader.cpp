// libFuzzer target: the Standard MIDI File reader, and what pelvane-render
// does with an input's bytes: telling an SMF, an RMID wrapper, a dump and
// anything else apart by content, then reading it (the dump reader and the
// message listing run on the same bytes). Beyond not crashing: a MIDI file
// gives channel messages in time order, ending no later than its end; a dump
// gives exactly the records that made it look like one.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/DumpReader.h"
#include "tools/InputFile.h"
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
    if (smf.EndTimeUs() < previous) __builtin_trap();
  } else if (smf.Error().empty()) {
    __builtin_trap();
  }
  DumpReader dump;
  dump.Parse(data, size);
  if (dump.Events().size() != size / 8 || dump.IgnoredBytes() != size % 8) __builtin_trap();

  InputEvents input;
  std::string error;
  const InputKind kind = DetectInputKind(data, size);
  if (!ParseInput(data, size, "input", &input, &error)) {
    if (error.empty() || kind == InputKind::kDump) __builtin_trap();
    return 0;
  }
  if (input.kind != kind || kind == InputKind::kNeither) __builtin_trap();
  if (kind == InputKind::kDump) {
    if (input.events.size() != size / 8 || input.ignoredBytes != size % 8) __builtin_trap();
    for (size_t i = 0; i < input.events.size(); ++i) {
      const MidiEvent& event = input.events[i];
      if ((event.message & 0x80) == 0 || event.message > 0xFFFFFF) __builtin_trap();
      if (i > 0 && event.timeStamp + uint64_t{kDumpClockSlackMs} < input.events[i - 1].timeStamp)
        __builtin_trap();
    }
  } else {
    for (size_t i = 1; i < input.events.size(); ++i)
      if (input.events[i].timeUs < input.events[i - 1].timeUs) __builtin_trap();
    if (!input.events.empty() && input.endTimeUs < input.events.back().timeUs) __builtin_trap();
    if (kind == InputKind::kSmf && input.events.size() != smf.Events().size()) __builtin_trap();
  }
  return 0;
}
