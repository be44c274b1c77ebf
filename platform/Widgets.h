// The main window's controls as the platform's toolkit provides them: USER32
// controls on Windows, Qt 6 widgets on Linux, a recording fake in tests.
//
// Every widget is a platform::WindowHandle. The top-level window is a message
// window as well: LogMessage posts to it from any thread, and the toolkit
// hands its events to the window's procedure (platform::SetWindowProcedure)
// as the messages below, on the user-interface thread. All calls here are
// made on the user-interface thread.
#pragma once
#include <cstdint>
#include <string>

#include "platform/Window.h"

using Widget = platform::WindowHandle;

// Messages the toolkit delivers to the top-level window's procedure.
constexpr uint32_t WM_SIZE_MESSAGE = 0x0005;          // WM_SIZE
constexpr uint32_t WM_PAINT_MESSAGE = 0x000F;         // WM_PAINT
constexpr uint32_t WM_COMMAND_MESSAGE = 0x0111;       // WM_COMMAND: lParam the sender,
                                                      // HIWORD(wParam) the notification
constexpr uint32_t WM_DEVICECHANGE_MESSAGE = 0x0219;  // WM_DEVICECHANGE
constexpr uint32_t BN_CLICKED_CODE = 0;               // BN_CLICKED
constexpr uint32_t CBN_SELCHANGE_CODE = 1;            // CBN_SELCHANGE
constexpr intptr_t CB_ERR_VALUE = -1;                 // CB_ERR / LB_ERR

class Widgets {
 public:
  virtual ~Widgets() = default;

  // "Pelvane"-style top-level window: class "STATIC", WS_OVERLAPPEDWINDOW |
  // WS_CLIPCHILDREN, 600 x 440 at the default position, hidden.
  virtual Widget CreateTopLevel(const char* caption) = 0;
  // A child panel with a one-pixel sunken edge whose children's notifications
  // reach the top-level window's procedure.
  virtual Widget CreatePanel(Widget parent) = 0;
  virtual Widget CreateLabel(Widget parent, const char* text) = 0;
  // Drop-down list (CBS_DROPDOWNLIST), not sorted.
  virtual Widget CreateComboBox(Widget parent) = 0;
  // The log list: no selection highlight, not sorted, scroll bar always shown.
  virtual Widget CreateListBox(Widget parent) = 0;
  virtual Widget CreateButton(Widget parent, const char* text) = 0;

  virtual void SetIcons(Widget topLevel) = 0;  // WM_SETICON big, then small
  virtual void SetFont(Widget widget) = 0;     // WM_SETFONT with the GUI font
  virtual void Move(Widget widget, int x, int y, int width, int height) = 0;
  virtual void GetClientSize(Widget widget, int* width, int* height) = 0;
  virtual void Enable(Widget widget, bool enabled) = 0;
  virtual bool IsEnabled(Widget widget) = 0;
  virtual void Invalidate(Widget widget) = 0;
  // Validates the window's update region (BeginPaint, EndPaint) without
  // drawing. Toolkits that paint on their own have nothing to do here.
  virtual void Paint(Widget /*window*/) {}
  virtual void Show(Widget topLevel, int showCommand) = 0;
  virtual void Destroy(Widget topLevel) = 0;

  virtual void ComboReset(Widget combo) = 0;
  // The new item's index.
  virtual int ComboAdd(Widget combo, const char* text) = 0;
  virtual void ComboSetData(Widget combo, int index, intptr_t data) = 0;
  virtual void ComboSetSelection(Widget combo, int index) = 0;  // -1 or past the end: none
  virtual int ComboGetSelection(Widget combo) = 0;              // -1 when none
  virtual intptr_t ComboGetData(Widget combo, int index) = 0;   // CB_ERR_VALUE for no item
  // The item's text (CB_GETLBTEXT); false for no item. Used only by Automation.
  virtual bool ComboGetText(Widget /*combo*/, int /*index*/, std::string* /*text*/) {
    return false;
  }

  // The new line's index, negative on failure.
  virtual int ListAdd(Widget list, const char* text) = 0;
  virtual void ListSetCurrent(Widget list, int index) = 0;
  virtual void ListDelete(Widget list, int index) = 0;
  virtual int ListCount(Widget list) = 0;

  // Runs the user-interface thread's message loop until PostQuit.
  virtual void RunMessageLoop() = 0;
  virtual void PostQuit() = 0;
};
