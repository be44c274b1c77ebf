// Text commands that drive the main window as a user would, for unattended
// runs (the headless demo, scripts): one command per line.
//   select wave|midiin|echo TEXT  choose the first device whose name contains
//                                 TEXT ("select echo none": no echo)
//   list wave|midiin|echo         log the list's items, whether it is
//                                 enabled and which item is selected
//   start, stop                   click Start or Stop (ignored while disabled)
//   close                         close the window
// User-interface thread only.
#pragma once
#include <cstdint>
#include <string>

#include "platform/Widgets.h"

class MainWindow;

class Automation {
 public:
  explicit Automation(MainWindow& window) : window_(window) {}

  // False (and one log line) for a command that could not be carried out.
  bool Execute(const std::string& command);

 private:
  Widget FindList(const std::string& list);
  bool Select(const std::string& list, const std::string& text);
  bool List(const std::string& list);
  bool Click(uintptr_t button);

  MainWindow& window_;
};
