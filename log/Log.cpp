#include "log/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/DebugOutput.h"
#include "platform/Notice.h"
#include "platform/Thread.h"

namespace {
std::atomic<LogSink> g_sink{nullptr};
std::atomic<const LogTarget*> g_target{nullptr};
// Threads between reading g_target and finishing their post to it.
std::atomic<int32_t> g_logPostsUnderWay{0};
std::atomic<void*> g_sinkContext{nullptr};
}  // namespace

void EscapeControlCharacters(const char* line, char* out) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(line); *at; ++at) {
    if (*at < 0x20 || *at == 0x7F) {
      *out++ = '\\';
      *out++ = 'x';
      *out++ = kHex[*at >> 4];
      *out++ = kHex[*at & 0x0F];
    } else {
      *out++ = static_cast<char>(*at);
    }
  }
  *out = '\0';
}

void SetLogSink(LogSink sink, void* context) {
  // A logging thread reads the sink, then its context: a new context goes in
  // before its sink, and a sink goes out before its context.
  if (sink) {
    g_sinkContext.store(context);
    g_sink.store(sink);
  } else {
    g_sink.store(nullptr);
    g_sinkContext.store(nullptr);
  }
}

void LogPlatformNotices() { platform::SetNoticeSink(&LogMessage); }

void SetLogTarget(const LogTarget* target) { g_target.store(target); }

void RemoveLogTarget(const LogTarget* target) {
  const LogTarget* registered = target;
  g_target.compare_exchange_strong(registered, nullptr);
  // A post under way holds no lock and never waits, so this ends at once.
  while (g_logPostsUnderWay.load() != 0) std::this_thread::yield();
}

void LogMessage(const char* text) {
  // The line is formatted on the stack first, so that even without memory
  // for the window's copy the debugger output still gets it.
  char line[LOG_LINE_MAX + 1];
  std::snprintf(line, sizeof line, "0x%.8X: %s", static_cast<unsigned>(platform::CurrentThreadId()),
                text);
  // Names of files and instruments come from files: the terminal that shows
  // the debugger output must not take their bytes as commands. The window's
  // list shows text, not commands, and keeps them as they are.
  char shown[4 * LOG_LINE_MAX + 1];
  EscapeControlCharacters(line, shown);
  if (LogSink sink = g_sink.load()) {
    sink(g_sinkContext.load(), shown);
  } else {
    platform::DebugOutput(shown);
    platform::DebugOutput("\n");
  }

  // The target's removal waits for every post that saw it still registered.
  g_logPostsUnderWay.fetch_add(1);
  if (const LogTarget* target = g_target.load()) target->post(target->context, line);
  g_logPostsUnderWay.fetch_sub(1);
}

void LogFormat(const char* format, ...) {
  char text[LOG_LINE_MAX + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  LogMessage(text);
}

bool PostLogLine(platform::WindowHandle window, char* line, uintptr_t missedBefore) {
  if (window &&
      platform::PostToWindow(window, WM_LOGLINE, missedBefore, reinterpret_cast<intptr_t>(line)))
    return true;
  std::free(line);
  return false;
}
