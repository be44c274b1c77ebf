#include "platform/linux/qt/QtWidgetSet.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <algorithm>
#include <vector>

#include "Version.h"
#include "platform/Window.h"
#include "platform/linux/MessageQueue.h"
#include "platform/resources/MainIcon16.xpm"
#include "platform/resources/MainIcon32.xpm"

namespace {

// SW_* show commands.
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
constexpr int kMinimize = 6;
constexpr int kShowMinNoActive = 7;

uintptr_t NotificationWord(uint32_t code) { return static_cast<uintptr_t>(code) << 16; }

// The top-level window: its events go to the window procedure of the message
// window with the same handle.
class TopLevelWindow : public QWidget {
 public:
  explicit TopLevelWindow(Widget handle) : handle_(handle) {}

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    intptr_t size = (static_cast<intptr_t>(height() & 0xFFFF) << 16) | (width() & 0xFFFF);
    platform::SendToWindow(handle_, WM_SIZE_MESSAGE, 0, size);
  }
  void paintEvent(QPaintEvent* event) override {
    QWidget::paintEvent(event);
    platform::SendToWindow(handle_, WM_PAINT_MESSAGE, 0, 0);
  }
  // The procedure decides: its default processing destroys the message
  // window, and then the Qt window goes out of sight until it is deleted.
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    platform::SendToWindow(handle_, platform::kMessageClose, 0, 0);
    if (!platform::WindowExists(handle_)) hide();
  }

 private:
  Widget handle_;
};

}  // namespace

QtWidgetSet::QtWidgetSet() {
  if (QApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "pelvane";
    static char* argv[] = {name, nullptr};
    ownApplication_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(PELVANE_VERSION));
    // The desktop entry's id: Wayland and window managers find the icon by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(PELVANE_APP_ID));
  }
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ >= 0) {
    wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, [this] { OnWake(); });
  }
  platform::SetMessageWakeHook(&QtWidgetSet::Wake, this);
}

QtWidgetSet::~QtWidgetSet() {
  platform::SetMessageWakeHook(nullptr, nullptr);
  std::vector<Widget> topLevels;
  for (auto& entry : widgets_)
    if (entry.second->parentWidget() == nullptr) topLevels.push_back(entry.first);
  for (Widget topLevel : topLevels) Destroy(topLevel);
  commandNotifier_.reset();
  wakeNotifier_.reset();
  if (wakeFd_ >= 0) close(wakeFd_);
  ownApplication_.reset();
}

// The posting thread only writes to the eventfd: it never waits for the
// user-interface thread, and the write cannot block (non-blocking counter).
void QtWidgetSet::Wake(void* self) { static_cast<QtWidgetSet*>(self)->ScheduleWake(); }

void QtWidgetSet::ScheduleWake() {
  if (wakePending_.exchange(true)) return;
  uint64_t one = 1;
  ssize_t written = write(wakeFd_, &one, sizeof one);
  (void)written;
}

void QtWidgetSet::OnWake() {
  uint64_t count = 0;
  ssize_t got = read(wakeFd_, &count, sizeof count);
  (void)got;
  // Cleared before draining: a post that lands after this point wakes again.
  wakePending_.store(false);
  DrainMessages();
}

bool QtWidgetSet::DrainMessages() {
  if (quitSeen_) return false;
  bool quit = false;
  for (int dispatched = 0; dispatched < kMessagesPerWake; ++dispatched) {
    if (!platform::PeekAndDispatchMessage(&quit)) return true;
    if (quit) {
      quitSeen_ = true;
      QCoreApplication::exit(0);
      return false;
    }
  }
  // Perhaps more are queued: the notifier fires again once the loop has
  // handled what else is pending.
  ScheduleWake();
  return true;
}

Widget QtWidgetSet::Register(QWidget* widget, Widget handle) {
  if (handle == 0) {
    handle = nextHandle_;
    nextHandle_ += 2;
  }
  widgets_[handle] = widget;
  handles_[widget] = handle;
  QObject::connect(widget, &QObject::destroyed, [this, widget, handle] {
    widgets_.erase(handle);
    handles_.erase(widget);
  });
  return handle;
}

