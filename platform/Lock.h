// A non-recursive lock. Win32: CRITICAL_SECTION. Linux: a pthread mutex with
// priority inheritance.
#pragma once

namespace platform {

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Enter();
  void Leave();

 private:
  alignas(16) unsigned char storage_[64];
};

}  // namespace platform
