// Counts, from outside the code, what the real-time rules forbid: loaded with
// LD_PRELOAD into a whole program, it takes the place of the C library's heap
// functions, pthread_mutex_lock and the calls that write or sleep, for every
// library in the process (libjack, Qt, libstdc++ included), and counts the
// calls made
// - on a real-time thread (SCHED_FIFO or SCHED_RR at the moment of the call),
// - or on any thread while it holds a mutex with priority inheritance (the
//   program's only such lock is the platform Lock, Mixer::Lock among them).
// Counted: heap calls (malloc, free, calloc, realloc and the aligned ones),
// locks of mutexes without priority inheritance, writes that can block (to a
// descriptor without O_NONBLOCK) and sleeps (nanosleep and its kin, poll and
// select with a time-out). Waiting on a semaphore is how a thread waits for
// its next piece of work and is not counted.
//
// Driven by two environment variables:
//   PELVANE_RTCOUNT_CONTROL  a file: counting runs while it exists
//   PELVANE_RTCOUNT_REPORT   where the counts go once the file is gone again
// The report has one line of totals, then one line per thread that made a
// counted call or ran at real-time priority:
//   heap H locks L writes W sleeps S pi-locks P realtime-threads R
//   thread NAME realtime 0|1 heap H locks L writes W sleeps S pi-locks P
// pi-locks counts the locks of priority-inheriting mutexes, so that a report
// of zeros is known to come from a run that took Mixer::Lock.
//
// Linked into a test program instead, it counts through RealTimeCounter.h:
// the test says which calls count, and no file is watched. There it also
// tells the trylocks of mutexes without priority inheritance and the
// semaphore posts (a post wakes a waiting thread, which the rules allow).
#include "support/RealTimeCounter.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

// The report has the first five; the last two only the test interface.
enum Kind { kHeap, kLock, kWrite, kSleep, kPiLock, kTryLock, kPost, kKinds };

struct ThreadCounts {
  std::atomic<long> tid{0};
  std::atomic<bool> realtime{false};
  std::atomic<long> counts[kKinds] = {};
  char name[16] = {};
};

constexpr int kMaxThreads = 256;
ThreadCounts g_threads[kMaxThreads];
std::atomic<bool> g_counting{false};
std::atomic<PelvaneRtCountFilter> g_filter{nullptr};  // set: decides in place of the rule

thread_local int t_piHeld = 0;  // priority-inheriting mutexes this thread holds
thread_local int t_inside = 0;  // inside our own bookkeeping
thread_local ThreadCounts* t_slot = nullptr;

long Tid() { return syscall(SYS_gettid); }

bool RealTime() {
  const int policy = sched_getscheduler(0);
  return policy == SCHED_FIFO || policy == SCHED_RR;
}

ThreadCounts* Slot() {
  if (t_slot) return t_slot;
  const long tid = Tid();
  for (ThreadCounts& slot : g_threads) {
    long free = 0;
    if (slot.tid.compare_exchange_strong(free, tid)) {
      t_slot = &slot;
      return t_slot;
    }
  }
  return nullptr;
}

// A call of this kind is about to be made on the calling thread.
void Note(Kind kind) {
  if (!g_counting.load(std::memory_order_relaxed) || t_inside) return;
  ++t_inside;
  const PelvaneRtCountFilter filter = g_filter.load(std::memory_order_relaxed);
  const bool realtime = !filter && RealTime();
  if (filter ? filter() != 0 : realtime || t_piHeld > 0 || kind == kPiLock) {
    if (ThreadCounts* slot = Slot()) {
      if (realtime) slot->realtime.store(true, std::memory_order_relaxed);
      slot->counts[kind].fetch_add(1, std::memory_order_relaxed);
      if (slot->name[0] == 0) prctl(PR_GET_NAME, slot->name, 0, 0, 0);
    }
  }
  --t_inside;
}

bool PriorityInheriting(pthread_mutex_t* mutex) {
  // glibc marks such a mutex with PTHREAD_MUTEX_PRIO_INHERIT_NP (32) in its kind.
  return (mutex->__data.__kind & 32) != 0;
}

