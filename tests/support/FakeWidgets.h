// A recording stand-in for the toolkit: every widget is kept in memory with
// its kind, parent, text, geometry, enabled state and items, and every call is
// appended to `calls` so tests can check order. The top-level window is a real
// message window on the creating thread, so posts to it (log lines) queue up
// and RunMessageLoop dispatches them.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "platform/Widgets.h"
#include "platform/Window.h"

class FakeWidgets : public Widgets {
 public:
  struct Item {
    std::string text;
    intptr_t data = 0;
  };
  struct Entry {
    std::string kind;
    Widget parent = 0;
    std::string text;
    int x = 0, y = 0, width = 0, height = 0;
    bool enabled = true;
    bool visible = false;
    std::vector<Item> items;
    int selection = -1;
  };

  std::map<Widget, Entry> widgets;
  std::vector<std::string> calls;
  int clientWidth = 584;
  int clientHeight = 401;
  bool failListAdd = false;
  int listAdds = 0;  // ListAdd calls, failed ones included

  Entry& Get(Widget widget) { return widgets.at(widget); }
  std::vector<std::string> Texts(Widget widget) {
    std::vector<std::string> texts;
    for (const Item& item : Get(widget).items) texts.push_back(item.text);
    return texts;
  }

  Widget CreateTopLevel(const char* caption) override {
    Widget window = platform::CreateMessageWindow(caption);
    widgets[window] = MakeEntry("toplevel", 0, caption);
    calls.push_back(std::string("CreateTopLevel ") + caption);
    return window;
  }
  Widget CreatePanel(Widget parent) override { return Add("panel", parent, ""); }
  Widget CreateLabel(Widget parent, const char* text) override {
    return Add("label", parent, text);
  }
  Widget CreateComboBox(Widget parent) override { return Add("combo", parent, ""); }
  Widget CreateListBox(Widget parent) override { return Add("list", parent, ""); }
  Widget CreateButton(Widget parent, const char* text) override {
    return Add("button", parent, text);
  }

  void SetIcons(Widget) override { calls.push_back("SetIcons"); }
  void SetFont(Widget widget) override { calls.push_back("SetFont " + Get(widget).text); }
  void Move(Widget widget, int x, int y, int width, int height) override {
    Entry& entry = Get(widget);
    entry.x = x, entry.y = y, entry.width = width, entry.height = height;
    calls.push_back("Move " + entry.kind + " " + entry.text);
  }
  void GetClientSize(Widget, int* width, int* height) override {
    *width = clientWidth;
    *height = clientHeight;
  }
  void Enable(Widget widget, bool enabled) override {
    Get(widget).enabled = enabled;
    calls.push_back(std::string(enabled ? "Enable " : "Disable ") + Get(widget).kind + " " +
                    Get(widget).text);
  }
  bool IsEnabled(Widget widget) override { return Get(widget).enabled; }
  void Invalidate(Widget widget) override { calls.push_back("Invalidate " + Get(widget).kind); }
  void Show(Widget widget, int) override {
    Get(widget).visible = true;
    calls.push_back("Show");
  }
  void Destroy(Widget widget) override {
    platform::DestroyMessageWindow(widget);
    calls.push_back("Destroy");
  }

  void ComboReset(Widget combo) override {
    Get(combo).items.clear();
    Get(combo).selection = -1;
  }
  int ComboAdd(Widget combo, const char* text) override {
    Get(combo).items.push_back(Item{text, 0});
    return static_cast<int>(Get(combo).items.size()) - 1;
  }
  void ComboSetData(Widget combo, int index, intptr_t data) override {
    Get(combo).items.at(static_cast<size_t>(index)).data = data;
  }
  void ComboSetSelection(Widget combo, int index) override {
    Entry& entry = Get(combo);
    entry.selection = (index >= 0 && index < static_cast<int>(entry.items.size())) ? index : -1;
  }
  int ComboGetSelection(Widget combo) override { return Get(combo).selection; }
  intptr_t ComboGetData(Widget combo, int index) override {
    Entry& entry = Get(combo);
    if (index < 0 || index >= static_cast<int>(entry.items.size())) return CB_ERR_VALUE;
    return entry.items[static_cast<size_t>(index)].data;
  }

  bool ComboGetText(Widget combo, int index, std::string* text) override {
    Entry& entry = Get(combo);
    if (index < 0 || index >= static_cast<int>(entry.items.size())) return false;
    *text = entry.items[static_cast<size_t>(index)].text;
    return true;
  }

  int ListAdd(Widget list, const char* text) override {
    listAdds += 1;
    if (failListAdd) return -1;
    Get(list).items.push_back(Item{text, 0});
    return static_cast<int>(Get(list).items.size()) - 1;
  }
  void ListSetCurrent(Widget list, int index) override { Get(list).selection = index; }
  void ListDelete(Widget list, int index) override {
    auto& items = Get(list).items;
    if (index >= 0 && index < static_cast<int>(items.size())) items.erase(items.begin() + index);
    if (Get(list).selection >= index) Get(list).selection--;
  }
  int ListCount(Widget list) override { return static_cast<int>(Get(list).items.size()); }

  void RunMessageLoop() override {
    while (platform::GetAndDispatchMessage()) {
    }
  }
  void PostQuit() override { platform::PostQuit(0); }

 private:
  static Entry MakeEntry(const char* kind, Widget parent, const char* text) {
    Entry entry;
    entry.kind = kind;
    entry.parent = parent;
    entry.text = text;
    return entry;
  }
  Widget next_ = 1;
  Widget Add(const char* kind, Widget parent, const char* text) {
    Widget widget = next_++;
    widgets[widget] = MakeEntry(kind, parent, text);
    calls.push_back(std::string("Create ") + kind + " " + text);
    return widget;
  }
};
