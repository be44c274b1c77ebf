// The Qt toolkit with real widgets on the offscreen platform: positions after
// a resize, texts and mnemonics, the enabling rule through real clicks, events
// turned into window messages, and log lines from other threads reaching the
// list in order while the user-interface thread is blocked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "log/Log.h"
#include "platform/linux/qt/QtWidgetSet.h"
#include "support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

QApplication* g_application = nullptr;

class QtWidgetSetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_qt_linux";
    static char* argv[] = {name, nullptr};
    g_application = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete g_application;
    g_application = nullptr;
  }
  void TearDown() override { delete window; }

  MainWindow& Open() {
    window = new MainWindow(widgets);
    return *window;
  }
  QWidget* Q(Widget widget) { return widgets.Find(widget); }
  QRect At(Widget widget) { return Q(widget)->geometry(); }

  TempFolder folder_;  // the current directory while the test runs
  QtWidgetSet widgets;
  MainWindow* window = nullptr;
};

TEST_F(QtWidgetSetTest, WidgetsSitAtTheLayoutPositionsAfterAResize) {
  Open();
  QWidget* top = Q(window->hwnd);
  // The outer frame is 600 x 440 at (20, 20); the children are laid out for
  // the client area inside it while the window is still hidden.
  EXPECT_EQ(top->frameGeometry(), QRect(20, 20, 600, 440));
  int w = top->width();
  int h = top->height();
  EXPECT_EQ(At(window->stopButton), QRect(w / 2, 1, w - w / 2 - 1, 24));
  EXPECT_EQ(At(window->logList), QRect(0, 90, w, h - 116));
  top->show();
  EXPECT_EQ(top->frameGeometry(), QRect(20, 20, 600, 440));

  top->resize(600, 401);
  QApplication::processEvents();
  EXPECT_EQ(At(window->topPanel), QRect(0, 0, 600, 90));
  EXPECT_EQ(At(window->devicesLabel), QRect(4, 4, 592, 16));
  EXPECT_EQ(At(window->waveOutLabel), QRect(16, 24, 100, 16));
  EXPECT_EQ(At(window->midiInLabel), QRect(16, 45, 100, 16));
  EXPECT_EQ(At(window->midiEchoLabel), QRect(16, 66, 100, 16));
  // Closed drop-down lists: the open height (424) is their list's.
  EXPECT_EQ(At(window->waveOutList), QRect(120, 20, 476, 21));
  EXPECT_EQ(At(window->midiInList), QRect(120, 41, 476, 21));
  EXPECT_EQ(At(window->midiEchoList), QRect(120, 62, 476, 21));
  EXPECT_EQ(At(window->logList), QRect(0, 90, 600, 285));
  EXPECT_EQ(At(window->bottomPanel), QRect(0, 375, 600, 26));
  EXPECT_EQ(At(window->startButton), QRect(1, 1, 299, 24));
  EXPECT_EQ(At(window->stopButton), QRect(300, 1, 299, 24));

  top->resize(601, 300);
  QApplication::processEvents();
  EXPECT_EQ(At(window->startButton), QRect(1, 1, 299, 24));
  EXPECT_EQ(At(window->stopButton), QRect(300, 1, 300, 24));
  EXPECT_EQ(At(window->bottomPanel), QRect(0, 274, 601, 26));
  EXPECT_EQ(At(window->logList), QRect(0, 90, 601, 184));
}

