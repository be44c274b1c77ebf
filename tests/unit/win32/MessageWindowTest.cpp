// Hidden message windows on real USER32: a "STATIC" WS_POPUP window per
// thread, its owner and procedure replaced, posts from any thread.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/Thread.h"
#include "platform/Window.h"
#include "support/doubles/SleepMs.h"

namespace {

constexpr uint32_t kTestMessage = platform::kMessageUser + 20;
constexpr uint32_t kDoneMessage = platform::kMessageUser + 21;

struct Receiver {
  std::vector<std::pair<uintptr_t, intptr_t>> received;  // (sender, sequence)
  int donesSeen = 0;
  int donesExpected = 0;
  uint32_t dispatchThread = 0;
  bool wrongThread = false;
};

intptr_t ReceiverProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                      intptr_t lParam) {
  auto* receiver = static_cast<Receiver*>(platform::GetWindowOwner(window));
  if (!receiver) return platform::DefaultWindowProcedure(window, message, wParam, lParam);
  if (platform::CurrentThreadId() != receiver->dispatchThread) receiver->wrongThread = true;
  if (message == kTestMessage) {
    receiver->received.emplace_back(wParam, lParam);
    return 0;
  }
  if (message == kDoneMessage) {
    if (++receiver->donesSeen == receiver->donesExpected) platform::PostQuit(0);
    return 0;
  }
  return platform::DefaultWindowProcedure(window, message, wParam, lParam);
}

TEST(MessageWindow, IsAHiddenStaticPopupWithOwnerAndProcedure) {
  platform::WindowHandle window = platform::CreateMessageWindow("Mixer");
  ASSERT_NE(window, 0u);
  HWND hwnd = reinterpret_cast<HWND>(window);
  char name[32] = {};
  GetClassNameA(hwnd, name, sizeof name);
  EXPECT_STREQ(name, "Static");
  char title[32] = {};
  GetWindowTextA(hwnd, title, sizeof title);
  EXPECT_STREQ(title, "Mixer");
  LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE(style & WS_VISIBLE);
  EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), GetCurrentThreadId());

  Receiver receiver;
  EXPECT_EQ(platform::GetWindowOwner(window), nullptr);
  platform::SetWindowOwner(window, &receiver);
  EXPECT_EQ(platform::GetWindowOwner(window), &receiver);
  EXPECT_EQ(GetWindowLongPtrA(hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&receiver));
  platform::SetWindowProcedure(window, ReceiverProc);
  EXPECT_EQ(GetWindowLongPtrA(hwnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(ReceiverProc));

  // SendToWindow calls the procedure at once, with the procedure's result.
  receiver.dispatchThread = platform::CurrentThreadId();
  EXPECT_EQ(platform::SendToWindow(window, kTestMessage, 7, -3), 0);
  ASSERT_EQ(receiver.received.size(), 1u);
  EXPECT_EQ(receiver.received[0], (std::pair<uintptr_t, intptr_t>{7, -3}));

  // WM_CLOSE through the default procedure destroys the window; afterwards
  // posts fail and the owner is gone.
  ASSERT_TRUE(platform::PostToWindow(window, platform::kMessageClose, 0, 0));
  platform::PostQuit(0);
  while (platform::GetAndDispatchMessage()) {
  }
  EXPECT_FALSE(platform::WindowExists(window));
  EXPECT_FALSE(platform::PostToWindow(window, kTestMessage, 0, 0));
  EXPECT_EQ(platform::GetWindowOwner(window), nullptr);
  EXPECT_EQ(platform::SendToWindow(window, kTestMessage, 0, 0), 0);
}

struct Poster {
  platform::WindowHandle window;
  uintptr_t id;
  std::atomic<bool>* go;
  int count;
};

void PostMany(void* arg) {
  auto* poster = static_cast<Poster*>(arg);
  while (!poster->go->load()) platform::SleepMs(0);
  for (int i = 0; i < poster->count; ++i)
    platform::PostToWindow(poster->window, kTestMessage, poster->id, i);
  platform::PostToWindow(poster->window, kDoneMessage, poster->id, 0);
}

TEST(MessageWindow, PostsFromSeveralThreadsArriveInOrderOnTheOwningThread) {
  constexpr int kThreads = 4;
  constexpr int kEach = 2000;
  platform::WindowHandle window = platform::CreateMessageWindow("MidiIn");
  ASSERT_NE(window, 0u);
  Receiver receiver;
  receiver.dispatchThread = platform::CurrentThreadId();
  receiver.donesExpected = kThreads;
  platform::SetWindowOwner(window, &receiver);
  platform::SetWindowProcedure(window, ReceiverProc);

  std::atomic<bool> go{false};
  Poster posters[kThreads];
  platform::Thread threads[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    posters[t] = Poster{window, static_cast<uintptr_t>(t), &go, kEach};
    ASSERT_TRUE(threads[t].Start(PostMany, &posters[t]));
  }
  go.store(true);
  // A watchdog ends the loop should a message go missing.
  UINT_PTR timer =
      SetTimer(nullptr, 0, 20000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(1); });
  while (platform::GetAndDispatchMessage()) {
  }
  KillTimer(nullptr, timer);
  for (auto& thread : threads) EXPECT_TRUE(thread.Wait(10000));

  EXPECT_FALSE(receiver.wrongThread);
  ASSERT_EQ(receiver.donesSeen, kThreads);
  ASSERT_EQ(receiver.received.size(), static_cast<size_t>(kThreads * kEach));
  intptr_t next[kThreads] = {};
  for (const auto& [sender, sequence] : receiver.received) {
    ASSERT_LT(sender, static_cast<uintptr_t>(kThreads));
    ASSERT_EQ(sequence, next[sender]) << "sender " << sender;
    ++next[sender];
  }
  platform::DestroyMessageWindow(window);
  EXPECT_FALSE(platform::WindowExists(window));
}

TEST(MessageWindow, MessagesForADestroyedWindowAreDropped) {
  platform::WindowHandle window = platform::CreateMessageWindow("Mixer");
  Receiver receiver;
  receiver.dispatchThread = platform::CurrentThreadId();
  platform::SetWindowOwner(window, &receiver);
  platform::SetWindowProcedure(window, ReceiverProc);
  ASSERT_TRUE(platform::PostToWindow(window, kTestMessage, 1, 1));
  platform::DestroyMessageWindow(window);
  platform::PostQuit(0);
  while (platform::GetAndDispatchMessage()) {
  }
  EXPECT_TRUE(receiver.received.empty());
}

}  // namespace
