#include "platform/DebugOutput.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {
std::atomic<DebugOutputHook> g_hook{nullptr};
std::atomic<void*> g_hookContext{nullptr};
}  // namespace

void DebugOutput(const char* text) {
  OutputDebugStringA(text);
  if (DebugOutputHook hook = g_hook.load()) hook(g_hookContext.load(), text);
}

void SetDebugOutputHook(DebugOutputHook hook, void* context) {
  g_hookContext.store(context);
  g_hook.store(hook);
}

}  // namespace platform
