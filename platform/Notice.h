// Lines a backend has to tell the user (a sound server that went away, a
// rate conversion in use) while the platform knows nothing of the log above
// it: the application registers a receiver that forwards each line to its
// log. Without one, a line goes to the debugger output as it is.
#pragma once

namespace platform {

using NoticeSink = void (*)(const char* text);
// Any thread; the receiver stays registered for the life of the process.
void SetNoticeSink(NoticeSink sink);

// Any thread but a real-time one (the receiver may allocate and post).
void Notice(const char* text);
void NoticeFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace platform