bool MayBlock(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK) == 0;
}

template <typename Function>
Function Real(std::atomic<Function>& cache, const char* name) {
  Function function = cache.load(std::memory_order_relaxed);
  if (!function) {
    ++t_inside;
    function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    --t_inside;
    cache.store(function, std::memory_order_relaxed);
  }
  return function;
}

void WriteReport(const char* path) {
  FILE* out = std::fopen(path, "w");
  if (!out) return;
  long totals[kKinds] = {};
  int realtimeThreads = 0;
  for (ThreadCounts& slot : g_threads) {
    if (slot.tid.load() == 0) continue;
    realtimeThreads += slot.realtime.load();
    for (int k = 0; k < kKinds; ++k) totals[k] += slot.counts[k].load();
  }
  std::fprintf(out, "heap %ld locks %ld writes %ld sleeps %ld pi-locks %ld realtime-threads %d\n",
               totals[kHeap], totals[kLock], totals[kWrite], totals[kSleep], totals[kPiLock],
               realtimeThreads);
  for (ThreadCounts& slot : g_threads) {
    if (slot.tid.load() == 0) continue;
    std::fprintf(out,
                 "thread %s realtime %d heap %ld locks %ld writes %ld sleeps %ld pi-locks %ld\n",
                 slot.name[0] ? slot.name : "?", int(slot.realtime.load()),
                 slot.counts[kHeap].load(), slot.counts[kLock].load(), slot.counts[kWrite].load(),
                 slot.counts[kSleep].load(), slot.counts[kPiLock].load());
  }
  std::fclose(out);
}

// Watches the control file; its own calls are never counted.
void* Watch(void*) {
  t_inside = 1;
  const char* control = std::getenv("PELVANE_RTCOUNT_CONTROL");
  const char* report = std::getenv("PELVANE_RTCOUNT_REPORT");
  bool was = false;
  for (;;) {
    const bool now = access(control, F_OK) == 0;
    if (now != was) {
      g_counting.store(now);
      if (!now && report) WriteReport(report);
      was = now;
    }
    const timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return nullptr;
}

__attribute__((constructor)) void StartWatching() {
  if (!std::getenv("PELVANE_RTCOUNT_CONTROL")) return;
  pthread_t thread;
  ++t_inside;
  if (pthread_create(&thread, nullptr, &Watch, nullptr) == 0) pthread_detach(thread);
  --t_inside;
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
  Note(kHeap);
  return __libc_malloc(size);
}
void free(void* block) {
  if (block) Note(kHeap);
  __libc_free(block);
}
void* calloc(size_t count, size_t size) {
  Note(kHeap);
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  Note(kHeap);
  return __libc_realloc(block, size);
}
void* memalign(size_t alignment, size_t size) {
  Note(kHeap);
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** block, size_t alignment, size_t size) {
  *block = memalign(alignment, size);
  return *block ? 0 : ENOMEM;
}

using LockFunction = int (*)(pthread_mutex_t*);
std::atomic<LockFunction> g_realLock{nullptr};
std::atomic<LockFunction> g_realUnlock{nullptr};
std::atomic<LockFunction> g_realTryLock{nullptr};

int pthread_mutex_lock(pthread_mutex_t* mutex) {
  const bool inheriting = PriorityInheriting(mutex);
  Note(inheriting ? kPiLock : kLock);
  const int result = Real(g_realLock, "pthread_mutex_lock")(mutex);
  if (inheriting && result == 0) ++t_piHeld;
  return result;
}
int pthread_mutex_trylock(pthread_mutex_t* mutex) {
  Note(PriorityInheriting(mutex) ? kPiLock : kTryLock);
  const int result = Real(g_realTryLock, "pthread_mutex_trylock")(mutex);
  if (PriorityInheriting(mutex) && result == 0) ++t_piHeld;
  return result;
}
int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  if (PriorityInheriting(mutex) && t_piHeld > 0) --t_piHeld;
  return Real(g_realUnlock, "pthread_mutex_unlock")(mutex);
}

