#include "platform/Thread.h"

#include <jack/jack.h>
#include <jack/thread.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Notice.h"
#include "platform/linux/RealTimePriority.h"

namespace platform {

struct Thread::Impl {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  uint32_t id = 0;
  // The running thread keeps the state alive even when the Thread object is
  // destroyed first (a handle released while the thread still runs).
  std::shared_ptr<Impl> self;
};

Thread::~Thread() {
  if (!impl_) return;
  {
    std::lock_guard<std::mutex> hold(impl_->mutex);
    if (impl_->thread.joinable()) {
      if (impl_->done)
        impl_->thread.join();
      else
        impl_->thread.detach();
    }
  }
  impl_->self.reset();  // the thread may still hold its own reference
}

bool Thread::Start(ThreadBody body, void* arg) {
  if (impl_) return false;
  auto impl = std::make_shared<Impl>();
  impl->self = impl;
  impl_ = impl.get();
  std::unique_lock<std::mutex> hold(impl->mutex);
  try {
    impl->thread = std::thread([impl, body, arg] {
      {
        std::lock_guard<std::mutex> lock(impl->mutex);
        impl->id = CurrentThreadId();
        impl->changed.notify_all();
      }
      body(arg);
      std::lock_guard<std::mutex> lock(impl->mutex);
      impl->done = true;
      impl->changed.notify_all();
    });
  } catch (...) {
    hold.unlock();
    impl->self.reset();
    impl_ = nullptr;
    return false;
  }
  // CreateThread hands back the id at once; wait the moment it takes the new
  // thread to learn it.
  impl->changed.wait(hold, [&] { return impl->id != 0; });
  return true;
}

bool Thread::Wait(int timeoutMs) {
  if (!impl_) return true;
  std::unique_lock<std::mutex> hold(impl_->mutex);
  auto done = [this] { return impl_->done; };
  if (timeoutMs < 0)
    impl_->changed.wait(hold, done);
  else
    impl_->changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), done);
  if (!impl_->done) return false;
  if (impl_->thread.joinable()) impl_->thread.join();
  return true;
}

uint32_t Thread::Id() const { return impl_ ? impl_->id : 0; }

namespace {

bool SetFifo(pid_t tid, int priority) {
  sched_param param{};
  param.sched_priority = priority;
  return sched_setscheduler(tid, SCHED_FIFO, &param) == 0;
}

// RealtimeKit is asked at most until it first fails: a desktop without it
// should not pay a bus round trip for every thread.
std::atomic<bool> g_realtimeKitFailed{false};

}  // namespace

namespace {

// The highest priority our threads may take (-1: whatever the system grants).
std::atomic<int> g_ceiling{-1};
// The threads raised lately, for a ceiling set after they were raised.
constexpr int kRaisedThreads = 16;
std::atomic<pid_t> g_raised[kRaisedThreads];
std::atomic<uint32_t> g_nextRaised{0};

void NoteRaised(pid_t tid) {
  for (std::atomic<pid_t>& slot : g_raised)
    if (slot.load() == tid) return;
  g_raised[g_nextRaised.fetch_add(1) % kRaisedThreads].store(tid);
}

}  // namespace

int MakeThreadRealTime(pid_t tid) {
  const int top = sched_get_priority_max(SCHED_FIFO);
  const int ceiling = g_ceiling.load();
  const int highest = ceiling > 0 ? std::min(ceiling, top) : top;
  NoteRaised(tid);
  // With CAP_SYS_NICE (or an rtprio limit of 99) the top priority is ours.
  if (SetFifo(tid, highest)) return highest;
  // A soft rtprio limit below the hard one may be raised by anyone.
  rlimit limit;
  if (getrlimit(RLIMIT_RTPRIO, &limit) == 0) {
    if (limit.rlim_cur < limit.rlim_max) {
      limit.rlim_cur = limit.rlim_max;
      setrlimit(RLIMIT_RTPRIO, &limit);
      getrlimit(RLIMIT_RTPRIO, &limit);
    }
    if (limit.rlim_cur > 0) {
      const int allowed = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, rlim_t(highest)));
      if (SetFifo(tid, allowed)) return allowed;
    }
  }
  if (!g_realtimeKitFailed.load()) {
    if (int given = RealtimeKitMakeThreadRealTime(tid, highest)) return given;
    g_realtimeKitFailed.store(true);
  }
  return 0;
}

void SetRealTimeCeiling(int priority) {
  g_ceiling.store(priority);
  if (priority <= 0) return;
  const pid_t process = getpid();
  for (std::atomic<pid_t>& slot : g_raised) {
    const pid_t tid = slot.load();
    if (tid == 0) continue;
    // Only threads of this process that still run real-time above it.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task/%d", static_cast<int>(process),
                  static_cast<int>(tid));
    sched_param param{};
    if (access(path, F_OK) != 0 || sched_getscheduler(tid) != SCHED_FIFO ||
        sched_getparam(tid, &param) != 0 || param.sched_priority <= priority)
      continue;
    SetFifo(tid, priority);
  }
}

namespace {
int CreateJackThread(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*),
                     void* arg) {
  const int result = pthread_create(thread, attributes, body, arg);
  if (result == 0) pthread_setname_np(*thread, "jack client");
  return result;
}
}  // namespace

void NameJackThreads() { jack_set_thread_creator(&CreateJackThread); }

void TellRealTimeRefused() {
  static std::atomic<bool> told{false};
  if (told.exchange(true)) return;
  Notice(
      "No real-time priority for the audio threads (neither the rtprio limit nor "
      "RealtimeKit granted it): the sound may break up under load. Add your user to the "
      "'audio' group (its limits allow rtprio 95) and log in again.");
}

void SetCurrentThreadTimeCritical() { MakeThreadRealTime(static_cast<pid_t>(CurrentThreadId())); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

}  // namespace platform
