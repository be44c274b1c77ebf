#include "app/MainWindow.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/InitEngine.h"
#include "log/Log.h"
#include "platform/Midi.h"
#include "platform/WaveOut.h"
#include "synth/DumpFile.h"
#include "synth/Synthesizer.h"

namespace {

constexpr uint32_t kMessageDeviceChangeResult = 1;  // TRUE

// The device name as the capability record holds it: at most 31 characters.
struct DeviceName {
  char text[32] = {};
};

// The item data of the list's selected entry; -1 when nothing is selected.
intptr_t SelectedDeviceId(Widgets& widgets, Widget list) {
  int index = widgets.ComboGetSelection(list);
  if (index < 0) return -1;
  return widgets.ComboGetData(list, index);
}

}  // namespace

std::atomic<MainWindow*> g_mainWindow{nullptr};

MainWindow::MainWindow(Widgets& toolkit) : widgets(toolkit) {
  // Registered before any window exists, so nothing created below can log
  // into the void. Nothing logs during construction itself.
  g_mainWindow.store(this);
  SetLogTarget(&logTarget);
  CreateControls();
  EnumerateDevices();
}

MainWindow::~MainWindow() {
  // The synthesizer's threads log while they end; g_mainWindow stays set until
  // they are gone so that no thread can see it change under it.
  synthesizer.reset();
  StopTakingLogLines();
  widgets.Destroy(hwnd);
}

void MainWindow::CreateControls() {
  hwnd = widgets.CreateTopLevel("Pelvane");
  // Owner before procedure: the procedure finds the object from its first message.
  platform::SetWindowOwner(hwnd, this);
  platform::SetWindowProcedure(hwnd, MainWindowProc);
  widgets.SetIcons(hwnd);

  topPanel = widgets.CreatePanel(hwnd);
  bottomPanel = widgets.CreatePanel(hwnd);

  auto withFont = [this](Widget widget) {
    widgets.SetFont(widget);
    return widget;
  };
  devicesLabel = withFont(widgets.CreateLabel(topPanel, "Devices"));
  waveOutLabel = withFont(widgets.CreateLabel(topPanel, "Wave Out:"));
  midiInLabel = withFont(widgets.CreateLabel(topPanel, "MIDI In:"));
  midiEchoLabel = withFont(widgets.CreateLabel(topPanel, "MIDI Echo:"));
  waveOutList = withFont(widgets.CreateComboBox(topPanel));
  midiInList = withFont(widgets.CreateComboBox(topPanel));
  midiEchoList = withFont(widgets.CreateComboBox(topPanel));
  logList = withFont(widgets.CreateListBox(hwnd));
  startButton = withFont(widgets.CreateButton(bottomPanel, "&Start"));
  stopButton = withFont(widgets.CreateButton(bottomPanel, "S&top"));

  widgets.Enable(stopButton, false);
  // The toolkit reports the new client size (WM_SIZE) before the window is
  // first shown, so the children are laid out before anyone sees them.
  widgets.Move(hwnd, 20, 20, 600, 440);
}

intptr_t MainWindow::Layout() {
  int w = 0;
  int h = 0;
  widgets.GetClientSize(hwnd, &w, &h);
  widgets.Move(topPanel, 0, 0, w, 90);
  widgets.Move(devicesLabel, 4, 4, w - 8, 16);
  widgets.Move(waveOutLabel, 16, 24, 100, 16);
  widgets.Move(midiInLabel, 16, 45, 100, 16);
  widgets.Move(midiEchoLabel, 16, 66, 100, 16);
  // 424: the height of a drop-down list while it is open.
  widgets.Move(waveOutList, 120, 20, w - 124, 424);
  widgets.Move(midiInList, 120, 41, w - 124, 424);
  widgets.Move(midiEchoList, 120, 62, w - 124, 424);
  widgets.Move(logList, 0, 90, w, h - 116);
  widgets.Move(bottomPanel, 0, h - 26, w, 26);
  widgets.Move(startButton, 1, 1, w / 2 - 1, 24);
  widgets.Move(stopButton, w / 2, 1, w - w / 2 - 1, 24);
  widgets.Invalidate(topPanel);
  return 0;
}

