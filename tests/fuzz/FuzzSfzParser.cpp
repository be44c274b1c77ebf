// libFuzzer target: the SFZ parser, its #define and #include handling (an
// include of any name reads the input again, so nesting is fuzzed too) and
// the key names. Beyond not crashing: a failed parse says why; every key
// name read is a MIDI key or -1.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/import/SfzParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SfzKit kit;
  std::string error;
  auto reader = [&](const std::string& path, std::string* out) {
    if (path.empty()) return false;
    *out = text;
    return true;
  };
  if (!ParseSfz(text, reader, &kit, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  for (const SfzRegion& region : kit.regions)
    for (const auto& [key, value] : region.opcodes) {
      if (key.empty()) __builtin_trap();
      const int note = SfzKey(value);
      if (note < -1 || note > 127) __builtin_trap();
    }
  return 0;
}
