// The Windows entry point: the process-wide values first (module handle,
// icons, GUI font), then the main window, which runs until it is closed.
#include <windows.h>

#include <memory>
#include <new>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "platform/win32/Instance.h"
#include "platform/win32/Win32Widgets.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
  LogPlatformNotices();
  g_instance = GetModuleHandleA(nullptr);
  LoadAppResources();
  // The controls' toolkit outlives the window that uses it.
  static Win32Widgets widgets;
  std::unique_ptr<MainWindow> window(new (std::nothrow) MainWindow(widgets));
  if (!window) {
    LogMessage("Not enough memory for the main window");
    return 1;
  }
  window->Run(showCommand);
  window.reset();
  return 0;
}