void MainWindow::EnumerateDevices() {
  platform::WaveOutApi& wave = platform::CurrentWaveOutApi();
  platform::MidiApi& midi = platform::CurrentMidiApi();

  uint32_t count = wave.GetNumDevs();
  widgets.ComboReset(waveOutList);
  int index = widgets.ComboAdd(waveOutList, "Wave mapper");
  if (index >= 0) widgets.ComboSetData(waveOutList, index, -1);
  for (uint32_t id = 0; id < count; id++) {
    DeviceName name;
    if (wave.GetDeviceName(id, name.text) != platform::kWaveOk) continue;
    name.text[31] = 0;
    index = widgets.ComboAdd(waveOutList, name.text);
    if (index >= 0) widgets.ComboSetData(waveOutList, index, static_cast<intptr_t>(id));
  }
  widgets.ComboSetSelection(waveOutList, 1);

  widgets.ComboReset(midiInList);
  count = midi.InGetNumDevs();
  for (uint32_t id = 0; id < count; id++) {
    DeviceName name;
    if (midi.InGetDeviceName(id, name.text) != platform::kMidiOk) continue;
    name.text[31] = 0;
    index = widgets.ComboAdd(midiInList, name.text);
    if (index >= 0) widgets.ComboSetData(midiInList, index, static_cast<intptr_t>(id));
  }
  // From the device count, not the items added: with a device left out the
  // index lies past the end and nothing is selected.
  widgets.ComboSetSelection(midiInList, static_cast<int>(count) - 1);

  widgets.ComboReset(midiEchoList);
  count = midi.OutGetNumDevs();
  for (uint32_t id = 0; id < count; id++) {
    DeviceName name;
    if (midi.OutGetDeviceName(id, name.text) != platform::kMidiOk) continue;
    name.text[31] = 0;
    index = widgets.ComboAdd(midiEchoList, name.text);
    if (index >= 0) widgets.ComboSetData(midiEchoList, index, static_cast<intptr_t>(id));
  }
  // No selection: a run starts without echo unless the user picks a device.
}

void MainWindow::UpdateControls() {
  bool running = synthesizer != nullptr;
  widgets.Enable(startButton, !running);
  widgets.Enable(stopButton, running);
  widgets.Enable(waveOutList, !running);
  widgets.Enable(midiInList, !running);
  widgets.Enable(midiEchoList, !running);
}

void MainWindow::OnCommand(uintptr_t wParam, intptr_t lParam) {
  uint32_t code = static_cast<uint32_t>((wParam >> 16) & 0xFFFF);
  if (code != BN_CLICKED_CODE) return;
  if (lParam == static_cast<intptr_t>(startButton)) {
    StartSynthesizer();
  } else if (lParam == static_cast<intptr_t>(stopButton)) {
    StopSynthesizer();
  }
}

// A run: one Synthesizer built from the three device lists' choices.
void MainWindow::StartSynthesizer() {
  // Start is disabled while a synthesizer runs; a stray click must not leak
  // the running one.
  if (synthesizer) return;
  intptr_t waveOutId = SelectedDeviceId(widgets, waveOutList);
  intptr_t midiInId = SelectedDeviceId(widgets, midiInList);
  intptr_t midiEchoId = SelectedDeviceId(widgets, midiEchoList);
  platform::FileHandle dumpFile = CreateDumpFile();
  synthesizer.reset(new (std::nothrow) Synthesizer(static_cast<uint32_t>(waveOutId),
                                                   static_cast<int32_t>(midiInId),
                                                   static_cast<int32_t>(midiEchoId), dumpFile));
  if (!synthesizer) {
    LogMessage("Not enough memory for the synthesizer, it has not been started");
    if (dumpFile != platform::kNoFile) platform::FileClose(dumpFile);
  }
  UpdateControls();
}

void MainWindow::StopSynthesizer() {
  LogMessage("Stopping synthesizer, please wait...");
  // Blocks the user-interface thread until the MidiIn and Mixer threads have
  // ended; their log lines reach the list once the message loop runs again.
  synthesizer.reset();
  UpdateControls();
}

void MainWindow::OnDeviceChange() { EnumerateDevices(); }

void MainWindow::OnPaint() { widgets.Paint(hwnd); }

