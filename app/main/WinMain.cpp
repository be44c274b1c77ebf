// The Windows entry point: the process-wide values first (module handle,
// icons, GUI font), then the main window, which runs until it is closed.
#include <windows.h>

#include "app/MainWindow.h"
#include "platform/win32/Instance.h"
#include "platform/win32/Win32Widgets.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
  g_instance = GetModuleHandleA(nullptr);
  LoadAppResources();
  // The controls' toolkit outlives the window that uses it.
  static Win32Widgets widgets;
  MainWindow* window = new MainWindow(widgets);
  window->Run(showCommand);
  delete window;
  return 0;
}
