// The main window on real USER32 controls (headless under Wine): the layout
// in pixels, the device lists in real combo boxes, Start and Stop clicked as
// buttons, the log in the list box, and a paint that does not repeat.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "platform/win32/Instance.h"
#include "platform/win32/Win32Widgets.h"
#include "support/TempFolder.h"
#include "synth/DumpFile.h"
#include "unit/mainwindow/DeviceLists.h"

namespace {

HWND Hwnd(Widget widget) { return reinterpret_cast<HWND>(widget); }

// A child's rectangle in its parent's client coordinates.
RECT PlaceOf(Widget child) {
  RECT rect;
  GetWindowRect(Hwnd(child), &rect);
  MapWindowPoints(nullptr, GetParent(Hwnd(child)), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

class MainWindowWin32 : public ::testing::Test {
 protected:
  MainWindowWin32() {
    g_instance = GetModuleHandleA(nullptr);
    LoadAppResources();
    devices.wave.devices.names = {"Speakers", "Headphones"};
    devices.midi.inputs.names = {"Keys"};
    devices.midi.outputs.names = {"Synth module"};
    window = new MainWindow(widgets);
  }
  ~MainWindowWin32() override {
    delete window;
    // Log lines still queued for the window that is gone.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  // Resizes the window so that its client area is width x height.
  void SetClientSize(int width, int height) {
    HWND top = Hwnd(window->hwnd);
    RECT rect = {0, 0, width, height};
    AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongPtrA(top, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(top, GWL_EXSTYLE)));
    MoveWindow(top, 20, 20, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    RECT client;
    GetClientRect(top, &client);
    ASSERT_EQ(client.right, width);
    ASSERT_EQ(client.bottom, height);
  }
  void Click(Widget button) { SendMessageA(Hwnd(button), BM_CLICK, 0, 0); }
  std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    HWND list = Hwnd(window->logList);
    for (int i = 0, count = widgets.ListCount(window->logList); i < count; ++i) {
      char line[LOG_LINE_MAX + 1] = {};
      SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
      texts.push_back(std::string(line).substr(12));
    }
    return texts;
  }

  TempFolder folder;
  InstalledDevices devices;
  Win32Widgets widgets;
  MainWindow* window = nullptr;
};

TEST_F(MainWindowWin32, LayoutPlacesTheRealControlsInPixels) {
  SetClientSize(600, 400);
  auto expect = [](Widget child, int x, int y, int width, int height, const char* what) {
    RECT rect = PlaceOf(child);
    EXPECT_EQ(rect.left, x) << what;
    EXPECT_EQ(rect.top, y) << what;
    EXPECT_EQ(rect.right - rect.left, width) << what;
    if (height >= 0) {
      EXPECT_EQ(rect.bottom - rect.top, height) << what;
    }
  };
  expect(window->topPanel, 0, 0, 600, 90, "upper panel");
  expect(window->devicesLabel, 4, 4, 592, 16, "Devices");
  expect(window->midiEchoLabel, 16, 66, 100, 16, "MIDI Echo:");
  // A closed drop-down list is as high as its edit field; only its width and
  // place are the layout's.
  expect(window->waveOutList, 120, 20, 476, -1, "wave output list");
  expect(window->midiEchoList, 120, 62, 476, -1, "MIDI echo list");
  expect(window->logList, 0, 90, 600, 284, "log list");
  expect(window->bottomPanel, 0, 374, 600, 26, "lower panel");
  expect(window->startButton, 1, 1, 299, 24, "Start");
  expect(window->stopButton, 300, 1, 299, 24, "Stop");

  SetClientSize(601, 300);
  expect(window->startButton, 1, 1, 299, 24, "Start at 601");
  expect(window->stopButton, 300, 1, 300, 24, "Stop at 601");
  expect(window->bottomPanel, 0, 274, 601, 26, "lower panel at 601");
}

TEST_F(MainWindowWin32, DeviceListsFillTheRealComboBoxes) {
  HWND wave = Hwnd(window->waveOutList);
  ASSERT_EQ(SendMessageA(wave, CB_GETCOUNT, 0, 0), 3);
  char text[64] = {};
  SendMessageA(wave, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "Wave mapper");
  SendMessageA(wave, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "Headphones");
  EXPECT_EQ(SendMessageA(wave, CB_GETITEMDATA, 0, 0), -1);
  EXPECT_EQ(SendMessageA(wave, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SendMessageA(Hwnd(window->midiInList), CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(SendMessageA(Hwnd(window->midiEchoList), CB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(SendMessageA(Hwnd(window->midiEchoList), CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendMessageA(Hwnd(window->hwnd), WM_DEVICECHANGE, 0x8000, 0), TRUE);
  EXPECT_EQ(SendMessageA(wave, CB_GETCOUNT, 0, 0), 3);
}

TEST_F(MainWindowWin32, ClickingStartAndStopRunsTheSynthesizerAndShowsItsLog) {
  EXPECT_TRUE(IsWindowEnabled(Hwnd(window->startButton)));
  EXPECT_FALSE(IsWindowEnabled(Hwnd(window->stopButton)));
  SetClientSize(584, 401);  // buttons need a size to be clicked

  Click(window->startButton);
  ASSERT_NE(window->synthesizer, nullptr);
  EXPECT_FALSE(IsWindowEnabled(Hwnd(window->startButton)));
  EXPECT_TRUE(IsWindowEnabled(Hwnd(window->stopButton)));
  for (Widget list : {window->waveOutList, window->midiInList, window->midiEchoList})
    EXPECT_FALSE(IsWindowEnabled(Hwnd(list)));
  EXPECT_TRUE(platform::FileExists("dump0001.pvd"));

  Click(window->stopButton);
  EXPECT_EQ(window->synthesizer, nullptr);
  EXPECT_TRUE(IsWindowEnabled(Hwnd(window->startButton)));
  EXPECT_FALSE(IsWindowEnabled(Hwnd(window->stopButton)));
  EXPECT_TRUE(IsWindowEnabled(Hwnd(window->midiEchoList)));

  // The lines wait in the queue until the loop runs, then appear in order.
  EXPECT_EQ(widgets.ListCount(window->logList), 0);
  widgets.PostQuit();
  widgets.RunMessageLoop();
  std::vector<std::string> texts = LogTexts();
  // The listed devices never open, which the Mixer thread tells once, at
  // its own moment; the stop lines come in their order around it.
  std::vector<std::string> stopLines, openLines;
  for (const std::string& text : texts) {
    if (text.rfind("Mixer: waveOutOpen() failed: ", 0) == 0)
      openLines.push_back(text);
    else if (text == "Stopping synthesizer, please wait..." || text.rfind("Mixer: ", 0) == 0)
      stopLines.push_back(text);
  }
  EXPECT_EQ(openLines, std::vector<std::string>{"Mixer: waveOutOpen() failed: 2 (no such device)"});
  EXPECT_EQ(stopLines, (std::vector<std::string>{
                           "Stopping synthesizer, please wait...", "Mixer: ScheduleShutdown()",
                           "Mixer: WaitForShutdown()", "Mixer: IsShutdown()"}));
}

TEST_F(MainWindowWin32, APaintIsHandledOnce) {
  // An update region that nobody validates brings WM_PAINT back for ever.
  widgets.Show(window->hwnd, SW_SHOWNORMAL);
  InvalidateRect(Hwnd(window->hwnd), nullptr, TRUE);
  int paints = 0;
  MSG message;
  for (int i = 0; i < 1000 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_PAINT && message.hwnd == Hwnd(window->hwnd)) ++paints;
    DispatchMessageA(&message);
  }
  EXPECT_LE(paints, 2);
  RECT update;
  EXPECT_FALSE(GetUpdateRect(Hwnd(window->hwnd), &update, FALSE));
}

}  // namespace
