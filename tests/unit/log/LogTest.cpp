#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "platform/Thread.h"
#include "support/FakeWidgets.h"
#include "support/LogCapture.h"

namespace {

std::string Prefix(uint32_t threadId) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "0x%.8X: ", threadId);
  return prefix;
}

char* HeapLine(const std::string& text) {
  char* line = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(line, text.c_str(), text.size() + 1);
  return line;
}

TEST(LogMessage, LineIsThreadIdPrefixAndTextThenASeparateLineFeed) {
  ASSERT_EQ(g_mainWindow.load(), nullptr);
  LogCapture capture;
  LogMessage("");
  LogMessage("100% sure: %d %s %n");
  const std::string prefix = Prefix(platform::CurrentThreadId());
  ASSERT_EQ(prefix.size(), 12u);
  EXPECT_EQ(capture.Raw(),
            (std::vector<std::string>{prefix, "\n", prefix + "100% sure: %d %s %n", "\n"}));
}

TEST(LogMessage, LinesAreCutAt1024Characters) {
  LogCapture capture;
  const std::string fits(1024 - 12, 'a');
  LogMessage(fits.c_str());
  LogMessage((fits + "b").c_str());
  LogMessage(std::string(5000, 'c').c_str());
  const std::vector<std::string> raw = capture.Raw();
  ASSERT_EQ(raw.size(), 6u);
  EXPECT_EQ(raw[0].size(), 1024u);
  EXPECT_EQ(raw[0].substr(12), fits);
  EXPECT_EQ(raw[2], raw[0]);
  EXPECT_EQ(raw[4].size(), 1024u);
  EXPECT_EQ(raw[4].substr(12), std::string(1012, 'c'));
}

TEST(LogFormat, FormatsThenLogs) {
  LogCapture capture;
  LogFormat("Not enough memory for buffer %d ('%s')", 2, "x%dy");
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"Not enough memory for buffer 2 ('x%dy')"});
}

TEST(LogMessage, EveryThreadStampsItsOwnIdAndNoLineIsLost) {
  LogCapture capture;
  constexpr int kThreads = 4, kLines = 300;
  std::vector<uint32_t> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &ids] {
      ids[t] = platform::CurrentThreadId();
      for (int n = 0; n < kLines; ++n)
        LogMessage(("thread " + std::to_string(t) + " line " + std::to_string(n)).c_str());
    });
  for (std::thread& thread : threads) thread.join();
  std::vector<int> next(kThreads, 0);
  int feeds = 0;
  for (const std::string& entry : capture.Raw()) {
    if (entry == "\n") {
      ++feeds;
      continue;
    }
    int t = -1, n = -1;
    ASSERT_EQ(std::sscanf(entry.c_str() + 12, "thread %d line %d", &t, &n), 2) << entry;
    EXPECT_EQ(entry.substr(0, 12), Prefix(ids[t]));
    EXPECT_EQ(n, next[t]++);  // each thread's lines in its own order
  }
  EXPECT_EQ(feeds, kThreads * kLines);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}

// The receiving side of WM_LOGLINE: a message window on the test thread.
std::vector<std::string>* g_received = nullptr;
intptr_t Receive(platform::WindowHandle, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_LOGLINE && wParam == 0) {
    char* line = reinterpret_cast<char*>(lParam);
    g_received->push_back(line);
    std::free(line);
  }
  return 0;
}

TEST(PostLogLine, PostsWithoutWaitingForTheReceiverAndKeepsOrder) {
  std::vector<std::string> received;
  g_received = &received;
  platform::WindowHandle window = platform::CreateMessageWindow("log target");
  platform::SetWindowProcedure(window, &Receive);

  // Posters on other threads finish while this thread is not yet receiving.
  constexpr int kThreads = 3, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, window] {
      for (int n = 0; n < kLines; ++n)
        PostLogLine(window, HeapLine(std::to_string(t) + " " + std::to_string(n)));
    });
  for (std::thread& thread : threads) thread.join();
  platform::PostToWindow(window, platform::kMessageUser, 0, 0);  // end marker
  platform::PostQuit(0);
  while (platform::GetAndDispatchMessage()) {
  }

  ASSERT_EQ(received.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : received) {
    int t = -1, n = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d %d", &t, &n), 2);
    EXPECT_EQ(n, next[t]++);
  }
  platform::DestroyMessageWindow(window);
  g_received = nullptr;
}

TEST(PostLogLine, WithoutAWindowOrToAClosedOneTheLineIsFreed) {
  // Nothing may leak here: LeakSanitizer fails the run if a line is kept.
  PostLogLine(0, HeapLine("no window"));
  platform::WindowHandle window = platform::CreateMessageWindow("gone");
  platform::DestroyMessageWindow(window);
  PostLogLine(window, HeapLine("closed window"));
  EXPECT_FALSE(platform::WindowExists(window));
}

class LogList : public ::testing::Test {
 protected:
  void Append(const std::string& text) {
    EXPECT_EQ(AppendLogLineToList(widgets, list, HeapLine(text)), 0);
  }
  FakeWidgets widgets;
  Widget list = widgets.CreateListBox(0);
};

TEST_F(LogList, KeepsTheNewest1001LinesOldestFirst) {
  for (int n = 1; n <= 1001; ++n) Append("line " + std::to_string(n));
  EXPECT_EQ(widgets.ListCount(list), 1001);
  EXPECT_EQ(widgets.Get(list).selection, 1000);

  Append("line 1002");
  std::vector<std::string> texts = widgets.Texts(list);
  ASSERT_EQ(texts.size(), 1001u);
  EXPECT_EQ(texts.front(), "line 2");
  EXPECT_EQ(texts.back(), "line 1002");
  EXPECT_EQ(widgets.Get(list).selection, 1000);  // the new line, after the trim

  for (int n = 1003; n <= 1010; ++n) Append("line " + std::to_string(n));
  texts = widgets.Texts(list);
  ASSERT_EQ(texts.size(), 1001u);
  EXPECT_EQ(texts.front(), "line 10");
  EXPECT_EQ(texts.back(), "line 1010");
}

TEST_F(LogList, FailedAddTrimsNothing) {
  for (int n = 1; n <= 1001; ++n) Append("line " + std::to_string(n));
  widgets.failListAdd = true;
  Append("lost");
  EXPECT_EQ(widgets.ListCount(list), 1001);
  EXPECT_EQ(widgets.Texts(list).front(), "line 1");
}

TEST_F(LogList, AddsThenMakesCurrentThenTrims) {
  // A list already longer than the cap (lines added before the cap applied):
  // one append trims back to 1001 lines at once.
  for (int n = 0; n < 1005; ++n) widgets.Get(list).items.push_back({"old " + std::to_string(n), 0});
  Append("new");
  const std::vector<std::string> texts = widgets.Texts(list);
  ASSERT_EQ(texts.size(), 1001u);
  EXPECT_EQ(texts.front(), "old 5");
  EXPECT_EQ(texts.back(), "new");
  EXPECT_EQ(widgets.Get(list).selection, 1000);
}

}  // namespace
