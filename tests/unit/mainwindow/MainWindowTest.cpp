// The main window's logic on the recording fake toolkit: layout numbers,
// device lists, the enabling rule, the procedure's routing, start-up and
// destruction order. Start and Stop run a real Synthesizer on devices that
// cannot open, in a temporary working directory.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Automation.h"
#include "app/MainWindow.h"
#include "log/Log.h"
#include "platform/DebugOutput.h"
#include "platform/Thread.h"
#include "support/FakeWidgets.h"
#include "support/TempFolder.h"
#include "support/doubles/SleepMs.h"
#include "unit/mainwindow/DeviceLists.h"

namespace {

namespace fs = std::filesystem;

// The debugger output's lines without the thread prefix. While a line is
// written, records whether the log target was still registered.
class Output {
 public:
  Output() { platform::SetDebugOutputHook(&Output::Hook, this); }
  ~Output() { platform::SetDebugOutputHook(nullptr, nullptr); }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }
  bool TargetSetWhenWritten(const std::string& text) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (size_t i = 0; i < lines_.size(); i++)
      if (lines_[i] == text) return targetSet_[i];
    ADD_FAILURE() << "never written: " << text;
    return false;
  }

 private:
  static void Hook(void* self, const char* text) {
    auto* output = static_cast<Output*>(self);
    std::string line(text);
    if (line == "\n") return;
    std::lock_guard<std::mutex> hold(output->mutex_);
    output->lines_.push_back(line.size() >= 12 ? line.substr(12) : line);
    output->targetSet_.push_back(g_mainWindow.load() != nullptr);
  }
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<bool> targetSet_;
};

struct Geometry {
  int x, y, width, height;
  bool operator==(const Geometry& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};
std::ostream& operator<<(std::ostream& out, const Geometry& g) {
  return out << "(" << g.x << ", " << g.y << ", " << g.width << " x " << g.height << ")";
}

// Created on the user-interface thread: unless disarmed (by going out of
// scope) within five seconds, it posts a message whose procedure, on that
// thread, ends the message loop, so a loop that waits in vain cannot hang.
class QuitWatchdog {
 public:
  QuitWatchdog() {
    fired_ = false;
    marker_ = platform::CreateMessageWindow("watchdog");
    platform::SetWindowProcedure(
        marker_, [](platform::WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t {
          fired_ = true;
          platform::PostQuit(0);
          return 0;
        });
    thread_ = std::thread([this] {
      for (int i = 0; i < 500 && !disarmed_; i++) platform::SleepMs(10);
      if (!disarmed_) platform::PostToWindow(marker_, platform::kMessageUser + 99, 0, 0);
    });
  }
  ~QuitWatchdog() {
    disarmed_ = true;
    thread_.join();
    platform::DestroyMessageWindow(marker_);
  }
  bool Fired() const { return fired_; }

 private:
  static inline std::atomic<bool> fired_{false};
  std::atomic<bool> disarmed_{false};
  Widget marker_;
  std::thread thread_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    delete window;
    window = nullptr;
  }
  MainWindow& Open() {
    window = new MainWindow(fake);
    return *window;
  }
  Geometry At(Widget widget) {
    FakeWidgets::Entry& e = fake.Get(widget);
    return Geometry{e.x, e.y, e.width, e.height};
  }
  intptr_t Send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) {
    return platform::SendToWindow(window->hwnd, message, wParam, lParam);
  }
  void Click(Widget button) {
    Send(WM_COMMAND_MESSAGE, BN_CLICKED_CODE << 16, static_cast<intptr_t>(button));
  }
  intptr_t SelectedData(Widget list) {
    return fake.ComboGetData(list, fake.ComboGetSelection(list));
  }
  // Dispatches until the quit message (true). Should none come, the watchdog
  // ends the loop after five seconds (false).
  static bool LoopEndsByQuit() {
    QuitWatchdog watchdog;
    while (platform::GetAndDispatchMessage()) {
    }
    return !watchdog.Fired();
  }
  // Runs the message loop until everything queued so far is shown.
  void Pump() {
    platform::PostQuit(0);
    fake.RunMessageLoop();
  }