TEST_F(QtWidgetSetTest, TextsMnemonicsAndLooks) {
  Open();
  EXPECT_EQ(Q(window->hwnd)->windowTitle(), "Pelvane");
  EXPECT_EQ(static_cast<QLabel*>(Q(window->devicesLabel))->text(), "Devices");
  EXPECT_EQ(static_cast<QLabel*>(Q(window->waveOutLabel))->text(), "Wave Out:");
  EXPECT_EQ(static_cast<QLabel*>(Q(window->midiInLabel))->text(), "MIDI In:");
  EXPECT_EQ(static_cast<QLabel*>(Q(window->midiEchoLabel))->text(), "MIDI Echo:");
  auto* start = static_cast<QPushButton*>(Q(window->startButton));
  auto* stop = static_cast<QPushButton*>(Q(window->stopButton));
  EXPECT_EQ(start->text(), "&Start");
  EXPECT_EQ(stop->text(), "S&top");
  EXPECT_EQ(QKeySequence::mnemonic(start->text()), QKeySequence(Qt::ALT | Qt::Key_S));
  EXPECT_EQ(QKeySequence::mnemonic(stop->text()), QKeySequence(Qt::ALT | Qt::Key_T));

  for (Widget panel : {window->topPanel, window->bottomPanel}) {
    auto* frame = static_cast<QFrame*>(Q(panel));
    EXPECT_EQ(frame->frameShape(), QFrame::Panel);
    EXPECT_EQ(frame->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(frame->lineWidth(), 1);
  }
  auto* list = static_cast<QListWidget*>(Q(window->logList));
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::NoSelection);
  EXPECT_EQ(list->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  QList<QSize> sizes = Q(window->hwnd)->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
  EXPECT_EQ(Q(window->startButton)->font(), QFontDatabase::systemFont(QFontDatabase::GeneralFont));
}

TEST_F(QtWidgetSetTest, ClicksApplyTheEnablingRule) {
  Open();
  Q(window->hwnd)->show();
  auto* start = static_cast<QPushButton*>(Q(window->startButton));
  auto* stop = static_cast<QPushButton*>(Q(window->stopButton));
  QWidget* lists[] = {Q(window->waveOutList), Q(window->midiInList), Q(window->midiEchoList)};
  EXPECT_TRUE(start->isEnabled());
  EXPECT_FALSE(stop->isEnabled());

  start->click();
  EXPECT_NE(window->synthesizer, nullptr);
  EXPECT_FALSE(start->isEnabled());
  EXPECT_TRUE(stop->isEnabled());
  for (QWidget* list : lists) EXPECT_FALSE(list->isEnabled());
  EXPECT_TRUE(Q(window->logList)->isEnabled());
  start->click();  // disabled: no second synthesizer

  stop->click();
  EXPECT_EQ(window->synthesizer, nullptr);
  EXPECT_TRUE(start->isEnabled());
  EXPECT_FALSE(stop->isEnabled());
  for (QWidget* list : lists) EXPECT_TRUE(list->isEnabled());
}

TEST_F(QtWidgetSetTest, AddingItemsLeavesTheSelectionAlone) {
  Open();
  // Qt would select "Wave mapper" on its own; with no device nothing is selected.
  EXPECT_EQ(static_cast<QComboBox*>(Q(window->waveOutList))->currentIndex(), -1);
  EXPECT_EQ(widgets.ComboGetData(window->waveOutList, 0), -1);
  EXPECT_EQ(widgets.ComboGetData(window->waveOutList, 1), CB_ERR_VALUE);
  std::string text;
  EXPECT_TRUE(widgets.ComboGetText(window->waveOutList, 0, &text));
  EXPECT_EQ(text, "Wave mapper");
}

struct Recorded {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
std::vector<Recorded> g_recorded;
intptr_t RecordingProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                            intptr_t lParam) {
  if (message != WM_PAINT_MESSAGE) g_recorded.push_back(Recorded{message, wParam, lParam});
  return platform::DefaultWindowProcedure(window, message, wParam, lParam);
}

TEST_F(QtWidgetSetTest, EventsBecomeWindowMessagesWithTheSender) {
  g_recorded.clear();
  Widget top = widgets.CreateTopLevel("Events");
  platform::SetWindowProcedure(top, RecordingProcedure);
  Widget panel = widgets.CreatePanel(top);
  Widget button = widgets.CreateButton(panel, "&Go");
  Widget combo = widgets.CreateComboBox(panel);
  widgets.ComboAdd(combo, "one");
  widgets.ComboAdd(combo, "two");

  widgets.Move(top, 20, 20, 300, 200);
  ASSERT_EQ(g_recorded.size(), 1u);
  EXPECT_EQ(g_recorded[0].message, WM_SIZE_MESSAGE);
  QWidget* shown = widgets.Find(top);
  EXPECT_EQ(shown->frameGeometry(), QRect(20, 20, 300, 200));
  EXPECT_EQ(g_recorded[0].lParam, (shown->height() << 16) | shown->width());

  g_recorded.clear();
  static_cast<QPushButton*>(widgets.Find(button))->click();
  emit static_cast<QComboBox*>(widgets.Find(combo))->activated(1);
  ASSERT_EQ(g_recorded.size(), 2u);
  EXPECT_EQ(g_recorded[0].message, WM_COMMAND_MESSAGE);
  EXPECT_EQ(g_recorded[0].wParam, static_cast<uintptr_t>(BN_CLICKED_CODE) << 16);
  EXPECT_EQ(g_recorded[0].lParam, static_cast<intptr_t>(button));
  EXPECT_EQ(g_recorded[1].wParam, static_cast<uintptr_t>(CBN_SELCHANGE_CODE) << 16);
  EXPECT_EQ(g_recorded[1].lParam, static_cast<intptr_t>(combo));

  // Closing asks the procedure; its default processing destroys the window.
  g_recorded.clear();
  widgets.Find(top)->show();
  widgets.Find(top)->close();
  ASSERT_FALSE(g_recorded.empty());
  EXPECT_EQ(g_recorded.back().message, platform::kMessageClose);
  EXPECT_FALSE(platform::WindowExists(top));
  EXPECT_FALSE(widgets.Find(top)->isVisible());
  widgets.Destroy(top);
  EXPECT_EQ(widgets.Find(top), nullptr);
  EXPECT_EQ(widgets.Find(button), nullptr);
}

TEST_F(QtWidgetSetTest, CloseEndsTheMessageLoop) {
  Open();
  Q(window->hwnd)->show();
  Q(window->hwnd)->close();
  EXPECT_FALSE(platform::WindowExists(window->hwnd));
  // Returns at the quit message the close posted; should none come, the
  // timer ends the loop after five seconds.
  bool timedOut = false;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&timedOut] {
    timedOut = true;
    QCoreApplication::exit(1);
  });
  guard.start(5000);
  widgets.RunMessageLoop();
  EXPECT_FALSE(timedOut);
  EXPECT_FALSE(widgets.DrainMessages());
}

