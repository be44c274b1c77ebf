// The leak counters the lifecycle tests rely on see handles and threads come
// and go.
#include <windows.h>
#include <gtest/gtest.h>

#include "platform/Thread.h"
#include "support/doubles/ProcessCounters.h"

namespace {

void WaitForEvent(void* event) { WaitForSingleObject(static_cast<HANDLE>(event), 10000); }

TEST(Process, CountsHandlesAndThreads) {
  const int handles = platform::ProcessHandleCount();
  const int threads = platform::ProcessThreadCount();
  ASSERT_GT(handles, 0);
  ASSERT_GT(threads, 0);

  HANDLE events[3];
  for (HANDLE& event : events) event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(platform::ProcessHandleCount(), handles + 3);
  {
    platform::Thread thread;
    ASSERT_TRUE(thread.Start(WaitForEvent, events[0]));
    EXPECT_EQ(platform::ProcessThreadCount(), threads + 1);
    EXPECT_EQ(platform::ProcessHandleCount(), handles + 4);  // the thread's handle
    SetEvent(events[0]);
    ASSERT_TRUE(thread.Wait(10000));
  }
  for (HANDLE event : events) CloseHandle(event);
  EXPECT_EQ(platform::ProcessHandleCount(), handles);
  EXPECT_EQ(platform::ProcessThreadCount(), threads);
}

}  // namespace
