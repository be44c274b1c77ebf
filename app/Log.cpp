#include "app/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/MainWindow.h"
#include "app/Widgets.h"
#include "platform/DebugOutput.h"
#include "platform/Notice.h"
#include "platform/Thread.h"

std::atomic<MainWindow*> g_mainWindow{nullptr};
static const bool g_platformNoticesLogged = (platform::SetNoticeSink(LogMessage), true);

namespace {
std::atomic<LogSink> g_sink{nullptr};
// Threads between reading g_mainWindow and finishing their post to it.
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

static void PostLineToWindow(MainWindow* target, const char* line);

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

  // The window's closing waits for every post that saw it still open.
  g_logPostsUnderWay.fetch_add(1);
  if (MainWindow* target = g_mainWindow.load()) PostLineToWindow(target, line);
  g_logPostsUnderWay.fetch_sub(1);
}

static void PostLineToWindow(MainWindow* target, const char* line) {
  // A window that falls behind (a flood of MIDI messages, each a line) would
  // otherwise let its queue, and the memory it holds, grow without end.
  if (target->queuedLogLines.load(std::memory_order_relaxed) >= LOG_MAX_QUEUED_LINES) {
    target->refusedLogLines.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const size_t size = std::strlen(line) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (!copy) {
    target->refusedLogLines.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  std::memcpy(copy, line, size);
  const uint32_t refused = target->refusedLogLines.exchange(0, std::memory_order_relaxed);
  target->queuedLogLines.fetch_add(1, std::memory_order_relaxed);
  if (!PostLogLine(static_cast<platform::WindowHandle>(target->hwnd), copy, refused))
    target->queuedLogLines.fetch_sub(1, std::memory_order_relaxed);
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

intptr_t AppendLogLineToList(Widgets& widgets, platform::WindowHandle list, char* line) {
  const int index = widgets.ListAdd(list, line);
  if (index >= 0) {
    widgets.ListSetCurrent(list, index);
    for (int excess = index - LOG_LIST_MAX_INDEX; excess > 0; --excess) widgets.ListDelete(list, 0);
  }
  std::free(line);
  return 0;
}

intptr_t MainWindow::AppendLogLine(uintptr_t missedBefore, char* line) {
  const int32_t behind = queuedLogLines.fetch_sub(1, std::memory_order_relaxed) - 1;
  logLinesNotShown += missedBefore;
  // The lines waiting behind this one fill the list by themselves: adding it
  // would only cost time the window needs for Stop, close and painting.
  if (behind > LOG_LIST_MAX_INDEX) {
    logLinesNotShown += 1;
    std::free(line);
    return 0;
  }
  if (logLinesNotShown > 0) {
    char text[48];
    std::snprintf(text, sizeof text, "(%llu lines not shown)",
                  static_cast<unsigned long long>(logLinesNotShown));
    logLinesNotShown = 0;
    const size_t size = std::strlen(text) + 1;
    if (char* note = static_cast<char*>(std::malloc(size))) {
      std::memcpy(note, text, size);
      AppendLogLineToList(widgets, logList, note);
    }
  }
  return AppendLogLineToList(widgets, logList, line);
}

void MainWindow::StopTakingLogLines() {
  MainWindow* self = this;
  g_mainWindow.compare_exchange_strong(self, nullptr);
  // A post under way holds no lock and never waits, so this ends at once.
  while (g_logPostsUnderWay.load() != 0) std::this_thread::yield();
  uintptr_t unused = 0;
  intptr_t line = 0;
  while (platform::TakeQueuedMessage(hwnd, WM_LOGLINE, &unused, &line)) {
    queuedLogLines.fetch_sub(1, std::memory_order_relaxed);
    std::free(reinterpret_cast<char*>(line));
  }
}
