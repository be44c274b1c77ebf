// The debugger output stream. Win32: OutputDebugStringA. Linux: standard error
// (one unbuffered write per call).
#pragma once

namespace platform {

void DebugOutput(const char* text);

// Tests may capture the stream: while a hook is set, every text also goes to it.
using DebugOutputHook = void (*)(void* context, const char* text);
void SetDebugOutputHook(DebugOutputHook hook, void* context);

}  // namespace platform
