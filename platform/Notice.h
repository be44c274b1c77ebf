// Lines a backend has to tell the user (a sound server that went away, a
// rate conversion in use, MIDI messages lost to a full input queue) while the
// platform knows nothing of the log above it: each program's main registers
// a receiver that forwards every line to its log (LogPlatformNotices in
// log/Log.h). Without one, a line goes to the debugger output as it is.
#pragma once

namespace platform {

using NoticeSink = void (*)(const char* text);
// Thread: any. The receiver (null: none) takes every line from now on; the
// one it replaces is returned.
NoticeSink SetNoticeSink(NoticeSink sink);

// Thread: any but a real-time one (the receiver may allocate and post).
void Notice(const char* text);
void NoticeFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace platform