  TempFolder folder_;  // the current directory while the test runs
  InstalledDevices devices;
  FakeWidgets fake;
  MainWindow* window = nullptr;
};

TEST_F(MainWindowTest, ConstructionRegistersFirstAndCreatesTheControlsInOrder) {
  Open();
  EXPECT_EQ(g_mainWindow.load(), window);
  EXPECT_EQ(platform::GetWindowOwner(window->hwnd), window);
  std::vector<std::string> expected = {"CreateTopLevel Pelvane",
                                       "SetIcons",
                                       "Create panel ",
                                       "Create panel ",
                                       "Create label Devices",
                                       "SetFont Devices",
                                       "Create label Wave Out:",
                                       "SetFont Wave Out:",
                                       "Create label MIDI In:",
                                       "SetFont MIDI In:",
                                       "Create label MIDI Echo:",
                                       "SetFont MIDI Echo:",
                                       "Create combo ",
                                       "SetFont ",
                                       "Create combo ",
                                       "SetFont ",
                                       "Create combo ",
                                       "SetFont ",
                                       "Create list ",
                                       "SetFont ",
                                       "Create button &Start",
                                       "SetFont &Start",
                                       "Create button S&top",
                                       "SetFont S&top",
                                       "Disable button S&top",
                                       "Move toplevel Pelvane"};
  ASSERT_GE(fake.calls.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(fake.calls.begin(), fake.calls.begin() + expected.size()),
            expected);

  EXPECT_EQ(At(window->hwnd), (Geometry{20, 20, 600, 440}));
  EXPECT_FALSE(fake.Get(window->hwnd).visible);
  for (Widget child :
       {window->devicesLabel, window->waveOutLabel, window->midiInLabel, window->midiEchoLabel,
        window->waveOutList, window->midiInList, window->midiEchoList})
    EXPECT_EQ(fake.Get(child).parent, window->topPanel);
  EXPECT_EQ(fake.Get(window->startButton).parent, window->bottomPanel);
  EXPECT_EQ(fake.Get(window->stopButton).parent, window->bottomPanel);
  EXPECT_EQ(fake.Get(window->logList).parent, window->hwnd);
  EXPECT_EQ(fake.Get(window->topPanel).parent, window->hwnd);
  EXPECT_EQ(window->synthesizer, nullptr);
}

TEST_F(MainWindowTest, LayoutFollowsTheClientSize) {
  Open();
  fake.clientWidth = 600;
  fake.clientHeight = 401;
  fake.calls.clear();
  EXPECT_EQ(Send(WM_SIZE_MESSAGE, 0, (401 << 16) | 600), 0);
  EXPECT_EQ(At(window->topPanel), (Geometry{0, 0, 600, 90}));
  EXPECT_EQ(At(window->devicesLabel), (Geometry{4, 4, 592, 16}));
  EXPECT_EQ(At(window->waveOutLabel), (Geometry{16, 24, 100, 16}));
  EXPECT_EQ(At(window->midiInLabel), (Geometry{16, 45, 100, 16}));
  EXPECT_EQ(At(window->midiEchoLabel), (Geometry{16, 66, 100, 16}));
  EXPECT_EQ(At(window->waveOutList), (Geometry{120, 20, 476, 424}));
  EXPECT_EQ(At(window->midiInList), (Geometry{120, 41, 476, 424}));
  EXPECT_EQ(At(window->midiEchoList), (Geometry{120, 62, 476, 424}));
  EXPECT_EQ(At(window->logList), (Geometry{0, 90, 600, 285}));
  EXPECT_EQ(At(window->bottomPanel), (Geometry{0, 375, 600, 26}));
  EXPECT_EQ(At(window->startButton), (Geometry{1, 1, 299, 24}));
  EXPECT_EQ(At(window->stopButton), (Geometry{300, 1, 299, 24}));
  ASSERT_EQ(fake.calls.size(), 13u);
  EXPECT_EQ(fake.calls.back(), "Invalidate panel");

  fake.clientWidth = 601;
  Send(WM_SIZE_MESSAGE);
  EXPECT_EQ(At(window->waveOutList), (Geometry{120, 20, 477, 424}));
  EXPECT_EQ(At(window->startButton), (Geometry{1, 1, 299, 24}));
  EXPECT_EQ(At(window->stopButton), (Geometry{300, 1, 300, 24}));
  EXPECT_EQ(At(window->logList), (Geometry{0, 90, 601, 285}));
}

