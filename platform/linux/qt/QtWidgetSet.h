// The main window's controls as Qt 6 widgets. The top-level window is a
// platform message window too: a post to it (a log line from any thread)
// wakes the Qt event loop through an eventfd, and the loop drains the
// user-interface thread's queue in order, handing each message to the window
// procedure. Qt's own events become the same procedure's messages (resize:
// WM_SIZE, clicks and selection changes: WM_COMMAND with the sender as
// lParam, close: WM_CLOSE, paint: WM_PAINT).
//
// Everything here runs on the user-interface thread, the one that
// constructed the set, except the wake-up.
#pragma once
#include <QApplication>
#include <QListWidget>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/Widgets.h"

class QtWidgetSet : public Widgets {
 public:
  // Creates the QApplication unless one exists already.
  QtWidgetSet();
  ~QtWidgetSet() override;
  QtWidgetSet(const QtWidgetSet&) = delete;
  QtWidgetSet& operator=(const QtWidgetSet&) = delete;

  Widget CreateTopLevel(const char* caption) override;
  Widget CreatePanel(Widget parent) override;
  Widget CreateLabel(Widget parent, const char* text) override;
  Widget CreateComboBox(Widget parent) override;
  Widget CreateListBox(Widget parent) override;
  Widget CreateButton(Widget parent, const char* text) override;

  void SetIcons(Widget topLevel) override;
  void SetFont(Widget widget) override;
  void Move(Widget widget, int x, int y, int width, int height) override;
  void GetClientSize(Widget widget, int* width, int* height) override;
  void Enable(Widget widget, bool enabled) override;
  bool IsEnabled(Widget widget) override;
  void Invalidate(Widget widget) override;
  void Show(Widget topLevel, int showCommand) override;
  void Destroy(Widget topLevel) override;

  void ComboReset(Widget combo) override;
  int ComboAdd(Widget combo, const char* text) override;
  void ComboSetData(Widget combo, int index, intptr_t data) override;
  void ComboSetSelection(Widget combo, int index) override;
  int ComboGetSelection(Widget combo) override;
  intptr_t ComboGetData(Widget combo, int index) override;
  bool ComboGetText(Widget combo, int index, std::string* text) override;

  int ListAdd(Widget list, const char* text) override;
  void ListSetCurrent(Widget list, int index) override;
  void ListDelete(Widget list, int index) override;
  int ListCount(Widget list) override;

  void RunMessageLoop() override;
  void PostQuit() override;

  // Hands every line that arrives on standard input to the handler, on this
  // thread, while the loop runs (the automation channel of unattended runs).
  void ReadCommandLines(std::function<void(const std::string&)> handler);

  // The Qt widget behind a handle, or null; a list's batched changes are
  // applied first, so the widget is seen as the calls left it.
  QWidget* Find(Widget widget) const;
  // Dispatches the messages queued for this thread, at most
  // kMessagesPerWake of them; when more wait, the loop is woken again for
  // them after it has handled its own events (input, painting). False once
  // the quit message was taken (the messages behind it stay queued).
  bool DrainMessages();

  // A flood of posted lines must not keep the loop from clicks, close and
  // painting: each wake-up dispatches this many messages at most.
  static constexpr int kMessagesPerWake = 256;

  // A closed drop-down list is this high (its rows lie 21 pixels apart); the
  // height the layout gives it is the height of the open list.
  static constexpr int kComboClosedHeight = 21;

 private:
  // Any thread: called after every post to the user-interface thread's queue.
  static void Wake(void* self);
  // Makes the loop call OnWake again (once, however many calls).
  void ScheduleWake();
  void OnWake();
  Widget Register(QWidget* widget, Widget handle);
  QWidget* Lookup(Widget widget) const;
  // A list's changes wait for the next frame of the display (kListFrameMs):
  // however many lines came, the list is updated once, with the same lines
  // in the same order. The calls see the list as they left it.
  struct PendingList {
    int deleteFront = 0;  // rows of the widget to remove from its top
    QStringList adds;     // rows to append after that
    int current = -1;     // the row to make current after that (-1: none)
  };
  // The list's rows as the calls left them.
  int LogicalCount(QListWidget* list) const;
  void ScheduleListUpdate();
  void ApplyListChanges() const;
  static constexpr int kListFrameMs = 16;
  Widget TopLevelOf(QWidget* widget) const;
  template <class T>
  T* As(Widget widget) const {
    return dynamic_cast<T*>(Lookup(widget));
  }

  std::unique_ptr<QApplication> ownApplication_;
  std::unique_ptr<QSocketNotifier> wakeNotifier_;
  int wakeFd_ = -1;
  // Set from the first post after a drain until the next drain starts, so a
  // burst of posts costs one wake-up.
  std::atomic<bool> wakePending_{false};
  bool quitSeen_ = false;
  std::unique_ptr<QSocketNotifier> commandNotifier_;
  std::function<void(const std::string&)> commandHandler_;
  std::string commandText_;
  std::unordered_map<Widget, QWidget*> widgets_;
  std::unordered_map<const QWidget*, Widget> handles_;
  Widget nextHandle_ = 1;
  mutable std::unordered_map<QListWidget*, PendingList> pendingLists_;
  std::unique_ptr<QTimer> listTimer_;
};
