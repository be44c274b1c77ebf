// The diagnostic log. Every line is stamped with the calling thread's id,
// written to the debugger output at once and posted to the main window's log
// list. Callable from any thread, at any time; never waits for the
// user-interface thread.
#pragma once
#include <cstdint>

#include "platform/Window.h"

// Posted to the main window; lParam is a line allocated with malloc, owned by
// the receiver.
constexpr uint32_t WM_LOGLINE = platform::kMessageUser + 9;

// The longest line, prefix included.
constexpr int LOG_LINE_MAX = 1024;

void LogMessage(const char* text);
// printf-style convenience: formats into a local buffer, then LogMessage.
void LogFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

class Widgets;

// Hands a finished line (allocated with malloc) to window as WM_LOGLINE; the
// window then owns it. When window is 0 or the post fails the line is freed
// here. Any thread; never waits for the receiving thread.
void PostLogLine(platform::WindowHandle window, char* line);

// The log list's append step (MainWindow::AppendLogLine), on the
// user-interface thread: adds the line to list, makes it the current line,
// trims the top while the new index exceeds 1000 (nothing when the add
// failed) and frees the line. Returns 0, the message result.
intptr_t AppendLogLineToList(Widgets& widgets, platform::WindowHandle list, char* line);
