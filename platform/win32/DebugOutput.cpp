#include "platform/DebugOutput.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {
std::atomic<DebugOutputHook> g_hook{nullptr};
std::atomic<void*> g_hookContext{nullptr};
std::atomic<bool> g_toStandardError{false};
}  // namespace

void DebugOutput(const char* text) {
  OutputDebugStringA(text);
  if (g_toStandardError.load()) {
    // One WriteFile per text, as the Linux backend's one write(2).
    DWORD done = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(lstrlenA(text)), &done,
              nullptr);
  }
  if (DebugOutputHook hook = g_hook.load()) hook(g_hookContext.load(), text);
}

void CopyDebugOutputToStandardError() { g_toStandardError.store(true); }

void SetDebugOutputHook(DebugOutputHook hook, void* context) {
  g_hookContext.store(context);
  g_hook.store(hook);
}

}  // namespace platform
