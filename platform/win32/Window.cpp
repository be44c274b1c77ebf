// Message windows on Windows: real windows of the system class "STATIC",
// WS_POPUP and never shown, whose user data and procedure are replaced. The
// thread that creates one owns its queue; posts from any thread arrive in the
// order they were posted.
#include "platform/Window.h"

#include <windows.h>

#include <atomic>

#include "platform/win32/Instance.h"

namespace platform {

static_assert(sizeof(WindowHandle) == sizeof(HWND), "a window handle is an HWND");
static_assert(kMessageClose == WM_CLOSE && kMessageQuit == WM_QUIT && kMessageUser == WM_USER,
              "system message numbers");

namespace {
HWND Hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

// The thread that owns a hidden window carries its title as its name, so
// that debuggers and profilers tell the threads apart. SetThreadDescription
// exists from Windows 10 1607 on: it is looked up in KERNEL32 at run time,
// so the program imports nothing new and runs on older systems unchanged.
void NameCurrentThread(const char* title) {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto setDescription = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
  if (!setDescription || !title) return;
  wchar_t name[64] = {};
  for (size_t i = 0; i + 1 < sizeof name / sizeof name[0] && title[i]; ++i)
    name[i] = static_cast<wchar_t>(static_cast<unsigned char>(title[i]));
  setDescription(GetCurrentThread(), name);
}

std::atomic<bool> g_failCreate{false};
std::atomic<uint32_t> g_failPost{0};
}  // namespace

void SetWindowFaults(bool failCreate, uint32_t failPost) {
  g_failCreate.store(failCreate);
  g_failPost.store(failPost);
}

WindowHandle CreateMessageWindow(const char* title) {
  if (g_failCreate.load()) return 0;
  HWND window = CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                g_instance, nullptr);
  if (window) NameCurrentThread(title);
  return reinterpret_cast<WindowHandle>(window);
}

void SetWindowOwner(WindowHandle window, void* owner) {
  SetWindowLongPtrA(Hwnd(window), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
}

void* GetWindowOwner(WindowHandle window) {
  if (!IsWindow(Hwnd(window))) return nullptr;
  return reinterpret_cast<void*>(GetWindowLongPtrA(Hwnd(window), GWLP_USERDATA));
}

void SetWindowProcedure(WindowHandle window, WindowProcedure procedure) {
  // WindowProcedure has WNDPROC's calling convention on x64: HWND, UINT,
  // WPARAM, LPARAM in registers, LRESULT back; it is installed unchanged.
  SetWindowLongPtrA(Hwnd(window), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
}

intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
  return DefWindowProcA(Hwnd(window), message, wParam, lParam);
}

bool PostToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message != 0 && message == g_failPost.load()) return false;
  return PostMessageA(Hwnd(window), message, wParam, lParam) != FALSE;
}

intptr_t SendToWindow(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return SendMessageA(Hwnd(window), message, wParam, lParam);
}

bool TakeQueuedMessage(WindowHandle window, uint32_t message, uintptr_t* wParam, intptr_t* lParam) {
  MSG taken;
  if (!PeekMessageA(&taken, Hwnd(window), message, message, PM_REMOVE)) return false;
  // PeekMessageA hands out a pending quit whatever the filter says; it must
  // stay pending for the message loop.
  if (taken.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(taken.wParam));
    return false;
  }
  *wParam = taken.wParam;
  *lParam = taken.lParam;
  return true;
}

void DestroyMessageWindow(WindowHandle window) { DestroyWindow(Hwnd(window)); }

bool WindowExists(WindowHandle window) { return window != 0 && IsWindow(Hwnd(window)); }

bool GetAndDispatchMessage() {
  MSG message;
  BOOL got = GetMessageA(&message, nullptr, 0, 0);
  if (got == 0) return false;
  if (got > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

bool DispatchQueuedMessage() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  // The quit belongs to the message loop: put it back.
  if (message.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(message.wParam));
    return false;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return true;
}

bool WaitForQueuedMessage(unsigned milliseconds) {
  return MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
         WAIT_OBJECT_0;
}

void PostQuit(int exitCode) { PostQuitMessage(exitCode); }

}  // namespace platform
