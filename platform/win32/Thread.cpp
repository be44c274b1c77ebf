#include "platform/Thread.h"

#include <windows.h>

#include <new>

namespace platform {

struct Thread::Impl {
  HANDLE handle = nullptr;
  DWORD id = 0;
};

namespace {

struct StartArgs {
  ThreadBody body;
  void* arg;
};

DWORD WINAPI Trampoline(LPVOID param) {
  StartArgs start = *static_cast<StartArgs*>(param);
  delete static_cast<StartArgs*>(param);
  start.body(start.arg);
  return 0;
}

}  // namespace

Thread::~Thread() {
  if (!impl_) return;
  CloseHandle(impl_->handle);
  delete impl_;
}

bool Thread::Start(ThreadBody body, void* arg) {
  if (impl_) return false;
  auto* start = new (std::nothrow) StartArgs{body, arg};
  auto* impl = new (std::nothrow) Impl;
  if (!start || !impl) {
    delete start;
    delete impl;
    return false;
  }
  impl->handle = CreateThread(nullptr, 0, Trampoline, start, 0, &impl->id);
  if (!impl->handle) {
    delete start;
    delete impl;
    return false;
  }
  impl_ = impl;
  return true;
}

bool Thread::Wait(int timeoutMs) {
  if (!impl_) return true;
  DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return WaitForSingleObject(impl_->handle, limit) == WAIT_OBJECT_0;
}

uint32_t Thread::Id() const { return impl_ ? impl_->id : 0; }

void SetCurrentThreadTimeCritical() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

}  // namespace platform
