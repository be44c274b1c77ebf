// The diagnostic log. Every line is stamped with the calling thread's id,
// written to the debugger output at once and handed to the registered target
// (the main window's log list). Callable from any thread, at any time; never
// waits for the user-interface thread. Depends on the platform only.
#pragma once
#include <cstdint>

#include "platform/Window.h"

// Posted to the main window: the lines wait in the window's own ring, and
// one WM_LOGLINE (lParam 0) wakes it for a batch. PostLogLine's form carries
// a line allocated with malloc in lParam instead, owned by the receiver.
constexpr uint32_t WM_LOGLINE = platform::kMessageUser + 9;

// The longest line, prefix included.
constexpr int LOG_LINE_MAX = 1024;

// At most this many lines wait for the window at once; beyond, a line reaches
// the debugger output only, and the window shows how many it missed. The list
// shows 1001 lines, so a backlog this long is never shown whole anyway.
constexpr int32_t LOG_MAX_QUEUED_LINES = 4096;

// Thread: any. Never waits for another thread.
void LogMessage(const char* text);
// Thread: any. printf-style convenience: formats into a local buffer, then LogMessage.
void LogFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Thread: any. The line as the debugger output shows it: every control character (ESC,
// BEL, ..., and DEL) as \xNN, so that a name read from a file cannot steer the
// terminal. out must hold 4 * strlen(line) + 1 bytes.
void EscapeControlCharacters(const char* line, char* out);

// Thread: any. Each program's main calls this first: from then on the
// platform's notices (platform/Notice.h) are lines of this log.
void LogPlatformNotices();

// A console program takes the lines itself: while a sink is set, each line
// goes to it (escaped, without a line feed) instead of the debugger output.
// The sink is called on the logging thread, from any thread.
using LogSink = void (*)(void* context, const char* line);
// Thread: any.
void SetLogSink(LogSink sink, void* context);

// Where finished lines go besides the debugger output: post is called on the
// logging thread, from any thread, with the context and the line (on the
// caller's stack); it must not wait. The main window registers itself.
struct LogTarget {
  void (*post)(void* context, const char* line);
  void* context;
};
// Thread: any. The target (null: none) takes every line from now on; it must
// stay valid until RemoveLogTarget.
void SetLogTarget(const LogTarget* target);
// Thread: any. Unregisters target if it is still the registered one, then waits for the
// posts already under way to end (they never wait, so this ends at once):
// once it returns, no thread calls target any more.
void RemoveLogTarget(const LogTarget* target);

// Thread: any; never waits for the receiver. Hands a finished line
// (allocated with malloc) to window as WM_LOGLINE, with wParam the number of
// lines missed just before it (0 but after a flood); the window then owns it.
// When window is 0 or the post fails the line is freed here and the result is
// false.
bool PostLogLine(platform::WindowHandle window, char* line, uintptr_t missedBefore = 0);