using WriteFunction = ssize_t (*)(int, const void*, size_t);
std::atomic<WriteFunction> g_realWrite{nullptr};
ssize_t write(int fd, const void* data, size_t size) {
  if (g_counting.load(std::memory_order_relaxed) && !t_inside && MayBlock(fd)) Note(kWrite);
  return Real(g_realWrite, "write")(fd, data, size);
}
using WritevFunction = ssize_t (*)(int, const iovec*, int);
std::atomic<WritevFunction> g_realWritev{nullptr};
ssize_t writev(int fd, const iovec* parts, int count) {
  if (g_counting.load(std::memory_order_relaxed) && !t_inside && MayBlock(fd)) Note(kWrite);
  return Real(g_realWritev, "writev")(fd, parts, count);
}
using SendFunction = ssize_t (*)(int, const void*, size_t, int);
std::atomic<SendFunction> g_realSend{nullptr};
ssize_t send(int fd, const void* data, size_t size, int flags) {
  if (g_counting.load(std::memory_order_relaxed) && !t_inside && (flags & MSG_DONTWAIT) == 0 &&
      MayBlock(fd))
    Note(kWrite);
  return Real(g_realSend, "send")(fd, data, size, flags);
}

using NanosleepFunction = int (*)(const timespec*, timespec*);
std::atomic<NanosleepFunction> g_realNanosleep{nullptr};
int nanosleep(const timespec* duration, timespec* rest) {
  Note(kSleep);
  return Real(g_realNanosleep, "nanosleep")(duration, rest);
}
using ClockNanosleepFunction = int (*)(clockid_t, int, const timespec*, timespec*);
std::atomic<ClockNanosleepFunction> g_realClockNanosleep{nullptr};
int clock_nanosleep(clockid_t clock, int flags, const timespec* when, timespec* rest) {
  Note(kSleep);
  return Real(g_realClockNanosleep, "clock_nanosleep")(clock, flags, when, rest);
}
using UsleepFunction = int (*)(useconds_t);
std::atomic<UsleepFunction> g_realUsleep{nullptr};
int usleep(useconds_t microseconds) {
  Note(kSleep);
  return Real(g_realUsleep, "usleep")(microseconds);
}
using PollFunction = int (*)(pollfd*, nfds_t, int);
std::atomic<PollFunction> g_realPoll{nullptr};
int poll(pollfd* fds, nfds_t count, int timeoutMs) {
  if (timeoutMs != 0) Note(kSleep);
  return Real(g_realPoll, "poll")(fds, count, timeoutMs);
}
using SelectFunction = int (*)(int, fd_set*, fd_set*, fd_set*, timeval*);
std::atomic<SelectFunction> g_realSelect{nullptr};
int select(int count, fd_set* reads, fd_set* writes, fd_set* errors, timeval* timeout) {
  if (!timeout || timeout->tv_sec != 0 || timeout->tv_usec != 0) Note(kSleep);
  return Real(g_realSelect, "select")(count, reads, writes, errors, timeout);
}

using PostFunction = int (*)(sem_t*);
std::atomic<PostFunction> g_realPost{nullptr};
int sem_post(sem_t* semaphore) {
  Note(kPost);
  return Real(g_realPost, "sem_post")(semaphore);
}

void pelvane_rtcount_start(PelvaneRtCountFilter counted) {
  for (ThreadCounts& slot : g_threads)
    for (std::atomic<long>& count : slot.counts) count.store(0);
  g_filter.store(counted);
  g_counting.store(true);
}

PelvaneRtCounts pelvane_rtcount_stop() {
  g_counting.store(false);
  long totals[kKinds] = {};
  for (ThreadCounts& slot : g_threads)
    for (int k = 0; k < kKinds; ++k) totals[k] += slot.counts[k].load();
  return PelvaneRtCounts{totals[kHeap],  totals[kLock],  totals[kTryLock], totals[kPiLock],
                         totals[kWrite], totals[kSleep], totals[kPost]};
}

}  // extern "C"
