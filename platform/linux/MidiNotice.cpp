#include "platform/MidiNotice.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace platform {

namespace {
std::atomic<MidiNoticeSink> g_sink{nullptr};
}  // namespace

void SetMidiNoticeSink(MidiNoticeSink sink) { g_sink.store(sink); }

void MidiNotice(const char* format, ...) {
  MidiNoticeSink sink = g_sink.load();
  if (sink == nullptr) return;
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  sink(line);
}

}  // namespace platform