QWidget* QtWidgetSet::Lookup(Widget widget) const {
  auto found = widgets_.find(widget);
  return found == widgets_.end() ? nullptr : found->second;
}

QWidget* QtWidgetSet::Find(Widget widget) const {
  ApplyListChanges();
  return Lookup(widget);
}

int QtWidgetSet::LogicalCount(QListWidget* list) const {
  auto found = pendingLists_.find(list);
  if (found == pendingLists_.end()) return list->count();
  return list->count() - found->second.deleteFront + static_cast<int>(found->second.adds.size());
}

void QtWidgetSet::ScheduleListUpdate() {
  if (!listTimer_) {
    listTimer_ = std::make_unique<QTimer>();
    listTimer_->setSingleShot(true);
    listTimer_->setInterval(kListFrameMs);
    QObject::connect(listTimer_.get(), &QTimer::timeout, [this] { ApplyListChanges(); });
  }
  if (!listTimer_->isActive()) listTimer_->start();
}

void QtWidgetSet::ApplyListChanges() const {
  if (pendingLists_.empty()) return;
  // Moved out first: a widget's own signals must not see a half-applied batch.
  auto pending = std::move(pendingLists_);
  pendingLists_.clear();
  for (auto& [list, change] : pending) {
    list->setUpdatesEnabled(false);
    if (change.deleteFront >= list->count()) {
      list->clear();
    } else {
      for (int i = 0; i < change.deleteFront; ++i) delete list->takeItem(0);
    }
    list->addItems(change.adds);
    if (change.current >= 0 && change.current < list->count()) {
      // Current without a selection: the line comes into view, nothing is highlighted.
      list->setCurrentRow(change.current, QItemSelectionModel::NoUpdate);
      list->scrollToItem(list->item(change.current));
    }
    list->setUpdatesEnabled(true);
  }
}

Widget QtWidgetSet::TopLevelOf(QWidget* widget) const {
  auto found = handles_.find(widget->window());
  return found == handles_.end() ? 0 : found->second;
}

Widget QtWidgetSet::CreateTopLevel(const char* caption) {
  Widget handle = platform::CreateMessageWindow(caption);
  auto* window = new TopLevelWindow(handle);
  window->setWindowTitle(QString::fromLocal8Bit(caption));
  window->resize(600, 440);
  return Register(window, handle);
}

Widget QtWidgetSet::CreatePanel(Widget parent) {
  auto* panel = new QFrame(Find(parent));
  // A one-pixel sunken edge around a face-coloured interior.
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setAutoFillBackground(true);
  panel->setGeometry(0, 0, 0, 0);
  panel->show();
  return Register(panel, 0);
}

Widget QtWidgetSet::CreateLabel(Widget parent, const char* text) {
  auto* label = new QLabel(QString::fromLocal8Bit(text), Find(parent));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(0, 0, 0, 0);
  label->show();
  return Register(label, 0);
}

Widget QtWidgetSet::CreateComboBox(Widget parent) {
  auto* combo = new QComboBox(Find(parent));
  combo->setGeometry(0, 0, 0, 0);
  combo->show();
  Widget handle = Register(combo, 0);
  // Only the user's choice notifies, as CBN_SELCHANGE does.
  QObject::connect(combo, &QComboBox::activated, [this, combo, handle](int) {
    platform::SendToWindow(TopLevelOf(combo), WM_COMMAND_MESSAGE,
                           NotificationWord(CBN_SELCHANGE_CODE), static_cast<intptr_t>(handle));
  });
  return handle;
}

Widget QtWidgetSet::CreateListBox(Widget parent) {
  auto* list = new QListWidget(Find(parent));
  list->setSelectionMode(QAbstractItemView::NoSelection);
  list->setFocusPolicy(Qt::NoFocus);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list->setUniformItemSizes(true);
  list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  list->setGeometry(0, 0, 0, 0);
  list->show();
  return Register(list, 0);
}

