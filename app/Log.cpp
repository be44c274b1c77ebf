#include "app/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/MainWindow.h"
#include "app/Widgets.h"
#include "platform/DebugOutput.h"
#include "platform/Notice.h"
#include "platform/Thread.h"

std::atomic<MainWindow*> g_mainWindow{nullptr};
static const bool g_platformNoticesLogged = (platform::SetNoticeSink(LogMessage), true);

void LogMessage(const char* text) {
  // The line is formatted on the stack first, so that even without memory
  // for the window's copy the debugger output still gets it.
  char line[LOG_LINE_MAX + 1];
  std::snprintf(line, sizeof line, "0x%.8X: %s", static_cast<unsigned>(platform::CurrentThreadId()),
                text);
  platform::DebugOutput(line);
  platform::DebugOutput("\n");

  // Read once: the pointer changes only on the user-interface thread while no
  // other thread logs.
  MainWindow* target = g_mainWindow.load();
  if (!target) return;
  const size_t size = std::strlen(line) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (!copy) return;
  std::memcpy(copy, line, size);
  PostLogLine(static_cast<platform::WindowHandle>(target->hwnd), copy);
}

void LogFormat(const char* format, ...) {
  char text[LOG_LINE_MAX + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  LogMessage(text);
}

void PostLogLine(platform::WindowHandle window, char* line) {
  if (window && platform::PostToWindow(window, WM_LOGLINE, 0, reinterpret_cast<intptr_t>(line)))
    return;
  std::free(line);
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

intptr_t MainWindow::AppendLogLine(char* line) { return AppendLogLineToList(widgets, logList, line); }

void MainWindow::DiscardQueuedLogLines() {
  uintptr_t unused = 0;
  intptr_t line = 0;
  while (platform::TakeQueuedMessage(hwnd, WM_LOGLINE, &unused, &line))
    std::free(reinterpret_cast<char*>(line));
}
