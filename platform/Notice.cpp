#include "platform/Notice.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/DebugOutput.h"

namespace platform {

namespace {
std::atomic<NoticeSink> g_sink{nullptr};
}  // namespace

NoticeSink SetNoticeSink(NoticeSink sink) { return g_sink.exchange(sink); }

void Notice(const char* text) {
  if (NoticeSink sink = g_sink.load()) {
    sink(text);
    return;
  }
  DebugOutput(text);
  DebugOutput("\n");
}

void NoticeFormat(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Notice(text);
}

}  // namespace platform