Widget QtWidgetSet::CreateButton(Widget parent, const char* text) {
  auto* button = new QPushButton(QString::fromLocal8Bit(text), Find(parent));
  button->setAutoDefault(false);
  button->setGeometry(0, 0, 0, 0);
  button->show();
  Widget handle = Register(button, 0);
  QObject::connect(button, &QPushButton::clicked, [this, button, handle] {
    platform::SendToWindow(TopLevelOf(button), WM_COMMAND_MESSAGE,
                           NotificationWord(BN_CLICKED_CODE), static_cast<intptr_t>(handle));
  });
  return handle;
}

void QtWidgetSet::SetIcons(Widget topLevel) {
  QWidget* window = Find(topLevel);
  if (window == nullptr) return;
  QIcon icon;
  icon.addPixmap(QPixmap(MainIcon32));
  icon.addPixmap(QPixmap(MainIcon16));
  window->setWindowIcon(icon);
}

void QtWidgetSet::SetFont(Widget widget) {
  if (QWidget* target = Find(widget))
    target->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
}

void QtWidgetSet::Move(Widget widget, int x, int y, int width, int height) {
  QWidget* target = Find(widget);
  if (target == nullptr) return;
  if (target->isWindow()) {
    // The numbers are the outer frame's, as MoveWindow takes them; the frame
    // is known once the native window exists.
    target->winId();
    QRect frame = target->frameGeometry();
    QRect client = target->geometry();
    target->move(x, y);
    target->resize(width - (frame.width() - client.width()),
                   height - (frame.height() - client.height()));
    // A hidden window gets its resize event only when shown; the layout must
    // follow the new size at once, as it does with the native window.
    if (!target->isVisible()) {
      intptr_t size =
          (static_cast<intptr_t>(target->height() & 0xFFFF) << 16) | (target->width() & 0xFFFF);
      platform::SendToWindow(widget, WM_SIZE_MESSAGE, 0, size);
    }
    return;
  }
  if (auto* combo = dynamic_cast<QComboBox*>(target)) {
    target->setGeometry(x, y, width, kComboClosedHeight);
    int rowHeight = combo->fontMetrics().height() + 2;
    combo->setMaxVisibleItems(std::max(1, (height - kComboClosedHeight) / rowHeight));
    return;
  }
  target->setGeometry(x, y, width, height);
}

void QtWidgetSet::GetClientSize(Widget widget, int* width, int* height) {
  QWidget* target = Find(widget);
  QSize size = target ? target->contentsRect().size() : QSize(0, 0);
  *width = size.width();
  *height = size.height();
}

void QtWidgetSet::Enable(Widget widget, bool enabled) {
  if (QWidget* target = Find(widget)) target->setEnabled(enabled);
}

bool QtWidgetSet::IsEnabled(Widget widget) {
  QWidget* target = Find(widget);
  return target != nullptr && target->isEnabled();
}

void QtWidgetSet::Invalidate(Widget widget) {
  if (QWidget* target = Find(widget)) target->update();
}

void QtWidgetSet::Show(Widget topLevel, int showCommand) {
  QWidget* window = Find(topLevel);
  if (window == nullptr) return;
  switch (showCommand) {
    case kShowMinimized:
    case kMinimize:
    case kShowMinNoActive:
      window->showMinimized();
      break;
    case kShowMaximized:
      window->showMaximized();
      break;
    default:
      window->show();
      break;
  }
}

void QtWidgetSet::Destroy(Widget topLevel) {
  pendingLists_.clear();  // the lists go with the window
  platform::DestroyMessageWindow(topLevel);
  delete Find(topLevel);  // its children go with it; `destroyed` forgets them
}

void QtWidgetSet::ComboReset(Widget combo) {
  if (auto* target = As<QComboBox>(combo)) target->clear();
}

