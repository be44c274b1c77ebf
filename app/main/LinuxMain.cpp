// The program on Linux: what WinMain does on Windows, with Qt as the toolkit.
// The working directory holds default.pvi, default.wav and the dump files.
//
// PELVANE_CONTROL=stdin lets a script drive the window: each line on standard
// input is an Automation command (see app/Automation.h).
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/Automation.h"
#include "app/MainWindow.h"
#include "platform/File.h"
#include "platform/linux/qt/QtWidgetSet.h"

namespace {
constexpr int kShowNormal = 1;  // SW_SHOWNORMAL
}

int main() {
  // A dump file that reaches the file-size limit must not end the program.
  platform::KeepRunningPastFileSizeLimit();
  QtWidgetSet widgets;
  MainWindow* window = new MainWindow(widgets);
  std::unique_ptr<Automation> automation;
  const char* control = std::getenv("PELVANE_CONTROL");
  if (control != nullptr && std::strcmp(control, "stdin") == 0) {
    automation = std::make_unique<Automation>(*window);
    widgets.ReadCommandLines([&automation](const std::string& line) { automation->Execute(line); });
  }
  window->Run(kShowNormal);
  automation.reset();
  delete window;
  return 0;
}