TEST_F(MainWindowTest, DeviceListsFromTheDevicesThatAnswer) {
  devices.wave.devices.names = {"Speakers", "Headphones"};
  devices.midi.inputs.names = {"Keys A", "Keys B", "Keys C"};
  devices.midi.outputs.names = {"Synth A", "Synth B"};
  Open();
  EXPECT_EQ(fake.Texts(window->waveOutList),
            (std::vector<std::string>{"Wave mapper", "Speakers", "Headphones"}));
  EXPECT_EQ(fake.ComboGetData(window->waveOutList, 0), -1);
  EXPECT_EQ(fake.ComboGetData(window->waveOutList, 1), 0);
  EXPECT_EQ(fake.ComboGetData(window->waveOutList, 2), 1);
  EXPECT_EQ(fake.ComboGetSelection(window->waveOutList), 1);

  EXPECT_EQ(fake.Texts(window->midiInList),
            (std::vector<std::string>{"Keys A", "Keys B", "Keys C"}));
  EXPECT_EQ(fake.ComboGetSelection(window->midiInList), 2);
  EXPECT_EQ(SelectedData(window->midiInList), 2);

  EXPECT_EQ(fake.Texts(window->midiEchoList), (std::vector<std::string>{"Synth A", "Synth B"}));
  EXPECT_EQ(fake.ComboGetData(window->midiEchoList, 1), 1);
  EXPECT_EQ(fake.ComboGetSelection(window->midiEchoList), -1);
  EXPECT_EQ(SelectedData(window->midiEchoList), -1);
}

TEST_F(MainWindowTest, NoDevicesLeaveOnlyTheMapperAndNoSelection) {
  Open();
  EXPECT_EQ(fake.Texts(window->waveOutList), (std::vector<std::string>{"Wave mapper"}));
  EXPECT_EQ(fake.ComboGetSelection(window->waveOutList), -1);
  EXPECT_EQ(SelectedData(window->waveOutList), -1);
  EXPECT_TRUE(fake.Texts(window->midiInList).empty());
  EXPECT_EQ(fake.ComboGetSelection(window->midiInList), -1);
  EXPECT_TRUE(fake.Texts(window->midiEchoList).empty());
}

TEST_F(MainWindowTest, AFailedCapabilityQueryLeavesTheDeviceOut) {
  devices.wave.devices.names = {"W0", "W1", "W2"};
  devices.wave.devices.failing = {0};
  devices.midi.inputs.names = {"I0", "I1", "I2"};
  devices.midi.inputs.failing = {1};
  devices.midi.outputs.names = {"O0", "O1"};
  devices.midi.outputs.failing = {0};
  Open();
  EXPECT_EQ(fake.Texts(window->waveOutList), (std::vector<std::string>{"Wave mapper", "W1", "W2"}));
  EXPECT_EQ(fake.ComboGetData(window->waveOutList, 1), 1);
  EXPECT_EQ(fake.ComboGetData(window->waveOutList, 2), 2);
  EXPECT_EQ(fake.ComboGetSelection(window->waveOutList), 1);
  EXPECT_EQ(fake.Texts(window->midiInList), (std::vector<std::string>{"I0", "I2"}));
  EXPECT_EQ(fake.ComboGetData(window->midiInList, 1), 2);
  // Index 2 from the count of three lies past the two items listed.
  EXPECT_EQ(fake.ComboGetSelection(window->midiInList), -1);
  EXPECT_EQ(fake.Texts(window->midiEchoList), (std::vector<std::string>{"O1"}));
  EXPECT_EQ(fake.ComboGetData(window->midiEchoList, 0), 1);
}

