#include "platform/DebugOutput.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

namespace platform {

namespace {
std::atomic<DebugOutputHook> g_hook{nullptr};
std::atomic<void*> g_hookContext{nullptr};
}  // namespace

void DebugOutput(const char* text) {
  const char* at = text;
  size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t done = write(2, at, left);
    if (done <= 0) break;
    at += done;
    left -= static_cast<size_t>(done);
  }
  if (DebugOutputHook hook = g_hook.load()) hook(g_hookContext.load(), text);
}

// The debugger output is standard error here already.
void CopyDebugOutputToStandardError() {}

void SetDebugOutputHook(DebugOutputHook hook, void* context) {
  g_hookContext.store(context);
  g_hook.store(hook);
}

}  // namespace platform
