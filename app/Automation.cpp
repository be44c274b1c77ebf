#include "app/Automation.h"

#include <sstream>

#include "app/MainWindow.h"
#include "log/Log.h"

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
  if (verb == "list") {
    std::string list;
    words >> list;
    return List(list);
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

Widget Automation::FindList(const std::string& list) {
  Widget combo = list == "wave"     ? window_.waveOutList
                 : list == "midiin" ? window_.midiInList
                 : list == "echo"   ? window_.midiEchoList
                                    : 0;
  if (combo == 0) LogFormat("Automation: unknown list '%s'", list.c_str());
  return combo;
}

// One line, cut to the log's line length: "Automation: list midiin (enabled,
// selection 1): 'JACK: a:out', 'JACK: b:out'".
bool Automation::List(const std::string& list) {
  Widget combo = FindList(list);
  if (combo == 0) return false;
  Widgets& widgets = window_.widgets;
  std::string items;
  std::string name;
  for (int index = 0; widgets.ComboGetText(combo, index, &name); index++)
    items += (index > 0 ? ", '" : "'") + name + "'";
  LogFormat("Automation: list %s (%s, selection %d): %s", list.c_str(),
            widgets.IsEnabled(combo) ? "enabled" : "disabled", widgets.ComboGetSelection(combo),
            items.c_str());
  return true;
}

bool Automation::Select(const std::string& list, const std::string& text) {
  Widgets& widgets = window_.widgets;
  Widget combo = FindList(list);
  if (combo == 0) return false;
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
