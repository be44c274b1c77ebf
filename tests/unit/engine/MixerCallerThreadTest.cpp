// A Mixer that handles its device on the thread that made it: nothing happens
// until that thread dispatches, then exactly what the Mixer thread would do.
#include <gtest/gtest.h>

#include <atomic>

#include "engine/Mixer.h"
#include "platform/Thread.h"
#include "platform/Window.h"
#include "support/LogCapture.h"
#include "support/doubles/ProcessCounters.h"
#include "support/doubles/SleepMs.h"
#include "support/doubles/VirtualWaveOut.h"

namespace {

// Posts a message to a window of the calling thread after 20 s unless
// destroyed first: a lost quit cannot hang the test.
class Waker {
 public:
  Waker() : window_(platform::CreateMessageWindow("Waker")) { thread_.Start(&Waker::Run, this); }
  ~Waker() {
    done_.store(true);
    thread_.Wait(-1);
    platform::DestroyMessageWindow(window_);
  }

 private:
  static void Run(void* self) {
    auto* waker = static_cast<Waker*>(self);
    for (int waited = 0; waited < 20000 && !waker->done_.load(); waited += 10)
      platform::SleepMs(10);
    if (!waker->done_.load()) platform::PostToWindow(waker->window_, platform::kMessageUser, 0, 0);
  }
  platform::WindowHandle window_;
  std::atomic<bool> done_{false};
  platform::Thread thread_;
};

}  // namespace

TEST(MixerOnTheCallerThread, HandlesTheDeviceOnlyWhenAskedAndLeavesAQuitQueued) {
  platform::VirtualWaveOut device;
  platform::InstallWaveOutApi(&device);
  LogCapture log;
  {
    const int threads = platform::ProcessThreadCount();
    Mixer mixer(0, MixerThread::kCaller);
    EXPECT_EQ(platform::ProcessThreadCount(), threads);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.WriteCount(), 0);  // the open notification waits in the queue
    mixer.DispatchQueued();
    EXPECT_EQ(device.WriteCount(), 4);

    // A returned buffer is refilled and queued again at the next dispatch.
    // A quit posted meanwhile belongs to this thread's message loop: it
    // stops nothing here and stays queued behind.
    EXPECT_EQ(device.ReturnNextBuffer(), 0);
    platform::PostQuit(0);
    EXPECT_EQ(device.QueuedCount(), 3);
    mixer.DispatchQueued();
    EXPECT_EQ(device.WriteCount(), 5);
    // The message loop gets the quit (were it lost, the waker's message
    // would come instead, after a generous wait).
    {
      Waker waker;
      EXPECT_FALSE(platform::GetAndDispatchMessage());
    }

    mixer.ScheduleShutdown();
    mixer.WaitForShutdown();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.LiveMemoryCount(), 0);
  }
  const uint32_t self = platform::CurrentThreadId();
  std::vector<std::string> texts;
  for (const LogCapture::Line& line : log.Entries()) {
    EXPECT_EQ(line.thread, self) << line.text;
    texts.push_back(line.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Wave out opened", "Mixer: ScheduleShutdown()",
                                             "Mixer: WaitForShutdown()", "Mixer: IsShutdown()"}));
  platform::InstallWaveOutApi(nullptr);
}

namespace {

intptr_t Ignore(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

void PostOnce(void* window) {
  platform::PostToWindow(reinterpret_cast<platform::WindowHandle>(window), platform::kMessageUser,
                         0, 0);
}

}  // namespace

// The renderer waits for a message this way when its dispatch finds none yet.
TEST(MessageWait, EndsWhenAnotherThreadPostsAndTimesOutWhenNoneDoes) {
  platform::WindowHandle window = platform::CreateMessageWindow("Wait");
  ASSERT_NE(window, 0u);
  platform::SetWindowProcedure(window, &Ignore);
  EXPECT_FALSE(platform::WaitForQueuedMessage(20));
  platform::Thread poster;
  poster.Start(&PostOnce, reinterpret_cast<void*>(window));
  EXPECT_TRUE(platform::WaitForQueuedMessage(60000));
  EXPECT_TRUE(platform::DispatchQueuedMessage());
  EXPECT_FALSE(platform::DispatchQueuedMessage());
  poster.Wait(-1);
  platform::DestroyMessageWindow(window);
}