TEST_F(MainWindowTest, DeviceChangeRefillsWithTheDefaultSelections) {
  devices.wave.devices.names = {"W0"};
  devices.midi.inputs.names = {"I0", "I1"};
  devices.midi.outputs.names = {"O0"};
  Open();
  fake.ComboSetSelection(window->waveOutList, 0);
  fake.ComboSetSelection(window->midiInList, 0);
  fake.ComboSetSelection(window->midiEchoList, 0);
  devices.midi.outputs.names = {"O0", "O1"};
  EXPECT_EQ(Send(WM_DEVICECHANGE_MESSAGE, 0x8000), 1);
  EXPECT_EQ(fake.ComboGetSelection(window->waveOutList), 1);
  EXPECT_EQ(fake.ComboGetSelection(window->midiInList), 1);
  EXPECT_EQ(fake.Texts(window->midiEchoList), (std::vector<std::string>{"O0", "O1"}));
  EXPECT_EQ(fake.ComboGetSelection(window->midiEchoList), -1);
  EXPECT_EQ(Send(WM_DEVICECHANGE_MESSAGE, 0x0007), 1);
}

TEST_F(MainWindowTest, StartAndStopApplyTheEnablingRule) {
  Output output;
  Open();
  Widget lists[] = {window->waveOutList, window->midiInList, window->midiEchoList};
  EXPECT_TRUE(fake.IsEnabled(window->startButton));
  EXPECT_FALSE(fake.IsEnabled(window->stopButton));
  for (Widget list : lists) EXPECT_TRUE(fake.IsEnabled(list));

  Click(window->startButton);
  ASSERT_NE(window->synthesizer, nullptr);
  EXPECT_FALSE(fake.IsEnabled(window->startButton));
  EXPECT_TRUE(fake.IsEnabled(window->stopButton));
  for (Widget list : lists) EXPECT_FALSE(fake.IsEnabled(list));
  EXPECT_TRUE(fake.IsEnabled(window->logList));
  EXPECT_TRUE(fs::exists(fs::path(folder_.Path()) / "dump0001.pvd"));

  // A device change while running refills the lists but keeps them disabled.
  Send(WM_DEVICECHANGE_MESSAGE);
  for (Widget list : lists) EXPECT_FALSE(fake.IsEnabled(list));
  EXPECT_NE(window->synthesizer, nullptr);

  Click(window->stopButton);
  EXPECT_EQ(window->synthesizer, nullptr);
  EXPECT_TRUE(fake.IsEnabled(window->startButton));
  EXPECT_FALSE(fake.IsEnabled(window->stopButton));
  for (Widget list : lists) EXPECT_TRUE(fake.IsEnabled(list));
  std::vector<std::string> lines = output.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Stopping synthesizer, please wait..."),
            lines.end());

  Click(window->startButton);
  EXPECT_TRUE(fs::exists(fs::path(folder_.Path()) / "dump0002.pvd"));
  Click(window->stopButton);
}

