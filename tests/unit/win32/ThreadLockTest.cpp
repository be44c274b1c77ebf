// Threads and the lock on KERNEL32: CreateThread, the time-critical priority,
// WaitForSingleObject, CRITICAL_SECTION.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>

#include "platform/Lock.h"
#include "platform/Thread.h"

namespace {

struct Probe {
  std::atomic<uint32_t> id{0};
  std::atomic<int> priority{-100};
  HANDLE release = nullptr;
};

void RaiseAndWait(void* arg) {
  auto* probe = static_cast<Probe*>(arg);
  platform::SetCurrentThreadTimeCritical();
  probe->priority = GetThreadPriority(GetCurrentThread());
  probe->id = platform::CurrentThreadId();
  WaitForSingleObject(probe->release, 10000);
}

TEST(Thread, RunsAtOnceRaisesItsOwnPriorityAndCanBeWaitedFor) {
  Probe probe;
  probe.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  platform::Thread thread;
  ASSERT_TRUE(thread.Start(RaiseAndWait, &probe));
  EXPECT_TRUE(thread.Started());
  EXPECT_FALSE(thread.Start(RaiseAndWait, &probe)) << "a Thread starts once";
  EXPECT_FALSE(thread.Wait(50)) << "still blocked";
  SetEvent(probe.release);
  ASSERT_TRUE(thread.Wait(10000));
  EXPECT_EQ(probe.priority.load(), THREAD_PRIORITY_TIME_CRITICAL);
  EXPECT_EQ(probe.id.load(), thread.Id());
  EXPECT_NE(thread.Id(), platform::CurrentThreadId());
  EXPECT_TRUE(thread.Wait(0)) << "an ended thread stays ended";
  CloseHandle(probe.release);
}

struct Counter {
  platform::Lock lock;
  long long value = 0;  // deliberately not atomic: the lock guards it
};

void AddMany(void* arg) {
  auto* counter = static_cast<Counter*>(arg);
  for (int i = 0; i < 200000; ++i) {
    counter->lock.Enter();
    long long seen = counter->value;
    counter->value = seen + 1;
    counter->lock.Leave();
  }
}

TEST(Lock, SerialisesThreads) {
  Counter counter;
  platform::Thread threads[4];
  for (auto& thread : threads) ASSERT_TRUE(thread.Start(AddMany, &counter));
  for (auto& thread : threads) ASSERT_TRUE(thread.Wait(60000));
  EXPECT_EQ(counter.value, 4 * 200000);
}

}  // namespace
