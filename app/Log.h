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