TEST_F(MainWindowTest, CommandsOtherThanClicksOnTheButtonsAreIgnored) {
  Open();
  fake.calls.clear();
  Send(WM_COMMAND_MESSAGE, CBN_SELCHANGE_CODE << 16, static_cast<intptr_t>(window->waveOutList));
  Send(WM_COMMAND_MESSAGE, 5u << 16,
       static_cast<intptr_t>(window->startButton));  // BN_DOUBLECLICKED
  Send(WM_COMMAND_MESSAGE, 0, static_cast<intptr_t>(window->logList));
  EXPECT_EQ(window->synthesizer, nullptr);
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(MainWindowTest, CloseEndsTheLoopAndDestroysTheWindow) {
  Open();
  Widget hwnd = window->hwnd;
  ASSERT_TRUE(platform::PostToWindow(hwnd, platform::kMessageClose, 0, 0));
  EXPECT_TRUE(LoopEndsByQuit());
  EXPECT_FALSE(platform::WindowExists(hwnd));
  // A line logged now finds no window: it is freed, nothing is queued.
  LogMessage("after close");
}

TEST_F(MainWindowTest, WithoutAnOwnerTheDefaultProcedureAnswers) {
  Widget bare = platform::CreateMessageWindow("bare");
  platform::SetWindowProcedure(bare, MainWindow::MainWindowProc);
  EXPECT_EQ(platform::SendToWindow(bare, WM_DEVICECHANGE_MESSAGE, 0, 0), 0);
  EXPECT_EQ(platform::SendToWindow(bare, WM_SIZE_MESSAGE, 0, 0), 0);
  platform::DestroyMessageWindow(bare);
}

TEST_F(MainWindowTest, TheLogListKeeps1001LinesInOrder) {
  Open();
  for (int i = 1; i <= 1002; i++) LogMessage(("line " + std::to_string(i)).c_str());
  Pump();
  std::vector<std::string> texts = fake.Texts(window->logList);
  ASSERT_EQ(texts.size(), 1001u);
  EXPECT_EQ(texts.front().substr(12), "line 2");
  EXPECT_EQ(texts.back().substr(12), "line 1002");
  EXPECT_EQ(fake.Get(window->logList).selection, 1000);
}

TEST_F(MainWindowTest, AFloodIsShownAsItsNewestLinesAndOneCountOfTheRest) {
  Open();
  Output output;
  // 6000 lines while the loop does not run: 4096 wait, the other 1904 reach
  // the debugger output only.
  for (int i = 1; i <= 6000; i++) LogMessage(("line " + std::to_string(i)).c_str());
  EXPECT_EQ(window->queuedLogLines.load(), LOG_MAX_QUEUED_LINES);
  EXPECT_EQ(output.Lines().size(), 6000u);
  fake.listAdds = 0;
  Pump();
  // Only the last 1001 waiting lines went into the list, after the count of
  // those before them; the other 3095 cost no list work at all.
  std::vector<std::string> texts = fake.Texts(window->logList);
  ASSERT_EQ(texts.size(), 1001u);
  EXPECT_EQ(texts.front().substr(12), "line 3096");
  EXPECT_EQ(texts.back().substr(12), "line 4096");
  EXPECT_EQ(fake.listAdds, 1002);
  EXPECT_EQ(window->queuedLogLines.load(), 0);

  // The next line brings the count of the lines the window never got.
  LogMessage("after the flood");
  Pump();
  texts = fake.Texts(window->logList);
  ASSERT_EQ(texts.size(), 1001u);
  EXPECT_EQ(texts[998].substr(12), "line 4096");
  EXPECT_EQ(texts[999], "(1904 lines not shown)");
  EXPECT_EQ(texts[1000].substr(12), "after the flood");
}

TEST_F(MainWindowTest, ControlCharactersAreEscapedForTheDebuggerOutputOnly) {
  Open();
  Output output;
  LogMessage("Instrument '\x1B]0;pwned\x07\tname\x7F' loaded");
  Pump();
  EXPECT_EQ(output.Lines(),
            std::vector<std::string>{"Instrument '\\x1B]0;pwned\\x07\\x09name\\x7F' loaded"});
  EXPECT_EQ(fake.Texts(window->logList).back().substr(12),
            "Instrument '\x1B]0;pwned\x07\tname\x7F' loaded");
}

TEST_F(MainWindowTest, StartUpWithoutFilesLogsFourLinesEndingReady) {
  Output output;
  Open();
  // The loop ends at the close posted before it starts, after the start-up lines.
  platform::PostToWindow(window->hwnd, platform::kMessageClose, 0, 0);
  {
    QuitWatchdog watchdog;
    window->Run(1);
    EXPECT_FALSE(watchdog.Fired());
  }
  EXPECT_TRUE(fake.Get(window->hwnd).visible);
  std::vector<std::string> expected = {"Sample: Cannot open file 'default.wav': GLE = 2",
                                       "Loading instrument set from 'default.pvi'...",
                                       "Instrument set not loaded, file not found.",
                                       "Pelvane ready"};
  EXPECT_EQ(output.Lines(), expected);
}

TEST_F(MainWindowTest, DestroyingARunningWindowStopsWithoutTheStoppingLine) {
  Output output;
  Open();
  Click(window->startButton);
  ASSERT_NE(window->synthesizer, nullptr);
  fake.calls.clear();
  delete window;
  window = nullptr;
  EXPECT_EQ(g_mainWindow.load(), nullptr);
  std::vector<std::string> lines = output.Lines();
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "Stopping synthesizer, please wait..."),
            lines.end());
  // The synthesizer's last shutdown line still found the log target.
  EXPECT_TRUE(output.TargetSetWhenWritten("Mixer: IsShutdown()"));
  // Nothing touched the controls before the window went.
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"Destroy"}));
}

