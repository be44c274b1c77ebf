// The application's only top-level window and the owner of the running
// Synthesizer: three device lists, Start and Stop, and the log list.
// Thread: ui, every member function but PostLogLineToWindow.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "log/Log.h"
#include "platform/Ring.h"
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
  // The WM_LOGLINE handler: takes every line waiting in logLines, oldest
  // first, and for each adds it, makes it current and trims the list to 1001
  // lines. A line with 1001 lines or more waiting behind it would scroll out
  // of the list at once: it is counted instead, and the count of lines
  // missed so far goes into the list as one line, "(N lines not shown)",
  // before the next line that is shown.
  intptr_t TakeLogLines();
  // The window is about to go: no thread hands it another line from here on
  // (a hand-over already under way is waited for), and the lines still
  // waiting are dropped, as they would never be shown.
  void StopTakingLogLines();
  // Thread: any (the logging one). The log's post function (LogTarget):
  // copies the line into logLines and wakes the window with one WM_LOGLINE
  // per batch, or counts it as missed while LOG_MAX_QUEUED_LINES wait. Never
  // allocates, locks or waits.
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

  // A line waiting for the window, with the count of lines missed just before it.
  struct WaitingLogLine {
    uint64_t missedBefore;
    char text[LOG_LINE_MAX + 1];
  };
  // Lines handed to the window and not yet taken: made once, never grown.
  platform::Ring<WaitingLogLine> logLines{LOG_MAX_QUEUED_LINES};
  // Lines in logLines (any thread increments, the window decrements).
  std::atomic<int32_t> queuedLogLines{0};
  // Lines not taken because LOG_MAX_QUEUED_LINES were waiting; handed on with
  // the next line that is taken.
  std::atomic<uint32_t> refusedLogLines{0};
  // Set from the WM_LOGLINE posted for a batch until the window begins to
  // take it: a burst of lines costs one message.
  std::atomic<bool> logWakePosted{false};
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

// Thread: ui. The log list's append step (MainWindow::AppendLogLine): adds
// the line to list, makes it the current line, trims the top while the new
// index exceeds 1000 (nothing when the add failed) and frees the line.
// Returns 0, the message result.
intptr_t AppendLogLineToList(Widgets& widgets, platform::WindowHandle list, char* line);
// The same step for a line the caller keeps.
void AddLogLineToList(Widgets& widgets, platform::WindowHandle list, const char* line);
