// The diagnostic log on Windows: every line goes through OutputDebugStringA
// (seen here the way a debugger sees it, as DBG_PRINTEXCEPTION_C), and lines
// posted from several threads reach a real list box through the
// user-interface thread's queue.
#include <windows.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "platform/Thread.h"
#include "platform/Window.h"
#include "platform/win32/Win32Widgets.h"

namespace {

std::mutex g_debugMutex;
std::vector<std::string> g_debugStrings;

LONG CALLBACK SeeDebugStrings(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
    std::lock_guard<std::mutex> hold(g_debugMutex);
    g_debugStrings.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]),
                                static_cast<size_t>(record->ExceptionInformation[0]) - 1);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(Log, EveryLineGoesToOutputDebugStringAThenALineFeed) {
  void* handler = AddVectoredExceptionHandler(1, SeeDebugStrings);
  ASSERT_NE(handler, nullptr);
  {
    std::lock_guard<std::mutex> hold(g_debugMutex);
    g_debugStrings.clear();
  }
  LogMessage("Wave out opened");
  LogMessage("100% %d %s");
  RemoveVectoredExceptionHandler(handler);

  char prefix[16];
  snprintf(prefix, sizeof prefix, "0x%.8X: ", static_cast<unsigned>(GetCurrentThreadId()));
  std::lock_guard<std::mutex> hold(g_debugMutex);
  EXPECT_EQ(g_debugStrings, (std::vector<std::string>{std::string(prefix) + "Wave out opened", "\n",
                                                      std::string(prefix) + "100% %d %s", "\n"}));
}

struct LogWindow {
  Win32Widgets* widgets;
  Widget list;
};

intptr_t LogWindowProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                       intptr_t lParam) {
  auto* owner = static_cast<LogWindow*>(platform::GetWindowOwner(window));
  if (owner && message == WM_LOGLINE)
    return AppendLogLineToList(*owner->widgets, owner->list, reinterpret_cast<char*>(lParam));
  return platform::DefaultWindowProcedure(window, message, wParam, lParam);
}

struct Sender {
  platform::WindowHandle window;
  int id;
};

void SendLines(void* arg) {
  auto* sender = static_cast<Sender*>(arg);
  for (int i = 0; i < 600; ++i) {
    char* line = static_cast<char*>(malloc(32));
    snprintf(line, 32, "%d %d", sender->id, i);
    PostLogLine(sender->window, line);
  }
}

TEST(Log, LinesFromSeveralThreadsReachTheListInPostOrderCappedAt1001) {
  Win32Widgets widgets;
  Widget top = widgets.CreateTopLevel("Pelvane");
  LogWindow owner{&widgets, widgets.CreateListBox(top)};
  platform::SetWindowOwner(top, &owner);
  platform::SetWindowProcedure(top, LogWindowProc);

  Sender senders[3] = {{top, 0}, {top, 1}, {top, 2}};
  platform::Thread threads[3];
  for (int t = 0; t < 3; ++t) ASSERT_TRUE(threads[t].Start(SendLines, &senders[t]));
  for (auto& thread : threads) ASSERT_TRUE(thread.Wait(20000));
  // Everything is queued now; the quit behind it ends the loop.
  widgets.PostQuit();
  widgets.RunMessageLoop();

  HWND list = reinterpret_cast<HWND>(owner.list);
  ASSERT_EQ(widgets.ListCount(owner.list), 1001);
  // The list keeps the last 1001 of the 1800 lines in the order they were
  // queued: of each sender, a contiguous run of its lines up to its last one.
  int first[3] = {-1, -1, -1}, last[3] = {-1, -1, -1}, count[3] = {};
  for (int index = 0; index < 1001; ++index) {
    char text[32] = {};
    SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
    int id = -1, sequence = -1;
    ASSERT_EQ(sscanf(text, "%d %d", &id, &sequence), 2) << text;
    ASSERT_TRUE(id >= 0 && id < 3) << text;
    if (first[id] < 0) first[id] = sequence;
    ASSERT_EQ(sequence, first[id] + count[id]) << "line " << index;
    last[id] = sequence;
    ++count[id];
  }
  EXPECT_EQ(count[0] + count[1] + count[2], 1001);
  for (int id = 0; id < 3; ++id) {
    if (count[id] > 0) {
      EXPECT_EQ(last[id], 599) << "sender " << id;
    }
  }
  widgets.Destroy(top);

  // A post to a window that is gone fails; the line is freed, not lost in a
  // queue (nothing to see but no crash and no leak under a checker).
  char* line = static_cast<char*>(malloc(8));
  strcpy(line, "late");
  PostLogLine(top, line);
}

}  // namespace
