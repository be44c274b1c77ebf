// The debugger output stream. Win32: OutputDebugStringA. Linux: standard error
// (one unbuffered write per call).
#pragma once

namespace platform {

void DebugOutput(const char* text);

// A console tool's log: from now on every text also reaches standard error.
// Where the debugger output already is standard error this changes nothing.
void CopyDebugOutputToStandardError();

// Tests may capture the stream: while a hook is set, every text also goes to it.
using DebugOutputHook = void (*)(void* context, const char* text);
void SetDebugOutputHook(DebugOutputHook hook, void* context);

}  // namespace platform
