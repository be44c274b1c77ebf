// A non-recursive lock. Win32: CRITICAL_SECTION. Linux: a pthread mutex with
// priority inheritance. Taken through a LockGuard, so that every path out of
// a scope, early returns included, lets it go.
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

// Holds a Lock from its construction to the end of the enclosing scope.
class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace platform