TEST_F(QtWidgetSetTest, LinesFromThreeThreadsArriveInOrderAfterABlockedUserInterface) {
  Open();
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; t++) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; i++)
        LogMessage(("thread " + std::to_string(t) + " line " + std::to_string(i)).c_str());
    });
  }
  // The user-interface thread waits for the loggers, as Stop does: they must
  // finish without it.
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(widgets.ListCount(window->logList), 0);

  widgets.PostQuit();
  widgets.RunMessageLoop();
  auto* list = static_cast<QListWidget*>(Q(window->logList));
  ASSERT_EQ(list->count(), 3 * kLines);
  int next[3] = {0, 0, 0};
  for (int row = 0; row < list->count(); row++) {
    std::string text = list->item(row)->text().toStdString().substr(12);
    int t = text[7] - '0';
    ASSERT_GE(t, 0);
    ASSERT_LT(t, 3);
    EXPECT_EQ(text, "thread " + std::to_string(t) + " line " + std::to_string(next[t]))
        << "row " << row;
    next[t]++;
  }
  EXPECT_EQ(list->currentRow(), 3 * kLines - 1);
  EXPECT_TRUE(list->selectedItems().isEmpty());
}

TEST_F(QtWidgetSetTest, LinesPostedWhileTheLoopRunsWakeIt) {
  Open();
  // A thread that starts once the loop runs logs, then closes the window;
  // only the eventfd wake-up can bring those messages to the idle loop.
  std::thread logger;
  QTimer::singleShot(0, [this, &logger] {
    logger = std::thread([hwnd = window->hwnd] {
      for (int i = 0; i < 100; i++) LogMessage(("woken " + std::to_string(i)).c_str());
      platform::PostToWindow(hwnd, platform::kMessageClose, 0, 0);
    });
  });
  bool timedOut = false;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&timedOut] {
    timedOut = true;
    QCoreApplication::exit(1);
  });
  guard.start(5000);
  widgets.RunMessageLoop();
  if (logger.joinable()) logger.join();
  EXPECT_FALSE(timedOut);
  auto* list = static_cast<QListWidget*>(Q(window->logList));
  ASSERT_EQ(list->count(), 100);
  EXPECT_EQ(list->item(0)->text().toStdString().substr(12), "woken 0");
  EXPECT_EQ(list->item(99)->text().toStdString().substr(12), "woken 99");
}

