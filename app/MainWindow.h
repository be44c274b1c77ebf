// The application's only top-level window and the owner of the running
// Synthesizer: three device lists, Start and Stop, and the log list.
// Everything here runs on the user-interface thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "app/Widgets.h"

class Synthesizer;

class MainWindow {
 public:
  // Registers itself as the log target, creates its windows (hidden) and
  // fills the device lists.
  explicit MainWindow(Widgets& widgets);
  // Stops a running synthesizer (without the "Stopping" line), unregisters
  // the log target and destroys the window.
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Shows the window, initialises the engine, logs "Pelvane ready" and runs
  // the message loop until the window is closed.
  void Run(int showCommand);

  void CreateControls();
  intptr_t Layout();
  void EnumerateDevices();
  void UpdateControls();
  void OnCommand(uintptr_t wParam, intptr_t lParam);
  void OnDeviceChange();
  void OnPaint();
  // The WM_LOGLINE handler: adds the line, makes it current, trims the list to
  // 1001 lines and frees the line.
  intptr_t AppendLogLine(char* line);
  // Frees the log lines still queued for the window, which is about to go:
  // they would never be shown, and nothing else owns them.
  void DiscardQueuedLogLines();
  void StartSynthesizer();
  void StopSynthesizer();

  static intptr_t MainWindowProc(platform::WindowHandle hwnd, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam);

  Widgets& widgets;
  Widget hwnd = 0;
  Widget topPanel = 0;
  Widget bottomPanel = 0;
  Widget logList = 0;
  Widget devicesLabel = 0;
  Widget waveOutLabel = 0;
  Widget midiInLabel = 0;
  Widget midiEchoLabel = 0;
  Widget waveOutList = 0;
  Widget midiInList = 0;
  Widget midiEchoList = 0;
  Widget startButton = 0;
  Widget stopButton = 0;
  Synthesizer* synthesizer = nullptr;
};

// The log's target window; null before the main window exists and after it
// is gone. Written only by the user-interface thread.
extern std::atomic<MainWindow*> g_mainWindow;

// The highest index the log list keeps: 1001 lines.
constexpr int LOG_LIST_MAX_INDEX = 1000;
