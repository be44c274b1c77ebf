#include "app/Automation.h"

#include <sstream>

#include "app/Log.h"
#include "app/MainWindow.h"

bool Automation::Execute(const std::string& command) {
  std::istringstream words(command);
  std::string verb;
  words >> verb;
  if (verb.empty()) return true;
  if (verb == "start") return Click(window_.startButton);
  if (verb == "stop") return Click(window_.stopButton);
  if (verb == "close") {
    platform::SendToWindow(window_.hwnd, platform::kMessageClose, 0, 0);
    return true;
  }
  if (verb == "select") {
    std::string list;
    words >> list;
    std::string text;
    std::getline(words >> std::ws, text);
    return Select(list, text);
  }
  LogFormat("Automation: unknown command '%s'", command.c_str());
  return false;
}

bool Automation::Click(uintptr_t button) {
  Widgets& widgets = window_.widgets;
  if (!widgets.IsEnabled(button)) return false;
  // The same message a click sends, so the window cannot tell the difference.
  platform::SendToWindow(window_.hwnd, WM_COMMAND_MESSAGE,
                         static_cast<uintptr_t>(BN_CLICKED_CODE) << 16,
                         static_cast<intptr_t>(button));
  return true;
}

bool Automation::Select(const std::string& list, const std::string& text) {
  Widgets& widgets = window_.widgets;
  Widget combo = list == "wave"     ? window_.waveOutList
                 : list == "midiin" ? window_.midiInList
                 : list == "echo"   ? window_.midiEchoList
                                    : 0;
  if (combo == 0) {
    LogFormat("Automation: unknown list '%s'", list.c_str());
    return false;
  }
  if (!widgets.IsEnabled(combo)) return false;
  if (list == "echo" && text == "none") {
    widgets.ComboSetSelection(combo, -1);
    return true;
  }
  for (int index = 0;; index++) {
    std::string name;
    if (!widgets.ComboGetText(combo, index, &name)) break;
    if (name.find(text) != std::string::npos) {
      widgets.ComboSetSelection(combo, index);
      return true;
    }
  }
  LogFormat("Automation: no device in '%s' matches '%s'", list.c_str(), text.c_str());
  return false;
}
