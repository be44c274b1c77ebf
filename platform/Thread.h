// Threads, their priority and ids. Win32: CreateThread, SetThreadPriority,
// WaitForSingleObject, GetCurrentThreadId. Linux: pthreads.
#pragma once
#include <cstdint>

namespace platform {

using ThreadBody = void (*)(void* arg);

// A started thread. Owned by the object that started it; not copyable.
class Thread {
 public:
  Thread() = default;
  ~Thread();  // releases the handle; does not wait for the thread
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts body(arg) at once, at normal priority, default stack size.
  bool Start(ThreadBody body, void* arg);
  // Waits up to timeoutMs (negative: without limit) for the thread to end.
  // True when it has ended.
  bool Wait(int timeoutMs);
  // The started thread's id (the same number CurrentThreadId gives on it).
  uint32_t Id() const;
  bool Started() const { return impl_ != nullptr; }

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

// Raises the calling thread to the highest priority the system grants
// (THREAD_PRIORITY_TIME_CRITICAL on Windows; on Linux SCHED_FIFO at the
// highest priority the process may use, else left as it is).
void SetCurrentThreadTimeCritical();
uint32_t CurrentThreadId();

}  // namespace platform
