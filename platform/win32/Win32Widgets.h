// The main window's controls as USER32 makes them: a top-level window and two
// panels of the system class "STATIC" with their procedures replaced, static
// texts, drop-down combo boxes, the log list box and push buttons. Every
// control uses DEFAULT_GUI_FONT and the "MAINICON" icons of Instance.h.
// User-interface thread only.
#pragma once
#include <string>

#include "platform/Widgets.h"

class Win32Widgets : public Widgets {
 public:
  Widget CreateTopLevel(const char* caption) override;
  Widget CreatePanel(Widget parent) override;
  Widget CreateLabel(Widget parent, const char* text) override;
  Widget CreateComboBox(Widget parent) override;
  Widget CreateListBox(Widget parent) override;
  Widget CreateButton(Widget parent, const char* text) override;

  void SetIcons(Widget topLevel) override;
  void SetFont(Widget widget) override;
  void Move(Widget widget, int x, int y, int width, int height) override;
  void GetClientSize(Widget widget, int* width, int* height) override;
  void Enable(Widget widget, bool enabled) override;
  bool IsEnabled(Widget widget) override;
  void Invalidate(Widget widget) override;
  void Paint(Widget window) override;
  void Show(Widget topLevel, int showCommand) override;
  void Destroy(Widget topLevel) override;

  void ComboReset(Widget combo) override;
  int ComboAdd(Widget combo, const char* text) override;
  void ComboSetData(Widget combo, int index, intptr_t data) override;
  void ComboSetSelection(Widget combo, int index) override;
  int ComboGetSelection(Widget combo) override;
  intptr_t ComboGetData(Widget combo, int index) override;
  bool ComboGetText(Widget combo, int index, std::string* text) override;

  int ListAdd(Widget list, const char* text) override;
  void ListSetCurrent(Widget list, int index) override;
  void ListDelete(Widget list, int index) override;
  int ListCount(Widget list) override;

  void RunMessageLoop() override;
  void PostQuit() override;

  // The procedure of both panels: draws the sunken edge, answers hit tests
  // itself (a "STATIC" window would be transparent to the mouse) and passes
  // its children's notifications on to the top-level window.
  static intptr_t PanelProc(Widget panel, uint32_t message, uintptr_t wParam, intptr_t lParam);
};