intptr_t MainWindow::MainWindowProc(platform::WindowHandle hwnd, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam) {
  MainWindow* window = static_cast<MainWindow*>(platform::GetWindowOwner(hwnd));
  if (window != nullptr) {
    switch (message) {
      case WM_PAINT_MESSAGE:
        window->OnPaint();
        return 0;
      case WM_SIZE_MESSAGE:
        return window->Layout();
      case WM_COMMAND_MESSAGE:
        window->OnCommand(wParam, lParam);
        return 0;
      case WM_LOGLINE:
        return window->TakeLogLines();
      case WM_DEVICECHANGE_MESSAGE:
        window->OnDeviceChange();
        return kMessageDeviceChangeResult;
      default:
        break;
    }
  }
  if (message == platform::kMessageClose) {
    if (window != nullptr) {
      window->StopTakingLogLines();
      window->widgets.PostQuit();
    } else {
      platform::PostQuit(0);
    }
  }
  return platform::DefaultWindowProcedure(hwnd, message, wParam, lParam);
}

void MainWindow::Run(int showCommand) {
  widgets.Show(hwnd, showCommand);
  // After the window exists, so every line the engine logs reaches the list
  // (queued until the loop runs).
  InitEngine();
  LogMessage("Pelvane ready");
  widgets.RunMessageLoop();
}

void MainWindow::PostLogLineToWindow(void* self, const char* line) {
  auto* target = static_cast<MainWindow*>(self);
  // A window that falls behind (a flood of MIDI messages, each a line) keeps
  // the lines its ring holds; the rest are counted and told with the next.
  const bool taken = target->logLines.TryPushRun(1, [&](WaitingLogLine& slot, uint32_t) {
    slot.missedBefore = target->refusedLogLines.exchange(0, std::memory_order_relaxed);
    std::strncpy(slot.text, line, sizeof slot.text - 1);
    slot.text[sizeof slot.text - 1] = '\0';
  });
  if (!taken) {
    target->refusedLogLines.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  target->queuedLogLines.fetch_add(1, std::memory_order_relaxed);
  if (!target->logWakePosted.exchange(true) &&
      !platform::PostToWindow(static_cast<platform::WindowHandle>(target->hwnd), WM_LOGLINE, 0, 0))
    target->logWakePosted.store(false);  // the next line tries again
}

intptr_t MainWindow::TakeLogLines() {
  // Cleared before taking: a line that lands after this point wakes again.
  logWakePosted.store(false);
  // The lines there now, not those that come meanwhile: a flood must not
  // keep the window here. Lines that come later have posted their own wake.
  for (int32_t count = queuedLogLines.load(); count > 0; --count) {
    WaitingLogLine* waiting = logLines.Peek();
    if (!waiting) break;
    const int32_t behind = queuedLogLines.fetch_sub(1, std::memory_order_relaxed) - 1;
    logLinesNotShown += waiting->missedBefore;
    // The lines waiting behind this one fill the list by themselves: adding it
    // would only cost time the window needs for Stop, close and painting.
    if (behind > LOG_LIST_MAX_INDEX) {
      logLinesNotShown += 1;
      logLines.Pop();
      continue;
    }
    if (logLinesNotShown > 0) {
      char text[48];
      std::snprintf(text, sizeof text, "(%llu lines not shown)",
                    static_cast<unsigned long long>(logLinesNotShown));
      logLinesNotShown = 0;
      AddLogLineToList(widgets, logList, text);
    }
    AddLogLineToList(widgets, logList, waiting->text);
    logLines.Pop();
  }
  return 0;
}

void MainWindow::StopTakingLogLines() {
  MainWindow* self = this;
  g_mainWindow.compare_exchange_strong(self, nullptr);
  RemoveLogTarget(&logTarget);
  while (logLines.Peek()) {
    logLines.Pop();
    queuedLogLines.fetch_sub(1, std::memory_order_relaxed);
  }
}

void AddLogLineToList(Widgets& widgets, platform::WindowHandle list, const char* line) {
  const int index = widgets.ListAdd(list, line);
  if (index >= 0) {
    widgets.ListSetCurrent(list, index);
    for (int excess = index - LOG_LIST_MAX_INDEX; excess > 0; --excess) widgets.ListDelete(list, 0);
  }
}

intptr_t AppendLogLineToList(Widgets& widgets, platform::WindowHandle list, char* line) {
  AddLogLineToList(widgets, list, line);
  std::free(line);
  return 0;
}
