#include "platform/win32/Win32Widgets.h"

#include <windows.h>

#include "platform/Window.h"
#include "platform/win32/Instance.h"

static_assert(WM_SIZE_MESSAGE == WM_SIZE && WM_PAINT_MESSAGE == WM_PAINT &&
                  WM_COMMAND_MESSAGE == WM_COMMAND && WM_DEVICECHANGE_MESSAGE == WM_DEVICECHANGE,
              "window message numbers");
static_assert(BN_CLICKED_CODE == BN_CLICKED && CBN_SELCHANGE_CODE == CBN_SELCHANGE &&
                  CB_ERR_VALUE == CB_ERR && CB_ERR == LB_ERR,
              "notification codes");

namespace {

HWND Hwnd(Widget widget) { return reinterpret_cast<HWND>(widget); }

Widget Child(DWORD exStyle, const char* className, const char* text, DWORD style, Widget parent) {
  // Children carry no identifier: notifications are told apart by the sender.
  HWND child = CreateWindowExA(exStyle, className, text, style, 0, 0, 0, 0, Hwnd(parent), nullptr,
                               g_instance, nullptr);
  return reinterpret_cast<Widget>(child);
}

intptr_t Send(Widget widget, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(Hwnd(widget), message, wParam, lParam);
}

}  // namespace

Widget Win32Widgets::CreateTopLevel(const char* caption) {
  HWND window =
      CreateWindowExA(0, "STATIC", caption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                      CW_USEDEFAULT, 600, 440, nullptr, nullptr, g_instance, nullptr);
  return reinterpret_cast<Widget>(window);
}

Widget Win32Widgets::CreatePanel(Widget parent) {
  Widget panel = Child(0, "STATIC", "", WS_CHILD | WS_VISIBLE, parent);
  if (panel) platform::SetWindowProcedure(panel, PanelProc);
  return panel;
}

Widget Win32Widgets::CreateLabel(Widget parent, const char* text) {
  return Child(0, "STATIC", text, WS_CHILD | WS_VISIBLE, parent);
}

Widget Win32Widgets::CreateComboBox(Widget parent) {
  return Child(0, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, parent);
}

Widget Win32Widgets::CreateListBox(Widget parent) {
  return Child(WS_EX_CLIENTEDGE, "LISTBOX", "",
               WS_CHILD | WS_VISIBLE | LBS_NOSEL | LBS_DISABLENOSCROLL | LBS_NOINTEGRALHEIGHT,
               parent);
}

Widget Win32Widgets::CreateButton(Widget parent, const char* text) {
  return Child(0, "BUTTON", text, WS_CHILD | WS_VISIBLE, parent);
}

void Win32Widgets::SetIcons(Widget topLevel) {
  Send(topLevel, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_largeIcon));
  Send(topLevel, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_smallIcon));
}

void Win32Widgets::SetFont(Widget widget) {
  Send(widget, WM_SETFONT, reinterpret_cast<WPARAM>(g_guiFont), FALSE);
}

void Win32Widgets::Move(Widget widget, int x, int y, int width, int height) {
  MoveWindow(Hwnd(widget), x, y, width, height, TRUE);
}

void Win32Widgets::GetClientSize(Widget widget, int* width, int* height) {
  RECT client = {0, 0, 0, 0};
  GetClientRect(Hwnd(widget), &client);
  *width = client.right - client.left;
  *height = client.bottom - client.top;
}

void Win32Widgets::Enable(Widget widget, bool enabled) { EnableWindow(Hwnd(widget), enabled); }
bool Win32Widgets::IsEnabled(Widget widget) { return IsWindowEnabled(Hwnd(widget)) != FALSE; }
void Win32Widgets::Invalidate(Widget widget) { InvalidateRect(Hwnd(widget), nullptr, TRUE); }
void Win32Widgets::Paint(Widget window) {
  PAINTSTRUCT paint;
  BeginPaint(Hwnd(window), &paint);
  EndPaint(Hwnd(window), &paint);
}

void Win32Widgets::Show(Widget topLevel, int showCommand) {
  ShowWindow(Hwnd(topLevel), showCommand);
}
void Win32Widgets::Destroy(Widget topLevel) { DestroyWindow(Hwnd(topLevel)); }

void Win32Widgets::ComboReset(Widget combo) { Send(combo, CB_RESETCONTENT, 0, 0); }

int Win32Widgets::ComboAdd(Widget combo, const char* text) {
  return static_cast<int>(Send(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

void Win32Widgets::ComboSetData(Widget combo, int index, intptr_t data) {
  Send(combo, CB_SETITEMDATA, static_cast<WPARAM>(index), data);
}

void Win32Widgets::ComboSetSelection(Widget combo, int index) {
  // Windows clears the selection for an index past the end; Wine's combo box
  // keeps the old one. -1 clears it on both.
  if (index >= Send(combo, CB_GETCOUNT, 0, 0)) index = -1;
  Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Widgets::ComboGetSelection(Widget combo) {
  return static_cast<int>(Send(combo, CB_GETCURSEL, 0, 0));
}

intptr_t Win32Widgets::ComboGetData(Widget combo, int index) {
  return Send(combo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
}

bool Win32Widgets::ComboGetText(Widget combo, int index, std::string* text) {
  intptr_t length = Send(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return false;
  std::string item(static_cast<size_t>(length) + 1, '\0');
  if (Send(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item[0])) ==
      CB_ERR)
    return false;
  item.resize(static_cast<size_t>(length));
  *text = item;
  return true;
}

int Win32Widgets::ListAdd(Widget list, const char* text) {
  return static_cast<int>(Send(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

void Win32Widgets::ListSetCurrent(Widget list, int index) {
  Send(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  // With LBS_NOSEL, Wine's list box does not scroll to the current line. A
  // list box scrolls towards a top index only as far as its last page, so
  // this shows the newest line at the bottom on every system.
  Send(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void Win32Widgets::ListDelete(Widget list, int index) {
  Send(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

int Win32Widgets::ListCount(Widget list) { return static_cast<int>(Send(list, LB_GETCOUNT, 0, 0)); }

void Win32Widgets::RunMessageLoop() {
  // GetMessageA hands out posted messages before input and painting, so a
  // flood of log lines would keep clicks, close and repaints waiting until it
  // ends. After every kPostedBeforeInput messages, input and paint go first.
  constexpr int kPostedBeforeInput = 256;
  MSG message;
  int dispatched = 0;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
    if (++dispatched < kPostedBeforeInput) continue;
    dispatched = 0;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));  // for GetMessageA above
        break;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

void Win32Widgets::PostQuit() { PostQuitMessage(0); }

intptr_t Win32Widgets::PanelProc(Widget panel, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam) {
  HWND window = Hwnd(panel);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT | BF_MIDDLE);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
      return SendMessageA(GetParent(window), message, wParam, lParam);
    case WM_NCHITTEST:
      return HTCLIENT;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
