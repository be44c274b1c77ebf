// pelvane_stall_watch
// Measures how long the machine held back a real-time thread: wakes every
// millisecond at the highest real-time priority it may use (at its normal
// priority where none is allowed) and, once told to end (SIGTERM or SIGINT),
// prints the longest time a wake-up came late, in whole milliseconds. A
// stall this long holds back every thread of the sound chain too, whatever
// its priority: the end-to-end scripts judge a recording made meanwhile
// again (tests/e2e/lib/pelvane.bash, judge_sound).
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>

#include <cstdint>
#include <cstdio>

namespace {

volatile sig_atomic_t g_end = 0;

void End(int) { g_end = 1; }

int64_t Nanoseconds(const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

}  // namespace

int main() {
  struct sigaction action = {};
  action.sa_handler = End;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sched_param priority = {};
  priority.sched_priority = sched_get_priority_max(SCHED_FIFO);
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);  // refused: stays as it is

  constexpr int64_t kPeriod = 1000000;
  int64_t longest = 0;
  timespec next;
  clock_gettime(CLOCK_MONOTONIC, &next);
  while (!g_end) {
    int64_t due = Nanoseconds(next) + kPeriod;
    next.tv_sec = due / 1000000000;
    next.tv_nsec = due % 1000000000;
    if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) continue;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t late = Nanoseconds(now) - due;
    if (late > longest) longest = late;
    // After a stall the next wake-up is due a period from now, not at once.
    if (late > kPeriod) next = now;
  }
  std::printf("%lld\n", static_cast<long long>(longest / 1000000));
  return 0;
}