TEST_F(MainWindowTest, DestructionLeavesAnotherLogTargetAlone) {
  Open();
  MainWindow* other = reinterpret_cast<MainWindow*>(&fake);  // any other address
  g_mainWindow.store(other);
  delete window;
  window = nullptr;
  EXPECT_EQ(g_mainWindow.load(), other);
  g_mainWindow.store(nullptr);
}

TEST_F(MainWindowTest, AutomationDrivesTheWindowLikeAUser) {
  devices.wave.devices.names = {"Speakers", "JACK system"};
  devices.midi.inputs.names = {"Keys A", "Keys B"};
  devices.midi.outputs.names = {"Synth A"};
  Open();
  Output output;
  Automation automation(*window);
  EXPECT_TRUE(automation.Execute("select wave JACK"));
  EXPECT_EQ(SelectedData(window->waveOutList), 1);
  EXPECT_TRUE(automation.Execute("select midiin Keys A"));
  EXPECT_EQ(SelectedData(window->midiInList), 0);
  EXPECT_TRUE(automation.Execute("select echo Synth"));
  EXPECT_EQ(SelectedData(window->midiEchoList), 0);
  EXPECT_TRUE(automation.Execute("select echo none"));
  EXPECT_EQ(SelectedData(window->midiEchoList), -1);
  EXPECT_FALSE(automation.Execute("select wave Nowhere"));
  EXPECT_FALSE(automation.Execute("select dial 3"));
  EXPECT_FALSE(automation.Execute("stop"));  // disabled while idle
  EXPECT_TRUE(automation.Execute("start"));
  EXPECT_NE(window->synthesizer, nullptr);
  EXPECT_FALSE(automation.Execute("select wave Speakers"));  // lists disabled while running
  EXPECT_TRUE(automation.Execute("list midiin"));
  // The Mixer thread tells its failed open at a moment of its own, so the
  // answer is the window's newest line, not necessarily the newest of all.
  std::string answer;
  for (const std::string& line : output.Lines())
    if (line.rfind("Automation: ", 0) == 0) answer = line;
  EXPECT_EQ(answer, "Automation: list midiin (disabled, selection 0): 'Keys A', 'Keys B'");
  EXPECT_FALSE(automation.Execute("start"));
  EXPECT_TRUE(automation.Execute("stop"));
  EXPECT_EQ(window->synthesizer, nullptr);
  EXPECT_FALSE(automation.Execute("dance"));
  Widget hwnd = window->hwnd;
  EXPECT_TRUE(automation.Execute("close"));
  EXPECT_FALSE(platform::WindowExists(hwnd));
  EXPECT_TRUE(LoopEndsByQuit());
}

}  // namespace
