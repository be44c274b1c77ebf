// The application's only top-level window and the owner of the running
// Synthesizer: three device lists, Start and Stop, and the log list.
// Everything here runs on the user-interface thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "app/Log.h"
#include "platform/Widgets.h"

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
  // 1001 lines and frees the line. While 1001 lines or more wait behind it, it
  // would scroll out of the list at once: it is counted instead, and the
  // count of lines missed so far goes into the list as one line,
  // "(N lines not shown)", before the next line that is shown.
  intptr_t AppendLogLine(uintptr_t missedBefore, char* line);
  // The window is about to go: no thread posts it another line from here on
  // (a post already under way is waited for), and the lines still queued are
  // freed, as they would never be shown and nothing else owns them.
  void StopTakingLogLines();
  // The log's post function (LogTarget), on any logging thread: copies the
  // line and posts it as WM_LOGLINE, or counts it as missed while
  // LOG_MAX_QUEUED_LINES wait or without memory. Never waits.
  static void PostLogLineToWindow(void* self, const char* line);
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
  // The running synthesizer, none between runs.
  std::unique_ptr<Synthesizer> synthesizer;

  // Lines posted to the window and not yet taken (any thread increments).
  std::atomic<int32_t> queuedLogLines{0};
  // Lines not posted because LOG_MAX_QUEUED_LINES were waiting; handed on with
  // the next line that is posted.
  std::atomic<uint32_t> refusedLogLines{0};
  // User-interface thread: lines taken but not shown since the last one shown.
  uint64_t logLinesNotShown = 0;
  // Registered with the log from construction until StopTakingLogLines.
  const LogTarget logTarget{&MainWindow::PostLogLineToWindow, this};
};

// The log's target window; null before the main window exists and once it
// has begun to close. Written only by the user-interface thread.
extern std::atomic<MainWindow*> g_mainWindow;

// The highest index the log list keeps: 1001 lines.
constexpr int LOG_LIST_MAX_INDEX = 1000;

// The log list's append step (MainWindow::AppendLogLine), on the
// user-interface thread: adds the line to list, makes it the current line,
// trims the top while the new index exceeds 1000 (nothing when the add
// failed) and frees the line. Returns 0, the message result.
intptr_t AppendLogLineToList(Widgets& widgets, platform::WindowHandle list, char* line);
