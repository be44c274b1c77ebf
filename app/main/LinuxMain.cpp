// The program on Linux: what WinMain does on Windows, with Qt as the toolkit.
// The working directory holds default.pvi, default.wav and the dump files.
//
// PELVANE_CONTROL=stdin lets a script drive the window: each line on standard
// input is an Automation command (see app/Automation.h).
//
// Linux does not tell windows about devices that come and go, as Windows does
// with WM_DEVICECHANGE; the device watch posts that message instead, for as
// long as the window lives.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "app/Automation.h"
#include "app/Log.h"
#include "app/MainWindow.h"
#include "platform/DeviceWatch.h"
#include "platform/File.h"
#include "platform/MidiNotice.h"
#include "platform/linux/qt/QtWidgetSet.h"

namespace {
constexpr int kShowNormal = 1;  // SW_SHOWNORMAL
}

int main() {
  platform::OpenClosedStandardDescriptors();
  // A dump file that reaches the file-size limit must not end the program.
  platform::KeepRunningPastFileSizeLimit();
  platform::SetMidiNoticeSink(&LogMessage);
  QtWidgetSet widgets;
  std::unique_ptr<MainWindow> window(new (std::nothrow) MainWindow(widgets));
  if (!window) {
    LogMessage("Not enough memory for the main window");
    platform::SetMidiNoticeSink(nullptr);
    return 1;
  }
  auto watch = std::make_unique<platform::DeviceWatch>(window->hwnd);
  std::unique_ptr<Automation> automation;
  const char* control = std::getenv("PELVANE_CONTROL");
  if (control != nullptr && std::strcmp(control, "stdin") == 0) {
    automation = std::make_unique<Automation>(*window);
    widgets.ReadCommandLines([&automation](const std::string& line) { automation->Execute(line); });
  }
  window->Run(kShowNormal);
  watch.reset();
  automation.reset();
  window.reset();
  platform::SetMidiNoticeSink(nullptr);
  return 0;
}