int QtWidgetSet::ComboAdd(Widget combo, const char* text) {
  auto* target = As<QComboBox>(combo);
  if (target == nullptr) return static_cast<int>(CB_ERR_VALUE);
  // Qt selects the first item added to an empty box; a new item must leave
  // the selection as it was.
  int selection = target->currentIndex();
  target->addItem(QString::fromLocal8Bit(text));
  if (target->currentIndex() != selection) target->setCurrentIndex(selection);
  return target->count() - 1;
}

void QtWidgetSet::ComboSetData(Widget combo, int index, intptr_t data) {
  if (auto* target = As<QComboBox>(combo))
    target->setItemData(index, QVariant::fromValue<qlonglong>(data));
}

void QtWidgetSet::ComboSetSelection(Widget combo, int index) {
  auto* target = As<QComboBox>(combo);
  if (target == nullptr) return;
  target->setCurrentIndex(index >= 0 && index < target->count() ? index : -1);
}

int QtWidgetSet::ComboGetSelection(Widget combo) {
  auto* target = As<QComboBox>(combo);
  return target ? target->currentIndex() : -1;
}

intptr_t QtWidgetSet::ComboGetData(Widget combo, int index) {
  auto* target = As<QComboBox>(combo);
  if (target == nullptr || index < 0 || index >= target->count()) return CB_ERR_VALUE;
  return static_cast<intptr_t>(target->itemData(index).toLongLong());
}

bool QtWidgetSet::ComboGetText(Widget combo, int index, std::string* text) {
  auto* target = As<QComboBox>(combo);
  if (target == nullptr || index < 0 || index >= target->count()) return false;
  *text = target->itemText(index).toLocal8Bit().toStdString();
  return true;
}

int QtWidgetSet::ListAdd(Widget list, const char* text) {
  auto* target = As<QListWidget>(list);
  if (target == nullptr) return -1;
  pendingLists_[target].adds.append(QString::fromLocal8Bit(text));
  ScheduleListUpdate();
  return LogicalCount(target) - 1;
}

void QtWidgetSet::ListSetCurrent(Widget list, int index) {
  auto* target = As<QListWidget>(list);
  if (target == nullptr || index < 0 || index >= LogicalCount(target)) return;
  pendingLists_[target].current = index;
  ScheduleListUpdate();
}

void QtWidgetSet::ListDelete(Widget list, int index) {
  auto* target = As<QListWidget>(list);
  if (target == nullptr || index < 0 || index >= LogicalCount(target)) return;
  if (index != 0) {
    // Only the log's trimming of its top is batched.
    ApplyListChanges();
    delete target->takeItem(index);
    return;
  }
  PendingList& change = pendingLists_[target];
  if (change.deleteFront < target->count()) {
    ++change.deleteFront;
  } else {
    change.adds.removeFirst();
  }
  // The row made current moves up with the rows below it.
  if (change.current >= 0) --change.current;
  ScheduleListUpdate();
}

int QtWidgetSet::ListCount(Widget list) {
  auto* target = As<QListWidget>(list);
  return target ? LogicalCount(target) : 0;
}

void QtWidgetSet::ReadCommandLines(std::function<void(const std::string&)> handler) {
  commandHandler_ = std::move(handler);
  commandNotifier_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(commandNotifier_.get(), &QSocketNotifier::activated, [this] {
    char buffer[4096];
    ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
      commandNotifier_->setEnabled(false);  // end of input: no more commands
      return;
    }
    commandText_.append(buffer, static_cast<size_t>(got));
    size_t end;
    while ((end = commandText_.find('\n')) != std::string::npos) {
      std::string line = commandText_.substr(0, end);
      commandText_.erase(0, end + 1);
      commandHandler_(line);
    }
  });
}

void QtWidgetSet::RunMessageLoop() {
  // Lines logged while the loop did not run (start-up) are shown first.
  if (!DrainMessages()) {
    ApplyListChanges();
    return;
  }
  QApplication::exec();
  ApplyListChanges();
}

void QtWidgetSet::PostQuit() { platform::PostQuit(0); }
