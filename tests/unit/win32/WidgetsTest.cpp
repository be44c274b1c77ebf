// The main window's controls as real USER32 windows (headless under Wine).
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "platform/Window.h"
#include "platform/win32/Instance.h"
#include "platform/win32/Win32Widgets.h"

namespace {

HWND Hwnd(Widget widget) { return reinterpret_cast<HWND>(widget); }

std::string ClassOf(Widget widget) {
  char name[64] = {};
  GetClassNameA(Hwnd(widget), name, sizeof name);
  return name;
}
std::string TextOf(Widget widget) {
  char text[64] = {};
  GetWindowTextA(Hwnd(widget), text, sizeof text);
  return text;
}
LONG_PTR StyleOf(Widget widget) { return GetWindowLongPtrA(Hwnd(widget), GWL_STYLE); }

struct Notification {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
std::vector<Notification> g_seen;

intptr_t RecordingProc(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                       intptr_t lParam) {
  if (message == WM_COMMAND) g_seen.push_back({message, wParam, lParam});
  return platform::DefaultWindowProcedure(window, message, wParam, lParam);
}

class Win32WidgetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_instance = GetModuleHandleA(nullptr);
    LoadAppResources();
    g_seen.clear();
    top = widgets.CreateTopLevel("Pelvane");
    ASSERT_NE(top, 0u);
    platform::SetWindowProcedure(top, RecordingProc);
  }
  void TearDown() override {
    if (IsWindow(Hwnd(top))) widgets.Destroy(top);
  }
  Win32Widgets widgets;
  Widget top = 0;
};

