// Lines the MIDI backend has to tell the user (messages lost to a full input
// queue) without depending on the log, which sits above the platform: the
// program installs a sink at start-up; without one the lines are dropped.
#pragma once

namespace platform {

using MidiNoticeSink = void (*)(const char* line);

// Any thread; the sink replaces the previous one (null: none).
void SetMidiNoticeSink(MidiNoticeSink sink);
// Any thread but a real-time one (the sink may block): formats the line,
// printf-style, and hands it to the sink.
void MidiNotice(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace platform
