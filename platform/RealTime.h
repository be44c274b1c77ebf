// Marks the stretches of code that must never wait: the audio callback and
// the mixer's refill. While a scope is open on a thread, that thread is doing
// real-time work; nothing here changes how the code runs (one thread-local
// flag), but tests count what such code does (allocations, lock
// acquisitions) and expect none.
#pragma once

namespace platform {

class RealTimeScope {
 public:
  RealTimeScope() noexcept;
  ~RealTimeScope();
  RealTimeScope(const RealTimeScope&) = delete;
  RealTimeScope& operator=(const RealTimeScope&) = delete;

 private:
  bool outer_;
};

// True on a thread inside a RealTimeScope.
bool InRealTimeScope() noexcept;

}  // namespace platform