TEST_F(Win32WidgetsTest, TopLevelIsAHiddenOverlappedStaticWindowWithIconsAndFont) {
  EXPECT_EQ(ClassOf(top), "Static");
  EXPECT_EQ(TextOf(top), "Pelvane");
  EXPECT_EQ(StyleOf(top) & 0x02CF0000, 0x02CF0000);
  EXPECT_FALSE(IsWindowVisible(Hwnd(top)));
  EXPECT_EQ(GetParent(Hwnd(top)), nullptr);
  RECT frame;
  GetWindowRect(Hwnd(top), &frame);
  EXPECT_EQ(frame.right - frame.left, 600);
  EXPECT_EQ(frame.bottom - frame.top, 440);

  widgets.SetIcons(top);
  ASSERT_NE(g_largeIcon, nullptr);
  ASSERT_NE(g_smallIcon, nullptr);
  EXPECT_EQ(SendMessageA(Hwnd(top), WM_GETICON, ICON_BIG, 0),
            reinterpret_cast<LRESULT>(g_largeIcon));
  EXPECT_EQ(SendMessageA(Hwnd(top), WM_GETICON, ICON_SMALL, 0),
            reinterpret_cast<LRESULT>(g_smallIcon));

  Widget label = widgets.CreateLabel(top, "Devices");
  widgets.SetFont(label);
  EXPECT_EQ(SendMessageA(Hwnd(label), WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(g_guiFont));
  EXPECT_EQ(g_guiFont, GetStockObject(DEFAULT_GUI_FONT));

  widgets.Move(top, 20, 20, 600, 440);
  int width = 0, height = 0;
  widgets.GetClientSize(top, &width, &height);
  RECT client;
  GetClientRect(Hwnd(top), &client);
  EXPECT_EQ(width, client.right);
  EXPECT_EQ(height, client.bottom);
  EXPECT_GT(width, 500);
  EXPECT_LT(width, 600);
}

TEST_F(Win32WidgetsTest, ControlsHaveTheirClassesStylesAndNoIdentifiers) {
  Widget panel = widgets.CreatePanel(top);
  Widget label = widgets.CreateLabel(panel, "Wave Out:");
  Widget combo = widgets.CreateComboBox(panel);
  Widget list = widgets.CreateListBox(top);
  Widget button = widgets.CreateButton(panel, "&Start");

  EXPECT_EQ(ClassOf(panel), "Static");
  EXPECT_EQ(StyleOf(panel) & 0xFFFF00FF, WS_CHILD | WS_VISIBLE);
  EXPECT_EQ(GetParent(Hwnd(panel)), Hwnd(top));
  EXPECT_EQ(ClassOf(label), "Static");
  EXPECT_EQ(TextOf(label), "Wave Out:");
  EXPECT_EQ(StyleOf(label) & SS_TYPEMASK, SS_LEFT);
  EXPECT_EQ(GetParent(Hwnd(label)), Hwnd(panel));
  EXPECT_EQ(ClassOf(combo), "ComboBox");
  EXPECT_EQ(StyleOf(combo) & 0xFFFF, CBS_DROPDOWNLIST);
  EXPECT_EQ(ClassOf(list), "ListBox");
  EXPECT_EQ(StyleOf(list) & 0xFFFF, LBS_NOSEL | LBS_DISABLENOSCROLL | LBS_NOINTEGRALHEIGHT);
  EXPECT_TRUE(GetWindowLongPtrA(Hwnd(list), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_EQ(ClassOf(button), "Button");
  EXPECT_EQ(TextOf(button), "&Start");
  EXPECT_EQ(StyleOf(button) & 0xF, BS_PUSHBUTTON);
  for (Widget child : {panel, label, combo, list, button})
    EXPECT_EQ(GetWindowLongPtrA(Hwnd(child), GWLP_ID), 0) << ClassOf(child);
}

TEST_F(Win32WidgetsTest, PanelAnswersHitTestsAndPassesNotificationsUp) {
  Widget panel = widgets.CreatePanel(top);
  EXPECT_EQ(GetWindowLongPtrA(Hwnd(panel), GWLP_WNDPROC),
            reinterpret_cast<LONG_PTR>(&Win32Widgets::PanelProc));
  widgets.Move(panel, 0, 0, 300, 26);
  int width = 0, height = 0;
  widgets.GetClientSize(panel, &width, &height);
  EXPECT_EQ(width, 300);
  EXPECT_EQ(height, 26);
  EXPECT_EQ(SendMessageA(Hwnd(panel), WM_NCHITTEST, 0, MAKELPARAM(5, 5)), HTCLIENT);

  // A click on a button in the panel reaches the top-level procedure as
  // WM_COMMAND with BN_CLICKED and the button as sender.
  Widget button = widgets.CreateButton(panel, "&Start");
  widgets.Move(button, 1, 1, 149, 24);
  SendMessageA(Hwnd(button), BM_CLICK, 0, 0);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(HIWORD(g_seen[0].wParam), BN_CLICKED);
  EXPECT_EQ(g_seen[0].lParam, static_cast<intptr_t>(button));

  widgets.Enable(button, false);
  EXPECT_FALSE(IsWindowEnabled(Hwnd(button)));
  EXPECT_FALSE(widgets.IsEnabled(button));
  widgets.Enable(button, true);
  EXPECT_TRUE(widgets.IsEnabled(button));

  // A selection change in a combo box of the panel arrives the same way.
  Widget combo = widgets.CreateComboBox(panel);
  widgets.ComboAdd(combo, "Wave mapper");
  SendMessageA(Hwnd(panel), WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), static_cast<LPARAM>(combo));
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(HIWORD(g_seen[1].wParam), CBN_SELCHANGE);
  EXPECT_EQ(g_seen[1].lParam, static_cast<intptr_t>(combo));
}

TEST_F(Win32WidgetsTest, ComboKeepsInsertionOrderItemDataAndNoSelection) {
  Widget panel = widgets.CreatePanel(top);
  Widget combo = widgets.CreateComboBox(panel);
  EXPECT_EQ(widgets.ComboGetSelection(combo), -1);
  EXPECT_EQ(widgets.ComboGetData(combo, -1), CB_ERR_VALUE);
  EXPECT_EQ(widgets.ComboAdd(combo, "Wave mapper"), 0);
  widgets.ComboSetData(combo, 0, -1);
  EXPECT_EQ(widgets.ComboAdd(combo, "Zeta"), 1);
  widgets.ComboSetData(combo, 1, 0);
  EXPECT_EQ(widgets.ComboAdd(combo, "Alpha"), 2);  // not sorted
  widgets.ComboSetData(combo, 2, 1);
  std::string text;
  ASSERT_TRUE(widgets.ComboGetText(combo, 2, &text));
  EXPECT_EQ(text, "Alpha");
  EXPECT_FALSE(widgets.ComboGetText(combo, 3, &text));
  widgets.ComboSetSelection(combo, 1);
  EXPECT_EQ(widgets.ComboGetSelection(combo), 1);
  EXPECT_EQ(widgets.ComboGetData(combo, 0), -1);
  EXPECT_EQ(widgets.ComboGetData(combo, 2), 1);
  EXPECT_EQ(widgets.ComboGetData(combo, 3), CB_ERR_VALUE);
  widgets.ComboSetSelection(combo, 3);  // past the end: none
  EXPECT_EQ(widgets.ComboGetSelection(combo), -1);
  widgets.ComboSetSelection(combo, 2);
  widgets.ComboReset(combo);
  EXPECT_EQ(widgets.ComboGetSelection(combo), -1);
  EXPECT_EQ(widgets.ComboAdd(combo, "Again"), 0);
}

TEST_F(Win32WidgetsTest, ListAppendsDeletesFromTheTopAndCounts) {
  Widget list = widgets.CreateListBox(top);
  EXPECT_EQ(widgets.ListAdd(list, "0x00000001: b"), 0);
  EXPECT_EQ(widgets.ListAdd(list, "0x00000001: a"), 1);  // not sorted
  EXPECT_EQ(widgets.ListAdd(list, "0x00000001: c"), 2);
  widgets.ListSetCurrent(list, 2);
  widgets.ListDelete(list, 0);
  EXPECT_EQ(widgets.ListCount(list), 2);
  char text[32] = {};
  SendMessageA(Hwnd(list), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "0x00000001: a");
}

TEST_F(Win32WidgetsTest, MessageLoopRunsUntilPostQuit) {
  // WM_CLOSE to the top-level window: the default procedure destroys it, and
  // a quit posted behind it ends the loop.
  PostMessageA(Hwnd(top), WM_CLOSE, 0, 0);
  widgets.PostQuit();
  widgets.RunMessageLoop();
  EXPECT_FALSE(IsWindow(Hwnd(top)));
}

TEST_F(Win32WidgetsTest, TheNewestLogLineIsInViewAfter1100Lines) {
  // The log list as the main window lays it out, with its font.
  Widget list = widgets.CreateListBox(top);
  widgets.SetFont(list);
  widgets.Move(top, 20, 20, 600, 440);
  widgets.Move(list, 0, 90, 584, 285);
  for (int i = 1; i <= 1100; ++i) {
    char* line = static_cast<char*>(malloc(32));
    snprintf(line, 32, "0x00000001: line %d", i);
    AppendLogLineToList(widgets, list, line);
  }
  HWND box = Hwnd(list);
  const int count = static_cast<int>(SendMessageA(box, LB_GETCOUNT, 0, 0));
  ASSERT_EQ(count, 1001);
  RECT client;
  GetClientRect(box, &client);
  const int rows =
      static_cast<int>((client.bottom - client.top) / SendMessageA(box, LB_GETITEMHEIGHT, 0, 0));
  ASSERT_GT(rows, 1);
  // Scrolled to the end: the newest line is the last one in view (a last
  // row only partly shown may not count as a row of the page).
  const int topIndex = static_cast<int>(SendMessageA(box, LB_GETTOPINDEX, 0, 0));
  EXPECT_GE(topIndex, count - rows);
  EXPECT_LE(topIndex, count - rows + 1);
}

}  // namespace