TEST_F(QtWidgetSetTest, AFloodOfLinesLeavesTheLoopFreeToClose) {
  Open();
  Q(window->hwnd)->show();
  // Lines as fast as a thread can make them, far faster than a list can take
  // them; the terminal is spared (the sink drops them).
  SetLogSink([](void*, const char*) {}, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<bool> floodEndedFirst{false};
  int32_t mostQueued = 0;
  std::thread flood([&] {
    // A loop that is only free once the flood ends must not pass: the flood
    // gives up after 30 s on its own.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int i = 0; !stop.load(); i++) {
      LogMessage(("flood " + std::to_string(i)).c_str());
      if (std::chrono::steady_clock::now() > giveUp) {
        floodEndedFirst = true;
        return;
      }
    }
  });
  // Close arrives as the close box sends it, once the loop has run a while;
  // the quit it posts waits behind the lines already queued.
  int ticks = 0;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    mostQueued = std::max(mostQueued, window->queuedLogLines.load());
    if (++ticks == 20) Q(window->hwnd)->close();
  });
  sampler.start(10);
  widgets.RunMessageLoop();
  stop = true;
  flood.join();
  SetLogSink(nullptr, nullptr);
  EXPECT_FALSE(floodEndedFirst);
  EXPECT_GE(ticks, 20);
  EXPECT_LE(mostQueued, LOG_MAX_QUEUED_LINES);
  EXPECT_LE(widgets.ListCount(window->logList), LOG_LIST_MAX_INDEX + 1);
}

// A burst of lines costs the list one update, not one per line: the calls
// see the list as they left it at once, and the widget gets all of it in one
// insertion when the frame's update comes, the same lines in the same order.
TEST_F(QtWidgetSetTest, TheLogListTakesABurstOfLinesInOneUpdate) {
  Open();
  auto* list = static_cast<QListWidget*>(widgets.Find(window->logList));
  ASSERT_NE(list, nullptr);
  int insertions = 0;
  QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, [&] { ++insertions; });
  for (int i = 1; i <= 1500; i++)
    AddLogLineToList(widgets, window->logList, ("line " + std::to_string(i)).c_str());
  EXPECT_EQ(widgets.ListCount(window->logList), LOG_LIST_MAX_INDEX + 1);
  EXPECT_EQ(insertions, 0);
  list = static_cast<QListWidget*>(Q(window->logList));
  EXPECT_EQ(insertions, 1);
  ASSERT_EQ(list->count(), 1001);
  for (int row = 0; row < 1001; ++row)
    ASSERT_EQ(list->item(row)->text().toStdString(), "line " + std::to_string(row + 500));
  EXPECT_EQ(list->currentRow(), 1000);
}

}  // namespace
