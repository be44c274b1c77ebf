// The input of pelvane-render: read whole, then told apart by its content,
// never by its name: a Standard MIDI File ("MThd"), a RIFF RMID file (the SMF
// in its "data" chunk), or a dump file, when its records look like one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/MidiEvent.h"

// The largest input read: a MIDI file is far smaller, and a dump this long
// holds 33 million messages, days of playing.
constexpr uint64_t kMaxInputBytes = 256ull << 20;

// Reads a regular file of at most kMaxInputBytes. False with *error set
// ("cannot open: ...", "not a regular file", "larger than ...", "read error").
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// True when the bytes begin with an SMF header chunk id.
bool LooksLikeSmf(const std::vector<uint8_t>& bytes);
// True when the path ends in ".mid", ".midi" or ".smf" (any case).
bool HasSmfExtension(const std::string& path);

enum class InputKind { kSmf, kRmid, kDump, kNeither };

// A dump file's records: a status byte in each message word and nothing in
// its bits 24 to 31 (what every MIDI input delivers), time stamps that never
// go back by more than kDumpClockSlackMs. A record cut short at the end (the
// program ended in the middle of one) does not count against it; an empty
// file is the dump of a run without messages.
constexpr uint32_t kDumpClockSlackMs = 100;
bool LooksLikeDump(const uint8_t* data, size_t size);

// The "data" chunk of a RIFF RMID file: false when the bytes are not one or
// it has none inside the RIFF chunk.
bool FindRmidData(const uint8_t* data, size_t size, size_t* offset, size_t* length);

InputKind DetectInputKind(const uint8_t* data, size_t size);

struct InputEvents {
  InputKind kind = InputKind::kNeither;
  std::vector<MidiEvent> events;
  // When the piece ends: for a MIDI file its last End of Track (a piece may
  // end in silence), for a dump its last message.
  uint64_t endTimeUs = 0;
  // Bytes of a dump's last, partial record.
  size_t ignoredBytes = 0;
};

// The messages of an input file's bytes; false with *error set (without the
// name) when they are neither kind or do not parse. name only words the error.
bool ParseInput(const uint8_t* data, size_t size, const std::string& name, InputEvents* input,
                std::string* error);
